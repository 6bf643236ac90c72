// Scans a folder tree of 100,000 entries made here on local disk, as a mounted disc is scanned,
// and compares the time with find listing the same tree with sizes and times. Prints both; fails
// when the scan takes more than 1.5 times as long as find.

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
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kTopFolders = 1000;
constexpr int kSubfolders = 9;
constexpr int kFilesPerSubfolder = 10; // 1,000 x (1 + 9 + 90) = 100,000 entries
constexpr int kRounds = 5;

std::string Name(std::mt19937& random, int serial)
{
    // Latin and Cyrillic (UTF-8) names of 5 to 40 characters, unique within their folder.
    static const char* const pieces[] = {"a", "b", "k", "z", "0", "7",
                                         "_", " ", "Ж", "я", "ё", "Д"};
    std::uniform_int_distribution<int> length(4, 38);
    std::uniform_int_distribution<int> piece(0, std::size(pieces) - 1);
    std::string name = std::to_string(serial);
    for (int i = length(random); i > 0; --i)
        name += pieces[piece(random)];
    return name;
}

void MakeFile(const std::string& path, uint32_t size)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || ::ftruncate(fd, size) != 0)
        throw std::runtime_error("cannot make " + path);
    ::close(fd);
}

int MakeTree(const std::string& root)
{
    std::mt19937 random(2024);
    std::uniform_int_distribution<uint32_t> size(0, 1'000'000);
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
                MakeFile(subfolder + "/" + Name(random, file) + ".dat", size(random));
                ++entries;
            }
        }
    }
    return entries;
}

double FindSeconds(const std::string& root)
{
    const std::string command = "find '" + root + "' -printf '%s %T@ %p\\n' > /dev/null";
    TStopwatch watch;
    if (std::system(command.c_str()) != 0)
        throw std::runtime_error("find failed");
    return watch.Seconds();
}

double ScanSeconds(const std::string& root, int32_t& count)
{
    TStopwatch watch;
    TDriveTable drives;
    drives.Add('D', {TDriveSource::TKind::Folder, root, "BENCH"});
    TFendrel collection;
    const std::unique_ptr<IVolume> volume = drives.OpenVolume('D');
    count = collection.ScanDisc("bench", *volume);
    return watch.Seconds();
}

} // namespace

int main()
{
    std::string root = (std::filesystem::temp_directory_path() / "fendrel-scan-XXXXXX").string();
    if (!::mkdtemp(root.data())) {
        std::perror("mkdtemp");
        return 1;
    }
    const int entries = MakeTree(root);
    FindSeconds(root); // both then read a warm cache

    double find = 1e9, scan = 1e9;
    int32_t count = 0;
    for (int round = 0; round < kRounds; ++round) {
        find = std::min(find, FindSeconds(root));
        scan = std::min(scan, ScanSeconds(root, count));
    }
    std::filesystem::remove_all(root);

    std::printf("entries: %d made, %d scanned\n", entries, count);
    std::printf("scan: %.3f s, find: %.3f s (best of %d), ratio %.2f (at most 1.50)\n", scan, find,
                kRounds, scan / find);
    return count == entries && scan <= 1.5 * find ? 0 : 1;
}
