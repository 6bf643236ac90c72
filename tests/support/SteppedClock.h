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

    uint32_t Now;
};
