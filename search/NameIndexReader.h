#pragma once

// An open name index as its reader and its search see it: its bytes, the collection file's text
// and the checks that every part read is as it was written. Its reads are inline: the search
// makes several for every candidate it tests.

#include "search/NameIndex.h"

#include "search/NameIndexFormat.h"
#include "search/NameIndexLines.h"

#define XXH_INLINE_ALL
#include <xxhash.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

struct TNameIndex::TParts {
    using TItem = TNameIndex::TItem;
    using THeader = name_index_detail::THeader;
    using TEntryRecord = name_index_detail::TEntryRecord;
    using TTrigramRecord = name_index_detail::TTrigramRecord;
    using TOverrideRecord = name_index_detail::TOverrideRecord;
    std::string_view Bytes;
    std::string_view Text;
    THeader Header{};
    const uint64_t* Sums = nullptr;
    // Per chunk: 1 when its checksum was found right. Threads that read the index at once may
    // each check a chunk and mark it; the mark only ever goes from 0 to 1.
    std::unique_ptr<std::atomic<uint8_t>[]> Checked;

    [[noreturn]] static void Damaged() { throw ENameIndexDamaged("the name index is damaged"); }

    // Makes sure that [offset, offset + size) lies in the summed part and is as it was written.
    void Check(uint64_t offset, uint64_t size) const
    {
        if (offset > Header.SumsOffset || size > Header.SumsOffset - offset)
            Damaged();
        if (size == 0)
            return;
        for (uint64_t chunk = offset >> name_index_detail::kChunkShift;
             chunk <= (offset + size - 1) >> name_index_detail::kChunkShift; ++chunk) {
            if (Checked[chunk].load(std::memory_order_relaxed))
                continue;
            const uint64_t start = chunk << name_index_detail::kChunkShift;
            const uint64_t length = std::min<uint64_t>(
                uint64_t{1} << name_index_detail::kChunkShift, Header.SumsOffset - start);
            if (XXH3_64bits(Bytes.data() + start, length) != Sums[chunk])
                Damaged();
            Checked[chunk].store(1, std::memory_order_relaxed);
        }
    }
    template <typename T> T Read(uint64_t offset) const
    {
        Check(offset, sizeof(T));
        T value;
        std::memcpy(&value, Bytes.data() + offset, sizeof(T));
        return value;
    }
    [[nodiscard]] TEntryRecord Entry(uint32_t index) const
    {
        return Read<TEntryRecord>(Header.EntriesOffset + uint64_t{index} * sizeof(TEntryRecord));
    }
    // Asks the processor to bring the entry's record line into its cache. Only a hint: nothing
    // is read from an offset that is not checked.
    void PrefetchLine(uint32_t index) const
    {
        const uint64_t offset = Header.EntriesOffset + uint64_t{index} * sizeof(TEntryRecord);
        if (offset + sizeof(TEntryRecord) > Header.SumsOffset)
            return;
        TEntryRecord record;
        std::memcpy(&record, Bytes.data() + offset, sizeof record);
        // A record line is mostly longer than the rest of its first cache line.
        if (record.Line < Text.size())
            __builtin_prefetch(Text.data() + record.Line);
        if (record.Line + 64 < Text.size())
            __builtin_prefetch(Text.data() + record.Line + 64);
    }
    [[nodiscard]] TTrigramRecord Trigram(uint64_t index) const
    {
        return Read<TTrigramRecord>(Header.TrigramsOffset + index * sizeof(TTrigramRecord));
    }
    [[nodiscard]] TOverrideRecord Override(uint64_t index) const
    {
        return Read<TOverrideRecord>(Header.OverridesOffset + index * sizeof(TOverrideRecord));
    }
    [[nodiscard]] uint64_t BlockCount() const
    {
        return (Header.EntryCount + (uint64_t{1} << name_index_detail::kBlockShift) - 1) >>
               name_index_detail::kBlockShift;
    }
    // The blocks that hold the trigram, or nothing when no name holds it.
    [[nodiscard]] std::optional<TTrigramRecord> FindTrigram(uint32_t key) const
    {
        uint64_t low = 0;
        uint64_t high = Header.TrigramCount;
        while (low < high) {
            const uint64_t middle = low + (high - low) / 2;
            const TTrigramRecord record = Trigram(middle);
            if (record.Key == key)
                return record;
            if (record.Key < key)
                low = middle + 1;
            else
                high = middle;
        }
        return std::nullopt;
    }
    [[nodiscard]] std::vector<uint32_t> Blocks(const TTrigramRecord& record) const
    {
        const uint64_t end = PostingsEnd(record);
        if (record.Start > end || end > Header.PostingsSize)
            Damaged();
        Check(Header.PostingsOffset + record.Start, end - record.Start);
        const auto* at =
            reinterpret_cast<const uint8_t*>(Bytes.data() + Header.PostingsOffset + record.Start);
        const uint8_t* const stop = at + (end - record.Start);
        std::vector<uint32_t> blocks;
        blocks.reserve(record.Count);
        uint64_t plusOne = 0;
        while (at < stop) {
            uint64_t delta = 0;
            for (int shift = 0;; shift += 7) {
                if (at == stop || shift > 28)
                    Damaged();
                const uint8_t byte = *at++;
                delta |= uint64_t{byte & 0x7FU} << shift;
                if (!(byte & 0x80))
                    break;
            }
            plusOne += delta;
            if (delta == 0 || plusOne > BlockCount())
                Damaged();
            blocks.push_back(static_cast<uint32_t>(plusOne - 1));
        }
        if (blocks.size() != record.Count)
            Damaged();
        return blocks;
    }
    // Where the postings of the trigram end: at the start of the next one's.
    [[nodiscard]] uint64_t PostingsEnd(const TTrigramRecord& record) const
    {
        // The table is sorted by key, so the next one is found by the key after.
        uint64_t low = 0;
        uint64_t high = Header.TrigramCount;
        while (low < high) {
            const uint64_t middle = low + (high - low) / 2;
            if (Trigram(middle).Key <= record.Key)
                low = middle + 1;
            else
                high = middle;
        }
        return low < Header.TrigramCount ? Trigram(low).Start : Header.PostingsSize;
    }
    // The entry as its record, its override if it has one, and its record line tell it.
    [[nodiscard]] TItem ItemOf(uint32_t entry, const TEntryRecord& record,
                               const std::optional<TOverrideRecord>& kept) const
    {
        const TParts& parts = *this;
        TItem item;
        const uint32_t parent = record.Parent & ~name_index_detail::kOverrideBit;
        if (parent != name_index_detail::kNoParentField) {
            // A parent comes before its children: the way up always ends.
            if (parent >= entry)
                Damaged();
            item.Parent = parent;
        }
        if (!kept) {
            if (!name_index_detail::ParseLine(parts.Text, record.Line, item))
                throw ENameIndexDamaged("the collection file does not fit its name index");
            return item;
        }
        if (kept->Entry != entry)
            Damaged();
        if (kept->NameSize == name_index_detail::kNameFromLine) {
            TItem line;
            if (!name_index_detail::ParseLine(parts.Text, record.Line, line))
                throw ENameIndexDamaged("the collection file does not fit its name index");
            item.Name = line.Name;
        } else {
            if (kept->NameStart > parts.Header.NamesSize ||
                kept->NameSize > parts.Header.NamesSize - kept->NameStart)
                Damaged();
            parts.Check(parts.Header.NamesOffset + kept->NameStart, kept->NameSize);
            item.Name =
                parts.Bytes.substr(parts.Header.NamesOffset + kept->NameStart, kept->NameSize);
        }
        item.Flags = kept->Flags;
        item.Size = kept->Size;
        item.Time = kept->Time;
        return item;
    }

    // The first override at or after from that is not before entry: found by strides that
    // double, then halving, so that the candidates of a search far apart cost no walk through
    // every override between them.
    [[nodiscard]] uint64_t FirstOverrideFrom(uint64_t from, uint32_t entry) const
    {
        const uint64_t count = Header.OverrideCount;
        uint64_t low = from;
        uint64_t stride = 1;
        while (low < count && Override(low).Entry < entry) {
            from = low + 1;
            low = std::min(count, low + stride);
            stride *= 2;
        }
        // Every override before from is before entry; the one at low (or the end) is not.
        uint64_t high = low;
        low = from;
        while (low < high) {
            const uint64_t middle = low + (high - low) / 2;
            if (Override(middle).Entry < entry)
                low = middle + 1;
            else
                high = middle;
        }
        return low;
    }
    [[nodiscard]] TOverrideRecord OverrideOf(uint32_t entry) const
    {
        uint64_t low = 0;
        uint64_t high = Header.OverrideCount;
        while (low < high) {
            const uint64_t middle = low + (high - low) / 2;
            const TOverrideRecord record = Override(middle);
            if (record.Entry == entry)
                return record;
            if (record.Entry < entry)
                low = middle + 1;
            else
                high = middle;
        }
        Damaged();
    }
};
