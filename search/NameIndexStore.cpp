#include "search/NameIndexStore.h"

#include "collection/Fendrel.h"
#include "platform/BackgroundWriter.h"
#include "platform/UniqueFd.h"

#define XXH_INLINE_ALL
#include <xxhash.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <mutex>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

TCollectionIdentity IdentityOf(const struct stat& info)
{
    const auto ns = [](const timespec& time) {
        return static_cast<uint64_t>(time.tv_sec) * 1'000'000'000U +
               static_cast<uint64_t>(time.tv_nsec);
    };
    return {static_cast<uint64_t>(info.st_dev), static_cast<uint64_t>(info.st_ino),
            static_cast<uint64_t>(info.st_size), ns(info.st_mtim), ns(info.st_ctim)};
}

// A whole file mapped for reading; nothing for an empty one.
const char* MapWhole(int fd, size_t size)
{
    if (size == 0)
        return nullptr;
    void* data = ::mmap(nullptr, size, PROT_READ, MAP_SHARED, fd, 0);
    return data == MAP_FAILED ? nullptr : static_cast<const char*>(data);
}

bool WriteAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t count = ::write(fd, bytes.data(), bytes.size());
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            return false;
        bytes.remove_prefix(static_cast<size_t>(count));
    }
    return true;
}

} // namespace

TMapOutcome TSharedMapping::Open(const std::string& path, std::chrono::milliseconds wait,
                                 std::unique_ptr<TSharedMapping>& mapping)
{
    using TClock = std::chrono::steady_clock;
    const TClock::time_point deadline = TClock::now() + wait;
    for (;;) {
        // Non-blocking, so that a FIFO given by mistake does not hang the open.
        TUniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
        if (!file)
            return TMapOutcome::OpenFailed;
        struct stat info {};
        if (::fstat(file.Get(), &info) != 0)
            return TMapOutcome::OpenFailed;
        if (!S_ISREG(info.st_mode))
            return TMapOutcome::NotAFile;
        if (::flock(file.Get(), LOCK_SH | LOCK_NB) != 0) {
            if (errno != EWOULDBLOCK)
                return TMapOutcome::ReadFailed;
            if (TClock::now() >= deadline)
                return TMapOutcome::Locked;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            continue;
        }
        // A save renames its new file over the path while it holds the old file's lock; the
        // lock then guards a file that the path no longer names, so the path is opened again.
        struct stat now {};
        if (::stat(path.c_str(), &now) != 0 || now.st_dev != info.st_dev ||
            now.st_ino != info.st_ino) {
            if (TClock::now() >= deadline)
                return TMapOutcome::Locked;
            continue;
        }
        // Taken again under the lock: the state the index must have been made from.
        if (::fstat(file.Get(), &info) != 0)
            return TMapOutcome::ReadFailed;
        if (info.st_size < 0 || static_cast<uint64_t>(info.st_size) > UINT32_MAX)
            return TMapOutcome::TooLarge;
        const auto size = static_cast<size_t>(info.st_size);
        const char* data = MapWhole(file.Get(), size);
        if (size > 0 && !data)
            return TMapOutcome::ReadFailed;
        mapping.reset(new TSharedMapping);
        mapping->Fd_ = file.Release();
        mapping->Data_ = data;
        mapping->Size_ = size;
        mapping->Identity_ = IdentityOf(info);
        return TMapOutcome::Done;
    }
}

TSharedMapping::~TSharedMapping()
{
    if (Data_)
        ::munmap(const_cast<char*>(Data_), Size_);
    if (Fd_ >= 0)
        ::close(Fd_);
}

std::string AbsoluteCollectionPath(const std::string& path)
{
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(path, error);
    return error ? path : absolute.lexically_normal().string();
}

std::optional<std::string> NameIndexFileOf(std::string_view absolutePath)
{
    std::string cache;
    if (const char* xdg = std::getenv("XDG_CACHE_HOME"); xdg && xdg[0] == '/')
        cache = xdg;
    else if (const char* home = std::getenv("HOME"); home && home[0] == '/')
        cache = std::string(home) + "/.cache";
    else
        return std::nullopt;
    // The file's own name for whoever looks into the folder, and the hash of the whole path to
    // tell apart collections of the same name.
    std::string name(std::filesystem::path(absolutePath).filename().string().substr(0, 64));
    std::replace_if(
        name.begin(), name.end(),
        [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == '/'; }, '_');
    char hash[17];
    std::snprintf(
        hash, sizeof hash, "%016llx",
        static_cast<unsigned long long>(XXH3_64bits(absolutePath.data(), absolutePath.size())));
    return cache + "/fendrel/" + name + "-" + hash + ".index";
}

std::unique_ptr<TStoredNameIndex> TStoredNameIndex::Open(std::string_view absolutePath,
                                                         const TSharedMapping& collection)
{
    const std::optional<std::string> file = NameIndexFileOf(absolutePath);
    if (!file)
        return nullptr;
    const TUniqueFd fd(::open(file->c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    struct stat info {};
    if (!fd || ::fstat(fd.Get(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size <= 0)
        return nullptr;
    std::unique_ptr<TStoredNameIndex> stored(new TStoredNameIndex);
    stored->Size_ = static_cast<size_t>(info.st_size);
    stored->Data_ = MapWhole(fd.Get(), stored->Size_);
    if (!stored->Data_)
        return nullptr;
    stored->Index_ = TNameIndex::Open({stored->Data_, stored->Size_}, collection.Text(),
                                      collection.Identity(), absolutePath);
    return stored->Index_ ? std::move(stored) : nullptr;
}

TStoredNameIndex::~TStoredNameIndex()
{
    Index_.reset();
    if (Data_)
        ::munmap(const_cast<char*>(Data_), Size_);
}

bool StoreNameIndex(std::string_view absolutePath, std::string_view text,
                    const TCollectionIdentity& identity, std::unique_ptr<TFendrel> collection)
{
    const std::optional<std::string> file = NameIndexFileOf(absolutePath);
    if (!file)
        return false;
    std::error_code error;
    const std::filesystem::path folder = std::filesystem::path(*file).parent_path();
    std::filesystem::create_directories(folder, error);
    if (error)
        return false;
    ::chmod(folder.c_str(), 0700); // names of the user's files are nobody else's business

    const std::string lockPath = *file + ".lock";
    const TUniqueFd lock(::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOCTTY, 0600));
    if (!lock || ::flock(lock.Get(), LOCK_EX | LOCK_NB) != 0)
        return false; // another process writes it just now

    // Another process may have written it while this one searched.
    {
        const TUniqueFd existing(
            ::open(file->c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
        struct stat info {};
        if (existing && ::fstat(existing.Get(), &info) == 0 && S_ISREG(info.st_mode) &&
            info.st_size > 0) {
            const auto size = static_cast<size_t>(info.st_size);
            if (const char* data = MapWhole(existing.Get(), size)) {
                const bool fits =
                    TNameIndex::Open({data, size}, text, identity, absolutePath) != nullptr;
                ::munmap(const_cast<char*>(data), size);
                if (fits)
                    return true;
            }
        }
    }

    // A temporary file left by a writer that was killed goes now: the lock is this writer's.
    const std::string temporary = *file + ".new";
    ::unlink(temporary.c_str());
    const TUniqueFd out(
        ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0600));
    if (!out)
        return false;
    // The file is written on a thread of its own while the index is made.
    bool written = false;
    {
        TBackgroundWriter writer(
            [&](std::string_view bytes) { return WriteAll(out.Get(), bytes); });
        written = WriteNameIndex(
                      text, *collection, identity, absolutePath,
                      [&](std::string_view bytes) { return writer.Put(bytes); }, 100'000,
                      [&collection] { collection.reset(); }) &&
                  writer.Finish();
    }
    if (!written || ::rename(temporary.c_str(), file->c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

namespace {

// The one thread that refreshes indexes, and what it has still to do. Never destroyed: the
// thread may still be at work while the program ends.
struct TRefresher {
    std::mutex Lock;
    std::vector<std::string> Pending; // cppcheck-suppress unusedStructMember
    bool Running = false;
};

void RefreshNow(const std::string& path)
{
    std::unique_ptr<TSharedMapping> mapping;
    if (TSharedMapping::Open(path, std::chrono::milliseconds(10'000), mapping) != TMapOutcome::Done)
        return;
    auto collection = std::make_unique<TFendrel>();
    size_t readTo = 0;
    if (!collection->LoadFromText(mapping->Text(), readTo))
        return; // a damaged file is searched by fendrel-find itself, never through an index
    (void)StoreNameIndex(AbsoluteCollectionPath(path), mapping->Text(), mapping->Identity(),
                         std::move(collection));
}

} // namespace

void RefreshNameIndexLater(const std::string& path)
{
    // Only an index fendrel-find made is kept up: a collection never searched from a terminal
    // costs no work and no room in the cache.
    const std::optional<std::string> file = NameIndexFileOf(AbsoluteCollectionPath(path));
    struct stat info {};
    if (!file || ::stat(file->c_str(), &info) != 0)
        return;
    static auto* refresher = new TRefresher;
    const std::lock_guard<std::mutex> guard(refresher->Lock);
    if (std::find(refresher->Pending.begin(), refresher->Pending.end(), path) ==
        refresher->Pending.end())
        refresher->Pending.push_back(path);
    if (refresher->Running)
        return;
    refresher->Running = true;
    std::thread([] {
        ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), 19);
        for (;;) {
            std::string next;
            {
                const std::lock_guard<std::mutex> guard(refresher->Lock);
                if (refresher->Pending.empty()) {
                    refresher->Running = false;
                    return;
                }
                next = std::move(refresher->Pending.front());
                refresher->Pending.erase(refresher->Pending.begin());
            }
            try {
                RefreshNow(next);
            } catch (...) { // NOLINT(bugprone-empty-catch): the index is only a shortcut
            }
        }
    }).detach();
}

std::optional<TCollectionIdentity> CollectionIdentityAt(const std::string& path)
{
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return std::nullopt;
    return IdentityOf(info);
}

std::string MapFailureText(TMapOutcome outcome, int error)
{
    switch (outcome) {
    case TMapOutcome::OpenFailed:
        return std::string("не удаётся открыть файл (") + std::strerror(error) + ")";
    case TMapOutcome::NotAFile:
        return "это не файл";
    case TMapOutcome::Locked:
        return "файл занят: Fendrel записывает его слишком долго";
    case TMapOutcome::TooLarge:
        return "файл слишком велик для файла коллекции";
    case TMapOutcome::Done:
    case TMapOutcome::ReadFailed:
        break;
    }
    return std::string("ошибка при чтении файла (") + std::strerror(error) + ")";
}
