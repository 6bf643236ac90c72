// Opening a name index, which checks everything that tells whether the index is one of this
// collection file as it is now, and reading its entries one at a time, as the printing of hits
// and the way up from an entry to its disc read them.

#include "search/NameIndex.h"

#include "search/NameIndexFormat.h"
#include "search/NameIndexReader.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

using namespace name_index_detail;

std::unique_ptr<TNameIndex> TNameIndex::Open(std::string_view bytes,
                                             std::string_view collectionText,
                                             const TCollectionIdentity& identity,
                                             std::string_view collectionPath)
{
    auto parts = std::make_unique<TParts>();
    THeader& header = parts->Header;
    if (bytes.size() < sizeof header)
        return nullptr;
    std::memcpy(&header, bytes.data() + bytes.size() - sizeof header, sizeof header);
    if (header.Magic != kMagic || header.Version != kVersion || header.ByteOrder != kByteOrder ||
        header.BlockShift != kBlockShift || header.ChunkShift != kChunkShift ||
        header.HeaderSum != XXH3_64bits(&header, offsetof(THeader, HeaderSum)))
        return nullptr;
    const std::array<uint64_t, 5> fields = IdentityFields(identity);
    if (!std::equal(fields.begin(), fields.end(), header.Identity))
        return nullptr;
    const uint64_t chunks = (header.SumsOffset + (uint64_t{1} << kChunkShift) - 1) >> kChunkShift;
    if (header.SumsOffset % 8 != 0 ||
        header.SumsOffset + chunks * sizeof(uint64_t) + sizeof header != bytes.size())
        return nullptr;
    parts->Sums = reinterpret_cast<const uint64_t*>(bytes.data() + header.SumsOffset);
    if (XXH3_64bits(parts->Sums, chunks * sizeof(uint64_t)) != header.SumsSum)
        return nullptr;
    // Every section within the summed part, in its order.
    const auto within = [&](uint64_t offset, uint64_t count, uint64_t size) {
        return offset <= header.SumsOffset &&
               (size == 0 || count <= (header.SumsOffset - offset) / size);
    };
    if (header.EntryCount >= kNoParentField || !within(header.PathOffset, header.PathSize, 1) ||
        !within(header.EntriesOffset, header.EntryCount, sizeof(TEntryRecord)) ||
        !within(header.TrigramsOffset, header.TrigramCount, sizeof(TTrigramRecord)) ||
        !within(header.PostingsOffset, header.PostingsSize, 1) ||
        !within(header.OverridesOffset, header.OverrideCount, sizeof(TOverrideRecord)) ||
        !within(header.NamesOffset, header.NamesSize, 1) || header.EntriesOffset % 4 != 0)
        return nullptr;
    parts->Bytes = bytes;
    // Every record line the index points at ends before the first zero byte, if there is one,
    // as it did when the index was made.
    parts->Text = collectionText;
    parts->Checked = std::make_unique<std::atomic<uint8_t>[]>(chunks); // all 0
    try {
        parts->Check(header.PathOffset, header.PathSize);
    } catch (const ENameIndexDamaged&) {
        return nullptr;
    }
    if (bytes.substr(header.PathOffset, header.PathSize) != collectionPath)
        return nullptr; // an index of another file that happens to be in the same state
    return std::unique_ptr<TNameIndex>(new TNameIndex(std::move(parts)));
}

TNameIndex::TNameIndex(std::unique_ptr<TParts> parts)
    : Parts_(std::move(parts))
{
}

TNameIndex::~TNameIndex() = default;

size_t TNameIndex::size() const
{
    return Parts_->Header.EntryCount;
}

TNameIndex::TItem TNameIndex::Item(uint32_t entry) const
{
    const TParts& parts = *Parts_;
    if (entry >= parts.Header.EntryCount)
        TParts::Damaged();
    const TEntryRecord record = parts.Entry(entry);
    std::optional<TOverrideRecord> kept;
    if (record.Parent & kOverrideBit)
        kept = parts.OverrideOf(entry);
    return parts.ItemOf(entry, record, kept);
}

void TNameIndex::PrefetchRecord(uint32_t entry) const
{
    const TParts& parts = *Parts_;
    if (entry < parts.Header.EntryCount)
        __builtin_prefetch(parts.Bytes.data() + parts.Header.EntriesOffset +
                           uint64_t{entry} * sizeof(TEntryRecord));
}

void TNameIndex::PrefetchLine(uint32_t entry) const
{
    if (entry < Parts_->Header.EntryCount)
        Parts_->PrefetchLine(entry);
}

uint32_t TNameIndex::DiscOf(uint32_t entry) const
{
    for (;;) {
        const uint32_t parent = Item(entry).Parent;
        if (parent == NoParent)
            return entry;
        entry = parent;
    }
}

std::string TNameIndex::Path(uint32_t entry, char separator) const
{
    std::vector<std::string_view> chain; // from the entry up to just below the disc
    for (TItem item = Item(entry); item.Parent != NoParent; item = Item(item.Parent))
        chain.push_back(item.Name);
    std::string path;
    for (auto at = chain.rbegin(); at != chain.rend(); ++at) {
        path += separator;
        path += *at;
    }
    return path;
}
