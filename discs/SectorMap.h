#pragma once

#include "platform/UniqueFd.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

// A stretch of a disc's data sectors as one file of a disc image holds them: the disc's blocks
// First .. First + Count - 1, one after another from Offset, each taking SectorSize bytes of which
// the 2048 bytes of user data begin at DataOffset (2048-byte sectors: 0; raw 2352-byte sectors:
// 16 in mode 1, 24 in mode 2 form 1; 2336-byte mode 2 sectors: 8).
struct TSectorRun {
    uint32_t First = 0;
    uint32_t Count = 0;
    size_t File = 0; // which of the map's files
    uint64_t Offset = 0;
    uint32_t SectorSize = 2048;
    uint32_t DataOffset = 0;
};

// The data tracks of a disc image read as the 2048-byte blocks a drive gives: the file systems'
// readers address blocks of the disc, and this finds them in whichever file and sector format
// holds them. Blocks that no track holds (audio tracks, the gaps between sessions) cannot be read.
class TSectorMap {
public:
    // The runs are cut to what their files hold and sorted; overlapping ones are dropped.
    TSectorMap(std::vector<TUniqueFd> files, std::vector<TSectorRun> runs, uint32_t sessionStart);

    // Fills out with the user data from byte offset of the disc; false when a block is missing.
    [[nodiscard]] bool Read(uint64_t offset, std::span<uint8_t> out) const;
    // The bytes up to the end of the last block held.
    [[nodiscard]] uint64_t Size() const { return Size_; }
    // The first block of the last session that holds data: where its volume descriptors begin.
    [[nodiscard]] uint32_t SessionStart() const { return SessionStart_; }
    [[nodiscard]] bool Empty() const { return Runs_.empty(); }

private:
    [[nodiscard]] const TSectorRun* RunOf(uint64_t block) const;

    std::vector<TUniqueFd> Files_;
    std::vector<TSectorRun> Runs_; // by First, none overlapping
    uint32_t SessionStart_;
    uint64_t Size_ = 0;
    mutable std::vector<uint8_t> Raw_; // raw sectors read at once, their user data then copied out
};

// Reads out whole from fd at offset; false on an error or at the end of the file.
[[nodiscard]] bool ReadWhole(int fd, uint64_t offset, std::span<uint8_t> out);
