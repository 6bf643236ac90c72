#include "mounttool/ContentSource.h"

#include "collection/Fendrel.h"
#include "discs/Drives.h"

#include <algorithm>
#include <cerrno>
#include <sys/stat.h>

namespace {

// Few folders are read at once: a copy goes through one folder after another.
constexpr size_t kKeptListings = 8;

// What the record says of its medium, as the key of the discs looked for.
std::string MediumKey(const TDiscRecord& record)
{
    const TVolumeFacts& facts = record.Facts;
    std::string key;
    for (const std::string* part :
         {&facts.Source.Path, &facts.Source.MountPoint, &facts.Source.FsType, &facts.Identity.Label,
          &facts.Identity.VolumeSetId, &facts.Identity.LogicalVolumeId, &facts.Identity.Uuid}) {
        key += *part;
        key += '\0';
    }
    key += std::to_string(static_cast<int>(facts.Source.Kind)) + ' ' +
           std::to_string(facts.Identity.CreationTime) + ' ' +
           std::to_string(facts.Identity.VolumeBlocks);
    return key;
}

bool IsDotEntry(const TFindData& entry)
{
    return entry.RawName == "." || entry.RawName == "..";
}

// The entry that the step names: the Occurrence-th of its name and kind.
const TFindData* FindStep(const std::vector<TFindData>& entries, const TFileOnDisc::TStep& step)
{
    unsigned seen = 0;
    for (const TFindData& entry : entries) {
        if (entry.IsFolder != step.Folder || entry.Name != step.Name || IsDotEntry(entry))
            continue;
        if (seen++ == step.Occurrence)
            return &entry;
    }
    return nullptr;
}

} // namespace

TFileOnDisc FileOnDisc(const TFendrel& collection, uint32_t file)
{
    TFileOnDisc found;
    found.Size = collection.GetNode(file).FullSize();
    uint32_t at = file;
    for (;;) {
        const TCollectionNode& node = collection.GetNode(at);
        if (node.ParentId == 0) {
            if (const auto record = collection.DiscRecords.find(at);
                record != collection.DiscRecords.end())
                found.Record = record->second;
            break;
        }
        const bool folder = !node.Is(nfFile);
        unsigned before = 0;
        for (const uint32_t sibling : collection.GetNode(node.ParentId).Children) {
            if (sibling == at)
                break;
            const TCollectionNode& other = collection.GetNode(sibling);
            before += other.Is(nfFile) != folder && other.Name == node.Name ? 1 : 0;
        }
        found.Steps.push_back({node.Name.str(), folder, before});
        at = node.ParentId;
    }
    std::reverse(found.Steps.begin(), found.Steps.end());
    return found;
}

TContentSource::TContentSource(TMachine machine)
    : Machine_(std::move(machine))
{
}

TContentSource::TMachine TContentSource::MachineNow()
{
    return {[] { return std::make_unique<TDriveTable>(TDriveTable::FromMachine()); },
            [] {
                return MountedMedia(ReadMountInfo());
            }};
}

bool TContentSource::InOwnMount(const std::string& path) const
{
    struct stat status {};
    return OwnDevice_ != 0 && ::stat(path.c_str(), &status) == 0 && status.st_dev == OwnDevice_;
}

TContentSource::TPresentDisc& TContentSource::Present(const TDiscRecord& record)
{
    const auto now = std::chrono::steady_clock::now();
    TPresentDisc& disc = Discs_[MediumKey(record)];
    if (disc.Found != std::chrono::steady_clock::time_point() && now - disc.Found < kKeptFor)
        return disc;
    disc = TPresentDisc();
    disc.Found = now;
    const std::string& recorded = record.Facts.Source.Path;
    if (!recorded.empty() && InOwnMount(recorded))
        return disc;
    disc.Drives = Machine_.Drives();
    disc.Volume = OpenPresentDisc(record, *disc.Drives, Machine_.Media());
    return disc;
}

const std::vector<TFindData>* TContentSource::List(TPresentDisc& disc, const std::string& path)
{
    const auto kept = std::find_if(disc.Listings.begin(), disc.Listings.end(),
                                   [&](const TListing& listing) { return listing.Path == path; });
    if (kept != disc.Listings.end()) {
        disc.Listings.splice(disc.Listings.begin(), disc.Listings, kept);
        return &disc.Listings.front().Entries;
    }
    const std::unique_ptr<IFolderListing> listing = disc.Volume->OpenFolder(path);
    if (!listing)
        return nullptr;
    TListing read{path, {}};
    for (TFindData entry; listing->Next(entry);)
        read.Entries.push_back(entry);
    disc.Listings.push_front(std::move(read));
    if (disc.Listings.size() > kKeptListings)
        disc.Listings.pop_back();
    return &disc.Listings.front().Entries;
}

std::unique_ptr<TOpenContent> TContentSource::Open(const TFileOnDisc& file, int& error)
{
    const std::lock_guard lock(Mutex_);
    TPresentDisc& disc = Present(file.Record);
    if (!disc.Volume || file.Steps.empty()) {
        error = ENOMEDIUM;
        return nullptr;
    }
    // Listing and opening read the volume as the reads of its open files do.
    const std::lock_guard inUse(*disc.VolumeInUse);
    std::string path(IVolume::RootPath);
    for (size_t i = 0; i < file.Steps.size(); ++i) {
        const std::vector<TFindData>* entries = List(disc, path);
        if (!entries) {
            error = EIO;
            return nullptr;
        }
        const TFindData* entry = FindStep(*entries, file.Steps[i]);
        if (!entry) {
            error = ENOENT;
            return nullptr;
        }
        if (i + 1 < file.Steps.size()) {
            path += entry->RawName;
            path += '/';
            continue;
        }
        if (entry->Size != file.Size) {
            error = ESTALE;
            return nullptr;
        }
        auto open = std::make_unique<TOpenContent>();
        open->Volume = disc.Volume;
        open->VolumeInUse = disc.VolumeInUse;
        open->Content = disc.Volume->OpenFile(path + entry->RawName, entry->Where);
        if (!open->Content || !open->Content->Ordinary()) {
            error = EIO;
            return nullptr;
        }
        return open;
    }
    error = ENOENT;
    return nullptr;
}
