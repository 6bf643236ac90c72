#include "discs/Media.h"

#include "discs/Drives.h"

#include <algorithm>

std::string JoinPath(std::string folder, std::string_view name)
{
    if (name.empty())
        return folder;
    if (folder.empty() || folder.back() != '/')
        folder += '/';
    folder += name;
    return folder;
}

std::vector<TVolumeFacts> ReadMedium(const TMedium& medium, IDrives& drives)
{
    std::vector<TVolumeFacts> facts;
    if (!medium.ImageFile.empty()) {
        if (const std::unique_ptr<IVolume> volume = drives.OpenImage(medium.ImageFile))
            facts.push_back(volume->Facts());
    }
    if (medium.Kind == TMediumKind::Disc) {
        if (const std::optional<char> letter = drives.LetterOfDevice(medium.Device)) {
            if (const std::unique_ptr<IVolume> volume = drives.OpenVolume(*letter))
                facts.push_back(volume->Facts());
        }
    }
    return facts;
}

bool Holds(const TMedium& medium, const std::vector<TVolumeFacts>& read, const TDiscRecord& record)
{
    if (!medium.MountPoint.empty() && !medium.Uuid.empty()) {
        TVolumeFacts mounted;
        mounted.Source.Kind = TSourceKind::Folder;
        mounted.Source.MountPoint = medium.MountPoint;
        mounted.Source.Path = JoinPath(medium.MountPoint, PathBelowMount(record.Facts.Source));
        mounted.Source.FsType = medium.FsType;
        mounted.Identity.Label = medium.Label;
        mounted.Identity.FileSystem = medium.FsType;
        mounted.Identity.Uuid = medium.Uuid;
        if (SameMedium(record.Facts, mounted))
            return true;
    }
    return std::any_of(read.begin(), read.end(),
                       [&](const TVolumeFacts& facts) { return SameMedium(record.Facts, facts); });
}

std::string RootOnMedium(const TMedium& medium, const TDiscRecord& record)
{
    const bool folder = record.Facts.Source.Kind == TSourceKind::Folder;
    return JoinPath(medium.MountPoint, folder ? PathBelowMount(record.Facts.Source) : "");
}

std::unique_ptr<IVolume> OpenPresentDisc(const TDiscRecord& record, IDrives& drives,
                                         const std::vector<TMedium>& media)
{
    const TDiscSource& source = record.Facts.Source;
    const auto recognised = [&](std::unique_ptr<IVolume> volume) -> std::unique_ptr<IVolume> {
        if (volume && SameMedium(record.Facts, volume->Facts()))
            return volume;
        return nullptr;
    };
    if (!source.Path.empty()) {
        if (source.Kind == TSourceKind::Folder) {
            if (auto volume = recognised(drives.OpenFolder(source.Path)))
                return volume;
        } else if (source.Kind == TSourceKind::Image) {
            if (auto volume = recognised(drives.OpenImage(source.Path)))
                return volume;
        }
    }
    for (const TMedium& medium : media) {
        if (medium.MountPoint.empty() || !Holds(medium, ReadMedium(medium, drives), record))
            continue;
        if (auto volume = drives.OpenFolder(RootOnMedium(medium, record)))
            return volume;
    }
    for (const char letter : drives.DriveLetters()) {
        if (auto volume = recognised(drives.OpenVolume(letter)))
            return volume;
    }
    return nullptr;
}
