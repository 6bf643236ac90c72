// Scans UDF images of 50,000 files, as an image added as a disc is scanned, against floors:
//  - a UDF bridge that genisoimage writes (UDF 1.02 beside ISO 9660), against 7-Zip listing the
//    same image (`7zz l`), which reads the same descriptors, entries and directories;
//  - a UDF 2.50 image like a Blu-ray (entries and directories in a metadata partition) that the
//    tests' builder writes, against reading the image's bytes (`cat`), which is all a scan could
//    cost if it did nothing but read.
// Prints the figures; fails when a scan takes more than 1.5 times as long as 7-Zip or 4 times as
// long as reading the bytes, or misses entries.

#include "bench/BenchSupport.h"
#include "discs/Drives.h"
#include "support/UdfImageBuilder.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string>

namespace {

constexpr int kRounds = 5;

// 50,000 files in 5,500 folders.
const TFolderTreeShape kShape{500, 10, 10, 3, 22, "-", 4'000'000};

// The bridge's first 256 MiB hold all its entries and directories; the files' contents follow,
// and neither the scan nor 7-Zip's listing reads them.
void MakeBridge(const std::string& source, const std::string& image)
{
    CommandSeconds("genisoimage -quiet -input-charset utf-8 -udf -o - '" + source +
                   "' 2>/dev/null | head -c 268435456 > '" + image + "'");
}

// The same tree, read back from the folder, written by the builder.
void MakeBluray(const std::string& source, const std::string& image)
{
    std::vector<TTreeEntry> tree;
    for (auto e = std::filesystem::recursive_directory_iterator(source);
         e != std::filesystem::recursive_directory_iterator(); ++e) {
        const std::string path = std::filesystem::relative(e->path(), source).string();
        if (e->is_directory())
            tree.push_back(FolderEntry(path, 1600000000));
        else
            tree.push_back(FileEntry(path, 1600000000, e->file_size()));
    }
    TUdfImageOptions options;
    options.Metadata = true;
    WriteFile(image, MakeUdfImage(tree, options).Bytes);
}

// Prints the figures of one image against its floor; true when they are within bounds.
bool Measure(const char* what, const std::string& image, int entries, const char* floorName,
             const std::string& floorCommand, double bound)
{
    CommandSeconds(floorCommand); // both then read a warm cache
    double floor = 1e9, scan = 1e9;
    int32_t count = 0;
    for (int round = 0; round < kRounds; ++round) {
        floor = std::min(floor, CommandSeconds(floorCommand));
        scan = std::min(scan, ScanSeconds({TDriveSource::TKind::Image, image, {}}, count));
    }
    std::printf("%s: %d entries scanned of %d; scan %.3f s, %s %.3f s (best of %d), "
                "ratio %.2f (at most %.2f)\n",
                what, count, entries, scan, floorName, floor, kRounds, scan / floor, bound);
    return count == entries && scan <= bound * floor;
}

} // namespace

int main()
{
    bool within = false;
    std::string root;
    try {
        root = MakeTempFolder("fendrel-udf");
        std::filesystem::create_directory(root + "/tree");
        const int entries = MakeFolderTree(root + "/tree", kShape);
        MakeBridge(root + "/tree", root + "/bridge.iso");
        MakeBluray(root + "/tree", root + "/bluray.udf");
        std::filesystem::remove_all(root + "/tree");
        // 7-Zip reports the cut-off contents as an error after listing everything.
        within = Measure("UDF 1.02 bridge (genisoimage)", root + "/bridge.iso", entries, "7zz l",
                         "7zz l '" + root + "/bridge.iso' >/dev/null 2>&1 || true", 1.5);
        within = Measure("UDF 2.50 metadata partition", root + "/bluray.udf", entries, "cat",
                         "cat '" + root + "/bluray.udf' >/dev/null", 4.0) &&
                 within;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
    }
    if (!root.empty())
        std::filesystem::remove_all(root);
    return within ? 0 : 1;
}
