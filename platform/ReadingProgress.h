#pragma once

#include <atomic>
#include <cstdint>

// How far a long reading (a disc's files read byte for byte) has come, written by the thread that
// reads and read by the one that shows it; and its cancellation, the other way.
struct TReadingProgress {
    std::atomic<uint64_t> Bytes{0}; // read so far
    std::atomic<uint64_t> Files{0}; // done so far
    std::atomic<bool> Cancel{false};
};
