// Times the find command's search over a collection of 1.1 million names: the copy it searches
// (made once per change of the collection), then substring, wildcard and regular expression
// patterns with few and with many hits; then fendrel-find over the same collection's file.
#include "bench/BenchSupport.h"

#include "search/FindQuery.h"
#include "search/FindSnapshot.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <vector>

namespace {

// The best of the last runs timed, for their wall-clock time.
TBestRun LastRun;

double BestCpu(int runs, const std::function<void()>& work)
{
    LastRun = BestOfRuns(runs, work);
    return LastRun.Cpu;
}

void Time(const TFindSnapshot& snapshot, const char* pattern, TFindMatch match, int runs)
{
    TFindConditions conditions;
    conditions.Pattern = pattern;
    conditions.Match = match;
    std::string error;
    std::optional<TFindQuery> query = TFindQuery::Make(conditions, error);
    if (!query) {
        std::printf("%s: %s\n", pattern, error.c_str());
        return;
    }
    std::vector<uint32_t> hits;
    const double seconds = BestCpu(runs, [&] {
        hits.clear();
        FindInSnapshot(snapshot, *query, hits);
    });
    static const char* const kinds[] = {"substring", "wildcard", "regex"};
    std::printf("%-9s %-22s %7zu hits  %.3f s (wall %.3f s)\n", kinds[static_cast<int>(match)],
                pattern, hits.size(), seconds, LastRun.Wall);
}

} // namespace

int main()
{
    TFendrel collection;
    TBenchShape shape;
    shape.FilesPerDisc = 1000; // 1000 discs of 1101 nodes
    FillBenchCollection(collection, shape);
    std::printf("nodes: %u\n", collection.LastId);

    std::unique_ptr<TFindSnapshot> snapshot;
    const double copy = BestCpu(3, [&] {
        snapshot.reset();
        snapshot = std::make_unique<TFindSnapshot>(collection);
    });
    std::printf("snapshot of the collection: %.3f s (wall %.3f s)\n", copy, LastRun.Wall);

    Time(*snapshot, "x-0", TFindMatch::Substring, 7);
    Time(*snapshot, "mp3", TFindMatch::Substring, 7);
    Time(*snapshot, "no such name", TFindMatch::Substring, 7);
    Time(*snapshot, "*.mp3", TFindMatch::Wildcard, 7);
    Time(*snapshot, "a*b?c*", TFindMatch::Wildcard, 7);
    Time(*snapshot, "*x-0*", TFindMatch::Wildcard, 7);
    Time(*snapshot, "x-0", TFindMatch::RegularExpression, 3);
    Time(*snapshot, "^a.*b\\d+\\.mp3$", TFindMatch::RegularExpression, 3);

    // The whole run of the program: reading and loading the file, the copy, the search, output.
    const std::string folder = MakeTempFolder("fendrel-find-bench");
    const std::string file = folder + "/big.frl";
    std::ofstream(file, std::ios::binary) << collection.SaveToText();
    for (const char* options : {"x-0", "--glob '*.mp3'"}) {
        double best = 1e9;
        for (int i = 0; i < 3; ++i)
            best = std::min(best, CommandSeconds(std::string(FENDREL_FIND_PROGRAM) + " " + options +
                                                 " " + file + " > /dev/null"));
        std::printf("fendrel-find %-14s %.3f s (wall, whole run)\n", options, best);
    }
    std::filesystem::remove_all(folder);
    return 0;
}
