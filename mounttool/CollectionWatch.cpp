#include "mounttool/CollectionWatch.h"

#include "platform/UniqueFd.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <poll.h>
#include <set>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A save of a big collection takes a few seconds at most; that long is worth waiting for.
constexpr std::chrono::milliseconds kLockWait{3000};

void Say(const std::string& message)
{
    std::fprintf(stderr, "fendrel-mount: %s\n", message.c_str());
}

} // namespace

TCollectionRead ReadCollection(const std::string& path)
{
    TCollectionRead read;
    std::unique_ptr<TSharedMapping> file;
    read.Outcome = TSharedMapping::Open(path, kLockWait, file);
    read.Error = errno;
    if (read.Outcome != TMapOutcome::Done)
        return read;
    read.Identity = file->Identity();
    read.Collection = std::make_unique<TFendrel>();
    read.Damaged = !read.Collection->LoadFromText(file->Text());
    return read;
}

TCollectionWatch::TCollectionWatch(std::vector<std::pair<std::string, TCollectionIdentity>> files,
                                   TReloaded reloaded)
    : Reloaded_(std::move(reloaded))
{
    for (auto& [path, identity] : files)
        Files_.push_back({path, identity, identity, {}, false});
    Inotify_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    Wake_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (Inotify_ >= 0) {
        // A save renames a new file over the old one, so the folder is watched, not the file.
        std::set<std::string> folders;
        for (const TFile& file : Files_) {
            std::error_code error;
            const std::filesystem::path absolute = std::filesystem::absolute(file.Path, error);
            folders.insert(absolute.parent_path().string());
        }
        for (const std::string& folder : folders)
            (void)::inotify_add_watch(Inotify_, folder.c_str(),
                                      IN_CLOSE_WRITE | IN_MOVED_TO | IN_CREATE | IN_DELETE |
                                          IN_MOVED_FROM | IN_ATTRIB | IN_MODIFY);
    }
    Thread_ = std::thread([this] { Run(); });
}

TCollectionWatch::~TCollectionWatch()
{
    const uint64_t one = 1;
    if (Wake_ >= 0)
        (void)!::write(Wake_, &one, sizeof one);
    if (Thread_.joinable())
        Thread_.join();
    if (Inotify_ >= 0)
        ::close(Inotify_);
    if (Wake_ >= 0)
        ::close(Wake_);
}

void TCollectionWatch::Run()
{
    for (;;) {
        // While a change settles the files are looked at again soon; otherwise when inotify
        // tells of a change in their folders, or after the poll's time.
        bool settling = false;
        for (const TFile& file : Files_)
            settling |= file.Seen && !(*file.Seen == file.Shown) && !file.Reported;
        pollfd waits[2] = {{Wake_, POLLIN, 0}, {Inotify_, POLLIN, 0}};
        const auto timeout = settling ? kSettle : kPoll;
        const int ready = ::poll(waits, Inotify_ >= 0 ? 2 : 1, static_cast<int>(timeout.count()));
        if (ready < 0 && errno != EINTR)
            return;
        if (waits[0].revents != 0)
            return;
        if (waits[1].revents != 0) {
            char events[4096];
            while (::read(Inotify_, events, sizeof events) > 0) {
            }
        }
        LookAtFiles();
    }
}

void TCollectionWatch::LookAtFiles()
{
    const auto now = std::chrono::steady_clock::now();
    for (size_t i = 0; i < Files_.size(); ++i) {
        TFile& file = Files_[i];
        const std::optional<TCollectionIdentity> seen = CollectionIdentityAt(file.Path);
        if (seen != file.Seen) {
            file.Seen = seen;
            file.Changed = now;
            file.Reported = false;
            continue;
        }
        if (!seen) {
            if (!file.Reported) {
                file.Reported = true;
                Troubled_ = true;
                Say(file.Path + ": файл коллекции недоступен (" + std::strerror(errno) +
                    "); показана коллекция, какой она была прочитана раньше");
            }
            continue;
        }
        if (*seen == file.Shown || file.Reported || now - file.Changed < kSettle)
            continue;
        Reload(i);
    }
}

void TCollectionWatch::Reload(size_t index)
{
    TFile& file = Files_[index];
    TCollectionRead read = ReadCollection(file.Path);
    if (read.Outcome != TMapOutcome::Done) {
        file.Reported = true;
        Troubled_ = true;
        Say(file.Path + ": " + MapFailureText(read.Outcome, read.Error) +
            "; показана коллекция, какой она была прочитана раньше");
        return;
    }
    if (read.Damaged) {
        file.Reported = true;
        Troubled_ = true;
        Say(file.Path + ": файл коллекции поврежден или имеет неверный формат; показана "
                        "коллекция, какой она была прочитана раньше");
        return;
    }
    file.Shown = read.Identity;
    file.Seen = read.Identity;
    Reloaded_(index, std::move(read.Collection), read.Identity);
}
