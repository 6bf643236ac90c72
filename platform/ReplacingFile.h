#pragma once

#include "platform/UniqueFd.h"

#include <string>
#include <string_view>

// A file written whole or not at all: the text goes into a temporary beside the target, which
// Commit renames over it. A file that was not committed, or whose write failed, is removed, so
// no partial file is ever left under either name.
class TReplacingFile {
public:
    // path: the target, in the file system's bytes. Opened() tells whether the temporary exists.
    explicit TReplacingFile(std::string path);
    ~TReplacingFile();
    TReplacingFile(const TReplacingFile&) = delete;
    TReplacingFile& operator=(const TReplacingFile&) = delete;

    [[nodiscard]] bool Opened() const { return static_cast<bool>(Fd_); }
    // Appends bytes; false when the write failed (and every later call fails too).
    bool Write(std::string_view bytes);
    // Flushes the temporary to the disk and renames it over the target; false on failure, when
    // the target is left as it was.
    [[nodiscard]] bool Commit();

private:
    std::string Path_;
    std::string Temporary_;
    TUniqueFd Fd_;
    bool Failed_ = false;
};
