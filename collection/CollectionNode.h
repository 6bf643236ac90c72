#pragma once

#include "collection/NodeName.h"

#include <cstdint>
#include <vector>

// An ordered list of node ids: the discs of a collection, the children of a node, a filter's hits.
using TCollectionBranch = std::vector<uint32_t>;

// Kinds, in the low byte of Flags; each is one bit and is tested as a bit.
inline constexpr uint32_t nfFile = 1;
inline constexpr uint32_t nfFolder = 2;
inline constexpr uint32_t nfDisc = 4;
// The node is hidden by the search filter shown now. Never saved.
inline constexpr uint32_t nfFilteredOut = 0x1000;
// Bits 32 to 47 of a file's size live in the top half of Flags, so that a node holds the whole
// size of any real file without growing.
inline constexpr uint32_t nfSizeHighShift = 16;
inline constexpr uint32_t nfSizeHighMask = 0xFFFF0000;
inline constexpr uint64_t kLargestFileSize = (uint64_t{1} << 48) - 1;

// One disc, folder or file of the collection.
struct TCollectionNode {
    uint32_t Id = 0;       // 1, 2, 3, ... within one collection; 0 means no node
    uint32_t ParentId = 0; // the node whose Children hold this one; 0 for a disc
    TNodeName Name;        // 8-bit code page 1251, as read from the disc or the file
    uint32_t Flags = 0;
    uint32_t WriteTimeLow = 0; // last-write time: a FILETIME (100 ns since 1601, UTC) in halves
    uint32_t WriteTimeHigh = 0;
    uint32_t Size = 0;          // low 32 bits of the file size; FullSize() is the whole size
    TCollectionBranch Children; // in the order they were added; empty for files

    [[nodiscard]] bool Is(uint32_t flag) const { return (Flags & flag) != 0; }
    [[nodiscard]] uint64_t FullSize() const
    {
        return (uint64_t{Flags >> nfSizeHighShift} << 32) | Size;
    }
    // Sizes past kLargestFileSize (256 TiB, only a sparse file can claim more) are kept as it.
    void SetFullSize(uint64_t size)
    {
        if (size > kLargestFileSize)
            size = kLargestFileSize;
        Size = static_cast<uint32_t>(size);
        Flags = (Flags & ~nfSizeHighMask) | (static_cast<uint32_t>(size >> 32) << nfSizeHighShift);
    }
};
