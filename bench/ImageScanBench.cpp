// Scans ISO 9660 images of 50,000 files made here with xorriso, as an image added as a disc is
// scanned, and compares the time with xorriso listing the same image with sizes and times
// (`-find / -exec lsdl`). Two images: Joliet with Rock Ridge (the scan reads the Joliet names),
// and Rock Ridge alone. Prints the figures; fails when a scan takes more than 1.5 times as long
// as xorriso, or misses entries.

#include "bench/BenchSupport.h"
#include "platform/Drives.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>
#include <unistd.h>

namespace {

constexpr int kTopFolders = 500;
constexpr int kSubfolders = 10;
constexpr int kFilesPerSubfolder = 10; // 50,000 files in 5,500 folders
constexpr int kRounds = 5;

std::string Name(std::mt19937& random, int serial)
{
    // Latin and Cyrillic (UTF-8) names of 5 to 25 characters, unique within their folder; short
    // enough that every path fits the Joliet tree.
    static const char* const pieces[] = {"a", "b", "k", "z", "0", "7",
                                         "_", " ", "Ж", "я", "ё", "Д"};
    std::uniform_int_distribution<int> length(3, 22);
    std::uniform_int_distribution<int> piece(0, std::size(pieces) - 1);
    std::string name = std::to_string(serial) + "-";
    for (int i = length(random); i > 0; --i)
        name += pieces[piece(random)];
    return name;
}

int MakeTree(const std::string& root)
{
    std::mt19937 random(2024);
    std::uniform_int_distribution<uint32_t> size(0, 4'000'000);
    int entries = 0;
    for (int top = 0; top < kTopFolders; ++top) {
        const std::string folder = root + "/" + Name(random, top);
        std::filesystem::create_directory(folder);
        ++entries;
        for (int sub = 0; sub < kSubfolders; ++sub) {
            const std::string subfolder = folder + "/" + Name(random, sub);
            std::filesystem::create_directory(subfolder);
            ++entries;
            for (int file = 0; file < kFilesPerSubfolder; ++file) {
                const std::string path = subfolder + "/" + Name(random, file) + ".dat";
                const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
                if (fd < 0 || ::ftruncate(fd, size(random)) != 0) // sparse
                    throw std::runtime_error("cannot make " + path);
                ::close(fd);
                ++entries;
            }
        }
    }
    return entries;
}

// Only the image's first 64 MiB are kept: they hold all its directories, the files' contents
// follow them, and neither the scan nor xorriso's listing reads those.
void MakeImage(const std::string& source, const std::string& image, const std::string& options)
{
    const std::string command = "LC_ALL=C.UTF-8 xorriso -outdev - " + options + " -map '" + source +
                                "' / 2>/dev/null | head -c 67108864 > '" + image + "'";
    if (std::system(command.c_str()) != 0)
        throw std::runtime_error("xorriso could not write " + image);
}

double XorrisoSeconds(const std::string& image)
{
    const std::string command =
        "LC_ALL=C.UTF-8 xorriso -indev '" + image + "' -find / -exec lsdl >/dev/null 2>&1";
    TStopwatch watch;
    if (std::system(command.c_str()) != 0)
        throw std::runtime_error("xorriso could not list " + image);
    return watch.Seconds();
}

double ScanSeconds(const std::string& image, int32_t& count)
{
    TStopwatch watch;
    TDriveTable drives;
    TFendrel collection;
    const std::unique_ptr<IVolume> volume = drives.OpenImage(image);
    if (!volume)
        throw std::runtime_error("the image cannot be read");
    count = collection.ScanDisc("bench", *volume);
    return watch.Seconds();
}

// Prints the figures of one image; true when they are within bounds.
bool Measure(const char* what, const std::string& image, int entries)
{
    XorrisoSeconds(image); // both then read a warm cache
    double xorriso = 1e9, scan = 1e9;
    int32_t count = 0;
    for (int round = 0; round < kRounds; ++round) {
        xorriso = std::min(xorriso, XorrisoSeconds(image));
        scan = std::min(scan, ScanSeconds(image, count));
    }
    std::printf("%s: %d entries scanned of %d; scan %.3f s, xorriso %.3f s (best of %d), "
                "ratio %.2f (at most 1.50)\n",
                what, count, entries, scan, xorriso, kRounds, scan / xorriso);
    return count == entries && scan <= 1.5 * xorriso;
}

} // namespace

int main()
{
    std::string root = (std::filesystem::temp_directory_path() / "fendrel-image-XXXXXX").string();
    if (!::mkdtemp(root.data())) {
        std::perror("mkdtemp");
        return 1;
    }
    bool within = false;
    try {
        std::filesystem::create_directory(root + "/tree");
        const int entries = MakeTree(root + "/tree");
        MakeImage(root + "/tree", root + "/joliet.iso", "-joliet on -rockridge on");
        MakeImage(root + "/tree", root + "/rockridge.iso", "-joliet off -rockridge on");
        std::filesystem::remove_all(root + "/tree");
        within = Measure("Joliet and Rock Ridge", root + "/joliet.iso", entries);
        within = Measure("Rock Ridge alone", root + "/rockridge.iso", entries) && within;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
    }
    std::filesystem::remove_all(root);
    return within ? 0 : 1;
}
