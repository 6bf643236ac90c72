#include "collection/Fendrel.h"

#include "discs/FileContents.h"
#include "discs/Volume.h"
#include "platform/AnsiText.h"

#include <memory>
#include <vector>

int32_t TFendrel::ScanDisc(const std::string& title, IVolume& volume,
                           std::vector<TFileToRead>* files)
{
    BeginProgress(Ansi(" Сканирование диска: найдено %d элементов"));
    TCollectionNode disc;
    disc.Name = title;
    disc.Flags = nfDisc;
    TCollectionNode& added = AddNode(Discs, disc);
    DiscRecords[added.Id].Facts = volume.Facts();
    ScanFolder(added, volume, std::string(IVolume::RootPath), files);
    StepProgress();
    EndProgress();
    return ProgressCount;
}

// The folders being walked are kept on a stack of their own rather than by recursion, so that a
// disc nested deeper than the thread's stack cannot crash the scan.
void TFendrel::ScanFolder(TCollectionNode& parent, IVolume& volume, const std::string& path,
                          std::vector<TFileToRead>* files)
{
    struct TOpenFolder {
        std::unique_ptr<IFolderListing> Listing;
        TCollectionNode* Node;
        size_t PathLength; // of the folder's path, at the start of current
    };
    std::string current = path;
    std::vector<TOpenFolder> open;
    if (auto listing = volume.OpenFolder(current))
        open.push_back({std::move(listing), &parent, current.size()});

    TFindData entry;
    while (!open.empty()) {
        TOpenFolder& folder = open.back();
        if (!folder.Listing->Next(entry)) {
            open.pop_back();
            continue;
        }
        if (entry.Name == "." || entry.Name == "..")
            continue;
        TCollectionNode& node = AddNode(folder.Node->Children, TCollectionNode{});
        node.Name = entry.Name;
        node.Flags = entry.IsFolder ? nfFolder : nfFile;
        node.ParentId = folder.Node->Id;
        node.WriteTimeLow = static_cast<uint32_t>(entry.LastWriteTime);
        node.WriteTimeHigh = static_cast<uint32_t>(entry.LastWriteTime >> 32);
        node.SetFullSize(entry.Size);
        ++ProgressCount;
        StepProgress();
        if (!entry.IsFolder) {
            if (files) {
                current.resize(folder.PathLength);
                current += entry.RawName;
                files->push_back({node.Id, current, entry.Where, entry.Size});
            }
            continue;
        }
        current.resize(folder.PathLength);
        current += entry.RawName;
        current += '/';
        if (auto listing = volume.OpenSubfolder(*folder.Listing, entry.RawName, current))
            open.push_back({std::move(listing), &node, current.size()}); // folder is stale now
    }
}
