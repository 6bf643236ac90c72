#include "platform/Volume.h"

#include "platform/AnsiText.h"

#include <limits>

std::string NameFromDisc(std::string_view utf8)
{
    std::string name = Utf8ToAnsi(utf8);
    ReplaceControlBytes(name);
    return name;
}

uint64_t FileTimeFromUnix(int64_t seconds, int64_t nanoseconds)
{
    constexpr int64_t secondsFrom1601To1970 = 11644473600;
    constexpr int64_t ticksPerSecond = 10000000;
    // Kept within the signed range, which is all a FILETIME may hold.
    constexpr int64_t largest = std::numeric_limits<int64_t>::max();
    if (seconds < -secondsFrom1601To1970)
        return 0;
    if (seconds > largest / ticksPerSecond - secondsFrom1601To1970 - 1)
        return static_cast<uint64_t>(largest);
    const int64_t ticks = (seconds + secondsFrom1601To1970) * ticksPerSecond + nanoseconds / 100;
    return ticks < 0 ? 0 : static_cast<uint64_t>(ticks);
}
