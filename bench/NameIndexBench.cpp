// fendrel-find with and without its name index, over a generated collection file of 1.1 million
// records (or 11 million with "--big"): loading the file, making the index and its size, then
// whole runs of the program (start to exit) for a selective query, one that hits many names,
// and a wildcard and a regular expression. A program given with --before=PATH (fendrel-find as
// it was before the index) is timed over the same queries; --program=PATH times another build.
// --file=PATH measures an existing collection file instead of a generated one (it is only read);
// --build-only stops after loading and making the index; --builds=N loads and builds N times,
// takes the best of them (a shared machine's load varies from one second to the next) and stops.
#include "bench/BenchSupport.h"

#include "search/NameIndex.h"
#include "search/NameIndexStore.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

// The time by the clock and the processor time (user and system) of a shell command: the
// processor's is disturbed far less by the load of a shared machine, the clock's shows what two
// threads save.
struct TCommandTime {
    double Wall = 1e9;
    double Cpu = 1e9;
};

TCommandTime CommandTime(const std::string& command)
{
    const auto start = std::chrono::steady_clock::now();
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
    return {std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
            seconds(usage.ru_utime) + seconds(usage.ru_stime)};
}

// Keeps the best of each measure.
void Keep(TCommandTime& best, const TCommandTime& time)
{
    best.Wall = std::min(best.Wall, time.Wall);
    best.Cpu = std::min(best.Cpu, time.Cpu);
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
    std::string given;
    bool buildOnly = false;
    int builds = 0; // 0: as many as the size of the collection allows
    bool explicitBuilds = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--big") == 0)
            big = true;
        else if (std::strncmp(argv[i], "--before=", 9) == 0)
            before = argv[i] + 9;
        else if (std::strncmp(argv[i], "--program=", 10) == 0)
            program = argv[i] + 10;
        else if (std::strncmp(argv[i], "--copy-to=", 10) == 0)
            copyTo = argv[i] + 10;
        else if (std::strncmp(argv[i], "--file=", 7) == 0)
            given = argv[i] + 7;
        else if (std::strcmp(argv[i], "--build-only") == 0)
            buildOnly = true;
        else if (std::strncmp(argv[i], "--builds=", 9) == 0) {
            builds = std::atoi(argv[i] + 9);
            explicitBuilds = true;
        }
    }
    TBenchShape shape;
    shape.FilesPerDisc = 1000;
    shape.Discs = big ? 10000 : 1000;
    const int runs = big ? 3 : 5;
    std::optional<TBenchCollectionFile> generated;
    if (given.empty())
        generated.emplace(shape);
    const std::string path = given.empty() ? generated->Path() : given;
    if (!copyTo.empty()) {
        std::filesystem::copy_file(path, copyTo, std::filesystem::copy_options::overwrite_existing);
        return 0;
    }
    const std::string cache = MakeTempFolder("fendrel-index-cache");
    ::setenv("XDG_CACHE_HOME", cache.c_str(), 1);

    // Processor and clock time: a build on two threads takes less by the clock only.
    TBestRun load;
    TBestRun build;
    size_t records = 0;
    const auto keepBest = [](TBestRun& best, const TStopwatch& watch) {
        best.Cpu = std::min(best.Cpu, watch.CpuSeconds());
        best.Wall = std::min(best.Wall, watch.Seconds());
    };
    if (builds <= 0)
        builds = big ? 2 : 3;
    // Each load and build in a process of its own, as each fendrel-find run is: a load in a
    // process that has just freed a collection's memory takes it back, which fresh memory costs
    // more than that on some machines, and the build would be measured with the memory of the
    // build before it.
    for (int i = 0; i < builds; ++i) {
        std::filesystem::remove_all(cache + "/fendrel");
        int channel[2];
        if (::pipe(channel) != 0)
            return 1;
        const pid_t child = ::fork();
        if (child < 0)
            return 1;
        if (child == 0) {
            ::close(channel[0]);
            std::unique_ptr<TSharedMapping> mapping;
            if (TSharedMapping::Open(path, std::chrono::seconds(10), mapping) != TMapOutcome::Done)
                ::_exit(1);
            const TStopwatch loading;
            auto collection = std::make_unique<TFendrel>();
            if (!collection->LoadFromText(mapping->Text()))
                ::_exit(1);
            const std::array<double, 5> loaded = {loading.CpuSeconds(), loading.Seconds(),
                                                  static_cast<double>(collection->Nodes.size())};
            const TStopwatch building;
            if (!StoreNameIndex(AbsoluteCollectionPath(path), mapping->Text(), mapping->Identity(),
                                std::move(collection)))
                ::_exit(1);
            std::array<double, 5> figures = loaded;
            figures[3] = building.CpuSeconds();
            figures[4] = building.Seconds();
            const bool sent = ::write(channel[1], figures.data(), sizeof figures) ==
                              static_cast<ssize_t>(sizeof figures);
            ::_exit(sent ? 0 : 1);
        }
        ::close(channel[1]);
        std::array<double, 5> figures{};
        const bool received = ::read(channel[0], figures.data(), sizeof figures) ==
                              static_cast<ssize_t>(sizeof figures);
        ::close(channel[0]);
        int status = 0;
        ::waitpid(child, &status, 0);
        if (!received || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
            return 1;
        load.Cpu = std::min(load.Cpu, figures[0]);
        load.Wall = std::min(load.Wall, figures[1]);
        records = static_cast<size_t>(figures[2]);
        build.Cpu = std::min(build.Cpu, figures[3]);
        build.Wall = std::min(build.Wall, figures[4]);
    }
    uintmax_t indexSize = 0;
    for (const auto& entry : std::filesystem::directory_iterator(cache + "/fendrel"))
        if (entry.path().extension() == ".index")
            indexSize = entry.file_size();
    std::printf("discs, folders and files: %zu, file: %.0f MB\n", records,
                static_cast<double>(std::filesystem::file_size(path)) / 1e6);
    std::printf("best of several runs, processor time / by the clock:\n");
    std::printf("load %.3f / %.3f s, index built and written %.3f / %.3f s = %.2f / "
                "%.2f x load\n",
                load.Cpu, load.Wall, build.Cpu, build.Wall, build.Cpu / load.Cpu,
                build.Wall / load.Wall);
    std::printf("index %.1f MB, %.1f bytes a name\n", static_cast<double>(indexSize) / 1e6,
                static_cast<double>(indexSize) / static_cast<double>(records));
    std::fflush(stdout);

    if (explicitBuilds)
        return 0;
    // Making the index alone, from a loaded collection into memory, on one thread and on two.
    {
        std::unique_ptr<TSharedMapping> mapping;
        if (TSharedMapping::Open(path, std::chrono::seconds(10), mapping) != TMapOutcome::Done)
            return 1;
        TFendrel collection;
        if (!collection.LoadFromText(mapping->Text()))
            return 1;
        for (const uint64_t entriesForTwoThreads : {uint64_t{UINT64_MAX}, uint64_t{0}}) {
            TBestRun best;
            for (int i = 0; i < (big ? 3 : 7); ++i) {
                const TStopwatch watch;
                if (!WriteNameIndex(
                        mapping->Text(), collection, mapping->Identity(), path,
                        [](std::string_view) { return true; }, entriesForTwoThreads))
                    return 1;
                keepBest(best, watch);
            }
            std::printf("index alone, %s: %.3f / %.3f s\n",
                        entriesForTwoThreads == 0 ? "two threads" : "one thread", best.Cpu,
                        best.Wall);
            std::fflush(stdout);
        }
    }
    if (buildOnly) {
        std::filesystem::remove_all(cache);
        return 0;
    }

    // The search itself, without the start of a process (its libraries take about 10 ms).
    for (const char* pattern : {"x-0q", "x-0", "mp3"}) {
        double best = 1e9;
        size_t hits = 0;
        for (int i = 0; i < runs; ++i) {
            const double start = ProcessCpuSeconds();
            std::unique_ptr<TSharedMapping> mapping;
            if (TSharedMapping::Open(path, std::chrono::seconds(10), mapping) != TMapOutcome::Done)
                return 1;
            const auto stored = TStoredNameIndex::Open(AbsoluteCollectionPath(path), *mapping);
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
        const std::string args = " " + query + " " + path + " > /dev/null";
        const size_t hits = CountLines(program + " " + query + " " + path);
        // The two programs in turn, so that both meet the same moments of the machine's load.
        TCommandTime indexed;
        TCommandTime then;
        for (int i = 0; i < runs; ++i) {
            Keep(indexed, CommandTime(program + args));
            if (!before.empty())
                Keep(then, CommandTime(before + args));
        }
        std::printf("%-24s %8zu hits: indexed %.3f s (%.3f)", query.c_str(), hits, indexed.Wall,
                    indexed.Cpu);
        if (!before.empty())
            std::printf(", before %.3f s (%.3f)", then.Wall, then.Cpu);
        std::printf(" (whole run, by the clock and in processor seconds)\n");
        std::fflush(stdout);
    }
    std::filesystem::remove_all(cache);
    return 0;
}
