#pragma once

#include "collection/CollectionNode.h"

#include <cstdint>
#include <string>
#include <vector>

class TFendrel;

// One folder or file that differs between a disc's recorded tree and a new scan of it.
struct TTreeChange {
    bool Folder = false;
    // The path below the disc: names (code page 1251 with escapes) joined by "\".
    std::string Path;
    uint64_t OldSize = 0; // removed and changed entries: the recorded size and time
    uint64_t OldTime = 0;
    uint64_t NewSize = 0; // added and changed entries: the scanned size and time
    uint64_t NewTime = 0;
};

// What a new scan of a disc changed: the entries only the scan has (those below an added folder
// included), those only the record has, and those on both whose size or last-write time differ.
// Each list follows the tree's order: names as the tree sorts them, a folder before its contents.
struct TDiscTreeDiff {
    std::vector<TTreeChange> Added;
    std::vector<TTreeChange> Removed;
    std::vector<TTreeChange> Changed;
    // Sizes of the added files plus the growth of the changed ones; sizes of the removed files
    // plus the shrinking of the changed ones.
    uint64_t BytesAdded = 0;
    uint64_t BytesRemoved = 0;

    [[nodiscard]] bool Empty() const { return Added.empty() && Removed.empty() && Changed.empty(); }
};

// Compares the tree below before (a node of oldCollection) with the tree below after (a node of
// newCollection). Each folder's two lists of children are sorted by name and merged, so the time
// is linear in the sizes of the trees but for the sorting of each folder; nothing else of either
// collection is looked at. Names equal but for letter case are told apart by their bytes, so a
// name whose case changed is one entry removed and one added. An entry that was a file and is
// now a folder (or the other way) is likewise removed and added.
[[nodiscard]] TDiscTreeDiff CompareDiscTrees(const TFendrel& oldCollection,
                                             const TCollectionNode& before,
                                             const TFendrel& newCollection,
                                             const TCollectionNode& after);
