#pragma once

#include "collection/Fendrel.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// The longest name a Linux program expects of one entry of a folder, in bytes.
inline constexpr size_t kLongestMountName = 255;

// A collection's name (8-bit, code page 1251 with escapes) as the mounted tree shows it: the
// window's UTF-8 (a byte that was not UTF-8 as U+FFFD, a control character as its picture), with
// what a file name cannot be changed: "/" becomes "∕", the names "." and ".." become "․" and "‥",
// an empty name "(без имени)". Cut to at most kLongestMountName bytes, never inside a character.
[[nodiscard]] std::string MountName(std::string_view ansi);

// The name of the number-th entry (2, 3, ...) of a folder whose entries all have the name base:
// " (2)" goes before a file's extension ("a (2).txt") and after a folder's name, the base cut so
// that the whole stays within kLongestMountName bytes.
[[nodiscard]] std::string TwinName(std::string_view base, unsigned number, bool file);

// One collection as a tree of named entries with inode numbers, for the mount. The entries are
// the collection's discs (the top level), folders and files. Names are unique among the entries
// of a folder: of entries whose names would be the same (twins, two discs of one title, a folder
// and a file of one name), the first in the collection's order keeps it and the next ones get
// TwinName's marks, so every build of the same collection names every entry the same.
//
// An entry's inode number is made from its folder's number and its name, so an entry keeps its
// number when the collection is read again after a save, as long as its path stays the same.
// The top 8 bits hold the collection's number, so that the numbers of several collections never
// meet. Built once; every member is const, so threads may share a view.
class TCollectionView {
public:
    // number: 1 to 255, the collection's place among the mounted ones. root: the inode number of
    // the folder its discs are listed in. seed: mixed into every inode number, the same for every
    // view of one mount.
    TCollectionView(std::unique_ptr<TFendrel> collection, unsigned number, uint64_t root,
                    uint64_t seed);
    TCollectionView(const TCollectionView&) = delete;
    TCollectionView& operator=(const TCollectionView&) = delete;

    static constexpr unsigned kMostCollections = 255;
    // The inode number of the folder of the collection with the number, when several are mounted.
    [[nodiscard]] static uint64_t FolderIno(unsigned number) { return uint64_t{number} << 56 | 1; }

    [[nodiscard]] const TFendrel& Collection() const { return *Collection_; }
    [[nodiscard]] uint64_t RootIno() const { return Root_; }
    // The entry with the id; 0 is the folder the discs are listed in.
    [[nodiscard]] uint64_t InoOf(uint32_t id) const { return id == 0 ? Root_ : Inos_[id]; }
    // The id of the entry with the inode number (0 for the folder of the discs); nothing when no
    // entry of this view has it.
    [[nodiscard]] std::optional<uint32_t> NodeOf(uint64_t ino) const;
    // The entry named name in the folder with the id (0: the discs); nothing when there is none.
    [[nodiscard]] std::optional<uint32_t> Child(uint32_t folder, std::string_view name) const;
    // The entry's name in the mounted tree.
    [[nodiscard]] std::string NameOf(uint32_t id) const;
    // The entries of the folder with the id (0: the discs), in the collection's order.
    [[nodiscard]] const TCollectionBranch& EntriesOf(uint32_t id) const
    {
        return id == 0 ? Collection_->Discs : Collection_->GetNode(id).Children;
    }
    // Whether the entry is shown as a folder: anything but a file (a disc, a folder, a disc record
    // that a hand-made file put below a folder).
    [[nodiscard]] bool IsFolder(uint32_t id) const
    {
        return id == 0 || !Collection_->GetNode(id).Is(nfFile);
    }
    // The number of entries below the folder of the discs, itself not counted.
    [[nodiscard]] size_t Entries() const { return Entries_; }
    // The total size of the collection's files.
    [[nodiscard]] uint64_t Bytes() const { return Bytes_; }

private:
    [[nodiscard]] uint64_t MakeIno(uint64_t folder, std::string_view name) const;
    [[nodiscard]] bool Taken(uint64_t ino) const { return Slot(ino) != 0; }
    // The id in the table's slot of the inode number, 0 when it holds none.
    [[nodiscard]] uint32_t Slot(uint64_t ino) const;
    void Insert(uint32_t id, uint64_t ino);
    // Names and numbers the entries of the folder with the id.
    void NameEntries(uint32_t folder, std::unordered_map<std::string, unsigned>& twins);

    std::unique_ptr<TFendrel> Collection_;
    uint64_t Number_;
    uint64_t Root_;
    uint64_t Seed_;
    std::vector<uint64_t> Inos_;  // by id; 0 for a node that no folder lists
    std::vector<uint32_t> Table_; // ids by inode number, open addressing; 0 is an empty slot
    uint64_t Mask_ = 0;           // Table_.size() - 1
    std::unordered_map<uint32_t, std::string> Renamed_; // the twins' names
    size_t Entries_ = 0;
    uint64_t Bytes_ = 0;
};
