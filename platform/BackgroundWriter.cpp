#include "platform/BackgroundWriter.h"

#include <system_error>

TBackgroundWriter::TBackgroundWriter(std::function<bool(std::string_view)> write, size_t buffers)
    : Write_(std::move(write))
    , Buffers_(buffers == 0 ? 1 : buffers)
{
    try {
        Thread_ = std::thread([this] { Run(); });
    } catch (const std::system_error&) {
        // Put writes each block itself.
    }
}

TBackgroundWriter::~TBackgroundWriter()
{
    Stop();
}

bool TBackgroundWriter::Put(std::string_view block)
{
    if (!Thread_.joinable()) {
        Failed_ = Failed_ || !Write_(block);
        return !Failed_;
    }
    std::unique_lock<std::mutex> guard(Lock_);
    Changed_.wait(guard, [this] { return Failed_ || Queued_ < Buffers_.size(); });
    if (Failed_)
        return false;
    // The buffer after the queued ones stays that buffer while the writer works through them,
    // and the writer does not touch it until it is counted: it is filled outside the lock.
    std::string& buffer = Buffers_[(Head_ + Queued_) % Buffers_.size()];
    guard.unlock();
    buffer.assign(block);
    guard.lock();
    ++Queued_;
    Changed_.notify_all();
    return true;
}

bool TBackgroundWriter::Finish()
{
    if (!Thread_.joinable())
        return !Failed_;
    std::unique_lock<std::mutex> guard(Lock_);
    Changed_.wait(guard, [this] { return Failed_ || Queued_ == 0; });
    return !Failed_;
}

void TBackgroundWriter::Run()
{
    std::unique_lock<std::mutex> guard(Lock_);
    for (;;) {
        Changed_.wait(guard, [this] { return Stopping_ || Queued_ > 0; });
        if (Queued_ == 0)
            return; // stopping with nothing left
        const std::string& buffer = Buffers_[Head_];
        const bool failed = Failed_;
        guard.unlock();
        const bool written = !failed && Write_(buffer);
        guard.lock();
        if (!written) {
            Failed_ = true;
            Queued_ = 0;
        } else {
            Head_ = (Head_ + 1) % Buffers_.size();
            --Queued_;
        }
        Changed_.notify_all();
    }
}

void TBackgroundWriter::Stop()
{
    if (!Thread_.joinable())
        return;
    {
        const std::lock_guard<std::mutex> guard(Lock_);
        Stopping_ = true;
    }
    Changed_.notify_all();
    Thread_.join();
}
