#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Where a disc's contents were read from.
enum class TSourceKind : uint8_t {
    Unknown, // a disc added before discs remembered their source, or from a hand-made file
    Drive,   // an optical drive
    Image,   // a disc image file
    Folder,  // a folder: a mounted USB disk or memory card, or a disc copied onto a hard disk
};

struct TDiscSource {
    TSourceKind Kind = TSourceKind::Unknown;
    // Drive: the device (/dev/sr0); image: the image file; folder: the folder. As the file
    // system spells it (raw bytes, usually UTF-8).
    std::string Path;
    std::string DriveName;  // drive: its name in the drive menu ("E: ..."), UTF-8
    uint64_t ImageSize = 0; // image: its size in bytes
    uint64_t ImageTime = 0; // image: its modification time as a FILETIME (UTC); 0 unknown
    std::string MountPoint; // folder: the mount point of the file system the folder is on
    std::string FsType;     // folder: that file system's type ("vfat", "ext4", "iso9660")
};

// The medium as the medium itself describes it; what tells one disc from another. Empty
// strings and zeros are "not known".
struct TMediumIdentity {
    std::string Label; // the volume label, UTF-8
    // "ISO 9660", "ISO 9660 + Joliet", "ISO 9660 + Rock Ridge", "UDF 2.01", or a folder's file
    // system type.
    std::string FileSystem;
    std::string VolumeSetId;     // ISO 9660 and UDF, UTF-8
    std::string LogicalVolumeId; // UDF, UTF-8
    // ISO 9660: the primary volume descriptor's creation time; UDF: the recording time. A
    // FILETIME (UTC); 0 unknown.
    uint64_t CreationTime = 0;
    uint64_t VolumeBlocks = 0; // ISO 9660: the volume space size in blocks
    std::string Uuid;          // a folder's file system: its UUID as udev gives it
};

// What a volume tells of itself when it is opened for a scan.
struct TVolumeFacts {
    TDiscSource Source;
    TMediumIdentity Identity;
    uint64_t Capacity = 0;  // bytes: the medium's size (an image's or a disc's volume size)
    uint64_t FreeSpace = 0; // bytes free at the scan; 0 for a disc or an image
};

// Everything a disc record remembers besides its title and its tree. Kept for every disc by
// TFendrel::DiscRecords; a disc from an older file has a default record.
struct TDiscRecord {
    TVolumeFacts Facts;   // set when the disc is scanned or updated
    uint64_t Added = 0;   // FILETIME (UTC) when the disc was added; 0 unknown
    uint64_t Updated = 0; // FILETIME (UTC) of its last update; 0 never updated
    std::string Notes;    // the user's notes, UTF-8, any length and any characters
};

// A file's content checksum (XXH3-128), recorded when the disc was added with checksums.
struct TContentChecksum {
    uint64_t Low = 0;
    uint64_t High = 0;
    friend bool operator==(const TContentChecksum&, const TContentChecksum&) = default;
};

// The folder's path below the mount point of its file system ("" for the mount point itself,
// "Photos/2005" below it); the whole path when it is not below the mount point.
[[nodiscard]] std::string_view PathBelowMount(const TDiscSource& source);

// What the media say of whether two scans read the same disc.
enum class TMediumMatch : uint8_t {
    Same,      // the same disc
    Different, // another disc
    Unknown,   // too little is known of one side or both to tell
};

// Compares two media by what they say of themselves and never by a title.
// - Folders: with a file system UUID on both sides, the same UUID and the same path below its
//   mount point. Without one on either side (a folder read where udev gives none, as in a
//   container, or one recorded before UUIDs were kept): the same path and the same file system
//   type, so that an empty mount point left by an unplugged disk is not taken for the disk.
//   With a UUID on one side only, or no path, it cannot be told.
// - Discs and images: the same volume set and logical volume identifiers, creation time and
//   volume size, where both sides know at least one of them (when only one side does, it
//   cannot be told). An image of which neither side
//   knows any is the same when it is the same image file, and cannot be told otherwise.
// - A folder against a disc or an image cannot be told unless both know disc identifiers.
[[nodiscard]] TMediumMatch CompareMedia(const TVolumeFacts& a, const TVolumeFacts& b);

// Whether two media are known to be the same disc: CompareMedia gives Same.
[[nodiscard]] bool SameMedium(const TVolumeFacts& a, const TVolumeFacts& b);
