#include "collection/ProgressLine.h"

TProgressLine::TProgressLine(ITickClock& clock, TShow show)
    : Clock_(clock)
    , Show_(std::move(show))
{
}

bool TProgressLine::Due()
{
    const uint32_t now = Clock_.GetTickCount();
    // Unsigned arithmetic: the counter's wrap-around is harmless.
    if (now - LastProgressTick < 200)
        return false;
    LastProgressTick = now;
    return true;
}

void TProgressLine::Show(const std::string& text) const
{
    if (Show_)
        Show_(text);
}
