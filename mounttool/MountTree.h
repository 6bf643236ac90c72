#pragma once

#include "mounttool/CollectionView.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The inode number of the mount's root folder.
inline constexpr uint64_t kMountRootIno = 1;

// One mounted collection file.
struct TMountedCollection {
    std::string Path;       // the collection file, as it was given
    std::string FolderName; // the name of its folder, when several collections are mounted
    int64_t FileTimeNs = 0; // the file's modification time (ns since 1970), the time of its folders
    std::shared_ptr<const TCollectionView> View;
};

// An entry of the mount: the root with several collections (Collection < 0), a collection's
// folder of discs (Id 0), or one of its discs, folders and files.
struct TMountEntry {
    int Collection = -1;
    uint32_t Id = 0;
    friend bool operator==(const TMountEntry&, const TMountEntry&) = default;
};

// What stat tells of an entry.
struct TEntryAttributes {
    uint64_t Ino = 0;
    bool Folder = false;
    uint64_t Size = 0;   // a file's; 0 for a folder
    int64_t Seconds = 0; // the last-write time, since 1970 (UTC)
    uint32_t Nanoseconds = 0;
};

// The mounted tree of one or more collections: with one, the root lists its discs; with several,
// the root holds one folder per collection (named by its file, without ".frl"), which lists its
// discs. Immutable: a collection read again makes a new tree (With).
class TMountTree {
public:
    // collections: at most TCollectionView::kMostCollections, their views numbered 1, 2, ... in
    // this order, with the roots FolderIno(number), or kMountRootIno when there is one.
    explicit TMountTree(std::vector<TMountedCollection> collections);

    // The number a view of the collection at this place is made with, and the inode number of its
    // folder of discs.
    [[nodiscard]] static unsigned ViewNumber(size_t collection) { return collection + 1; }
    [[nodiscard]] uint64_t ViewRoot(size_t collection) const
    {
        return Several() ? TCollectionView::FolderIno(ViewNumber(collection)) : kMountRootIno;
    }
    // The tree with the collection at that place read anew.
    [[nodiscard]] std::shared_ptr<const TMountTree>
    With(size_t collection, std::shared_ptr<const TCollectionView> view, int64_t fileTimeNs) const;

    [[nodiscard]] const std::vector<TMountedCollection>& Collections() const
    {
        return Collections_;
    }
    [[nodiscard]] bool Several() const { return Collections_.size() > 1; }
    [[nodiscard]] TMountEntry Root() const { return {Several() ? -1 : 0, 0}; }

    [[nodiscard]] std::optional<TMountEntry> Find(uint64_t ino) const;
    [[nodiscard]] std::optional<TMountEntry> Lookup(const TMountEntry& folder,
                                                    std::string_view name) const;
    [[nodiscard]] bool IsFolder(const TMountEntry& entry) const;
    [[nodiscard]] uint64_t Ino(const TMountEntry& entry) const;
    [[nodiscard]] TEntryAttributes Attributes(const TMountEntry& entry) const;
    [[nodiscard]] std::string NameOf(const TMountEntry& entry) const;
    // The folder that lists the entry; the root for the root.
    [[nodiscard]] TMountEntry Parent(const TMountEntry& entry) const;
    // The entries of a folder, in the collection's order.
    [[nodiscard]] size_t Count(const TMountEntry& folder) const;
    [[nodiscard]] TMountEntry EntryAt(const TMountEntry& folder, size_t index) const;

    // The extended attributes of an entry: user.fendrel.disc (the disc's title), user.fendrel.path
    // (the path as the window shows it, "\Docs\a.txt"), user.fendrel.xxh128 (the content checksum,
    // where one is recorded: 32 upper-case hexadecimal digits, high half first), all UTF-8.
    [[nodiscard]] std::vector<std::string> AttributeNames(const TMountEntry& entry) const;
    [[nodiscard]] std::optional<std::string> Attribute(const TMountEntry& entry,
                                                       std::string_view name) const;

    // Every entry and the total size of every file, for statfs.
    [[nodiscard]] uint64_t Entries() const;
    [[nodiscard]] uint64_t Bytes() const;

private:
    [[nodiscard]] const TCollectionView& View(const TMountEntry& entry) const
    {
        return *Collections_[static_cast<size_t>(entry.Collection)].View;
    }

    std::vector<TMountedCollection> Collections_;
};

// A FILETIME (100 ns since 1601, UTC) as seconds and nanoseconds since 1970; 0, which the
// collection holds for a time not known, gives 1970.
[[nodiscard]] std::pair<int64_t, uint32_t> UnixTimeOf(uint64_t fileTime);

// The file names of the collections, without their folders and ".frl", made unique as twins are.
[[nodiscard]] std::vector<std::string> CollectionFolderNames(const std::vector<std::string>& paths);
