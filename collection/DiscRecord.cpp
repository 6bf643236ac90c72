#include "collection/DiscRecord.h"

std::string_view PathBelowMount(const TDiscSource& source)
{
    std::string_view path = source.Path;
    std::string_view mount = source.MountPoint;
    while (mount.size() > 1 && mount.back() == '/')
        mount.remove_suffix(1);
    if (mount.empty() || !path.starts_with(mount))
        return path;
    path.remove_prefix(mount == "/" ? 1 : mount.size());
    if (mount != "/") {
        if (!path.empty() && path.front() != '/')
            return source.Path; // "/media/a" is not below "/media/ab"
        while (!path.empty() && path.front() == '/')
            path.remove_prefix(1);
    }
    while (!path.empty() && path.back() == '/')
        path.remove_suffix(1);
    return path;
}

bool SameMedium(const TVolumeFacts& a, const TVolumeFacts& b)
{
    const TMediumIdentity& x = a.Identity;
    const TMediumIdentity& y = b.Identity;
    if (!x.Uuid.empty() || !y.Uuid.empty())
        return x.Uuid == y.Uuid && PathBelowMount(a.Source) == PathBelowMount(b.Source);
    const bool known = x.CreationTime != 0 || !x.VolumeSetId.empty() ||
                       !x.LogicalVolumeId.empty() || x.VolumeBlocks != 0;
    // The label and the file system's name are left out: the same disc read through Joliet or
    // through Rock Ridge names its label and its file system differently.
    return known && x.VolumeSetId == y.VolumeSetId && x.LogicalVolumeId == y.LogicalVolumeId &&
           x.CreationTime == y.CreationTime && x.VolumeBlocks == y.VolumeBlocks;
}
