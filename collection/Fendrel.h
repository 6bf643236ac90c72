#pragma once

#include "collection/CollectionNode.h"
#include "collection/DiscRecord.h"
#include "collection/NodeStore.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

class IVolume;
class TProgressLine;
struct TFileToRead;

// The collection: every disc the user has scanned, with its folders and files. The program's
// document; it owns all its nodes, and callers hold references or ids into it.
class TFendrel {
public:
    // progress: where the progress line shows; not owned, may be null (then nothing is shown).
    explicit TFendrel(TProgressLine* progress = nullptr);
    TFendrel(const TFendrel&) = delete;
    TFendrel& operator=(const TFendrel&) = delete;

    // Stores a copy of value under a new id, appends the id to list (Discs or the Children of a
    // node of this collection) and returns the stored node. The caller sets ParentId.
    TCollectionNode& AddNode(TCollectionBranch& list, const TCollectionNode& value);
    // Throws EFendrelError "Node not found" when no node has the id.
    [[nodiscard]] TCollectionNode& GetNode(uint32_t id)
    {
        TCollectionNode* node = Nodes.Find(id);
        if (!node)
            ThrowNodeNotFound();
        return *node;
    }
    [[nodiscard]] const TCollectionNode& GetNode(uint32_t id) const
    {
        return const_cast<TFendrel*>(this)->GetNode(id);
    }

    // Makes a disc and everything below it unreachable; the nodes stay findable by id.
    void DeleteDisc(uint32_t id);
    // Empties the list and every Children list below it.
    void DetachSubtree(TCollectionBranch& list);
    // Flags = (Flags & andMask) | orMask for every node of the list and below it.
    void SetFlagsDeep(const TCollectionBranch& list, uint32_t andMask, uint32_t orMask);
    // Total whole size (FullSize) of every file below the node.
    [[nodiscard]] uint64_t SumFileSizes(const TCollectionNode& node) const;

    // The progress line: format holds one %d, replaced by ProgressCount.
    void BeginProgress(std::string format);
    void StepProgress();
    void EndProgress();

    // The collection file's text (collection/CollectionText.cpp). SaveToText throws
    // EFendrelError "Unknown node type" or "Node not found" when the collection is broken.
    [[nodiscard]] std::string SaveToText();
    // Receives the text of the collection file block by block, in order; false when it could not
    // take the block.
    using TTextSink = std::function<bool(std::string_view block)>;
    static constexpr size_t TextBlockSize = size_t{1} << 20;
    // SaveToText's text handed to sink as it is made, in blocks of at least blockSize bytes (the
    // last one may be shorter), so that the whole text is never held at once. Stops and returns
    // false as soon as sink refuses a block; throws as SaveToText does, possibly after some
    // blocks have been handed over.
    [[nodiscard]] bool SaveInBlocks(const TTextSink& sink, size_t blockSize = TextBlockSize);
    // Call on a new, empty collection. False when the text is damaged or not a collection file;
    // the nodes read before the fault stay. The text ends at its first zero byte.
    [[nodiscard]] bool LoadFromText(std::string_view text);
    // The same; readTo receives how far the reader got: text.size() when it read all of the
    // text, less when a zero byte or a closing line at the top level ended the load early and
    // left bytes unread. A closing line at the top level followed by the extension section
    // (collection/CollectionExtensions.cpp) reads on to its end; a fault in that section keeps
    // every record, returns false and leaves readTo at the faulty line.
    [[nodiscard]] bool LoadFromText(std::string_view text, size_t& readTo);
    // False reads the record lines alone, as a reader of the original format does: the load
    // stops at the closing line before the extension section.
    bool ReadsExtensionSection = true;
    // A text of at least this many bytes of records is read on two threads, each taking about
    // half of it, when the machine has more than one processor. For tests; 16 MiB by default.
    static void SetTwoThreadLoadBytes(size_t bytes);

    // The disc scan (acquisition/DiscScan.cpp). ScanDisc adds a disc titled title with every
    // folder and file of the volume and returns how many folders and files it added. files,
    // when given, receives every file added, in the order added, for its bytes to be read.
    int32_t ScanDisc(const std::string& title, IVolume& volume,
                     std::vector<TFileToRead>* files = nullptr);
    // Adds the entries of the volume's folder at path under parent, then everything below them:
    // a folder's node before its contents, and its contents before its next sibling. A folder
    // that cannot be read stays empty.
    void ScanFolder(TCollectionNode& parent, IVolume& volume, const std::string& path,
                    std::vector<TFileToRead>* files = nullptr);

    // The search filter (filter/FilterSearch.cpp). FindNodes replaces hits with the ids of the
    // files and folders whose lower-cased name holds filter, applies them when there are any,
    // and returns their number.
    int32_t FindNodes(const std::string& filter, TCollectionBranch& hits);
    // A collection of at least this many nodes is searched on two threads. For tests; a million
    // by default.
    static void SetTwoThreadSearchNodes(size_t nodes);
    // Hides every node that is neither a hit nor above or below one; an empty list shows all.
    void ApplyFilter(const TCollectionBranch& hits);

    TCollectionBranch Discs; // the discs in the order they were added
    TNodeStore Nodes;        // every node ever added, by id
    // What each disc remembers besides its title and tree, by the disc's id; a disc without an
    // entry has a default record. Removing a disc removes its entry.
    std::unordered_map<uint32_t, TDiscRecord> DiscRecords;
    // Content checksums of files, by the file's id; only files read with checksums have one.
    std::unordered_map<uint32_t, TContentChecksum> Checksums;
    uint32_t LastId = 0; // the last id given out
    int32_t ProgressCount = 0;
    std::string ProgressFormat;

private:
    [[noreturn]] static void ThrowNodeNotFound();
    // One progress step of a walk over the collection in memory: counts it, and shows the line
    // through StepProgress only every ClockStride steps, since such a walk makes a million steps
    // in a fraction of a second and reading the clock at each would cost more than the step.
    void CountProgress()
    {
        ++ProgressCount;
        if (++StepsSinceClock_ >= ClockStride) {
            StepsSinceClock_ = 0;
            StepProgress();
        }
    }
    static constexpr uint32_t ClockStride = 256;

    // The length of SaveToText's record and closing lines, counted without making them;
    // largeFiles receives how many files are of 4 GiB or more.
    [[nodiscard]] size_t TextSize(size_t& largeFiles);
    // A record written with data for the extension section: the position of its disc in the
    // top-level list, its number among that disc's records (0 the disc) and its id.
    struct TWrittenRecord {
        uint32_t Disc;
        uint32_t Record;
        uint32_t Id;
    };
    // Appends the record and closing lines of the list and everything below it to text. With a
    // sink, text is handed to it and emptied whenever it holds blockSize bytes or more; false
    // when the sink refused it. extended receives the records that need a line of the
    // extension section.
    [[nodiscard]] bool WriteList(const TCollectionBranch& list, std::string& text,
                                 const TTextSink* sink, size_t blockSize,
                                 std::vector<TWrittenRecord>& extended);

    // The extension section (collection/CollectionExtensions.cpp). The disc lines, made before
    // the walk; whether a node needs a record line; the section appended after the walk, nothing
    // when there is nothing to write; an upper bound of its length.
    [[nodiscard]] std::string DiscExtensionLines() const;
    [[nodiscard]] bool HasRecordExtension(const TCollectionNode& node) const;
    [[nodiscard]] bool AppendExtensions(std::string& text, std::string_view discLines,
                                        const std::vector<TWrittenRecord>& records,
                                        const TTextSink* sink, size_t blockSize) const;
    [[nodiscard]] size_t ExtensionSizeBound(size_t discLines, size_t largeFiles) const;
    // Reads the section from its marker line at position (past the top-level closing line) to the
    // end of the text; firstDisc is the position in Discs of the load's first disc. False at the
    // first fault, with position at its line; false with position where it was when the text
    // there is not the section's marker line.
    [[nodiscard]] bool ReadExtensions(std::string_view text, size_t& position, size_t firstDisc);
    // Reads records from position on into parent's Children (Discs when parent is null) until
    // the closing line of that list; position moves past what was read. False when a line lacks
    // its CR LF or a record does not parse.
    [[nodiscard]] bool ReadList(std::string_view text, size_t& position, TCollectionNode* parent);
    // Where a top-level read from position from may be split in two, at a line start about
    // halfway; npos when the text is too short for that to pay.
    [[nodiscard]] static size_t SplitPoint(std::string_view text, size_t from);
    // ReadList of the discs, the records from split on read on a second thread meanwhile.
    [[nodiscard]] bool ReadListInTwoParts(std::string_view text, size_t& position, size_t split);
    struct TCollectionStore;
    static inline size_t TwoThreadLoadBytes_ = size_t{16} << 20;
    // The walk of FindNodes: appends the matching files and folders of list and of everything
    // below it, in depth-first pre-order, and counts one progress step per id list visited.
    void SearchList(const TCollectionBranch& list, const std::string& filter,
                    TCollectionBranch& hits);
    // The walk of FindNodes as one pass over the nodes in id order, with the same hits and
    // progress count. states receives for each node whether the pass reached it and whether it
    // is a hit or below one. False when the lists are not in the order that allows it.
    [[nodiscard]] bool SearchInIdOrder(const std::string& filter, TCollectionBranch& hits,
                                       std::vector<uint8_t>& states);
    // ApplyFilter(hits) after SearchInIdOrder found hits, with the states it left; false, with
    // no mark changed, when a node above a hit is missing.
    [[nodiscard]] bool MarkFound(const TCollectionBranch& hits, std::vector<uint8_t>& states);
    // ApplyFilter of a non-empty list as one pass over the nodes in id order; false when the
    // collection's lists do not allow it.
    [[nodiscard]] bool ApplyFilterInIdOrder(const TCollectionBranch& hits);

    TProgressLine* Progress_; // not owned
    uint32_t StepsSinceClock_ = 0;
    // The search's notes of every node, kept from one search to the next: fresh memory for them
    // costs more than the search itself in a collection of millions of records.
    std::vector<uint32_t> SearchEnds_;
    std::vector<uint8_t> SearchStates_;
    std::vector<uint8_t> SearchMatches_; // of the ids tested on the second thread
    static inline size_t TwoThreadSearchNodes_ = 1'000'000;
};
