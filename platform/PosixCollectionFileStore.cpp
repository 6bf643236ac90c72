#include "platform/CollectionFileStore.h"

#include "platform/BackgroundWriter.h"
#include "platform/LargeBuffer.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <string_view>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

// An open file descriptor, closed when it goes out of scope (which also drops its flock).
class TFileDescriptor {
public:
    explicit TFileDescriptor(int fd = -1)
        : Fd_(fd)
    {
    }
    TFileDescriptor(TFileDescriptor&& other) noexcept
        : Fd_(std::exchange(other.Fd_, -1))
    {
    }
    TFileDescriptor& operator=(TFileDescriptor&& other) noexcept
    {
        if (this != &other) {
            Close();
            Fd_ = std::exchange(other.Fd_, -1);
        }
        return *this;
    }
    TFileDescriptor(const TFileDescriptor&) = delete;
    TFileDescriptor& operator=(const TFileDescriptor&) = delete;
    ~TFileDescriptor() { Close(); }

    [[nodiscard]] int Get() const { return Fd_; }
    [[nodiscard]] bool IsOpen() const { return Fd_ >= 0; }
    // The descriptor, no longer closed by this object.
    [[nodiscard]] int Release() { return std::exchange(Fd_, -1); }

private:
    void Close()
    {
        if (Fd_ >= 0)
            ::close(Fd_);
        Fd_ = -1;
    }

    int Fd_;
};

// Closes the file on a thread of its own. The last close of a file that a rename has replaced
// frees it: its blocks and its pages in memory, a third of a second for a file of half a
// gigabyte, which the user would otherwise wait for at the end of every save.
void CloseLater(TFileDescriptor file)
{
    try {
        std::thread([fd = file.Get()] { ::close(fd); }).detach();
        (void)file.Release();
    } catch (const std::system_error&) {
        // No thread to spare: closed here, when file goes.
    }
}

// A temporary file that is removed again unless it was kept.
class TTemporaryFile {
public:
    // pattern ends in XXXXXX; the file is created with mode 0600.
    explicit TTemporaryFile(std::string pattern)
        : Path_(std::move(pattern))
        , File_(::mkostemp(Path_.data(), O_CLOEXEC))
        , Error_(File_.IsOpen() ? 0 : errno)
    {
    }
    TTemporaryFile(const TTemporaryFile&) = delete;
    TTemporaryFile& operator=(const TTemporaryFile&) = delete;
    TTemporaryFile(TTemporaryFile&&) = delete;
    TTemporaryFile& operator=(TTemporaryFile&&) = delete;
    ~TTemporaryFile()
    {
        if (File_.IsOpen() && !Kept_)
            ::unlink(Path_.c_str());
    }

    [[nodiscard]] int Get() const { return File_.Get(); }
    [[nodiscard]] bool IsOpen() const { return File_.IsOpen(); }
    // Why the file could not be made.
    [[nodiscard]] int Error() const { return Error_; }
    [[nodiscard]] const std::string& Path() const { return Path_; }
    void Keep() { Kept_ = true; }

private:
    std::string Path_;
    TFileDescriptor File_;
    int Error_;
    bool Kept_ = false;
};

// Takes the lock of kind (LOCK_SH or LOCK_EX) on file, waiting for another holder until
// deadline. False (with errno) when it was not released in time or the lock failed otherwise.
bool LockBefore(int file, int kind, std::chrono::steady_clock::time_point deadline)
{
    for (;;) {
        if (::flock(file, kind | LOCK_NB) == 0)
            return true;
        if (errno != EWOULDBLOCK || std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

// Opens a plain file (creating it when missing, never truncating it) and locks it, waiting for
// another Fendrel or fendrel-find that holds it until deadline. A FIFO or device would block or
// misbehave, so anything else is refused; the open itself does not wait for a FIFO's other end.
// When another writer has renamed a new file over path between the open and the lock, the lock
// guards a file that is no longer there, so the path is opened again. lock: LOCK_SH to read,
// which other readers share, LOCK_EX to write. created, when given, tells whether this call made
// the file.
TFileDescriptor OpenLocked(const std::string& path, int access, int lock,
                           std::chrono::steady_clock::time_point deadline, struct stat& info,
                           bool* created = nullptr)
{
    const int flags = access | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
    for (int attempt = 0; attempt < 20; ++attempt) {
        TFileDescriptor file(::open(path.c_str(), flags | O_EXCL, 0666));
        const bool made = file.IsOpen();
        if (!made && errno == EEXIST)
            file = TFileDescriptor(::open(path.c_str(), flags, 0666));
        // The file is looked at only once it is locked, so that what info says of it cannot
        // change before the lock is released.
        if (!file.IsOpen() || !LockBefore(file.Get(), lock, deadline) ||
            ::fstat(file.Get(), &info) != 0 || !S_ISREG(info.st_mode))
            return TFileDescriptor();
        struct stat now {};
        if (::stat(path.c_str(), &now) == 0 && now.st_dev == info.st_dev &&
            now.st_ino == info.st_ino) {
            if (created)
                *created = made;
            return file;
        }
    }
    return TFileDescriptor();
}

// Flushes a folder's entries, so that a rename inside it survives a power cut.
void SyncFolder(const std::string& folder)
{
    const TFileDescriptor handle(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (handle.IsOpen())
        ::fsync(handle.Get());
}

void IgnoreFailure(int) {}

TFileIdentity IdentityOf(const struct stat& info)
{
    return {info.st_dev, info.st_ino, info.st_size,
            static_cast<int64_t>(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec};
}

// A temporary file older than this was not made by a save of this run. The coarse clock is the
// one the kernel stamps files with: a file made after this moment never has an earlier time.
const timespec kProcessStart = [] {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME_COARSE, &now);
    return now;
}();

// Where the text of a collection file lives: the path itself, or the file that a symbolic link
// at its end leads to, so that the link keeps pointing at the collection.
struct TTarget {
    std::string Path;
    std::string Folder; // with its closing "/"; empty for the current folder
    std::string Name;
    bool ThroughLink = false;
};

std::optional<TTarget> TargetOf(const std::string& path)
{
    TTarget target;
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0)
        return std::nullopt;
    target.ThroughLink = S_ISLNK(info.st_mode);
    if (target.ThroughLink) {
        const std::unique_ptr<char, decltype(&std::free)> resolved(
            ::realpath(path.c_str(), nullptr), &std::free);
        if (!resolved)
            return std::nullopt;
        target.Path = resolved.get();
    } else {
        target.Path = path;
    }
    const size_t slash = target.Path.rfind('/');
    target.Folder = slash == std::string::npos ? std::string() : target.Path.substr(0, slash + 1);
    target.Name = target.Path.substr(slash == std::string::npos ? 0 : slash + 1);
    return target;
}

// Temporary files are hidden, named as no user names a file, and short enough for the file
// system even beside a very long name: "." NAME ".fendrel-save-" and six letters or digits.
constexpr std::string_view kTemporaryMark = ".fendrel-save-";

std::string TemporaryPrefix(const TTarget& target)
{
    std::string prefix(1, '.');
    prefix.append(target.Name, 0, 200).append(kTemporaryMark);
    return prefix;
}

bool IsTemporaryName(std::string_view name, std::string_view prefix)
{
    return name.size() == prefix.size() + 6 && name.starts_with(prefix) &&
           std::all_of(name.end() - 6, name.end(),
                       [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; });
}

// Whether the file holds what a save writes, as far as it got: nothing, or the start of a
// collection file.
bool HoldsACollectionStart(int fd, off_t size)
{
    const size_t wanted = std::min(static_cast<size_t>(size), kCollectionFileHeader.size());
    std::string start(wanted, '\0');
    size_t done = 0;
    while (done < wanted) {
        const ssize_t count =
            ::pread(fd, start.data() + done, wanted - done, static_cast<off_t>(done));
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            return false;
        done += static_cast<size_t>(count);
    }
    return kCollectionFileHeader.starts_with(start);
}

bool Before(const timespec& a, const timespec& b)
{
    return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec < b.tv_nsec);
}

} // namespace

TFileOutcome TPosixCollectionFileStore::ReadWhole(const std::string& path, std::string& text,
                                                  TFileIdentity& identity)
{
    struct stat info {};
    const TFileDescriptor file = OpenLocked(path, O_RDONLY, LOCK_SH, Deadline(), info);
    if (!file.IsOpen())
        return TFileOutcome::OpenFailed;
    // The length of a collection file is a 32-bit count of bytes.
    if (info.st_size < 0 || static_cast<uint64_t>(info.st_size) > UINT32_MAX)
        return TFileOutcome::ReadFailed;
    std::string buffer;
    ReserveLarge(buffer, static_cast<size_t>(info.st_size));
    buffer.resize(static_cast<size_t>(info.st_size));
    size_t done = 0;
    while (done < buffer.size()) {
        const ssize_t count = ReadSome(file.Get(), buffer.data() + done, buffer.size() - done);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0) // an error, or the file has become shorter
            return TFileOutcome::ReadFailed;
        done += static_cast<size_t>(count);
    }
    text = std::move(buffer);
    identity = IdentityOf(info);
    return TFileOutcome::Done;
}

namespace {

// Whether every page of the mapping is in memory, as MAP_POPULATE leaves them when it could read
// them all.
bool AllPagesResident(void* data, size_t size)
{
    const auto page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
    std::vector<unsigned char> resident((size + page - 1) / page);
    if (::mincore(data, size, resident.data()) != 0)
        return false;
    return std::all_of(resident.begin(), resident.end(),
                       [](unsigned char flags) { return (flags & 1) != 0; });
}

} // namespace

TFileOutcome TPosixCollectionFileStore::ReadInPlace(const std::string& path,
                                                    const TTextReader& read,
                                                    TFileIdentity& identity)
{
    struct stat info {};
    const TFileDescriptor file = OpenLocked(path, O_RDONLY, LOCK_SH, Deadline(), info);
    if (!file.IsOpen())
        return TFileOutcome::OpenFailed;
    if (info.st_size < 0 || static_cast<uint64_t>(info.st_size) > UINT32_MAX)
        return TFileOutcome::ReadFailed;
    const auto size = static_cast<size_t>(info.st_size);
    if (size == 0) {
        identity = IdentityOf(info);
        read({});
        return TFileOutcome::Done;
    }
    // The lock is held until read returns, so no Fendrel or fendrel-find changes the file under
    // the mapping: a save waits for it.
    void* data = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, file.Get(), 0);
    if (data == MAP_FAILED) {
        std::string text;
        if (!ReadFromStart(file.Get(), size, text))
            return TFileOutcome::ReadFailed;
        identity = IdentityOf(info);
        read(text);
        return TFileOutcome::Done;
    }
    const std::unique_ptr<void, std::function<void(void*)>> mapping(
        data, [size](void* mapped) { ::munmap(mapped, size); });
    // A page the mapping could not bring in (a read error of the disk, a stick pulled out) would
    // stop the program with SIGBUS when touched: unless every page is in, the file is read the
    // ordinary way, where such an error is a message.
    if (!AllPagesResident(data, size)) {
        std::string text;
        if (!ReadFromStart(file.Get(), size, text))
            return TFileOutcome::ReadFailed;
        identity = IdentityOf(info);
        read(text);
        return TFileOutcome::Done;
    }
    (void)::madvise(data, size, MADV_SEQUENTIAL);
    identity = IdentityOf(info);
    read(std::string_view(static_cast<const char*>(data), size));
    return TFileOutcome::Done;
}

TReplaceResult TPosixCollectionFileStore::Replace(const std::string& path,
                                                  const TReplaceRequest& request)
{
    TReplaceResult result;
    struct stat info {};
    // Read access too: the file may have to be compared, merged or copied.
    bool created = false;
    TFileDescriptor locked = OpenLocked(path, O_RDWR, LOCK_EX, Deadline(), info, &created);
    if (!locked.IsOpen())
        return result;
    const std::optional<TTarget> target = TargetOf(path);
    if (!target)
        return result;
    const auto size = static_cast<uint64_t>(info.st_size);

    // A link may lead anywhere; only a collection file (or an empty one) is replaced through it.
    if (target->ThroughLink && size > 0) {
        std::string start;
        if (!ReadFromStart(locked.Get(), std::min<uint64_t>(size, kCollectionFileHeader.size()),
                           start)) {
            result.Outcome = TFileOutcome::ReadFailed;
            return result;
        }
        if (!start.starts_with(kCollectionFileHeader)) {
            result.Outcome = TFileOutcome::NotACollection;
            return result;
        }
    }

    // A file that has vanished (the open made it anew) or been emptied holds nothing to keep.
    const bool empty = size == 0;
    const bool asExpected = !request.Expected || IdentityOf(info) == *request.Expected;
    std::string_view text = request.Text;
    std::string merged;
    if (!asExpected && !empty && request.Merge) {
        std::string current;
        if (size > UINT32_MAX || !ReadFromStart(locked.Get(), size, current)) {
            result.Outcome = TFileOutcome::ReadFailed;
            return result;
        }
        std::optional<std::string> replacement = request.Merge(current);
        if (!replacement) {
            result.Outcome = TFileOutcome::NotACollection;
            return result;
        }
        merged = std::move(*replacement);
        text = merged;
        result.Merged = true;
    }
    // The content still to be made; a merge has given its own.
    const auto* produce = request.Produce && !result.Merged ? &request.Produce : nullptr;

    if (request.KeepOriginal && asExpected && !empty &&
        !KeepCopy(locked.Get(), size, info.st_mode, target->Path, result.KeptCopy)) {
        result.Outcome = TFileOutcome::WriteFailed;
        return result;
    }

    bool replaced = false; // the file locked has been replaced by another under its name
    const auto write = [&]() -> TFileOutcome {
        TTemporaryFile temporary(target->Folder + TemporaryPrefix(*target) + "XXXXXX");
        if (!temporary.IsOpen()) {
            // A folder that refuses new files may still hold a file that can be written. Its
            // text is made whole first: nothing may be written into the file before all of it is
            // known.
            if (temporary.Error() != EACCES && temporary.Error() != EPERM)
                return TFileOutcome::WriteFailed;
            std::string whole;
            if (produce) {
                if (!(*produce)([&whole](std::string_view block) {
                        whole.append(block);
                        return true;
                    }))
                    return TFileOutcome::WriteFailed;
                text = whole;
            }
            return WriteInPlace(locked.Get(), text, result.Identity);
        }
        // Held until the rename, so that another Fendrel opening the collection sees the file
        // live.
        IgnoreFailure(::flock(temporary.Get(), LOCK_EX | LOCK_NB));

        // Only root may give a file to another owner; everyone else keeps at least the
        // permissions.
        if (info.st_uid != ::geteuid() || info.st_gid != ::getegid())
            IgnoreFailure(::fchown(temporary.Get(), info.st_uid, info.st_gid));
        struct stat written {};
        // A full disc may show only at the flush, when the delayed blocks are allocated.
        if (::fchmod(temporary.Get(), info.st_mode & 07777) != 0 ||
            !(produce ? WriteProduced(temporary.Get(), *produce)
                      : WriteAll(temporary.Get(), text)) ||
            !FlushWhile(temporary.Get(), request.WhileSyncing) ||
            ::fstat(temporary.Get(), &written) != 0 ||
            ::rename(temporary.Path().c_str(), target->Path.c_str()) != 0)
            return TFileOutcome::WriteFailed;
        temporary.Keep();
        replaced = true;
        SyncFolder(target->Folder.empty() ? "." : target->Folder);
        result.Identity = IdentityOf(written);
        return TFileOutcome::Done;
    };

    try {
        result.Outcome = write();
    } catch (...) {
        // The temporary file has gone with its object; the copy and a file this call made go too.
        if (!result.KeptCopy.empty())
            ::unlink(result.KeptCopy.c_str());
        if (created)
            ::unlink(path.c_str());
        throw;
    }
    if (result.Outcome != TFileOutcome::Done && !result.KeptCopy.empty()) {
        ::unlink(result.KeptCopy.c_str());
        result.KeptCopy.clear();
    }
    if (replaced)
        CloseLater(std::move(locked));
    return result;
}

void TPosixCollectionFileStore::RemoveStaleTemporaries(const std::string& path)
{
    const std::optional<TTarget> target = TargetOf(path);
    if (!target)
        return;
    const std::string prefix = TemporaryPrefix(*target);
    const int folderFd = ::open(target->Folder.empty() ? "." : target->Folder.c_str(),
                                O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd < 0)
        return;
    struct TCloseFolder {
        void operator()(DIR* folder) const { ::closedir(folder); }
    };
    const std::unique_ptr<DIR, TCloseFolder> folder(::fdopendir(folderFd));
    if (!folder) {
        ::close(folderFd);
        return;
    }
    while (const dirent* entry = ::readdir(folder.get())) {
        const char* name = entry->d_name;
        struct stat info {};
        if (!IsTemporaryName(name, prefix) ||
            ::fstatat(folderFd, name, &info, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(info.st_mode) ||
            info.st_uid != ::geteuid() || !Before(info.st_mtim, kProcessStart))
            continue;
        // A save that is still writing holds its temporary file locked. What holds anything but
        // the start of a collection file was not written by a save, whatever its name.
        const TFileDescriptor file(
            ::openat(folderFd, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
        struct stat opened {};
        if (file.IsOpen() && ::flock(file.Get(), LOCK_EX | LOCK_NB) == 0 &&
            ::fstat(file.Get(), &opened) == 0 && opened.st_ino == info.st_ino &&
            opened.st_dev == info.st_dev && HoldsACollectionStart(file.Get(), opened.st_size))
            ::unlinkat(folderFd, name, 0);
    }
}

bool TPosixCollectionFileStore::ReadFromStart(int fd, size_t size, std::string& text)
{
    if (::lseek(fd, 0, SEEK_SET) != 0)
        return false;
    std::string buffer(size, '\0');
    size_t done = 0;
    while (done < size) {
        const ssize_t count = ReadSome(fd, buffer.data() + done, size - done);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            return false;
        done += static_cast<size_t>(count);
    }
    text = std::move(buffer);
    return true;
}

bool TPosixCollectionFileStore::WriteAll(int fd, std::string_view text)
{
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t count = WriteSome(fd, text.data() + done, text.size() - done);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            return false;
        done += static_cast<size_t>(count);
    }
    return true;
}

bool TPosixCollectionFileStore::WriteProduced(int fd,
                                              const std::function<bool(const TBlockSink&)>& produce)
{
    off_t offset = 0;
    // The blocks are written on a thread of their own while the next ones are made.
    TBackgroundWriter writer([&](std::string_view block) {
        if (!WriteAll(fd, block))
            return false;
        // Sends the block on its way to the disc at once, so that the flush at the end finds
        // little left to write.
        IgnoreFailure(
            ::sync_file_range(fd, offset, static_cast<off_t>(block.size()), SYNC_FILE_RANGE_WRITE));
        offset += static_cast<off_t>(block.size());
        return true;
    });
    const bool produced = produce([&writer](std::string_view block) { return writer.Put(block); });
    return writer.Finish() && produced;
}

bool TPosixCollectionFileStore::FlushWhile(int fd, const std::function<void()>& meanwhile)
{
    if (!meanwhile)
        return Flush(fd);
    bool flushed = false;
    std::optional<std::thread> flusher;
    try {
        flusher.emplace([this, fd, &flushed] { flushed = Flush(fd); });
    } catch (const std::system_error&) {
        // No thread to spare: the flush, then the rest.
        flushed = Flush(fd);
        meanwhile();
        return flushed;
    }
    {
        // Joined however meanwhile ends, before the file it flushes can be closed.
        struct TJoin {
            std::thread& Thread;
            ~TJoin() { Thread.join(); }
        } join{*flusher};
        meanwhile();
    }
    return flushed;
}

bool TPosixCollectionFileStore::KeepCopy(int fd, size_t size, mode_t mode,
                                         const std::string& target, std::string& copy)
{
    for (int number = 1; number < 1000; ++number) {
        std::string name = target + ".damaged";
        if (number > 1)
            name.append("-").append(std::to_string(number));
        TFileDescriptor file(
            ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!file.IsOpen()) {
            if (errno == EEXIST)
                continue;
            return false;
        }
        bool copied = ::fchmod(file.Get(), mode & 0777) == 0 && ::lseek(fd, 0, SEEK_SET) == 0;
        std::string block(std::min<size_t>(size, 1 << 20), '\0');
        for (size_t done = 0; copied && done < size;) {
            const ssize_t count = ReadSome(fd, block.data(), std::min(block.size(), size - done));
            if (count < 0 && errno == EINTR)
                continue;
            copied =
                count > 0 &&
                WriteAll(file.Get(), std::string_view(block.data(), static_cast<size_t>(count)));
            done += copied ? static_cast<size_t>(count) : 0;
        }
        if (copied && ::fsync(file.Get()) == 0) {
            copy = name;
            return true;
        }
        ::unlink(name.c_str());
        return false;
    }
    return false;
}

TFileOutcome TPosixCollectionFileStore::WriteInPlace(int fd, std::string_view text,
                                                     TFileIdentity& identity)
{
    // Nothing is overwritten before the disc is known to hold the whole text.
    struct stat written {};
    if (!Reserve(fd, text.size()) || ::lseek(fd, 0, SEEK_SET) != 0 || !WriteAll(fd, text) ||
        ::ftruncate(fd, static_cast<off_t>(text.size())) != 0 || ::fsync(fd) != 0 ||
        ::fstat(fd, &written) != 0)
        return TFileOutcome::WriteFailed;
    identity = IdentityOf(written);
    return TFileOutcome::Done;
}

TPosixCollectionFileStore::TPosixCollectionFileStore(std::chrono::milliseconds lockWait)
    : LockWait_(lockWait)
{
    // A write past the file size limit (ulimit -f) ends the process with SIGXFSZ unless the
    // signal is ignored; ignored, the write fails with EFBIG and the save fails as on a full
    // disc, losing nothing. A handler the program has installed itself is left alone.
    static const bool ignored = [] {
        struct sigaction current {};
        if (::sigaction(SIGXFSZ, nullptr, &current) == 0 && current.sa_handler == SIG_DFL &&
            (current.sa_flags & SA_SIGINFO) == 0)
            std::signal(SIGXFSZ, SIG_IGN);
        return true;
    }();
    static_cast<void>(ignored);
}

std::chrono::steady_clock::time_point TPosixCollectionFileStore::Deadline() const
{
    return std::chrono::steady_clock::now() + LockWait_;
}

ssize_t TPosixCollectionFileStore::ReadSome(int fd, char* buffer, size_t size)
{
    return ::read(fd, buffer, size);
}

ssize_t TPosixCollectionFileStore::WriteSome(int fd, const char* data, size_t size)
{
    return ::write(fd, data, size);
}

bool TPosixCollectionFileStore::Flush(int fd)
{
    return ::fsync(fd) == 0;
}

bool TPosixCollectionFileStore::Reserve(int fd, size_t size)
{
    if (size == 0 || ::fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(size)) == 0)
        return true;
    return errno == EOPNOTSUPP || errno == ENOSYS;
}
