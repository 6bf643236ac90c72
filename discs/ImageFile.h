#pragma once

#include "platform/UniqueFd.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>

// An image file or a disc's device node, read by position; nothing is read past its end. The
// readers of every disc file system share it.
class TImageFile {
public:
    // Anything but a plain file or a block device is refused: reading a FIFO or a terminal would
    // wait for ever, and the open itself does not wait for a FIFO's other end. An empty file is
    // refused too.
    [[nodiscard]] static std::optional<TImageFile> Open(const std::string& path);

    // Fills out from offset; false when that is not all inside the file or cannot be read.
    [[nodiscard]] bool Read(uint64_t offset, std::span<uint8_t> out) const;
    [[nodiscard]] uint64_t Size() const { return Size_; }

private:
    TUniqueFd Fd_;
    uint64_t Size_ = 0;
};
