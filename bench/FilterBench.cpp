// Times the search filter over the standard collection of about 1.1 million nodes, loaded from
// its collection file: a search that
// hits about a hundred files, re-applying its kept hit list, removing the filter, and a search
// that hits a sixth of all files. The progress line runs on the system clock, as in the window.
#include "bench/BenchSupport.h"

#include "collection/ProgressLine.h"
#include "platform/TickClock.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

size_t CountFiles(TFendrel& collection, const TCollectionBranch& hits)
{
    return static_cast<size_t>(std::count_if(
        hits.begin(), hits.end(), [&](uint32_t id) { return collection.GetNode(id).Is(nfFile); }));
}

} // namespace

int main()
{
    TSystemTickClock clock;
    int shown = 0;
    TProgressLine progress(clock, [&](const std::string&) { ++shown; });
    TFendrel collection(&progress);
    LoadCollectionFile(collection, TBenchCollectionFile().Path());
    std::printf("nodes: %u\n", collection.LastId);

    TCollectionBranch few;
    const double findFew = BestWallSeconds(5, [&] { collection.FindNodes("x-0", few); });
    std::printf("FindNodes \"x-0\": %zu hits (%zu files), %.3f s, progress count %d\n", few.size(),
                CountFiles(collection, few), findFew, collection.ProgressCount);

    const double reapply = BestWallSeconds(5, [&] { collection.ApplyFilter(few); });
    std::printf("ApplyFilter of the kept list: %.3f s\n", reapply);

    const double clear = BestWallSeconds(5, [&] { collection.ApplyFilter({}); });
    std::printf("ApplyFilter of an empty list: %.3f s\n", clear);

    TCollectionBranch many;
    const double findMany = BestWallSeconds(3, [&] { collection.FindNodes("mp3", many); });
    std::printf("FindNodes \"mp3\": %zu hits, %.3f s\n", many.size(), findMany);
    const double reapplyMany = BestWallSeconds(3, [&] { collection.ApplyFilter(many); });
    std::printf("ApplyFilter of that list: %.3f s\n", reapplyMany);

    TCollectionBranch none;
    const double findNone = BestWallSeconds(5, [&] { collection.FindNodes("no such name", none); });
    std::printf("FindNodes without hits: %.3f s (progress shown %d times in all)\n", findNone,
                shown);
    return 0;
}
