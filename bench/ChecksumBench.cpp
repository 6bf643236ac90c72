// Reads every file of a 4 GiB ISO 9660 image made here with xorriso and gives each its checksum,
// as adding a disc with checksums does, and compares the time with `cat IMAGE > /dev/null` over
// the same image, both from a warm cache. Prints the figures; fails when the checksums take more
// than 1.15 times as long as cat, or a file is not read whole.

#include "bench/BenchSupport.h"
#include "discs/Drives.h"
#include "discs/FileContents.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

constexpr int kRounds = 7;
constexpr int kFiles = 4;
constexpr size_t kFileSize = size_t{1} << 30;

// A file of kFileSize bytes that do not repeat within a read block.
void WriteSource(const std::string& path, uint32_t seed)
{
    std::vector<char> block(size_t{4} << 20);
    std::mt19937_64 random(seed);
    for (size_t i = 0; i < block.size(); i += 8) {
        const uint64_t value = random();
        std::copy_n(reinterpret_cast<const char*>(&value), 8, block.data() + i);
    }
    std::ofstream out(path, std::ios::binary);
    for (size_t written = 0; written < kFileSize; written += block.size()) {
        block[0] = static_cast<char>(written >> 22); // each block a little different
        out.write(block.data(), static_cast<std::streamsize>(block.size()));
    }
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

// Seconds to read every file's bytes and checksum; false in read when a file is not read whole.
double ChecksumSeconds(IVolume& volume, const std::vector<TFileToRead>& files, bool& read)
{
    std::vector<TFileReading> results;
    TReadingProgress progress;
    const TStopwatch watch;
    read = ReadFileContents(volume, files, results, progress) &&
           std::ranges::all_of(results, [](const TFileReading& result) {
               return result.Outcome == TFileReading::TOutcome::Read;
           });
    return watch.Seconds();
}

} // namespace

int main()
{
    bool within = false;
    std::string root;
    try {
        root = MakeTempFolder("fendrel-checksum");
        std::filesystem::create_directory(root + "/tree");
        for (int i = 0; i < kFiles; ++i)
            WriteSource(root + "/tree/part" + std::to_string(i) + ".bin", 77 + i);
        const std::string image = root + "/disc.iso";
        CommandSeconds("LC_ALL=C.UTF-8 xorriso -outdev '" + image +
                       "' -joliet on -rockridge on -map '" + root + "/tree' / >/dev/null 2>&1");
        std::filesystem::remove_all(root + "/tree");

        TDriveTable drives;
        const std::unique_ptr<IVolume> volume = drives.OpenImage(image);
        if (!volume)
            throw std::runtime_error("the image cannot be read");
        TFendrel collection;
        std::vector<TFileToRead> files;
        (void)collection.ScanDisc("disc", *volume, &files);

        const std::string cat = "cat '" + image + "' > /dev/null";
        (void)CommandSeconds(cat); // both then read a warm cache
        double catSeconds = 1e9, checksumSeconds = 1e9;
        bool read = true;
        for (int round = 0; round < kRounds; ++round) {
            catSeconds = std::min(catSeconds, CommandSeconds(cat));
            bool whole = false;
            checksumSeconds = std::min(checksumSeconds, ChecksumSeconds(*volume, files, whole));
            read = read && whole;
        }
        const double gib = static_cast<double>(std::filesystem::file_size(image)) / (1 << 30);
        std::printf("checksums of %zu files (%.2f GiB image): %.3f s (%.2f GiB/s), cat %.3f s "
                    "(%.2f GiB/s), best of %d; ratio %.2f (at most 1.15)%s\n",
                    files.size(), gib, checksumSeconds, gib / checksumSeconds, catSeconds,
                    gib / catSeconds, kRounds, checksumSeconds / catSeconds,
                    read ? "" : "; a file was not read whole");
        within = read && files.size() == kFiles && checksumSeconds <= 1.15 * catSeconds;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
    }
    if (!root.empty())
        std::filesystem::remove_all(root);
    return within ? 0 : 1;
}
