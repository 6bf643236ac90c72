// Times fendrel-mount over a collection of 1.1 million records: a whole listing of the mount
// with find against fendrel-find printing every record of the same file (and the listing once
// more, which the kernel answers mostly from what it kept), the mount's memory
// against the collection's memory in a process that only loads it, and stat of single files
// once their folders are listed. Each listing is the first after a fresh mount, when every
// entry comes from fendrel-mount rather than the kernel's caches. Skipped where the machine
// has no FUSE.
#include "bench/BenchSupport.h"

#include "discs/Drives.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <signal.h>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using namespace std::chrono_literals;

bool Mounted(const std::string& folder)
{
    char real[PATH_MAX];
    return ::realpath(folder.c_str(), real) && MountedDeviceAt(real, ReadMountInfo());
}

uint64_t StatusBytes(pid_t process, const char* field)
{
    std::ifstream status("/proc/" + std::to_string(process) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with(field))
            return std::stoull(line.substr(std::string_view(field).size())) * 1024;
    }
    return 0;
}

// fendrel-mount running over the file, mounted at folder until destroyed.
class TMountProcess {
public:
    TMountProcess(const std::string& file, const std::string& folder)
        : Folder_(folder)
    {
        std::string program = FENDREL_MOUNT_PROGRAM;
        std::string fileArgument = file;
        std::string folderArgument = folder;
        char* argv[] = {program.data(), fileArgument.data(), folderArgument.data(), nullptr};
        if (posix_spawn(&Pid_, argv[0], nullptr, nullptr, argv, environ) != 0)
            throw std::runtime_error("cannot start fendrel-mount");
        for (int waited = 0; !Mounted(folder); waited += 10) {
            if (waited > 60'000)
                throw std::runtime_error("fendrel-mount did not mount");
            std::this_thread::sleep_for(10ms);
        }
    }
    ~TMountProcess()
    {
        ::kill(Pid_, SIGTERM);
        int status = 0;
        ::waitpid(Pid_, &status, 0);
        if (Mounted(Folder_))
            (void)std::system(("fusermount3 -u -z '" + Folder_ + "'").c_str());
    }
    [[nodiscard]] pid_t Pid() const { return Pid_; }

private:
    std::string Folder_;
    pid_t Pid_ = 0;
};

} // namespace

int main(int argc, char** argv)
{
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    if (::access("/dev/fuse", F_OK) != 0 ||
        std::system("command -v fusermount3 >/dev/null 2>&1") != 0) {
        std::printf("skipped: this machine has no /dev/fuse or no fusermount3\n");
        return 0;
    }
    const TBenchCollectionFile file;
    std::printf("records: %u\n", file.Records());

    // The collection's memory, as a process that only loads the file keeps it.
    double collectionBytes = 0;
    {
        const double before = static_cast<double>(CurrentRssBytes());
        TFendrel collection;
        LoadCollectionFile(collection, file.Path());
        collectionBytes = static_cast<double>(CurrentRssBytes()) - before;
    }
    const std::string find =
        std::string(FENDREL_FIND_PROGRAM) + " --glob '*' '" + file.Path() + "' > /dev/null";
    (void)CommandSeconds(find); // the first run makes the name index it answers from later
    const std::string folder = MakeTempFolder("fendrel-mount-bench");
    const std::string listing = "find '" + folder + "' -printf '%s %T@ %p\\n' > /dev/null";

    double bestFind = 1e9;
    double bestList = 1e9;
    double bestWarm = 1e9;
    double mountBytes = 0;
    double mountPeak = 0;
    double statMicroseconds = 1e9;
    for (int run = 0; run < runs; ++run) {
        // Alternately, so that both meet the same load of the machine.
        bestFind = std::min(bestFind, CommandSeconds(find));
        const TMountProcess mount(file.Path(), folder);
        bestList = std::min(bestList, CommandSeconds(listing));
        bestWarm = std::min(bestWarm, CommandSeconds(listing));
        mountBytes = std::max(mountBytes, static_cast<double>(StatusBytes(mount.Pid(), "VmRSS:")));
        mountPeak = std::max(mountPeak, static_cast<double>(StatusBytes(mount.Pid(), "VmHWM:")));

        // Files of the folders listed, in an order of their own.
        std::vector<std::string> files;
        for (const auto& disc : std::filesystem::directory_iterator(folder)) {
            for (const auto& entry : std::filesystem::directory_iterator(disc.path())) {
                if (entry.is_regular_file())
                    files.push_back(entry.path().string());
            }
            if (files.size() > 20'000)
                break;
        }
        std::shuffle(files.begin(), files.end(), std::mt19937(run));
        const TStopwatch watch;
        for (const std::string& path : files) {
            struct stat status {};
            if (::stat(path.c_str(), &status) != 0)
                throw std::runtime_error("stat failed: " + path);
        }
        statMicroseconds =
            std::min(statMicroseconds, watch.Seconds() * 1e6 / static_cast<double>(files.size()));
    }
    std::filesystem::remove(folder);

    const double ratio = bestList / bestFind;
    const double memory = mountBytes / collectionBytes;
    std::printf("fendrel-find --glob '*', every record: %.2f s (best of %d)\n", bestFind, runs);
    std::printf("find over a fresh mount, every record: %.2f s (best of %d): %.2f times "
                "(target at most 4)\n",
                bestList, runs, ratio);
    std::printf("find over the mount again, the kernel's caches warm: %.2f s (best of %d): %.2f "
                "times\n",
                bestWarm, runs, bestWarm / bestFind);
    std::printf("memory: the collection %.1f MiB, the mount %.1f MiB (peak %.1f MiB): %.2f times "
                "(target at most 1.5)\n",
                collectionBytes / (1 << 20), mountBytes / (1 << 20), mountPeak / (1 << 20), memory);
    std::printf("stat of one file after its folder's listing: %.1f us (target under 1000 us)\n",
                statMicroseconds);
    return 0;
}
