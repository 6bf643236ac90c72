#pragma once

// The layout of the name index file, which its writer and its reader share. All numbers are in
// the machine's byte order:
//   the collection's absolute path;
//   one entry per file, folder and disc in the snapshot's order: where its record line starts in
//   the collection file, and its parent (the top bit set when an override below stands for it);
//   the trigram table, sorted by key: key, number of blocks, start of its postings;
//   the postings: for each trigram, the blocks of 2^BlockShift entries that hold it, as
//   LEB128 differences;
//   the overrides, sorted by entry: kind, size, time and perhaps the name of every entry whose
//   record line does not tell them as the search sees them (every folder's total, for one);
//   the override names;
//   an XXH3 checksum for every 4 KiB of all the above;
//   the header, last, so that the index is written front to back in one go.

#include "search/NameIndex.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace name_index_detail {

inline constexpr std::array<char, 8> kMagic = {'F', 'R', 'L', 'N', 'A', 'M', 'I', 'X'};
inline constexpr uint32_t kVersion = 1;
inline constexpr uint32_t kByteOrder = 0x01020304;
inline constexpr uint32_t kBlockShift = 6;
inline constexpr size_t kEntriesPerBlock = size_t{1} << kBlockShift;
inline constexpr uint32_t kChunkShift = 12;
inline constexpr uint32_t kOverrideBit = 0x80000000U;
inline constexpr uint32_t kNoParentField = 0x7FFFFFFFU;
inline constexpr uint32_t kNameFromLine = UINT32_MAX;

struct THeader {
    std::array<char, 8> Magic;
    uint32_t Version;
    uint32_t ByteOrder;
    uint32_t BlockShift;
    uint32_t ChunkShift;
    uint64_t Identity[5];
    uint64_t EntryCount;
    uint64_t PathOffset, PathSize;
    uint64_t EntriesOffset;
    uint64_t TrigramsOffset, TrigramCount;
    uint64_t PostingsOffset, PostingsSize;
    uint64_t OverridesOffset, OverrideCount;
    uint64_t NamesOffset, NamesSize;
    uint64_t SumsOffset; // the checksums of every chunk of [0, SumsOffset)
    uint64_t SumsSum;
    uint64_t HeaderSum; // of every byte of the header before it
};

static_assert(sizeof(THeader) == 184, "the header's layout is part of the file format");

struct TEntryRecord {
    uint32_t Line;
    uint32_t Parent;
};

struct TTrigramRecord {
    uint32_t Key;
    uint32_t Count;
    uint64_t Start; // into the postings
};

struct TOverrideRecord {
    uint32_t Entry;
    uint32_t Flags;
    uint64_t Size;
    uint64_t Time;
    uint32_t NameStart; // into the override names; kNameFromLine: the record line's name
    uint32_t NameSize;
};

inline std::array<uint64_t, 5> IdentityFields(const TCollectionIdentity& identity)
{
    return {identity.Device, identity.Inode, identity.Size, identity.ModifiedNs,
            identity.ChangedNs};
}

} // namespace name_index_detail
