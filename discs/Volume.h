#pragma once

#include "collection/DiscRecord.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

// One entry of a folder on a disc, as the disc scan records it.
struct TFindData {
    std::string Name;           // code page 1251 with escapes (NameFromDisc), no control bytes
    std::string RawName;        // the name as the volume holds it; builds the paths of subfolders
    bool IsFolder = false;      // symbolic links and special files count as files
    uint64_t LastWriteTime = 0; // FILETIME: 100 ns intervals since 1601-01-01, UTC
    uint64_t Size = 0;          // the whole size in bytes; 0 for folders
    // Where the volume finds the file's bytes again (IVolume::OpenFile): a number of its own, such
    // as where the file's directory record lies; 0 when it finds them by the path alone.
    uint64_t Where = 0;
};

// A file's bytes, read by position.
class IFileContent {
public:
    virtual ~IFileContent() = default;
    // Fills out from offset; the count of bytes read, fewer than out.size() only where the file
    // ends; nothing when they cannot be read (a read error, a block the image does not hold).
    [[nodiscard]] virtual std::optional<size_t> Read(uint64_t offset, std::span<uint8_t> out) = 0;
    // False for what is not an ordinary file (a device, a pipe, a symbolic link): its bytes are
    // not a content to be checked, and it is read as holding none.
    [[nodiscard]] virtual bool Ordinary() const { return true; }
};

// An open folder: its entries one by one, "." and ".." among them when the volume has them.
class IFolderListing {
public:
    virtual ~IFolderListing() = default;
    // Fills entry with the next entry; false when there are no more.
    virtual bool Next(TFindData& entry) = 0;
};

// A disc (or what stands for one) opened for reading. Folder paths start at the root "/" and
// add each folder's RawName followed by "/"; a name never holds "/", while it may hold "\".
class IVolume {
public:
    static constexpr std::string_view RootPath = "/";

    virtual ~IVolume() = default;
    // The volume label in code page 1251; empty when the disc has none.
    [[nodiscard]] virtual std::string Label() const = 0;
    // Where the volume is read from, what identifies the medium, its capacity and free space.
    // The opener (TDrives) fills the source; a volume that knows nothing more leaves the rest.
    [[nodiscard]] virtual TVolumeFacts Facts() const { return {}; }
    // The entries of the folder, or nullptr when it cannot be read.
    [[nodiscard]] virtual std::unique_ptr<IFolderListing> OpenFolder(const std::string& path) = 0;
    // The subfolder rawName of the folder that listing (one this volume gave) lists; path is the
    // subfolder's whole path. A volume that finds the subfolder from the listing walks a tree in
    // time linear in its depth; by default the subfolder is opened by its path.
    [[nodiscard]] virtual std::unique_ptr<IFolderListing>
    OpenSubfolder(IFolderListing& listing, const std::string& rawName, const std::string& path)
    {
        (void)listing;
        (void)rawName;
        return OpenFolder(path);
    }
    // The bytes of a file the volume listed: path is its folder's path followed by its RawName,
    // where what the listing gave in TFindData::Where. nullptr when the file cannot be opened; a
    // volume that cannot read files gives nullptr for every one.
    [[nodiscard]] virtual std::unique_ptr<IFileContent> OpenFile(const std::string& path,
                                                                 uint64_t where)
    {
        (void)path;
        (void)where;
        return nullptr;
    }
};

// The volume with the kind and path of its source set, for the opener that knows where it read
// the volume from; what the volume itself knows of its source stays, and what it does not know
// is taken from known (the opener's own facts: an image file's size, a folder's file system).
// nullptr stays nullptr.
[[nodiscard]] std::unique_ptr<IVolume> WithSource(std::unique_ptr<IVolume> volume, TSourceKind kind,
                                                  std::string path, TVolumeFacts known = {});

// A disc that can no longer be read: no folder opens.
class TUnreadableVolume final : public IVolume {
public:
    [[nodiscard]] std::string Label() const override { return {}; }
    [[nodiscard]] std::unique_ptr<IFolderListing> OpenFolder(const std::string&) override
    {
        return nullptr;
    }
};

// A name read from a disc (UTF-8, as Linux and the disc extensions give it) in code page 1251,
// kept whole: characters the code page lacks, bytes that are not UTF-8 and control characters
// become escapes (platform/AnsiText.h), and so does a leading blank, which the collection file
// would otherwise drop. A name longer than the collection keeps (kLongestName) is cut there.
[[nodiscard]] std::string NameFromDisc(std::string_view utf8);

// A name in an 8-bit encoding that the disc does not tell (plain ISO 9660 names): read as UTF-8
// when it is valid UTF-8, as code page 1251 otherwise, since old Russian discs carry that.
[[nodiscard]] std::string NameFromEightBitDisc(std::string_view bytes);

// Seconds and nanoseconds since 1970 (UTC) as a FILETIME; times before 1601 give 0 and times
// past the FILETIME range its largest value.
[[nodiscard]] uint64_t FileTimeFromUnix(int64_t seconds, int64_t nanoseconds = 0);

// Days from 1970-01-01 to the date, for any month and day numbers: a month out of 1..12 moves into
// the next or previous years and a day out of the month into the next months, as timegm does,
// without its cost for each of a disc's files.
[[nodiscard]] int64_t DaysFromCivil(int64_t year, int64_t month, int64_t day);
