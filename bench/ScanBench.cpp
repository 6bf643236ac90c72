// Scans a folder tree of 100,000 entries made here on local disk, as a mounted disc is scanned,
// and compares the time with find listing the same tree with sizes and times. Prints both; fails
// when the scan takes more than 1.5 times as long as find.

#include "bench/BenchSupport.h"
#include "discs/Drives.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>

namespace {

constexpr int kRounds = 5;

// 1,000 x (1 + 9 + 90) = 100,000 entries.
const TFolderTreeShape kShape{1000, 9, 10, 4, 38, "", 1'000'000};

double FindSeconds(const std::string& root)
{
    return CommandSeconds("find '" + root + "' -printf '%s %T@ %p\\n' > /dev/null");
}

} // namespace

int main()
{
    const std::string root = MakeTempFolder("fendrel-scan");
    const int entries = MakeFolderTree(root, kShape);
    FindSeconds(root); // both then read a warm cache

    double find = 1e9, scan = 1e9;
    int32_t count = 0;
    for (int round = 0; round < kRounds; ++round) {
        find = std::min(find, FindSeconds(root));
        scan = std::min(scan, ScanSeconds({TDriveSource::TKind::Folder, root, "BENCH"}, count));
    }
    std::filesystem::remove_all(root);

    std::printf("entries: %d made, %d scanned\n", entries, count);
    std::printf("scan: %.3f s, find: %.3f s (best of %d), ratio %.2f (at most 1.50)\n", scan, find,
                kRounds, scan / find);
    return count == entries && scan <= 1.5 * find ? 0 : 1;
}
