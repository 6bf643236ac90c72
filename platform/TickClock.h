#pragma once

#include <cstdint>

// The system's millisecond tick counter (unsigned 32-bit, wrapping after about 49 days) and the
// date and time now.
class ITickClock {
public:
    virtual ~ITickClock() = default;
    [[nodiscard]] virtual uint32_t GetTickCount() = 0;
    // The date and time now as a FILETIME (100 ns since 1601, UTC), for the dates a command
    // records.
    [[nodiscard]] virtual uint64_t FileTimeNow();
};

class TSystemTickClock final : public ITickClock {
public:
    [[nodiscard]] uint32_t GetTickCount() override;
};
