#pragma once

#include "platform/TickClock.h"

// A tick counter that moves only when the test moves it.
class TSteppedClock final : public ITickClock {
public:
    explicit TSteppedClock(uint32_t start = 100000)
        : Now(start)
    {
    }
    [[nodiscard]] uint32_t GetTickCount() override { return Now; }
    [[nodiscard]] uint64_t FileTimeNow() override { return Time; }
    void Step(uint32_t ms) { Now += ms; }

    uint32_t Now;
    uint64_t Time = 133'500'000'000'000'000; // 2024-01-22, what every date the window sets reads
};
