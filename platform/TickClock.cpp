#include "platform/TickClock.h"

#include <ctime>

uint32_t TSystemTickClock::GetTickCount()
{
    // The coarse clock ticks every few milliseconds, like the tick counter it stands for, and
    // costs a fraction of the precise one: the progress line reads it after every step of a
    // walk over a million nodes.
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
    const auto ms =
        static_cast<uint64_t>(now.tv_sec) * 1000 + static_cast<uint64_t>(now.tv_nsec) / 1000000;
    return static_cast<uint32_t>(ms);
}

uint64_t ITickClock::FileTimeNow()
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    constexpr uint64_t kUnixEpoch = 116444736000000000; // 1970-01-01 as a FILETIME
    if (now.tv_sec < 0)
        return 0;
    return kUnixEpoch + static_cast<uint64_t>(now.tv_sec) * 10000000 +
           static_cast<uint64_t>(now.tv_nsec) / 100;
}
