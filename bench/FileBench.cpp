// Loads the standard collection of about 1.1 million records from its collection file, saves it
// (its whole text made first, then written; and in blocks written as they are made, as the
// window saves) and loads the saved file back, and prints the times and the memory used while
// loading. Each load runs in a fresh process of this program,
// so that its peak memory is its own. With the argument "records" the collection carries the data
// of the extension section on every disc.
#include "bench/BenchSupport.h"
#include "collection/ProgressLine.h"
#include "platform/CollectionFileStore.h"
#include "platform/TickClock.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>
#include <spawn.h>
#include <string>
#include <string_view>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

constexpr int kRounds = 3;

// The progress line as the window has it, with the repaint left out.
struct TQuietProgress {
    TSystemTickClock Clock;
    TProgressLine Line{Clock, [](const std::string&) {
                       }};
};

int LoadOnce(const std::string& path)
{
    TQuietProgress progress;
    TPosixCollectionFileStore store;
    const uint64_t before = CurrentRssBytes();

    TStopwatch readWatch;
    std::string text;
    if (store.ReadWhole(path, text) != TFileOutcome::Done) {
        std::fprintf(stderr, "cannot read %s\n", path.c_str());
        return 1;
    }
    const double readSeconds = readWatch.Seconds();
    const double fileBytes = static_cast<double>(text.size());

    TStopwatch loadWatch;
    TFendrel collection(&progress.Line);
    const bool loaded = collection.LoadFromText(text);
    const double loadSeconds = loadWatch.Seconds();
    const uint64_t peak = PeakRssBytes() - before;
    std::string().swap(text);
    const double collectionBytes = static_cast<double>(CurrentRssBytes() - before);

    std::printf("load: read %.3f s + LoadFromText %.3f s = %.3f s (%s, %u records)\n", readSeconds,
                loadSeconds, readSeconds + loadSeconds, loaded ? "ok" : "FAILED",
                collection.LastId);
    std::printf("      peak %.1f MB = %.2f x (collection %.1f MB + file %.1f MB)\n", peak / 1e6,
                static_cast<double>(peak) / (collectionBytes + fileBytes), collectionBytes / 1e6,
                fileBytes / 1e6);
    return loaded ? 0 : 1;
}

int RunChild(const char* self, const std::string& path)
{
    const char* const argv[] = {self, "load", path.c_str(), nullptr};
    pid_t child = 0;
    if (posix_spawn(&child, "/proc/self/exe", nullptr, nullptr, const_cast<char* const*>(argv),
                    environ) != 0)
        return 1;
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc == 3 && std::strcmp(argv[1], "load") == 0)
        return LoadOnce(argv[2]);

    TQuietProgress progress;
    TBenchShape shape;
    // "records": every disc with a full record and one file of more than 4 GiB, as a collection
    // scanned by this version has.
    shape.DiscRecords = argc == 2 && std::strcmp(argv[1], "records") == 0;
    const TBenchCollectionFile file(shape);
    TFendrel collection(&progress.Line);
    LoadCollectionFile(collection, file.Path());

    double textSeconds = 1e9;
    std::string text;
    for (int round = 0; round < kRounds; ++round) {
        std::string().swap(text); // each round builds its text from nothing, as a save does
        TStopwatch watch;
        text = collection.SaveToText();
        textSeconds = std::min(textSeconds, watch.Seconds());
    }

    char folder[] = "/tmp/fendrel-bench-XXXXXX";
    if (!mkdtemp(folder))
        return 1;
    const std::string path = std::string(folder) + "/bench.frl";
    TPosixCollectionFileStore store;
    // As the window saves: compared with the file as the last save left it, which it still is.
    std::optional<TFileIdentity> seen;
    double writeSeconds = 1e9;
    for (int round = 0; round < kRounds; ++round) {
        TStopwatch watch;
        const TReplaceResult result = store.Replace(path, TReplaceRequest{text, seen, nullptr});
        if (result.Outcome != TFileOutcome::Done || result.Merged) {
            std::fprintf(stderr, "cannot write %s\n", path.c_str());
            return 1;
        }
        seen = result.Identity;
        writeSeconds = std::min(writeSeconds, watch.Seconds());
    }
    std::printf("records: %u, file: %.1f MB\n", collection.LastId, text.size() / 1e6);
    std::printf("save: SaveToText %.3f s + write and flush to disk %.3f s = %.3f s (best of %d)\n",
                textSeconds, writeSeconds, textSeconds + writeSeconds, kRounds);
    std::string().swap(text);

    // As the window saves: the text goes to the file in blocks as it is made.
    double blocksSeconds = 1e9;
    for (int round = 0; round < kRounds; ++round) {
        TStopwatch watch;
        if (!collection.SaveInBlocks([](std::string_view) { return true; }))
            return 1;
        blocksSeconds = std::min(blocksSeconds, watch.Seconds());
    }
    double streamedSeconds = 1e9;
    for (int round = 0; round < kRounds; ++round) {
        TReplaceRequest request{{}, seen, nullptr};
        request.Produce = [&](const TBlockSink& sink) {
            return collection.SaveInBlocks(sink);
        };
        TStopwatch watch;
        const TReplaceResult result = store.Replace(path, request);
        if (result.Outcome != TFileOutcome::Done || result.Merged) {
            std::fprintf(stderr, "cannot write %s\n", path.c_str());
            return 1;
        }
        seen = result.Identity;
        streamedSeconds = std::min(streamedSeconds, watch.Seconds());
    }
    std::printf("save in blocks: making the text %.3f s; made, written and flushed %.3f s "
                "(best of %d)\n",
                blocksSeconds, streamedSeconds, kRounds);

    std::fflush(stdout);

    int failed = 0;
    for (int round = 0; round < kRounds; ++round)
        failed |= RunChild(argv[0], path);
    unlink(path.c_str());
    rmdir(folder);
    return failed;
}
