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

    // A disc updated from a new scan of its medium. Call it before the tree is replaced: it
    // remembers the disc's title and the records below it as the file holds them, to find the
    // disc in a newer collection. treeReplaced: the update changed the tree (otherwise only the
    // disc's record, its identity and last-updated date, changed).
    [[nodiscard]] static TCollectionChange DiscUpdated(const TFendrel& collection, uint32_t disc,
                                                       bool treeReplaced);

    // Makes the change on target, a collection read from the file: appends copies of the added
    // discs of source (the collection they were added to) with everything below them, as they are
    // in source now (a disc source no longer holds is not copied), or
    // removes the first disc of target that has the removed disc's title and the same records
    // below it; when no disc is the same, nothing is removed. Added discs keep their records,
    // whole sizes and checksums; a removed disc takes its own with it. A renamed disc, or one
    // with new notes, is found as a removed one is, and given the title or the notes.
    // below it; when no disc is the same, nothing is removed. An updated disc is found the same
    // way (by its records alone when its title was changed meanwhile): its tree becomes a copy of
    // the disc's tree in source and its record takes the identity, source and last-updated date
    // of source's, keeping target's notes and added date; when no disc is the same (the other
    // program removed or changed it), the updated disc is appended so that the new scan is not
    // lost.
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

    [[nodiscard]] bool IsRemovedDisc(const TFendrel& collection, uint32_t disc) const;
    [[nodiscard]] static std::vector<TRecord> RecordsOf(const TFendrel& collection, uint32_t disc);
    // Whether the disc of collection holds the records, its title among them unless withTitle
    // is false.
    [[nodiscard]] static bool HasRecords(const std::vector<TRecord>& records,
                                         const TFendrel& collection, uint32_t disc, bool withTitle);
    void ApplyUpdate(const TFendrel& source, TFendrel& target) const;

    TCollectionBranch Appended_;
    std::vector<TRecord> Removed_; // the disc's own record first; empty when nothing was removed
    // The disc renamed or given notes, as Removed_ holds one; empty when none was.
    std::vector<TRecord> Edited_;
    std::optional<TNodeName> NewTitle_;
    std::optional<std::string> NewNotes_;
    uint32_t Updated_ = 0; // the updated disc in source; 0 when none was updated
    bool TreeReplaced_ = false;
    std::vector<TRecord> BeforeUpdate_; // the updated disc as it was, its own record first
};
