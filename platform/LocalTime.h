#pragma once

#include <cstdint>

// The offset of local time from UTC in force at this moment, daylight saving included, in
// seconds east of UTC. Reads the time zone (TZ) afresh on every call.
[[nodiscard]] int64_t UtcOffsetNow();
