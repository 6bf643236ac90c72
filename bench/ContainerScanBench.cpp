// Scans an image of 50,000 files made here with xorriso twice in the same run: as its .iso and as
// a .bin of raw 2352-byte mode 1 sectors with its .cue, the same disc in the most common container.
// Prints both times; fails when the .bin takes more than 1.2 times as long as the .iso, or when
// either scan misses entries.

#include "bench/BenchSupport.h"
#include "discs/Drives.h"
#include "support/RawSectors.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

namespace {

constexpr int kRounds = 5;

// The shape of the ISO 9660 image benchmark: 50,000 files in 5,500 folders.
const TFolderTreeShape kShape{500, 10, 10, 3, 22, "-", 4'000'000};

// The image as raw sectors, written a megabyte at a time.
void WriteBin(const std::string& iso, const std::string& bin)
{
    std::ifstream in(iso, std::ios::binary);
    std::ofstream out(bin, std::ios::binary | std::ios::trunc);
    std::string blocks(1 << 20, '\0');
    uint32_t first = 0;
    while (in.read(blocks.data(), static_cast<std::streamsize>(blocks.size())) || in.gcount() > 0) {
        std::string read = blocks.substr(0, static_cast<size_t>(in.gcount()));
        read.resize((read.size() + 2047) / 2048 * 2048, '\0');
        out << RawSectors(read, first, TRawMode::Mode1);
        first += static_cast<uint32_t>(read.size() / 2048);
    }
}

} // namespace

int main()
{
    bool within = false;
    std::string root;
    try {
        root = MakeTempFolder("fendrel-container");
        std::filesystem::create_directory(root + "/tree");
        const int entries = MakeFolderTree(root + "/tree", kShape);
        // The first 64 MiB hold every directory; the files' contents, which no scan reads, follow.
        CommandSeconds("LC_ALL=C.UTF-8 xorriso -outdev - -joliet on -rockridge on -map '" + root +
                       "/tree' / 2>/dev/null | head -c 67108864 > '" + root + "/disc.iso'");
        std::filesystem::remove_all(root + "/tree");
        WriteBin(root + "/disc.iso", root + "/disc.bin");
        std::ofstream(root + "/disc.cue")
            << "FILE \"disc.bin\" BINARY\n  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\n";

        const TDriveSource iso{TDriveSource::TKind::Image, root + "/disc.iso", {}};
        const TDriveSource cue{TDriveSource::TKind::Image, root + "/disc.cue", {}};
        int32_t isoCount = 0, cueCount = 0;
        (void)ScanSeconds(iso, isoCount); // both then read a warm cache
        (void)ScanSeconds(cue, cueCount);
        double isoSeconds = 1e9, cueSeconds = 1e9;
        for (int round = 0; round < kRounds; ++round) {
            isoSeconds = std::min(isoSeconds, ScanSeconds(iso, isoCount));
            cueSeconds = std::min(cueSeconds, ScanSeconds(cue, cueCount));
        }
        std::printf(
            "%d entries: .iso %d scanned in %.3f s, .bin/.cue %d scanned in %.3f s (best of "
            "%d), ratio %.2f (at most 1.20)\n",
            entries, isoCount, isoSeconds, cueCount, cueSeconds, kRounds, cueSeconds / isoSeconds);
        within = isoCount == entries && cueCount == entries && cueSeconds <= 1.2 * isoSeconds;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
    }
    if (!root.empty())
        std::filesystem::remove_all(root);
    return within ? 0 : 1;
}
