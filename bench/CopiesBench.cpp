// Times the duplicates and unique-to-one-disc searches over a collection of 1.1 million records
// in which every third disc is a backup of the disc before it, half the discs carry checksums
// and a quarter of the files are small (many files of each small size).
#include "bench/BenchSupport.h"

#include "search/Copies.h"
#include "search/FindQuery.h"
#include "search/FindSnapshot.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <functional>
#include <vector>

namespace {

// The best of the last runs timed, for their wall-clock time.
TBestRun LastRun;

double BestCpu(int runs, const std::function<void()>& work)
{
    LastRun = BestOfRuns(runs, work);
    return LastRun.Cpu;
}

void Files(TFendrel& collection, const TCollectionBranch& list, std::vector<uint32_t>& files)
{
    for (const uint32_t id : list) {
        const TCollectionNode& node = collection.GetNode(id);
        if (node.Is(nfFile))
            files.push_back(id);
        else
            Files(collection, node.Children, files);
    }
}

void MakeCopies(TFendrel& collection)
{
    std::vector<uint32_t> previous;
    for (size_t disc = 0; disc < collection.Discs.size(); ++disc) {
        std::vector<uint32_t> files;
        Files(collection, collection.GetNode(collection.Discs[disc]).Children, files);
        for (size_t i = 0; i < files.size(); ++i) {
            TCollectionNode& file = collection.GetNode(files[i]);
            if (disc % 3 == 1 && i < previous.size()) {
                const TCollectionNode& original = collection.GetNode(previous[i]);
                file.Name = original.Name;
                file.SetFullSize(original.FullSize());
            } else if (i % 4 == 0) {
                file.SetFullSize(file.FullSize() % 4096);
            }
            if (disc % 2 == 0)
                collection.Checksums[file.Id] = {file.FullSize() * 0x9E3779B97F4A7C15ULL,
                                                 file.Name.size()};
        }
        previous = std::move(files);
    }
}

void Time(const char* what, const std::function<bool(TCopiesFound&)>& search)
{
    TCopiesFound found;
    const double seconds = BestCpu(5, [&] {
        found = {};
        search(found);
    });
    std::printf("%-40s %8zu hits  %.3f s (wall %.3f s)\n", what, found.Entries.size(), seconds,
                LastRun.Wall);
}

} // namespace

int main()
{
    TFendrel collection;
    FillBenchCollection(collection);
    MakeCopies(collection);
    std::printf("nodes: %u, checksums: %zu\n", collection.LastId, collection.Checksums.size());
    const TFindSnapshot snapshot(collection);

    const auto query = [](std::optional<uint64_t> sizeMin) {
        TFindConditions conditions;
        conditions.Kinds = TFindKinds::FilesOnly;
        conditions.SizeMin = sizeMin;
        std::string error;
        return *TFindQuery::Make(conditions, error);
    };
    TFindQuery defaultMin = query(kDuplicatesDefaultSizeMin);
    TFindQuery any = query(std::nullopt);
    const TChecksumTable& sums = collection.Checksums;

    Time("duplicates, from 1 M",
         [&](TCopiesFound& found) { return FindDuplicates(snapshot, sums, defaultMin, found); });
    Time("duplicates, every size",
         [&](TCopiesFound& found) { return FindDuplicates(snapshot, sums, any, found); });
    Time("unique, every disc, every size",
         [&](TCopiesFound& found) { return FindUnique(snapshot, sums, any, std::nullopt, found); });
    const uint32_t disc = static_cast<uint32_t>(snapshot.size() / 2);
    Time("unique, one disc, every size", [&](TCopiesFound& found) {
        return FindUnique(snapshot, sums, any, static_cast<uint32_t>(snapshot.DiscOf(disc)), found);
    });
    Time("unique, every disc, from 1 M", [&](TCopiesFound& found) {
        return FindUnique(snapshot, sums, defaultMin, std::nullopt, found);
    });
    return 0;
}
