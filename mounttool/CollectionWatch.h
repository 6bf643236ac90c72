#pragma once

#include "collection/Fendrel.h"
#include "search/NameIndex.h"
#include "search/NameIndexStore.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

// A collection file read for the mount, under the shared lock that keeps a save of Fendrel's from
// being seen half done.
struct TCollectionRead {
    TMapOutcome Outcome = TMapOutcome::OpenFailed;
    int Error = 0;                        // errno, when the file could not be opened or read
    std::unique_ptr<TFendrel> Collection; // what was read, when it could be opened
    bool Damaged = false;                 // damaged or not a collection file: read in part
    TCollectionIdentity Identity;         // the file as it was read
};
[[nodiscard]] TCollectionRead ReadCollection(const std::string& path);

// Follows the mounted collection files on a thread of its own: when another program saves one,
// reads it again, and hands what it read to the mount when it is whole. A file that turns out
// damaged, or cannot be read, keeps the view read before, and this is said on standard error.
// A change is taken once the file has stayed the same for a moment, so that a file written in
// place without the lock is not read half written.
class TCollectionWatch {
public:
    // Takes a file read again whole: its place among the files, what it holds now, the file as
    // it was read.
    using TReloaded = std::function<void(size_t index, std::unique_ptr<TFendrel> collection,
                                         const TCollectionIdentity& identity)>;
    // files: the paths, with the files as they were read for the mount.
    TCollectionWatch(std::vector<std::pair<std::string, TCollectionIdentity>> files,
                     TReloaded reloaded);
    ~TCollectionWatch();
    TCollectionWatch(const TCollectionWatch&) = delete;
    TCollectionWatch& operator=(const TCollectionWatch&) = delete;

    // Whether a file was found damaged or unreadable since the watch began.
    [[nodiscard]] bool Troubled() const { return Troubled_; }

    // How long a changed file must stay unchanged before it is read; how long the watch waits
    // for a change that inotify did not tell (a file on a network share).
    static constexpr std::chrono::milliseconds kSettle{150};
    static constexpr std::chrono::milliseconds kPoll{2000};

private:
    struct TFile {
        std::string Path;
        TCollectionIdentity Shown;               // the file the view was read from
        std::optional<TCollectionIdentity> Seen; // the file when last looked at
        std::chrono::steady_clock::time_point Changed;
        bool Reported = false; // its present trouble has been said
    };
    void Run();
    // Looks at every file; reads again those that changed and have settled.
    void LookAtFiles();
    void Reload(size_t index);

    std::vector<TFile> Files_;
    TReloaded Reloaded_;
    int Inotify_ = -1;
    int Wake_ = -1; // an eventfd that ends the watch
    std::atomic<bool> Troubled_{false};
    std::thread Thread_;
};
