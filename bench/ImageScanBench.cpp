// Scans ISO 9660 images of 50,000 files made here with xorriso, as an image added as a disc is
// scanned, and compares the time with xorriso listing the same image with sizes and times
// (`-find / -exec lsdl`). Two images: Joliet with Rock Ridge (the scan reads the Rock Ridge
// names, as it does whenever a disc has them), and Rock Ridge alone. Prints the figures; fails
// when a scan takes more than 1.5 times as long as xorriso, or misses entries.

#include "bench/BenchSupport.h"
#include "discs/Drives.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string>

namespace {

constexpr int kRounds = 5;

// 50,000 files in 5,500 folders, with names short enough that every path fits the Joliet tree.
const TFolderTreeShape kShape{500, 10, 10, 3, 22, "-", 4'000'000};

// Only the image's first 64 MiB are kept: they hold all its directories, the files' contents
// follow them, and neither the scan nor xorriso's listing reads those.
void MakeImage(const std::string& source, const std::string& image, const std::string& options)
{
    CommandSeconds("LC_ALL=C.UTF-8 xorriso -outdev - " + options + " -map '" + source +
                   "' / 2>/dev/null | head -c 67108864 > '" + image + "'");
}

double XorrisoSeconds(const std::string& image)
{
    return CommandSeconds("LC_ALL=C.UTF-8 xorriso -indev '" + image +
                          "' -find / -exec lsdl >/dev/null 2>&1");
}

// Prints the figures of one image; true when they are within bounds.
bool Measure(const char* what, const std::string& image, int entries)
{
    XorrisoSeconds(image); // both then read a warm cache
    double xorriso = 1e9, scan = 1e9;
    int32_t count = 0;
    for (int round = 0; round < kRounds; ++round) {
        xorriso = std::min(xorriso, XorrisoSeconds(image));
        scan = std::min(scan, ScanSeconds({TDriveSource::TKind::Image, image, {}}, count));
    }
    std::printf("%s: %d entries scanned of %d; scan %.3f s, xorriso %.3f s (best of %d), "
                "ratio %.2f (at most 1.50)\n",
                what, count, entries, scan, xorriso, kRounds, scan / xorriso);
    return count == entries && scan <= 1.5 * xorriso;
}

} // namespace

int main()
{
    bool within = false;
    std::string root;
    try {
        root = MakeTempFolder("fendrel-image");
        std::filesystem::create_directory(root + "/tree");
        const int entries = MakeFolderTree(root + "/tree", kShape);
        MakeImage(root + "/tree", root + "/joliet.iso", "-joliet on -rockridge on");
        MakeImage(root + "/tree", root + "/rockridge.iso", "-joliet off -rockridge on");
        std::filesystem::remove_all(root + "/tree");
        within = Measure("Joliet and Rock Ridge", root + "/joliet.iso", entries);
        within = Measure("Rock Ridge alone", root + "/rockridge.iso", entries) && within;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
    }
    if (!root.empty())
        std::filesystem::remove_all(root);
    return within ? 0 : 1;
}
