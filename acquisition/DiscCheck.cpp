#include "acquisition/DiscCheck.h"

#include "collection/Fendrel.h"
#include "discs/FileContents.h"

#include <unordered_map>
#include <unordered_set>
#include <utility>

namespace {

[[nodiscard]] uint64_t WriteTime(const TCollectionNode& node)
{
    return (uint64_t{node.WriteTimeHigh} << 32) | node.WriteTimeLow;
}

// The path of node below the disc top, as TTreeChange gives paths.
[[nodiscard]] std::string PathBelow(const TFendrel& collection, uint32_t top,
                                    const TCollectionNode& node)
{
    std::vector<std::string_view> names;
    for (const TCollectionNode* at = &node; at->Id != top && at->ParentId != 0;
         at = &collection.GetNode(at->ParentId))
        names.push_back(at->Name.view());
    std::string path;
    for (auto name = names.rbegin(); name != names.rend(); ++name) {
        if (!path.empty())
            path += '\\';
        path += *name;
    }
    return path;
}

// The recorded checksums of the disc's files, by their paths below the disc.
[[nodiscard]] std::unordered_map<std::string, TContentChecksum>
RecordedChecksums(const TFendrel& recorded, uint32_t disc)
{
    std::unordered_map<std::string, TContentChecksum> byPath;
    if (recorded.Checksums.empty())
        return byPath;
    // Depth first without recursion: a disc may nest deeper than the thread's stack.
    std::vector<std::pair<uint32_t, std::string>> pending;
    for (const uint32_t child : recorded.GetNode(disc).Children)
        pending.emplace_back(child, std::string());
    while (!pending.empty()) {
        auto [id, parentPath] = std::move(pending.back());
        pending.pop_back();
        const TCollectionNode& node = recorded.GetNode(id);
        std::string path = parentPath.empty() ? std::string(node.Name.view())
                                              : parentPath + '\\' + std::string(node.Name.view());
        if (node.Is(nfFile)) {
            if (const auto sum = recorded.Checksums.find(id); sum != recorded.Checksums.end())
                byPath.emplace(std::move(path), sum->second);
            continue;
        }
        for (const uint32_t child : node.Children)
            pending.emplace_back(child, path);
    }
    return byPath;
}

// Whether path lies below one of the folders ("" the top), each of its folders looked up once.
[[nodiscard]] bool BelowAny(std::string_view path, const std::unordered_set<std::string>& folders)
{
    if (folders.contains(std::string()))
        return true;
    for (size_t end = path.find('\\'); end != std::string_view::npos;
         end = path.find('\\', end + 1))
        if (folders.contains(std::string(path.substr(0, end))))
            return true;
    return false;
}

} // namespace

std::unique_ptr<IFolderListing> TListingWatch::OpenFolder(const std::string& path)
{
    return Noted(Volume_.OpenFolder(path));
}

std::unique_ptr<IFolderListing> TListingWatch::OpenSubfolder(IFolderListing& listing,
                                                             const std::string& rawName,
                                                             const std::string& path)
{
    return Noted(Volume_.OpenSubfolder(listing, rawName, path));
}

std::unique_ptr<IFolderListing> TListingWatch::Noted(std::unique_ptr<IFolderListing> listing)
{
    if (!listing && Scan_.LastId != 0)
        Unlisted.push_back(Scan_.LastId);
    return listing;
}

TDiscCheck CheckDiscReadings(const TFendrel& recorded, uint32_t disc, const TFendrel& scan,
                             uint32_t scanned, const std::vector<TFileToRead>& files,
                             const std::vector<TFileReading>& readings,
                             const std::vector<uint32_t>& unlisted)
{
    TDiscTreeDiff diff =
        CompareDiscTrees(recorded, recorded.GetNode(disc), scan, scan.GetNode(scanned));
    TDiscCheck check;
    check.Missing = std::move(diff.Removed);
    check.New = std::move(diff.Added);
    check.Changed = std::move(diff.Changed);
    if (!unlisted.empty()) {
        std::unordered_set<std::string> folders;
        for (const uint32_t id : unlisted) {
            std::string path = PathBelow(scan, scanned, scan.GetNode(id));
            folders.insert(path);
            check.Unreadable.push_back({std::move(path), 0, 0, true});
            ++check.FoldersUnlisted;
        }
        std::erase_if(check.Missing,
                      [&](const TTreeChange& change) { return BelowAny(change.Path, folders); });
    }

    const std::unordered_map<std::string, TContentChecksum> sums =
        RecordedChecksums(recorded, disc);
    std::unordered_set<std::string> changed;
    if (!sums.empty())
        for (const TTreeChange& change : check.Changed)
            changed.insert(change.Path);

    for (size_t i = 0; i < files.size() && i < readings.size(); ++i) {
        const TFileReading& reading = readings[i];
        switch (reading.Outcome) {
        case TFileReading::TOutcome::NotRead:
        case TFileReading::TOutcome::NotOrdinary:
            break;
        case TFileReading::TOutcome::Unreadable:
            check.Unreadable.push_back({PathBelow(scan, scanned, scan.GetNode(files[i].Id)),
                                        files[i].Size, reading.BadOffset, false});
            break;
        case TFileReading::TOutcome::Read: {
            ++check.FilesRead;
            check.BytesRead += files[i].Size;
            if (sums.empty())
                break;
            const TCollectionNode& node = scan.GetNode(files[i].Id);
            std::string path = PathBelow(scan, scanned, node);
            const auto sum = sums.find(path);
            // A file changed in size or time is reported as that already.
            if (sum == sums.end() || changed.contains(path))
                break;
            ++check.ChecksumsCompared;
            if (sum->second == reading.Checksum)
                break;
            TTreeChange change;
            change.Path = std::move(path);
            change.OldSize = change.NewSize = node.FullSize();
            change.OldTime = change.NewTime = WriteTime(node);
            check.ContentChanged.push_back(std::move(change));
            break;
        }
        }
    }
    return check;
}
