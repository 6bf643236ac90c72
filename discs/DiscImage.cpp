#include "discs/DiscImage.h"

#include "discs/IsoVolume.h"
#include "discs/UdfVolume.h"

namespace {

// The entries of the root folder, or -1 when it cannot be read.
long RootEntries(IVolume& volume)
{
    const std::unique_ptr<IFolderListing> root = volume.OpenFolder(std::string(IVolume::RootPath));
    if (!root)
        return -1;
    long count = 0;
    for (TFindData entry; root->Next(entry);)
        count += entry.RawName != "." && entry.RawName != ".." ? 1 : 0;
    return count;
}

} // namespace

std::unique_ptr<IVolume> OpenDiscImage(const std::string& path)
{
    std::unique_ptr<IVolume> udf = OpenUdfVolume(path);
    std::unique_ptr<IVolume> iso = OpenIsoVolume(path);
    if (!udf || !iso)
        return udf ? std::move(udf) : std::move(iso);
    // A UDF tree that lost entries, or one that is only a placeholder beside the real tree,
    // leaves the disc to ISO 9660.
    return RootEntries(*udf) >= RootEntries(*iso) ? std::move(udf) : std::move(iso);
}
