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

namespace {

[[nodiscard]] bool KnowsDiscIdentifiers(const TMediumIdentity& identity)
{
    return identity.CreationTime != 0 || !identity.VolumeSetId.empty() ||
           !identity.LogicalVolumeId.empty() || identity.VolumeBlocks != 0;
}

// A path without the slashes at its end ("/" stays itself).
[[nodiscard]] std::string_view WithoutTrailingSlashes(std::string_view path)
{
    while (path.size() > 1 && path.back() == '/')
        path.remove_suffix(1);
    return path;
}

[[nodiscard]] TMediumMatch Match(bool same)
{
    return same ? TMediumMatch::Same : TMediumMatch::Different;
}

[[nodiscard]] TMediumMatch CompareFolders(const TVolumeFacts& a, const TVolumeFacts& b)
{
    const std::string& x = a.Identity.Uuid;
    const std::string& y = b.Identity.Uuid;
    if (!x.empty() && !y.empty())
        return Match(x == y && PathBelowMount(a.Source) == PathBelowMount(b.Source));
    if (!x.empty() || !y.empty() || a.Source.Path.empty() || b.Source.Path.empty())
        return TMediumMatch::Unknown;
    return Match(WithoutTrailingSlashes(a.Source.Path) == WithoutTrailingSlashes(b.Source.Path) &&
                 a.Source.FsType == b.Source.FsType);
}

} // namespace

TMediumMatch CompareMedia(const TVolumeFacts& a, const TVolumeFacts& b)
{
    const TMediumIdentity& x = a.Identity;
    const TMediumIdentity& y = b.Identity;
    const bool folderA = a.Source.Kind == TSourceKind::Folder;
    const bool folderB = b.Source.Kind == TSourceKind::Folder;
    if (folderA && folderB)
        return CompareFolders(a, b);
    const bool knownA = KnowsDiscIdentifiers(x);
    const bool knownB = KnowsDiscIdentifiers(y);
    if (folderA != folderB && !(knownA && knownB))
        return TMediumMatch::Unknown;
    if (knownA != knownB)
        return TMediumMatch::Unknown; // a record from before identities were kept, say
    if (knownA)
        // The file system's name is left out: a disc read from its mount and from its device
        // names it differently. The label stays in: two discs written in the same second with
        // the same size differ by little else.
        return Match(x.Label == y.Label && x.VolumeSetId == y.VolumeSetId &&
                     x.LogicalVolumeId == y.LogicalVolumeId && x.CreationTime == y.CreationTime &&
                     x.VolumeBlocks == y.VolumeBlocks);
    if (a.Source.Kind == TSourceKind::Image && b.Source.Kind == TSourceKind::Image &&
        !a.Source.Path.empty() && a.Source.Path == b.Source.Path)
        return TMediumMatch::Same;
    return TMediumMatch::Unknown;
}

bool SameMedium(const TVolumeFacts& a, const TVolumeFacts& b)
{
    return CompareMedia(a, b) == TMediumMatch::Same;
}
