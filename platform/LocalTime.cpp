#include "platform/LocalTime.h"

#include <ctime>

int64_t UtcOffsetNow()
{
    // localtime_r does not look at TZ again once it has been read; tzset does.
    tzset();
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (!localtime_r(&now, &local))
        return 0;
    return local.tm_gmtoff;
}
