#pragma once

#include "platform/TickClock.h"

#include <cstdint>
#include <functional>
#include <string>

// What every collection's progress line shares for the whole run: the tick counter, the status
// panel it writes to, and the time of its last display (kept when a collection is replaced).
class TProgressLine {
public:
    // Sets the status panel's text (8-bit) and repaints it at once.
    using TShow = std::function<void(const std::string&)>;

    // clock: not owned, outlives this line.
    TProgressLine(ITickClock& clock, TShow show);

    // True, and the display time noted, when 200 ms or more have passed since the last display.
    [[nodiscard]] bool Due();
    void Show(const std::string& text) const;

    uint32_t LastProgressTick = 0;

private:
    ITickClock& Clock_;
    TShow Show_;
};
