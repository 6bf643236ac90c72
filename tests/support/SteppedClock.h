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
    void Step(uint32_t ms) { Now += ms; }
    [[nodiscard]] uint64_t FileTimeNow() override { return FileTime; }

    uint32_t Now;
    uint64_t FileTime = 133500000000000000; // 2024-01-22, what every date the window sets reads
};
