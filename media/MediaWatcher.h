#pragma once

#include <QObject>

#include <cstdint>

#include <string>
#include <vector>

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

// Tells which media and optical drives the machine has as they come and go. A watcher that
// cannot reach the desktop's service reports nothing and costs nothing.
class IMediaWatcher : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    // The media present now, and the device nodes of the optical drives present now.
    [[nodiscard]] virtual std::vector<TMedium> Media() const = 0;
    [[nodiscard]] virtual std::vector<std::string> Drives() const = 0;

signals:
    // A medium was inserted or mounted after the watcher first learned what was there.
    void MediumArrived(const TMedium& medium);
    // A present medium was mounted, unmounted or relabelled.
    void MediumChanged(const TMedium& medium);
    void MediumLeft(const TMedium& medium);
    void DrivePlugged(const std::string& device);
    void DriveUnplugged(const std::string& device);
};
