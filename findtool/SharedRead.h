#pragma once

#include <chrono>
#include <string>

// How a shared read of a collection file ended.
enum class TSharedRead {
    Done,
    OpenFailed, // missing, no access, or another error of the open; errno tells which
    NotAFile,   // a folder, a device or a pipe
    Locked,     // Fendrel kept writing it for longer than the wait
    ReadFailed, // the read failed or came short
    TooLarge,   // longer than a collection file can be (4 GiB)
};

// Reads the whole file at path into text under a shared lock, so that it never sees a save in
// the middle: Fendrel takes the exclusive lock while it reads or writes the file. A lock held
// by a save is waited for up to wait. The file is never created, written or truncated. text is
// changed only on Done.
[[nodiscard]] TSharedRead ReadShared(const std::string& path, std::string& text,
                                     std::chrono::milliseconds wait);
