#pragma once

#include "discs/SectorMap.h"
#include "platform/UniqueFd.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

// An image file or a disc's device node, read by position as the 2048-byte blocks of a disc;
// nothing is read past its end. The readers of every disc file system share it. A container of
// raw sectors or of several tracks (DiscContainers.h) is read through its sector map, so that
// the readers see the disc's blocks wherever and however the container keeps them.
class TImageFile {
public:
    // Anything but a plain file or a block device is refused: reading a FIFO or a terminal would
    // wait for ever, and the open itself does not wait for a FIFO's other end. An empty file is
    // refused too, and so is a container that is damaged or holds no data track.
    [[nodiscard]] static std::optional<TImageFile> Open(const std::string& path);

    // Fills out from offset; false when that is not all inside the file or cannot be read.
    [[nodiscard]] bool Read(uint64_t offset, std::span<uint8_t> out) const;
    [[nodiscard]] uint64_t Size() const { return Map_ ? Map_->Size() : Size_; }
    // The first block of the last session that holds data; 0 for a plain image file.
    [[nodiscard]] uint32_t SessionStart() const
    {
        return Map_ ? Map_->SessionStart() : SessionStart_;
    }
    // True when the blocks come from a container rather than straight from the file.
    [[nodiscard]] bool Translated() const { return Map_ != nullptr; }

private:
    TUniqueFd Fd_;
    uint64_t Size_ = 0;
    uint32_t SessionStart_ = 0; // of a disc in a drive, as the drive tells it
    std::unique_ptr<TSectorMap> Map_;
};
