#pragma once

#include "platform/CollectionFileStore.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <optional>

// The real store on real files, whose reads and writes can be made to fail, come short or be
// interrupted. A lock held elsewhere is waited for only briefly, so that tests of a refusal stay
// quick; tests of the wait set their own.
class TFaultyCollectionFileStore final : public TPosixCollectionFileStore {
public:
    TFaultyCollectionFileStore()
        : TPosixCollectionFileStore(std::chrono::milliseconds(100))
    {
    }

    std::optional<size_t> DiscSpace; // bytes that can still be written; then ENOSPC
    bool FailReads = false;          // every read fails with EIO
    size_t MaxTransfer = SIZE_MAX;   // bytes moved by one read or write at most
    bool Interrupt = false;          // every other read or write fails with EINTR
    bool FailFlush = false;          // the flush to the disc fails, as with EIO

    // Reads by ReadSome, as ReadWhole does, instead of mapping the file, so that the faults above
    // reach the window's load too.
    [[nodiscard]] TFileOutcome ReadInPlace(const std::string& path, const TTextReader& read,
                                           TFileIdentity& identity) override
    {
        return ICollectionFileStore::ReadInPlace(path, read, identity);
    }

protected:
    ssize_t ReadSome(int fd, char* buffer, size_t size) override
    {
        if (Interrupted())
            return -1;
        if (FailReads) {
            errno = EIO;
            return -1;
        }
        return TPosixCollectionFileStore::ReadSome(fd, buffer, std::min(size, MaxTransfer));
    }
    ssize_t WriteSome(int fd, const char* data, size_t size) override
    {
        if (Interrupted())
            return -1;
        size = std::min(size, MaxTransfer);
        if (DiscSpace) {
            if (*DiscSpace == 0) {
                errno = ENOSPC;
                return -1;
            }
            size = std::min(size, *DiscSpace);
        }
        const ssize_t written = TPosixCollectionFileStore::WriteSome(fd, data, size);
        if (DiscSpace && written > 0)
            *DiscSpace -= static_cast<size_t>(written);
        return written;
    }

    bool Flush(int fd) override
    {
        if (FailFlush) {
            errno = EIO;
            return false;
        }
        return TPosixCollectionFileStore::Flush(fd);
    }

    bool Reserve(int fd, size_t size) override
    {
        if (DiscSpace && *DiscSpace < size) {
            errno = ENOSPC;
            return false;
        }
        return TPosixCollectionFileStore::Reserve(fd, size);
    }

private:
    bool Interrupted()
    {
        if (!Interrupt || (Calls_++ % 2) != 0)
            return false;
        errno = EINTR;
        return true;
    }

    unsigned Calls_ = 0;
};
