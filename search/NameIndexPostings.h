#pragma once

// The postings of the index: for each trigram, the blocks of entries whose names hold it. Each
// thread builds them for its part of the entries; they are then joined into the lists the index
// holds, which are the same as one thread's.

#include "platform/LargeBuffer.h"
#include "search/NameIndexFormat.h"
#include "search/NameIndexTrigrams.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace name_index_detail {

// For each trigram, the blocks that hold it, as LEB128 differences. The pairs of trigram and
// block are gathered for a batch of blocks and sorted by trigram; each trigram's blocks in the
// batch then go, as a run, to the end of the batch's runs, which are written one after the other
// in the order of their trigrams. Every write is to the next byte, and the lists are read back
// the same way, trigram after trigram, one reader on each batch's runs: added to each trigram's
// own list instead, nearly every run would wait for that list's end to come from memory. One
// builder takes the blocks of one part of the entries.
class TPostingsBuilder {
    // Runs of one batch written into one pool; a batch's runs may take several.
    struct TSegment {
        const uint8_t* Data;
        size_t Size;
    };
    struct TBatch {
        size_t FirstSegment;
        size_t EndSegment;
    };

public:
    TPostingsBuilder()
        : Keys_(kKeyCount)
    {
    }

    // Sizes the batches for the number of blocks the builder is to take.
    void Start(uint64_t blocks);

    // Blocks come in ascending order. A pair goes straight to its place among the pairs of keys
    // with the same top digit.
    void Add(uint32_t key, uint32_t block)
    {
        if (block >= BatchStart_ + BatchBlocks())
            Flush(block);
        const uint32_t top = key >> kDigitBits;
        if (Fill_[top] == End_[top])
            Flush(block, true); // the batch ends early, at a place full
        *Fill_[top]++ = ((key & (kDigits - 1)) << BatchBits_) | (block - BatchStart_);
    }
    // Ends the last batch and gives the batches' memory back: the system hands the same pages
    // out again at once (for the index file's, say), where fresh ones may cost more.
    void Finish();

    [[nodiscard]] uint32_t Blocks(uint32_t key) const { return Keys_[key].Count; }
    [[nodiscard]] uint32_t Bytes(uint32_t key) const { return Keys_[key].Bytes; }
    // The first block of the key's list and the one after its last, plus one; 0 for an empty
    // list.
    [[nodiscard]] uint32_t FirstPlusOne(uint32_t key) const { return Keys_[key].FirstPlusOne; }
    [[nodiscard]] uint32_t LastPlusOne(uint32_t key) const { return Keys_[key].LastPlusOne; }

    // Reads the lists back, key after key in ascending order.
    class TReader;

private:
    // A batch is 2^BatchBits_ blocks. A large one makes fewer, longer runs; a small one keeps
    // the pairs in the processor's cache while they are sorted, and needs less fresh memory.
    static constexpr unsigned kMostBatchBits = 11;
    static constexpr unsigned kFewestBatchBits = 8;
    static constexpr uint64_t kBatchesAtLeast = 32;
    [[nodiscard]] uint32_t BatchBlocks() const { return uint32_t{1} << BatchBits_; }
    static constexpr unsigned kDigitBits = 9; // two digits make a key
    static constexpr uint32_t kDigits = 1U << kDigitBits;
    static_assert(2 * kDigitBits == 3 * kClassBits);
    static_assert((size_t{2} << kMostBatchBits) + 5 <= UINT16_MAX, "a run's length fits two bytes");

    struct TKey {
        uint32_t FirstPlusOne = 0;
        uint32_t LastPlusOne = 0;
        uint32_t Count = 0;
        uint32_t Bytes = 0;
    };

    // Inline, and defined beside Start and Flush, their only callers: Flush makes room for every
    // run.
    // Room for at least size more bytes at Out_, in the current segment or a new one.
    inline void MakeRoom(size_t size);
    inline void EndSegment();
    // Shares the pairs' room out among the top digits for a batch from block on.
    inline void StartBatch(uint32_t block);
    // Sorts each top digit's pairs by the other digit, keeping the order of blocks within a key,
    // in the cache, and sends each key's blocks out as a run. The next batch starts at the batch
    // of block; when this one ended early, with room for twice as many pairs of each top digit.
    void Flush(uint32_t block, bool early = false);

    static constexpr size_t kPoolBytes = size_t{16} << 20;
    TLargeVector<TKey> Keys_;
    std::vector<TLargeBlock> Pools_;
    std::vector<TSegment> Segments_;
    std::vector<TBatch> Batches_;
    uint8_t* Out_ = nullptr;
    uint8_t* PoolEnd_ = nullptr;
    uint8_t* SegmentStart_ = nullptr;
    // The pairs of a batch, by top digit: the low digit of the key and the block in the batch.
    TLargeVector<uint32_t> Pairs_;
    std::array<uint32_t*, kDigits> Begin_{};
    std::array<uint32_t*, kDigits> Fill_{};
    std::array<uint32_t*, kDigits> End_{};
    std::array<uint32_t, kDigits> Room_{};
    static constexpr uint32_t kLeastRoom = 64;
    TLargeVector<uint32_t> Digit_;
    uint32_t BatchStart_ = 0;
    unsigned BatchBits_ = kMostBatchBits;
};

// The lists of the builders of consecutive parts of the entries joined into one for each
// trigram, in the order of their keys, as the index holds them. A part's list begins with the
// difference from no block at all; joined, it begins with the difference from the last block of
// the parts before, and may be shorter by a byte or two.
class TJoinedPostings {
public:
    explicit TJoinedPostings(const std::vector<const TPostingsBuilder*>& parts);

    [[nodiscard]] const TLargeVector<TTrigramRecord>& Trigrams() const { return Trigrams_; }
    [[nodiscard]] uint64_t Size() const { return Size_; }

    // Passes the joined lists on to write(bytes, size): short ones gathered into larger pieces.
    void Write(const std::function<void(const uint8_t* bytes, size_t size)>& write) const;

private:
    std::vector<const TPostingsBuilder*> Parts_;
    TLargeVector<TTrigramRecord> Trigrams_;
    uint64_t Size_ = 0;
};

} // namespace name_index_detail
