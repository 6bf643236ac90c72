#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

// Hands blocks to a writing function on a thread of its own, so that the next block is made
// while the last one is written. Blocks are copied into a few buffers that are reused; Put waits
// while they are all in use. The blocks reach write in the order they were put.
class TBackgroundWriter {
public:
    // write: writes one block, false when it could not; called on the writer's thread, or on the
    // caller's when no thread can be started.
    explicit TBackgroundWriter(std::function<bool(std::string_view)> write, size_t buffers = 4);
    // Waits for the blocks already put (their outcome is lost: call Finish for it).
    ~TBackgroundWriter();
    TBackgroundWriter(const TBackgroundWriter&) = delete;
    TBackgroundWriter& operator=(const TBackgroundWriter&) = delete;

    // False once a write has failed; the blocks put after that are not written.
    [[nodiscard]] bool Put(std::string_view block);
    // Waits until every block put has been written; true when all were.
    [[nodiscard]] bool Finish();

private:
    void Run();
    void Stop();

    std::function<bool(std::string_view)> Write_;
    std::mutex Lock_;
    std::condition_variable Changed_;
    std::vector<std::string> Buffers_; // a ring: Head_ is the next to write
    size_t Head_ = 0;
    size_t Queued_ = 0;
    bool Writing_ = false; // the writer holds the buffer at Head_
    bool Failed_ = false;
    bool Stopping_ = false;
    std::thread Thread_;
};
