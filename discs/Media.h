#pragma once

#include "collection/DiscRecord.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class IDrives;
class IVolume;

// What a medium is to the desktop: a disc in an optical drive, or a mounted file system of a
// removable or hot-plugged device (a USB stick, a memory card, a USB disk).
enum class TMediumKind : uint8_t { Disc, FileSystem };

struct TMedium {
    std::string Key; // stays the same while the medium is there
    TMediumKind Kind = TMediumKind::FileSystem;
    std::string Device;     // the block device ("/dev/sr0", "/dev/sdb1")
    std::string MountPoint; // empty while it is not mounted (a disc is then read from the drive)
    std::string Label;      // the volume label, UTF-8
    std::string Uuid;       // the file system's UUID as udev gives it
    std::string FsType;     // "iso9660", "udf", "vfat", ...
    std::string ImageFile;  // a mounted disc image: the image file behind the loop device
    friend bool operator==(const TMedium&, const TMedium&) = default;
};

// folder and name joined by one slash; folder itself when name is empty.
[[nodiscard]] std::string JoinPath(std::string folder, std::string_view name);

// What a disc or an image tells of itself, read once for all the records it is compared with.
[[nodiscard]] std::vector<TVolumeFacts> ReadMedium(const TMedium& medium, IDrives& drives);

// Whether the medium holds the recorded disc, by what the medium tells of itself: a mounted file
// system by its UUID, as a scan at the record's folder on it would tell it (a folder disc below
// the mount point is on the medium too); a disc or an image by what it says itself (read, as
// ReadMedium gives it).
[[nodiscard]] bool Holds(const TMedium& medium, const std::vector<TVolumeFacts>& read,
                         const TDiscRecord& record);

// Where the recorded disc's root folder is on a mounted medium that holds it: a disc read from
// the drive was read from its root, a folder from its place below the mount point.
[[nodiscard]] std::string RootOnMedium(const TMedium& medium, const TDiscRecord& record);

// The recorded disc opened where it is now: a folder or an image at its recorded path, a mounted
// medium that holds it (media, as MountedMedia gives them), or a disc in one of the drives; each
// recognised by what it tells of itself, as the media bars recognise it, never by a title.
// nullptr when none holds it.
[[nodiscard]] std::unique_ptr<IVolume> OpenPresentDisc(const TDiscRecord& record, IDrives& drives,
                                                       const std::vector<TMedium>& media);
