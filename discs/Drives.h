#pragma once

#include "discs/Media.h"
#include "discs/Volume.h"

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

// The machine's CD/DVD drives, each known by a letter, as the drive menu lists them.
class IDrives {
public:
    virtual ~IDrives() = default;
    // The letters of the CD/DVD drives in alphabetical order.
    [[nodiscard]] virtual std::vector<char> DriveLetters() const = 0;
    // The disc in the drive, or nullptr when there is none or it cannot be read.
    [[nodiscard]] virtual std::unique_ptr<IVolume> OpenVolume(char letter) = 0;
    // The disc held in an image file, read as the disc in a drive is; nullptr when the file holds
    // neither a readable UDF nor a readable ISO 9660 file system.
    [[nodiscard]] virtual std::unique_ptr<IVolume> OpenImage(const std::string& path) = 0;
    // A folder read as a mounted disc, labelled as FolderLabel tells; nullptr when it cannot be
    // read.
    [[nodiscard]] virtual std::unique_ptr<IVolume> OpenFolder(const std::string& path) = 0;

    // Optical drives plugged in and removed during the run, known by their device nodes
    // ("/dev/sr1"). A drive table that cannot change ignores them.
    // The letter of the drive with the device node; nothing when no drive has it.
    [[nodiscard]] virtual std::optional<char> LetterOfDevice(const std::string& device) const
    {
        (void)device;
        return std::nullopt;
    }
    // Letters a new drive with the first letter from D: upward that no drive has, so the drives
    // present keep theirs; the letter it has when it is known already. Nothing when every
    // letter is taken.
    virtual std::optional<char> PlugDevice(const std::string& device)
    {
        (void)device;
        return std::nullopt;
    }
    // Forgets the drive; its letter, or nothing when no drive had the device node.
    virtual std::optional<char> UnplugDevice(const std::string& device)
    {
        (void)device;
        return std::nullopt;
    }
};

// What a drive letter reads from.
struct TDriveSource {
    enum class TKind {
        Device, // an optical drive's device node: its mounted file system, or the disc itself
        Folder, // a folder read as a mounted disc with the label given here
        Image,  // a disc image file (UDF or ISO 9660)
    };
    TKind Kind = TKind::Device;
    std::string Path;  // as the file system holds it
    std::string Label; // 8-bit; only for a folder
    // The device node the desktop knows the drive by; for a device, Path when left empty. Lets a
    // folder or an image stand for a drive the desktop reports.
    std::string Device = {};
};

// Drive letters mapped to what they read. Every kind of source goes through the same volumes, so
// a folder or an image stands for a disc wherever a real drive does.
class TDriveTable final : public IDrives {
public:
    // The machine's optical drives, lettered in device order from D: upward.
    [[nodiscard]] static TDriveTable FromMachine();

    void Add(char letter, TDriveSource source) { Drives_[letter] = std::move(source); }
    [[nodiscard]] std::vector<char> DriveLetters() const override;
    [[nodiscard]] std::unique_ptr<IVolume> OpenVolume(char letter) override;
    [[nodiscard]] std::unique_ptr<IVolume> OpenImage(const std::string& path) override;
    [[nodiscard]] std::unique_ptr<IVolume> OpenFolder(const std::string& path) override;
    [[nodiscard]] std::optional<char> LetterOfDevice(const std::string& device) const override;
    std::optional<char> PlugDevice(const std::string& device) override;
    std::optional<char> UnplugDevice(const std::string& device) override;

private:
    std::map<char, TDriveSource> Drives_;
};

// The device nodes of the optical drives ("/dev/sr0", "/dev/sr1", ...) in device order, found
// among the block devices listed in sysBlock (the kernel's /sys/block).
[[nodiscard]] std::vector<std::string>
FindOpticalDevices(const std::string& sysBlock = "/sys/block");

// Where the file system of the device numbered device is mounted, from the text of
// /proc/self/mountinfo; nothing when it is not mounted whole.
[[nodiscard]] std::optional<std::string> MountPointOf(dev_t device, std::string_view mountinfo);

// What the file system that holds folder tells of itself: the mount point and type of the mount
// (from the text of /proc/self/mountinfo) under which the folder lies, the UUID and label udev
// links under byUuid and byLabel (UTF-8), its size and free space. Unknown parts stay empty.
[[nodiscard]] TVolumeFacts FolderFacts(const std::string& folder, std::string_view mountinfo,
                                       const std::string& byUuid = "/dev/disk/by-uuid",
                                       const std::string& byLabel = "/dev/disk/by-label");

// The label udev records for the device under byLabel, as UTF-8; nothing when it has none.
[[nodiscard]] std::optional<std::string>
UdevLabelOf(dev_t device, const std::string& byLabel = "/dev/disk/by-label");

// The block devices' file systems mounted whole now, from the text of /proc/self/mountinfo, as
// the desktop reports its media: the UUID and label udev links under byUuid and byLabel, the
// image file behind a loop device (from sysDevBlock, the kernel's /sys/dev/block), and whether the
// device is an optical drive. Mounts of devices that udev gives no UUID are left out: nothing but
// their path tells them apart.
[[nodiscard]] std::vector<TMedium> MountedMedia(std::string_view mountinfo,
                                                const std::string& byUuid = "/dev/disk/by-uuid",
                                                const std::string& byLabel = "/dev/disk/by-label",
                                                const std::string& sysDevBlock = "/sys/dev/block");

// The device of the last file system mounted at mountPoint (as realpath gives it), from the text
// of /proc/self/mountinfo; nothing when none is.
[[nodiscard]] std::optional<dev_t> MountedDeviceAt(std::string_view mountPoint,
                                                   std::string_view mountinfo);

// The text of /proc/self/mountinfo.
[[nodiscard]] std::string ReadMountInfo();
