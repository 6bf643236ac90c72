#pragma once

#include "collection/DiscTreeDiff.h"
#include "discs/Volume.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class TFendrel;
struct TFileReading;
struct TFileToRead;

// A file of the disc whose bytes could not be read back, or a folder that could not be listed.
struct TUnreadableEntry {
    std::string Path; // as in TTreeChange; "" for the disc's top folder
    uint64_t Size = 0;
    // Where the first block that could not be read begins (0 when the file could not be opened;
    // its readable length when it ended before its listed size).
    uint64_t BadOffset = 0;
    bool Folder = false;
};

// What reading a disc back found against its record. Each list follows the order of the tree
// (Unreadable and ContentChanged that of the reading).
struct TDiscCheck {
    std::vector<TUnreadableEntry> Unreadable;
    std::vector<TTreeChange> Missing; // recorded, no longer on the disc
    std::vector<TTreeChange> New;     // on the disc, not recorded
    std::vector<TTreeChange> Changed; // size or last-write time differ from the record
    // Size and time as recorded, but the bytes read back give another checksum than the
    // recorded one.
    std::vector<TTreeChange> ContentChanged;
    uint64_t FilesRead = 0; // files whose every byte was read
    uint64_t BytesRead = 0;
    uint64_t ChecksumsCompared = 0; // of those, the ones with a recorded checksum compared

    uint64_t FoldersUnlisted = 0; // the folders among Unreadable

    // Nothing to report: every file read and the tree as recorded.
    [[nodiscard]] bool AllWell() const { return Unreadable.empty() && !TreeDiffers(); }
    // The disc differs from its record in some way an update would take in.
    [[nodiscard]] bool TreeDiffers() const
    {
        return !Missing.empty() || !New.empty() || !Changed.empty() || !ContentChanged.empty();
    }
};

// The volume as it is, noting each folder it cannot list while a scan into scan walks it: the scan
// adds a folder's node just before it opens the folder, so the node last added is the folder.
class TListingWatch final : public IVolume {
public:
    TListingWatch(IVolume& volume, const TFendrel& scan)
        : Volume_(volume)
        , Scan_(scan)
    {
    }
    [[nodiscard]] std::string Label() const override { return Volume_.Label(); }
    [[nodiscard]] TVolumeFacts Facts() const override { return Volume_.Facts(); }
    [[nodiscard]] std::unique_ptr<IFolderListing> OpenFolder(const std::string& path) override;
    [[nodiscard]] std::unique_ptr<IFolderListing> OpenSubfolder(IFolderListing& listing,
                                                                const std::string& rawName,
                                                                const std::string& path) override;
    [[nodiscard]] std::unique_ptr<IFileContent> OpenFile(const std::string& path,
                                                         uint64_t where) override
    {
        return Volume_.OpenFile(path, where);
    }

    // The scan's nodes of the folders that could not be listed, in the order met.
    std::vector<uint32_t> Unlisted;

private:
    std::unique_ptr<IFolderListing> Noted(std::unique_ptr<IFolderListing> listing);

    IVolume& Volume_;
    const TFendrel& Scan_;
};

// Compares the disc's recorded tree (the node disc of recorded, with recorded.Checksums) with a
// new scan of it (the node scanned of scan) and the readings of the scan's files (files and
// readings as ReadFileContents took and gave them). A file found in both trees with the same
// size and time is changed by content when it has a recorded checksum and its bytes read back
// to another one; files without a recorded checksum are only checked for being readable.
// unlisted: the scan's folders that could not be listed (TListingWatch); they are unreadable, and
// what the record holds below them is not reported missing, since nobody knows.
[[nodiscard]] TDiscCheck CheckDiscReadings(const TFendrel& recorded, uint32_t disc,
                                           const TFendrel& scan, uint32_t scanned,
                                           const std::vector<TFileToRead>& files,
                                           const std::vector<TFileReading>& readings,
                                           const std::vector<uint32_t>& unlisted = {});
