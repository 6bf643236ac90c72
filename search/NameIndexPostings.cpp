// The building of the postings: a batch of blocks' pairs of trigram and block sorted in the
// processor's cache and written as runs, and the runs of every batch and every part read back
// trigram after trigram into the lists the index holds.

#include "search/NameIndexPostings.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <new>

namespace name_index_detail {

namespace {

// The length of a difference as LEB128.
size_t VarintLength(uint32_t value)
{
    size_t length = 1;
    for (; value >= 0x80; value >>= 7)
        ++length;
    return length;
}

uint8_t* PutVarint(uint8_t* out, uint32_t value)
{
    for (; value >= 0x80; value >>= 7)
        *out++ = static_cast<uint8_t>(value | 0x80);
    *out++ = static_cast<uint8_t>(value);
    return out;
}

// The difference that begins a list of blocks, and its length.
uint32_t FirstVarint(const uint8_t* bytes, size_t& length)
{
    uint32_t value = 0;
    length = 0;
    for (unsigned shift = 0;; shift += 7) {
        value |= uint32_t{bytes[length] & 0x7FU} << shift;
        if (bytes[length++] < 0x80)
            return value;
    }
}

} // namespace

void TPostingsBuilder::Start(uint64_t blocks)
{
    BatchBits_ = kMostBatchBits;
    while (BatchBits_ > kFewestBatchBits && (uint64_t{1} << BatchBits_) * kBatchesAtLeast > blocks)
        --BatchBits_;
    // Room for 32 trigrams a name at first, shared out evenly; each batch then shares it out
    // as the batch before used it.
    Pairs_.resize(size_t{BatchBlocks()} << kBlockShift << 5);
    for (uint32_t top = 0; top < kDigits; ++top)
        Room_[top] = static_cast<uint32_t>(Pairs_.size() / kDigits);
    StartBatch(0);
}

void TPostingsBuilder::Finish()
{
    Flush(0);
    TLargeVector<uint32_t>().swap(Pairs_);
    TLargeVector<uint32_t>().swap(Digit_);
}

class TPostingsBuilder::TReader {
public:
    explicit TReader(const TPostingsBuilder& builder)
    {
        for (const TBatch& batch : builder.Batches_) {
            TCursor cursor;
            cursor.At = builder.Segments_.data() + batch.FirstSegment;
            cursor.End = builder.Segments_.data() + batch.EndSegment;
            Cursors_.push_back(cursor);
            Next(Cursors_.back());
        }
    }
    // Calls take(bytes, size) with each run of the key, in order. key is above the last.
    template <typename TTake> void Walk(uint32_t key, TTake&& take)
    {
        for (TCursor& cursor : Cursors_) {
            if (cursor.Key != key)
                continue;
            take(cursor.Run, size_t{cursor.Size});
            cursor.Position += cursor.Size;
            Next(cursor);
        }
    }

private:
    struct TCursor {
        const TSegment* At = nullptr;
        const TSegment* End = nullptr;
        size_t Position = 0;
        uint32_t Key = 0;
        uint32_t Size = 0;
        const uint8_t* Run = nullptr;
    };
    // Moves to the cursor's next run; past its last, its key is kKeyCount.
    static void Next(TCursor& cursor)
    {
        while (cursor.At != cursor.End && cursor.Position == cursor.At->Size) {
            ++cursor.At;
            cursor.Position = 0;
        }
        if (cursor.At == cursor.End) {
            cursor.Key = kKeyCount;
            return;
        }
        const uint8_t* at = cursor.At->Data + cursor.Position;
        size_t length = 0;
        cursor.Key += FirstVarint(at, length);
        cursor.Size = uint32_t{at[length]} | (uint32_t{at[length + 1]} << 8);
        cursor.Run = at + length + 2;
        cursor.Position += length + 2;
    }
    std::vector<TCursor> Cursors_;
};

inline void TPostingsBuilder::MakeRoom(size_t size)
{
    if (Out_ && static_cast<size_t>(PoolEnd_ - Out_) >= size)
        return;
    EndSegment();
    const size_t poolSize = std::max(kPoolBytes, size);
    Pools_.push_back(AllocateLarge(poolSize));
    if (!Pools_.back())
        throw std::bad_alloc();
    Out_ = static_cast<uint8_t*>(Pools_.back().get());
    PoolEnd_ = Out_ + poolSize;
    SegmentStart_ = Out_;
}

inline void TPostingsBuilder::EndSegment()
{
    if (Out_ && Out_ != SegmentStart_)
        Segments_.push_back({SegmentStart_, static_cast<size_t>(Out_ - SegmentStart_)});
    SegmentStart_ = Out_;
}

inline void TPostingsBuilder::StartBatch(uint32_t block)
{
    size_t needed = 0;
    for (uint32_t top = 0; top < kDigits; ++top)
        needed += Room_[top];
    if (needed > Pairs_.size())
        Pairs_.resize(needed);
    uint32_t* at = Pairs_.data();
    for (uint32_t top = 0; top < kDigits; ++top) {
        Begin_[top] = Fill_[top] = at;
        at += Room_[top];
        End_[top] = at;
    }
    BatchStart_ = block & ~(BatchBlocks() - 1);
}

void TPostingsBuilder::Flush(uint32_t block, bool early)
{
    const size_t firstSegment = Segments_.size();
    uint32_t previousKey = 0;
    for (uint32_t top = 0; top < kDigits; ++top) {
        const uint32_t* const from = Begin_[top];
        const auto count = static_cast<size_t>(Fill_[top] - Begin_[top]);
        Room_[top] =
            static_cast<uint32_t>(early ? 2 * count + kLeastRoom : count + count / 4 + kLeastRoom);
        if (count == 0)
            continue;
        Digit_.resize(count);
        std::array<uint32_t, kDigits + 1> low{};
        for (size_t i = 0; i < count; ++i)
            ++low[(from[i] >> BatchBits_) + 1];
        for (size_t i = 1; i < low.size(); ++i)
            low[i] += low[i - 1];
        for (size_t i = 0; i < count; ++i)
            Digit_[low[from[i] >> BatchBits_]++] = from[i];
        // A run: the difference from the batch's key before, two bytes of length, the
        // differences of its blocks; never longer than a block a byte and the first's five.
        for (size_t i = 0; i < count;) {
            const uint32_t lowDigit = Digit_[i] >> BatchBits_;
            const uint32_t key = (top << kDigitBits) | lowDigit;
            size_t end = i + 1;
            while (end < count && (Digit_[end] >> BatchBits_) == lowDigit)
                ++end;
            MakeRoom(5 + 2 + 5 + 2 * (end - i));
            TKey& k = Keys_[key];
            uint8_t* const head = PutVarint(Out_, key - previousKey);
            uint8_t* out = head + 2;
            uint32_t last = k.LastPlusOne;
            for (; i < end; ++i) {
                const uint32_t plusOne = BatchStart_ + (Digit_[i] & (BatchBlocks() - 1)) + 1;
                if (plusOne == last)
                    continue;
                if (k.Count == 0)
                    k.FirstPlusOne = plusOne;
                out = PutVarint(out, plusOne - last);
                last = plusOne;
                ++k.Count;
            }
            const auto size = static_cast<uint32_t>(out - (head + 2));
            if (size == 0)
                continue; // a block already in the list, from a batch that ended early
            head[0] = static_cast<uint8_t>(size);
            head[1] = static_cast<uint8_t>(size >> 8);
            k.LastPlusOne = last;
            k.Bytes += size;
            Out_ = out;
            previousKey = key;
        }
    }
    EndSegment();
    if (Segments_.size() > firstSegment)
        Batches_.push_back({firstSegment, Segments_.size()});
    StartBatch(block);
}

TJoinedPostings::TJoinedPostings(const std::vector<const TPostingsBuilder*>& parts)
    : Parts_(parts)
{
    for (uint32_t key = 0; key < kKeyCount; ++key) {
        uint32_t blocks = 0;
        uint64_t bytes = 0;
        uint32_t lastPlusOne = 0;
        for (const TPostingsBuilder* part : parts) {
            if (part->Blocks(key) == 0)
                continue;
            bytes += part->Bytes(key);
            if (lastPlusOne != 0) {
                const uint32_t plusOne = part->FirstPlusOne(key);
                bytes = bytes - VarintLength(plusOne) + VarintLength(plusOne - lastPlusOne);
            }
            blocks += part->Blocks(key);
            lastPlusOne = part->LastPlusOne(key);
        }
        if (blocks > 0) {
            Trigrams_.push_back({key, blocks, Size_});
            Size_ += bytes;
        }
    }
}

void TJoinedPostings::Write(
    const std::function<void(const uint8_t* bytes, size_t size)>& write) const
{
    constexpr size_t kPiece = size_t{64} << 10;
    std::vector<uint8_t> piece(kPiece);
    size_t used = 0;
    const auto add = [&](const uint8_t* bytes, size_t size) {
        if (used + size > kPiece) {
            write(piece.data(), used);
            used = 0;
        }
        if (size > kPiece) {
            write(bytes, size); // a long list goes as it is
            return;
        }
        std::memcpy(piece.data() + used, bytes, size);
        used += size;
    };
    std::vector<TPostingsBuilder::TReader> readers;
    std::transform(Parts_.begin(), Parts_.end(), std::back_inserter(readers),
                   [](const TPostingsBuilder* part) { return TPostingsBuilder::TReader(*part); });
    for (const TTrigramRecord& trigram : Trigrams_) {
        uint32_t lastPlusOne = 0;
        for (size_t p = 0; p < Parts_.size(); ++p) {
            if (Parts_[p]->Blocks(trigram.Key) == 0)
                continue;
            bool first = lastPlusOne != 0;
            readers[p].Walk(trigram.Key, [&](const uint8_t* bytes, size_t size) {
                if (first) {
                    first = false;
                    size_t length = 0;
                    const uint32_t difference = FirstVarint(bytes, length) - lastPlusOne;
                    std::array<uint8_t, 5> encoded{};
                    add(encoded.data(), static_cast<size_t>(PutVarint(encoded.data(), difference) -
                                                            encoded.data()));
                    bytes += length;
                    size -= length;
                }
                add(bytes, size);
            });
            lastPlusOne = Parts_[p]->LastPlusOne(trigram.Key);
        }
    }
    write(piece.data(), used);
}

} // namespace name_index_detail
