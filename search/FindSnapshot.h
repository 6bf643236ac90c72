#pragma once

#include "search/FindQuery.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

class TFendrel;

// What the search needs of a collection, copied: every disc, folder and file reachable from
// Discs, in depth-first pre-order (the order of the filter's hits). It is made on the thread
// that owns the collection and never changes afterwards, so any thread may read it while the
// collection goes on changing.
class TFindSnapshot {
public:
    static constexpr uint32_t NoParent = UINT32_MAX;

    struct TEntry {
        uint32_t Id = 0;            // the node's id in the collection
        uint32_t Parent = NoParent; // index of the parent's entry; NoParent for a disc
        uint32_t Flags = 0;         // the node's kind (nfFile, nfFolder, nfDisc)
        uint32_t NameSize = 0;
        uint64_t NameStart = 0; // into the names of all entries
        uint64_t Size = 0;      // a file's size; for a folder or disc, that of every file below
        uint64_t Time = 0;      // last-write time, a FILETIME
    };

    explicit TFindSnapshot(const TFendrel& collection);

    [[nodiscard]] size_t size() const { return Entries_.size(); }
    [[nodiscard]] const TEntry& Entry(size_t index) const { return Entries_[index]; }
    [[nodiscard]] std::string_view Name(size_t index) const
    {
        const TEntry& entry = Entries_[index];
        return std::string_view(Names_).substr(entry.NameStart, entry.NameSize);
    }
    // The index of the disc that holds the entry (the entry itself for a disc).
    [[nodiscard]] size_t DiscOf(size_t index) const;
    // Every name from just below the disc down to the entry, each after separator: "\Docs\a.txt"
    // as the file information box shows it.
    [[nodiscard]] std::string Path(size_t index, char separator = '\\') const;

private:
    std::vector<TEntry> Entries_;
    std::string Names_;
};

// Called as a search goes on with the hits found since the last call (entry indexes, in
// order), which it may take away. The search stops when it returns false.
using TFindCheckpoint = std::function<bool(std::vector<uint32_t>& hits)>;

// Tests every file and folder of the snapshot in order and appends the index of each match to
// hits; discs themselves are never hits. Every few thousand entries, and once at the end,
// calls checkpoint when one is given. Returns false when the checkpoint stopped the search, or
// the query gave up (its Trouble says why).
bool FindInSnapshot(const TFindSnapshot& snapshot, TFindQuery& query, std::vector<uint32_t>& hits,
                    const TFindCheckpoint& checkpoint = {});
