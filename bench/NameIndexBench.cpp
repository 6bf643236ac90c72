// fendrel-find with and without its name index, over a generated collection file of 1.1 million
// records (or 11 million with "--big"): loading the file, making the index and its size, then
// whole runs of the program (start to exit) for a selective query, one that hits many names,
// and a wildcard and a regular expression. A program given with --before=PATH (fendrel-find as
// it was before the index) is timed over the same queries; --program=PATH times another build.
#include "bench/BenchSupport.h"

#include "find/FindSnapshot.h"
#include "find/NameIndexStore.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

// The processor time (user and system) of a shell command, which the load of a shared machine
// disturbs far less than its wall-clock time.
double CommandCpuSeconds(const std::string& command)
{
    const pid_t child = ::fork();
    if (child == 0) {
        ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    int status = 0;
    rusage usage{};
    if (child < 0 || ::wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) ||
        WEXITSTATUS(status) > 1)
        throw std::runtime_error("failed: " + command);
    const auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) * 1e-6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double BestCommand(const std::string& command, int runs)
{
    double best = 1e9;
    for (int i = 0; i < runs; ++i)
        best = std::min(best, CommandCpuSeconds(command));
    return best;
}

size_t CountLines(const std::string& command)
{
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe)
        return 0;
    size_t lines = 0;
    for (int c = 0; (c = std::fgetc(pipe)) != EOF;)
        lines += c == '\n';
    ::pclose(pipe);
    return lines;
}

} // namespace

int main(int argc, char** argv)
{
    bool big = false;
    std::string before;
    std::string program = FENDREL_FIND_PROGRAM;
    std::string copyTo; // keeps a copy of the collection file for a profiler, and stops
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--big") == 0)
            big = true;
        else if (std::strncmp(argv[i], "--before=", 9) == 0)
            before = argv[i] + 9;
        else if (std::strncmp(argv[i], "--program=", 10) == 0)
            program = argv[i] + 10;
        else if (std::strncmp(argv[i], "--copy-to=", 10) == 0)
            copyTo = argv[i] + 10;
    }
    TBenchShape shape;
    shape.FilesPerDisc = 1000;
    shape.Discs = big ? 10000 : 1000;
    const int runs = big ? 3 : 5;
    const TBenchCollectionFile file(shape);
    if (!copyTo.empty()) {
        std::filesystem::copy_file(file.Path(), copyTo,
                                   std::filesystem::copy_options::overwrite_existing);
        return 0;
    }
    const std::string cache = MakeTempFolder("fendrel-index-cache");
    ::setenv("XDG_CACHE_HOME", cache.c_str(), 1);
    std::printf("records: %u, file: %.0f MB\n", file.Records(),
                static_cast<double>(std::filesystem::file_size(file.Path())) / 1e6);

    double load = 1e9;
    double build = 1e9;
    double snapshotTime = 1e9;
    for (int i = 0; i < (big ? 2 : 3); ++i) {
        std::unique_ptr<TSharedMapping> mapping;
        if (TSharedMapping::Open(file.Path(), std::chrono::seconds(10), mapping) !=
            TMapOutcome::Done)
            return 1;
        double start = ProcessCpuSeconds();
        auto collection = std::make_unique<TFendrel>();
        if (!collection->LoadFromText(mapping->Text()))
            return 1;
        load = std::min(load, ProcessCpuSeconds() - start);
        start = ProcessCpuSeconds();
        const TFindSnapshot snapshot(*collection);
        snapshotTime = std::min(snapshotTime, ProcessCpuSeconds() - start);
        std::filesystem::remove_all(cache + "/fendrel");
        if (!StoreNameIndex(AbsoluteCollectionPath(file.Path()), mapping->Text(),
                            mapping->Identity(), snapshot))
            return 1;
        build = std::min(build, ProcessCpuSeconds() - start);
    }
    uintmax_t indexSize = 0;
    for (const auto& entry : std::filesystem::directory_iterator(cache + "/fendrel"))
        if (entry.path().extension() == ".index")
            indexSize = entry.file_size();
    std::printf("processor time, best of several runs:\n");
    std::printf("load %.3f s, index built (snapshot and file) %.3f s = %.2f x load\n", load, build,
                build / load);
    std::printf("of which the snapshot (which a search without the index makes too) %.3f s\n",
                snapshotTime);
    std::printf("index %.1f MB, %.1f bytes a record\n", static_cast<double>(indexSize) / 1e6,
                static_cast<double>(indexSize) / file.Records());

    // The search itself, without the start of a process (its libraries take about 10 ms).
    for (const char* pattern : {"x-0q", "x-0", "mp3"}) {
        double best = 1e9;
        size_t hits = 0;
        for (int i = 0; i < runs; ++i) {
            const double start = ProcessCpuSeconds();
            std::unique_ptr<TSharedMapping> mapping;
            if (TSharedMapping::Open(file.Path(), std::chrono::seconds(10), mapping) !=
                TMapOutcome::Done)
                return 1;
            const auto stored =
                TStoredNameIndex::Open(AbsoluteCollectionPath(file.Path()), *mapping);
            if (!stored)
                return 1;
            TFindConditions conditions;
            conditions.Pattern = pattern;
            std::string error;
            std::optional<TFindQuery> query = TFindQuery::Make(conditions, error);
            std::vector<uint32_t> found;
            stored->Index().Find(*query, found);
            hits = found.size();
            best = std::min(best, ProcessCpuSeconds() - start);
        }
        std::printf("%-24s %8zu hits: open and search in process %.4f s\n", pattern, hits, best);
    }

    const std::vector<std::string> queries = {
        "x-0q", "x-0", "mp3", "--glob '*x-0*.mp3'", "--regex 'x-0.*mp3$'", "--regex '^(ab|cd)'"};
    for (const std::string& query : queries) {
        const std::string args = " " + query + " " + file.Path() + " > /dev/null";
        const size_t hits = CountLines(program + " " + query + " " + file.Path());
        std::printf("%-24s %8zu hits: indexed %.3f s", query.c_str(), hits,
                    BestCommand(program + args, runs));
        if (!before.empty())
            std::printf(", before %.3f s", BestCommand(before + args, big ? 1 : 3));
        std::printf(" (whole run)\n");
        std::fflush(stdout);
    }
    std::filesystem::remove_all(cache);
    return 0;
}
