#include "discs/Drives.h"

#include "discs/DiscImage.h"
#include "discs/FolderVolume.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>

namespace {

namespace fs = std::filesystem;

// Undoes the octal escapes (\040 for a space) of /proc/self/mountinfo.
std::string UnescapeMountField(std::string_view field)
{
    std::string text;
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            const std::string_view digits = field.substr(i + 1, 3);
            if (std::all_of(digits.begin(), digits.end(),
                            [](char c) { return c >= '0' && c <= '7'; })) {
                text += static_cast<char>(((digits[0] - '0') << 6) | ((digits[1] - '0') << 3) |
                                          (digits[2] - '0'));
                i += 3;
                continue;
            }
        }
        text += field[i];
    }
    return text;
}

// Undoes udev's \xNN escapes (\x20 for a space, \x2f for a slash).
std::string UnescapeUdevName(std::string_view name)
{
    std::string text;
    for (size_t i = 0; i < name.size(); ++i) {
        if (name[i] == '\\' && i + 3 < name.size() && name[i + 1] == 'x') {
            unsigned value = 0;
            const char* begin = name.data() + i + 2;
            const auto [end, error] = std::from_chars(begin, begin + 2, value, 16);
            if (error == std::errc() && end == begin + 2) {
                text += static_cast<char>(value);
                i += 3;
                continue;
            }
        }
        text += name[i];
    }
    return text;
}

std::optional<dev_t> DeviceNumberOf(const std::string& path)
{
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0 || !S_ISBLK(status.st_mode))
        return std::nullopt;
    return status.st_rdev;
}

std::string ReadWholeFile(const char* path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Only a plain file is taken for an image: reading a FIFO or a device chosen by mistake would
// wait for a writer, or never end.
bool IsPlainFile(const std::string& path)
{
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

// A disc in a drive: the mounted file system when the desktop has mounted it, otherwise the disc
// read directly from the device, which needs neither mounting nor root rights.
std::unique_ptr<IVolume> OpenDisc(const std::string& device)
{
    if (const std::optional<dev_t> number = DeviceNumberOf(device)) {
        if (const auto mountPoint = MountPointOf(*number, ReadWholeFile("/proc/self/mountinfo"))) {
            // The disc itself, where the device can be read, tells what identifies it; the
            // mount alone does not.
            const std::unique_ptr<IVolume> disc = OpenDiscImage(device);
            std::string label;
            if (const auto udevLabel = UdevLabelOf(*number))
                label = NameFromDisc(*udevLabel);
            else if (disc)
                label = disc->Label();
            if (auto volume = OpenFolderVolume(*mountPoint, std::move(label)))
                return disc ? WithSource(std::move(volume), TSourceKind::Drive, device,
                                         disc->Facts())
                            : std::move(volume);
        }
    }
    return OpenDiscImage(device);
}

} // namespace

TDriveTable TDriveTable::FromMachine()
{
    TDriveTable table;
    char letter = 'D';
    for (std::string& device : FindOpticalDevices()) {
        if (letter > 'Z')
            break;
        table.Add(letter++, {TDriveSource::TKind::Device, device, {}, device});
    }
    return table;
}

std::vector<char> TDriveTable::DriveLetters() const
{
    std::vector<char> letters;
    for (const auto& [letter, source] : Drives_)
        letters.push_back(letter);
    return letters;
}

std::optional<char> TDriveTable::LetterOfDevice(const std::string& device) const
{
    for (const auto& [letter, source] : Drives_) {
        const std::string& node =
            source.Device.empty() && source.Kind == TDriveSource::TKind::Device ? source.Path
                                                                                : source.Device;
        if (!device.empty() && node == device)
            return letter;
    }
    return std::nullopt;
}

std::optional<char> TDriveTable::PlugDevice(const std::string& device)
{
    if (const std::optional<char> known = LetterOfDevice(device))
        return known;
    for (char letter = 'D'; letter <= 'Z'; ++letter) {
        if (!Drives_.contains(letter)) {
            Add(letter, {TDriveSource::TKind::Device, device, {}, device});
            return letter;
        }
    }
    return std::nullopt;
}

std::optional<char> TDriveTable::UnplugDevice(const std::string& device)
{
    const std::optional<char> letter = LetterOfDevice(device);
    if (letter)
        Drives_.erase(*letter);
    return letter;
}

std::unique_ptr<IVolume> TDriveTable::OpenVolume(char letter)
{
    const auto found = Drives_.find(letter);
    if (found == Drives_.end())
        return nullptr;
    const TDriveSource& source = found->second;
    switch (source.Kind) {
    case TDriveSource::TKind::Device:
        return WithSource(OpenDisc(source.Path), TSourceKind::Drive, source.Path);
    case TDriveSource::TKind::Folder:
        return OpenFolderVolume(source.Path, source.Label);
    case TDriveSource::TKind::Image:
        return OpenDiscImage(source.Path);
    }
    return nullptr;
}

std::unique_ptr<IVolume> TDriveTable::OpenImage(const std::string& path)
{
    if (!IsPlainFile(path))
        return nullptr;
    TVolumeFacts known;
    struct stat status {};
    if (::stat(path.c_str(), &status) == 0) {
        known.Source.ImageSize = static_cast<uint64_t>(status.st_size);
        known.Source.ImageTime = FileTimeFromUnix(status.st_mtim.tv_sec, status.st_mtim.tv_nsec);
    }
    return WithSource(OpenDiscImage(path), TSourceKind::Image, path, known);
}

std::unique_ptr<IVolume> TDriveTable::OpenFolder(const std::string& path)
{
    return WithSource(OpenFolderVolume(path, FolderLabel(path)), TSourceKind::Folder, path,
                      FolderFacts(path, ReadMountInfo()));
}

std::vector<std::string> FindOpticalDevices(const std::string& sysBlock)
{
    std::vector<std::pair<unsigned, std::string>> found;
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(sysBlock, error)) {
        const std::string name = entry.path().filename().string();
        if (name.size() < 3 || name.compare(0, 2, "sr") != 0)
            continue;
        unsigned number = 0;
        const auto [end, parsed] =
            std::from_chars(name.data() + 2, name.data() + name.size(), number);
        if (parsed == std::errc() && end == name.data() + name.size())
            found.emplace_back(number, "/dev/" + name);
    }
    std::sort(found.begin(), found.end());
    std::vector<std::string> devices;
    devices.reserve(found.size());
    for (auto& [number, device] : found)
        devices.push_back(std::move(device));
    return devices;
}

std::optional<std::string> MountPointOf(dev_t device, std::string_view mountinfo)
{
    const std::string wanted = std::to_string(major(device)) + ":" + std::to_string(minor(device));
    std::istringstream lines{std::string(mountinfo)};
    std::string line;
    while (std::getline(lines, line)) {
        // mount id, parent id, major:minor, root of the mount, mount point, ...
        std::istringstream fields(line);
        std::string id;
        std::string parent;
        std::string number;
        std::string root;
        std::string mountPoint;
        if (!(fields >> id >> parent >> number >> root >> mountPoint))
            continue;
        if (number == wanted && root == "/")
            return UnescapeMountField(mountPoint);
    }
    return std::nullopt;
}

std::optional<std::string> UdevLabelOf(dev_t device, const std::string& byLabel)
{
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(byLabel, error)) {
        if (DeviceNumberOf(entry.path().string()) == device)
            return UnescapeUdevName(entry.path().filename().string());
    }
    return std::nullopt;
}

TVolumeFacts FolderFacts(const std::string& folder, std::string_view mountinfo,
                         const std::string& byUuid, const std::string& byLabel)
{
    TVolumeFacts facts;
    struct stat status {};
    std::error_code error;
    const fs::path real = fs::canonical(folder, error);
    if (error || ::stat(real.c_str(), &status) != 0)
        return facts;
    const std::string wanted =
        std::to_string(major(status.st_dev)) + ":" + std::to_string(minor(status.st_dev));
    const std::string path = real.string();
    std::istringstream lines{std::string(mountinfo)};
    std::string line;
    while (std::getline(lines, line)) {
        // mount id, parent id, major:minor, root, mount point, options, optional fields, "-",
        // type, source, ...
        std::istringstream fields(line);
        std::string id, parent, number, root, mountPoint, field;
        if (!(fields >> id >> parent >> number >> root >> mountPoint) || number != wanted)
            continue;
        while (fields >> field && field != "-") {
        }
        std::string type;
        fields >> type;
        const std::string point = UnescapeMountField(mountPoint);
        const bool below =
            point == "/" || path == point || (path.starts_with(point) && path[point.size()] == '/');
        // Of the mounts of the device that hold the folder, the innermost.
        if (below && point.size() >= facts.Source.MountPoint.size()) {
            facts.Source.MountPoint = point;
            facts.Source.FsType = type;
        }
    }
    facts.Identity.FileSystem = facts.Source.FsType;
    facts.Identity.Uuid = UdevLabelOf(status.st_dev, byUuid).value_or("");
    facts.Identity.Label = UdevLabelOf(status.st_dev, byLabel).value_or("");
    struct statvfs space {};
    if (::statvfs(real.c_str(), &space) == 0) {
        facts.Capacity = uint64_t{space.f_blocks} * space.f_frsize;
        facts.FreeSpace = uint64_t{space.f_bavail} * space.f_frsize;
    }
    return facts;
}

std::optional<dev_t> MountedDeviceAt(std::string_view mountPoint, std::string_view mountinfo)
{
    std::optional<dev_t> device;
    std::istringstream lines{std::string(mountinfo)};
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string id, parent, number, root, point;
        unsigned majorNumber = 0;
        unsigned minorNumber = 0;
        if ((fields >> id >> parent >> number >> root >> point) &&
            UnescapeMountField(point) == mountPoint &&
            std::sscanf(number.c_str(), "%u:%u", &majorNumber, &minorNumber) == 2)
            device = makedev(majorNumber, minorNumber);
    }
    return device;
}

std::string ReadMountInfo()
{
    return ReadWholeFile("/proc/self/mountinfo");
}

namespace {

// The names udev links under folder, by the device each link leads to.
std::map<dev_t, std::string> UdevNamesByDevice(const std::string& folder)
{
    std::map<dev_t, std::string> names;
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder, error)) {
        if (const std::optional<dev_t> device = DeviceNumberOf(entry.path().string()))
            names.emplace(*device, UnescapeUdevName(entry.path().filename().string()));
    }
    return names;
}

std::string FirstLineOf(const std::string& path)
{
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

} // namespace

std::vector<TMedium> MountedMedia(std::string_view mountinfo, const std::string& byUuid,
                                  const std::string& byLabel, const std::string& sysDevBlock)
{
    const std::map<dev_t, std::string> uuids = UdevNamesByDevice(byUuid);
    const std::map<dev_t, std::string> labels = UdevNamesByDevice(byLabel);
    std::vector<TMedium> media;
    std::istringstream lines{std::string(mountinfo)};
    std::string line;
    while (std::getline(lines, line)) {
        // mount id, parent id, major:minor, root, mount point, options, optional fields, "-",
        // type, source, ...
        std::istringstream fields(line);
        std::string id, parent, number, root, mountPoint, field, type, source;
        if (!(fields >> id >> parent >> number >> root >> mountPoint) || root != "/")
            continue;
        while (fields >> field && field != "-") {
        }
        if (!(fields >> type >> source))
            continue;
        unsigned majorNumber = 0;
        unsigned minorNumber = 0;
        if (std::sscanf(number.c_str(), "%u:%u", &majorNumber, &minorNumber) != 2)
            continue;
        const dev_t device = makedev(majorNumber, minorNumber);
        const auto uuid = uuids.find(device);
        if (uuid == uuids.end())
            continue;
        TMedium medium;
        medium.Key = number;
        // The SCSI CD-ROM driver's major number: /dev/sr0, /dev/sr1, ...
        constexpr unsigned kOpticalMajor = 11;
        medium.Kind = majorNumber == kOpticalMajor ? TMediumKind::Disc : TMediumKind::FileSystem;
        medium.Device = UnescapeMountField(source);
        medium.MountPoint = UnescapeMountField(mountPoint);
        medium.Uuid = uuid->second;
        if (const auto label = labels.find(device); label != labels.end())
            medium.Label = label->second;
        medium.FsType = type;
        medium.ImageFile = FirstLineOf(sysDevBlock + "/" + number + "/loop/backing_file");
        media.push_back(std::move(medium));
    }
    return media;
}
