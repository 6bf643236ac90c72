// The writing of a collection's name index. The entries are walked in the snapshot's order, on
// one thread or on two, each over its own part of them; each part keeps its entries' records, the
// overrides of what their record lines do not tell, the folders' totals and its postings. The
// parts are then joined, in one pass front to back, into the index one thread would have written.

#include "search/NameIndex.h"

#include "collection/CollectionNode.h"
#include "collection/Fendrel.h"
#include "collection/PreOrderWalk.h"
#include "platform/LargeBuffer.h"
#include "platform/SideBySide.h"
#include "search/NameIndexFormat.h"
#include "search/NameIndexLines.h"
#include "search/NameIndexPostings.h"
#include "search/NameIndexTrigrams.h"

#define XXH_INLINE_ALL
#include <xxhash.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

using namespace name_index_detail;

namespace {

// Passes bytes on to the sink in large pieces, summing every chunk of them as it goes.
class TSummingWriter {
public:
    explicit TSummingWriter(const TIndexSink& sink)
        : Sink_(sink)
    {
        Buffer_.reserve(kBufferSize);
        XXH3_64bits_reset(&State_);
    }

    void Write(const void* data, size_t size)
    {
        const auto* bytes = static_cast<const char*>(data);
        while (size > 0) {
            const size_t room = (size_t{1} << kChunkShift) - InChunk_;
            const size_t piece = std::min(room, size);
            XXH3_64bits_update(&State_, bytes, piece);
            InChunk_ += piece;
            if (InChunk_ == (size_t{1} << kChunkShift))
                EndChunk();
            Append(bytes, piece);
            bytes += piece;
            size -= piece;
            Offset_ += piece;
        }
    }
    template <typename TItems> void WriteAll(const TItems& items)
    {
        Write(items.data(), items.size() * sizeof(items[0]));
    }
    void Align()
    {
        static constexpr char zeros[8] = {};
        Write(zeros, (8 - Offset_ % 8) % 8);
    }
    // Ends the summed part; what is written after it is not summed.
    std::vector<uint64_t> Sums()
    {
        if (InChunk_ > 0)
            EndChunk();
        return std::move(Sums_);
    }
    void WriteUnsummed(const void* data, size_t size)
    {
        Append(static_cast<const char*>(data), size);
        Offset_ += size;
    }
    [[nodiscard]] bool Finish()
    {
        if (!Buffer_.empty() && Good_)
            Good_ = Sink_(Buffer_);
        Buffer_.clear();
        return Good_;
    }
    [[nodiscard]] uint64_t Offset() const { return Offset_; }

private:
    static constexpr size_t kBufferSize = size_t{1} << 20;

    void EndChunk()
    {
        Sums_.push_back(XXH3_64bits_digest(&State_));
        XXH3_64bits_reset(&State_);
        InChunk_ = 0;
    }
    void Append(const char* bytes, size_t size)
    {
        Buffer_.append(bytes, size);
        if (Buffer_.size() >= kBufferSize) {
            if (Good_)
                Good_ = Sink_(Buffer_);
            Buffer_.clear();
        }
    }

    const TIndexSink& Sink_;
    std::string Buffer_;
    XXH3_state_t State_{};
    size_t InChunk_ = 0;
    std::vector<uint64_t> Sums_;
    uint64_t Offset_ = 0;
    bool Good_ = true;
};

// The files, folders and discs reachable from a collection's discs in depth-first pre-order, the
// order in which the search's snapshot numbers them: each one's node and the entry of its parent.
// A parent that is a file, which only a hand-made file can give, is marked: no size is added
// into a file.
constexpr uint32_t kParentIsFile = 0x80000000U;
class TEntryOrder {
public:
    explicit TEntryOrder(const TFendrel& collection)
        : Collection_(collection)
    {
        if (!Walk(true)) {
            InIdOrder_ = false;
            Walk(false);
        }
    }

    [[nodiscard]] size_t size() const { return Count_; }
    // False when the collection has more entries than an index can number.
    [[nodiscard]] bool Fits() const { return Fits_; }
    [[nodiscard]] const TCollectionNode& Node(size_t entry) const
    {
        return InIdOrder_ ? Collection_.GetNode(static_cast<uint32_t>(entry) + 1) : *Nodes_[entry];
    }
    // Asks the processor for the node of an entry to come.
    void Prefetch(size_t entry) const
    {
        __builtin_prefetch(InIdOrder_ ? Collection_.Nodes.Find(static_cast<uint32_t>(entry) + 1)
                                      : Nodes_[entry]);
    }
    // kNoParentField for a disc; kParentIsFile set for a file.
    [[nodiscard]] uint32_t Parent(size_t entry, const TCollectionNode& node) const
    {
        if (!InIdOrder_)
            return Parents_[entry];
        if (node.ParentId == 0)
            return kNoParentField;
        return Collection_.Nodes.Find(node.ParentId)->Is(nfFile)
                   ? (node.ParentId - 1) | kParentIsFile
                   : node.ParentId - 1;
    }

private:
    // With inIdOrder, only checks that entry k is node k + 1 and that each node's ParentId names
    // the node whose list holds it, as in a collection just read from its file: then nothing
    // need be kept. Otherwise notes every node and parent.
    bool Walk(bool inIdOrder)
    {
        Count_ = 0;
        if (!inIdOrder) {
            Nodes_.reserve(Collection_.LastId); // every node ever added: enough for those reachable
            Parents_.reserve(Collection_.LastId);
        }
        const auto visit = [&](const TCollectionNode& node, uint32_t parentMark, uint32_t& mark) {
            if (Count_ >= kNoParentField) {
                Fits_ = false;
                return false;
            }
            const auto entry = static_cast<uint32_t>(Count_++);
            const uint32_t parent = parentMark & ~kParentIsFile;
            if (inIdOrder) {
                if (node.Id != entry + 1 ||
                    node.ParentId != (parent == kNoParentField ? 0 : parent + 1))
                    return false;
            } else {
                Nodes_.push_back(&node);
                Parents_.push_back(parentMark);
            }
            mark = node.Is(nfFile) ? entry | kParentIsFile : entry;
            return true;
        };
        return WalkInPreOrder(Collection_, kNoParentField, visit) || !Fits_;
    }

    const TFendrel& Collection_;
    bool InIdOrder_ = true;
    bool Fits_ = true;
    size_t Count_ = 0;
    TLargeVector<const TCollectionNode*> Nodes_;
    TLargeVector<uint32_t> Parents_;
};

// A node with nodes below it whose entry a part has made, and whose last entry below it is still
// to come. Its total is the size of every file at any depth below it, as the list shows a
// folder's size: a file's own size goes into its folder, a folder's total into its own.
struct TOpenNode {
    uint32_t Entry = 0;
    uint32_t Parent = kNoParentField; // kParentIsFile set when it is a file
    size_t Override = 0;              // in its part's Overrides, when it is no file
    uint64_t Total = 0;
    bool IsFile = false;
    bool IsFolder = false;
};

// The index's records of the entries [First, End), as one thread makes them.
struct TIndexPart {
    size_t First = 0;
    size_t End = 0;
    // Every folder and disc has one, with its total as its size. Their names' starts are into
    // this part's Names.
    TLargeVector<TOverrideRecord> Overrides;
    TLargeString Names;
    // The nodes above the entry last made, the nearest last.
    std::vector<TOpenNode> Open;
    // What goes into the totals of nodes before First, which another part makes.
    std::vector<std::pair<uint32_t, uint64_t>> EarlierTotals;
    TPostingsBuilder Postings;
    bool Good = true;

    // Adds size into the total of the entry parent (a node above the entry last made).
    void AddToTotal(uint32_t parent, uint64_t size)
    {
        if (parent == kNoParentField || (parent & kParentIsFile) || size == 0)
            return;
        if (!Open.empty() && Open.back().Entry == parent)
            Open.back().Total += size;
        else if (parent < First)
            EarlierTotals.emplace_back(parent, size);
    }
    // Closes the nearest open node: its total is known.
    void Close()
    {
        const TOpenNode node = Open.back();
        Open.pop_back();
        if (!node.IsFile)
            Overrides[node.Override].Size = node.Total;
        if (node.IsFolder)
            AddToTotal(node.Parent, node.Total);
    }
};

void MakeIndexPart(std::string_view text, size_t lineCount, const TEntryOrder& order,
                   const TLargeArray<TEntryRecord>& entries, TIndexPart& part)
{
    part.Postings.Start((part.End - part.First + kEntriesPerBlock - 1) >> kBlockShift);
    for (size_t i = part.First; i < part.End; ++i) {
        const TCollectionNode& node = order.Node(i);
        constexpr size_t kNodesAhead = 8;
        if (i + kNodesAhead < part.End)
            order.Prefetch(i + kNodesAhead);
        const std::string_view name = node.Name.view();
        const uint32_t flags = node.Flags & 0xFF;
        const uint64_t time = (uint64_t{node.WriteTimeHigh} << 32) | node.WriteTimeLow;
        const uint32_t parent = order.Parent(i, node);
        TNameIndex::TItem parsed;
        TEntryRecord& record = entries[i];
        const bool lineRead = i < lineCount && ParseLine(text, record.Line, parsed);
        const bool sameName = lineRead && parsed.Name == name;
        if (!lineRead)
            record.Line = 0;
        record.Parent = parent & ~kParentIsFile;
        const bool isFile = (flags & nfFile) != 0;
        // Every node open but the parent and the nodes above it has had its last entry.
        const uint32_t parentEntry = parent & ~kParentIsFile;
        while (!part.Open.empty() && part.Open.back().Entry != parentEntry)
            part.Close();
        if (isFile)
            part.AddToTotal(parent, node.FullSize());
        if (!isFile || !sameName || parsed.Flags != flags || parsed.Time != time ||
            parsed.Size != node.FullSize()) {
            if (!sameName && part.Names.size() + name.size() > UINT32_MAX) {
                part.Good = false;
                return;
            }
            record.Parent |= kOverrideBit;
            part.Overrides.push_back(
                {static_cast<uint32_t>(i), flags, isFile ? node.FullSize() : 0, time,
                 sameName ? 0 : static_cast<uint32_t>(part.Names.size()),
                 sameName ? kNameFromLine : static_cast<uint32_t>(name.size())});
            if (!sameName)
                part.Names.append(name);
        }
        if (!node.Children.empty())
            part.Open.push_back({static_cast<uint32_t>(i), parent, part.Overrides.size() - 1, 0,
                                 isFile, !isFile && (flags & nfFolder) != 0});
        const auto block = static_cast<uint32_t>(i >> kBlockShift);
        ForEachNameTrigram(name, [&](uint32_t key) { part.Postings.Add(key, block); });
    }
    part.Postings.Finish();
}

// Closes the nodes still open at the end of each part, the last part first: what a later part
// adds into a node of an earlier one goes into it before it is closed. The names of the
// overrides of each part then start after those of the parts before; false when they would not
// fit the index.
bool CloseParts(std::vector<std::unique_ptr<TIndexPart>>& parts)
{
    for (size_t p = parts.size(); p-- > 0;) {
        TIndexPart& part = *parts[p];
        if (p + 1 < parts.size()) {
            for (const auto& [entry, size] : parts[p + 1]->EarlierTotals) {
                const auto open = std::find_if(
                    part.Open.begin(), part.Open.end(),
                    [entry = entry](const TOpenNode& node) { return node.Entry == entry; });
                if (open != part.Open.end())
                    open->Total += size;
            }
        }
        while (!part.Open.empty())
            part.Close();
    }
    uint64_t namesBefore = 0;
    for (const std::unique_ptr<TIndexPart>& part : parts) {
        if (namesBefore + part->Names.size() > UINT32_MAX)
            return false;
        if (namesBefore > 0)
            for (TOverrideRecord& record : part->Overrides)
                if (record.NameSize != kNameFromLine)
                    record.NameStart += static_cast<uint32_t>(namesBefore);
        namesBefore += part->Names.size();
    }
    return true;
}

} // namespace

bool WriteNameIndex(std::string_view collectionText, const TFendrel& collection,
                    const TCollectionIdentity& identity, std::string_view collectionPath,
                    const TIndexSink& sink, uint64_t entriesForTwoThreads,
                    const std::function<void()>& collectionRead)
{
    // The reader stops at the first zero byte, and so does everything here.
    const std::string_view text = collectionText.substr(0, collectionText.find('\0'));
    if (text.size() > UINT32_MAX)
        return false;
    // A large collection is shared with a second thread: the record lines are found while the
    // collection is walked, then each thread takes half the blocks of entries, and their parts
    // are joined into the index that one thread would have made.
    const bool mayShare =
        std::thread::hardware_concurrency() >= 2 &&
        collection.LastId >= std::max<uint64_t>(entriesForTwoThreads, 2 * kEntriesPerBlock);
    // Each entry's record line is noted in the entry itself, for as many entries as the
    // collection has nodes, or more when it turns out to have more entries.
    const size_t room = std::max<size_t>(collection.LastId, 1);
    std::optional<TLargeArray<TEntryRecord>> entries;
    size_t lineCount = 0;
    const auto noteLines = [&](size_t entryCount) {
        entries.emplace(entryCount);
        lineCount = NoteRecordLines(text, entries->data(), entryCount);
    };
    std::optional<TEntryOrder> order;
    if (mayShare) {
        SideBySide([&] { order.emplace(collection); }, [&] { noteLines(room); });
    } else {
        order.emplace(collection);
        noteLines(room);
    }
    if (!order->Fits())
        return false;
    const size_t count = order->size();
    if (count > room) // a node in two lists: a collection not read from a file
        noteLines(count);
    const bool twoThreads =
        mayShare && count >= entriesForTwoThreads && count >= 2 * kEntriesPerBlock;

    std::vector<std::unique_ptr<TIndexPart>> parts;
    parts.push_back(std::make_unique<TIndexPart>());
    parts[0]->End = count;
    if (twoThreads) {
        parts.push_back(std::make_unique<TIndexPart>());
        parts[1]->First = parts[0]->End = count / 2 / kEntriesPerBlock * kEntriesPerBlock;
        parts[1]->End = count;
        SideBySide([&] { MakeIndexPart(text, lineCount, *order, *entries, *parts[0]); },
                   [&] { MakeIndexPart(text, lineCount, *order, *entries, *parts[1]); });
    } else {
        MakeIndexPart(text, lineCount, *order, *entries, *parts[0]);
    }
    std::vector<const TPostingsBuilder*> builders;
    for (const std::unique_ptr<TIndexPart>& part : parts) {
        if (!part->Good)
            return false;
        builders.push_back(&part->Postings);
    }

    THeader header{};
    header.Magic = kMagic;
    header.Version = kVersion;
    header.ByteOrder = kByteOrder;
    header.BlockShift = kBlockShift;
    header.ChunkShift = kChunkShift;
    const std::array<uint64_t, 5> fields = IdentityFields(identity);
    std::copy(fields.begin(), fields.end(), header.Identity);
    header.EntryCount = count;

    TSummingWriter out(sink);
    const auto writeEntriesAndLists = [&] {
        header.PathOffset = out.Offset();
        header.PathSize = collectionPath.size();
        out.Write(collectionPath.data(), collectionPath.size());
        out.Align();
        header.EntriesOffset = out.Offset();
        out.Write(entries->data(), count * sizeof(TEntryRecord));
        entries.reset(); // its pages serve what is written next

        const TJoinedPostings postings(builders);
        header.TrigramsOffset = out.Offset();
        header.TrigramCount = postings.Trigrams().size();
        out.WriteAll(postings.Trigrams());
        header.PostingsOffset = out.Offset();
        header.PostingsSize = postings.Size();
        postings.Write([&](const uint8_t* bytes, size_t size) { out.Write(bytes, size); });
    };
    if (collectionRead && twoThreads) {
        SideBySide(writeEntriesAndLists, collectionRead);
    } else {
        if (collectionRead)
            collectionRead();
        writeEntriesAndLists();
    }
    const bool namesFit = CloseParts(parts);
    if (!namesFit)
        return false;
    out.Align();
    header.OverridesOffset = out.Offset();
    header.OverrideCount = 0;
    for (const std::unique_ptr<TIndexPart>& part : parts) {
        out.WriteAll(part->Overrides);
        header.OverrideCount += part->Overrides.size();
    }
    header.NamesOffset = out.Offset();
    header.NamesSize = 0;
    for (const std::unique_ptr<TIndexPart>& part : parts) {
        out.Write(part->Names.data(), part->Names.size());
        header.NamesSize += part->Names.size();
    }
    out.Align();

    header.SumsOffset = out.Offset();
    const std::vector<uint64_t> sums = out.Sums();
    header.SumsSum = XXH3_64bits(sums.data(), sums.size() * sizeof(uint64_t));
    out.WriteUnsummed(sums.data(), sums.size() * sizeof(uint64_t));
    header.HeaderSum = XXH3_64bits(&header, offsetof(THeader, HeaderSum));
    out.WriteUnsummed(&header, sizeof header);
    return out.Finish();
}
