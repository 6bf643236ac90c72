// Scans chains of nested folders 1,000, 10,000 and 50,000 levels deep, made here on local disk,
// as a mounted disc is scanned, and compares the time with find listing the same chain with sizes
// and times. Prints the figures; fails when the time per level at the greatest depth is more
// than three times that at the smallest (the scan must stay linear in depth), or when a scan
// misses a level. Depths may be given as arguments instead.

#include "bench/BenchSupport.h"
#include "discs/Drives.h"
#include "platform/UniqueFd.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

constexpr int kRounds = 3;

// depth folders, each named "level" and holding the next, and one file at the bottom.
void MakeChain(const std::string& root, int depth)
{
    TUniqueFd folder(::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    for (int level = 0; level < depth && folder; ++level) {
        if (::mkdirat(folder.Get(), "level", 0755) != 0)
            throw std::runtime_error("cannot make level " + std::to_string(level));
        folder.Reset(::openat(folder.Get(), "level", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    }
    if (!folder)
        throw std::runtime_error("cannot open the chain");
    TUniqueFd(::openat(folder.Get(), "bottom", O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
}

struct TFigures {
    int Depth;
    double Scan, Find;
};

TFigures Measure(int depth)
{
    const std::string root = MakeTempFolder("fendrel-deep");
    MakeChain(root, depth);
    const std::string find = "find '" + root + "' -printf '%s %T@ %p\\n' > /dev/null";
    CommandSeconds(find); // both then read a warm cache
    TFigures figures{depth, 1e9, 1e9};
    int32_t count = 0;
    for (int round = 0; round < kRounds; ++round) {
        figures.Find = std::min(figures.Find, CommandSeconds(find));
        figures.Scan = std::min(figures.Scan,
                                ScanSeconds({TDriveSource::TKind::Folder, root, "BENCH"}, count));
    }
    // rm walks a chain deeper than any path may name; std::filesystem cannot.
    CommandSeconds("rm -rf '" + root + "'");
    if (count != depth + 1)
        throw std::runtime_error(std::to_string(depth) + " levels: " + std::to_string(count) +
                                 " entries scanned");
    std::printf("%6d levels: scan %.3f s (%.2f us a level), find %.3f s (best of %d)\n", depth,
                figures.Scan, 1e6 * figures.Scan / depth, figures.Find, kRounds);
    std::fflush(stdout);
    return figures;
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<int> depths;
    for (int i = 1; i < argc; ++i)
        depths.push_back(std::atoi(argv[i]));
    if (depths.empty())
        depths = {1000, 10000, 50000};
    std::sort(depths.begin(), depths.end());
    try {
        std::vector<TFigures> figures;
        for (const int depth : depths)
            figures.push_back(Measure(depth));
        const double first = figures.front().Scan / figures.front().Depth;
        const double last = figures.back().Scan / figures.back().Depth;
        std::printf("time a level grows %.2f times from %d to %d levels (at most 3.00)\n",
                    last / first, figures.front().Depth, figures.back().Depth);
        return last <= 3 * first ? 0 : 1;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
}
