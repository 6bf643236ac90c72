#pragma once

#include "collection/CollectionNode.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class TFendrel;

// What one command changed in the collection, kept so that the same change can be made again
// on a newer copy of the collection that another program saved meanwhile.
class TCollectionChange {
public:
    // The discs a command added to its collection, in the order it added them.
    [[nodiscard]] static TCollectionChange DiscsAppended(TCollectionBranch discs);
    // A disc about to be removed: remembers its title and every record below it, as the file
    // holds them. Call it before TFendrel::DeleteDisc, which empties the disc.
    [[nodiscard]] static TCollectionChange DiscRemoved(const TFendrel& collection, uint32_t disc);
    // A disc about to get a new title (8-bit) or new notes (UTF-8): remembers its title and
    // records as DiscRemoved does. Call it before the change.
    [[nodiscard]] static TCollectionChange DiscRenamed(const TFendrel& collection, uint32_t disc,
                                                       TNodeName title);
    [[nodiscard]] static TCollectionChange NotesChanged(const TFendrel& collection, uint32_t disc,
                                                        std::string notes);

    // Makes the change on target, a collection read from the file: appends copies of the added
    // discs of source (the collection they were added to) with everything below them, as they are
    // in source now (a disc source no longer holds is not copied), or
    // removes the first disc of target that has the removed disc's title and the same records
    // below it; when no disc is the same, nothing is removed. Added discs keep their records,
    // whole sizes and checksums; a removed disc takes its own with it. A renamed disc, or one
    // with new notes, is found as a removed one is, and given the title or the notes.
    void ApplyTo(const TFendrel& source, TFendrel& target) const;

private:
    // One record of the removed disc, in the order the file holds them.
    struct TRecord {
        uint32_t Kind; // nfFile, nfFolder or nfDisc
        uint32_t WriteTimeHigh;
        uint32_t WriteTimeLow;
        uint32_t Size;
        TNodeName Name;  // as it reads back from the file
        size_t Children; // how many records follow as its children
    };

    [[nodiscard]] bool IsRemovedDisc(const TFendrel& collection, uint32_t disc) const
    {
        return IsSameDisc(collection, disc, Removed_);
    }
    [[nodiscard]] static bool IsSameDisc(const TFendrel& collection, uint32_t disc,
                                         const std::vector<TRecord>& records);
    [[nodiscard]] static std::vector<TRecord> Records(const TFendrel& collection, uint32_t disc);

    TCollectionBranch Appended_;
    std::vector<TRecord> Removed_; // the disc's own record first; empty when nothing was removed
    // The disc renamed or given notes, as Removed_ holds one; empty when none was.
    std::vector<TRecord> Edited_;
    std::optional<TNodeName> NewTitle_;
    std::optional<std::string> NewNotes_;
};
