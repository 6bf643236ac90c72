#include "platform/CollectionFileStore.h"

#include "platform/LargeBuffer.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

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

private:
    void Close()
    {
        if (Fd_ >= 0)
            ::close(Fd_);
        Fd_ = -1;
    }

    int Fd_;
};

// A temporary file that is removed again unless it was kept.
class TTemporaryFile {
public:
    // pattern ends in XXXXXX; the file is created with mode 0600.
    explicit TTemporaryFile(std::string pattern)
        : Path_(std::move(pattern))
        , File_(::mkostemp(Path_.data(), O_CLOEXEC))
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
    [[nodiscard]] const std::string& Path() const { return Path_; }
    void Keep() { Kept_ = true; }

private:
    std::string Path_;
    TFileDescriptor File_;
    bool Kept_ = false;
};

// Opens a plain file (creating it when missing, never truncating it) and locks it exclusively
// without waiting. A FIFO or device would block or misbehave, so anything else is refused; the
// open itself does not wait for a FIFO's other end. When another writer has renamed a new file
// over path between the open and the lock, the lock guards a file that is no longer there, so
// the path is opened again.
TFileDescriptor OpenLocked(const std::string& path, int access, struct stat& info)
{
    for (int attempt = 0; attempt < 3; ++attempt) {
        TFileDescriptor file(
            ::open(path.c_str(), access | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666));
        if (!file.IsOpen() || ::fstat(file.Get(), &info) != 0 || !S_ISREG(info.st_mode) ||
            ::flock(file.Get(), LOCK_EX | LOCK_NB) != 0)
            return TFileDescriptor();
        struct stat now {};
        if (::stat(path.c_str(), &now) == 0 && now.st_dev == info.st_dev &&
            now.st_ino == info.st_ino)
            return file;
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

} // namespace

TFileOutcome TPosixCollectionFileStore::ReadWhole(const std::string& path, std::string& text)
{
    struct stat info {};
    const TFileDescriptor file = OpenLocked(path, O_RDONLY, info);
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
    return TFileOutcome::Done;
}

TFileOutcome TPosixCollectionFileStore::ReplaceWhole(const std::string& path, std::string_view text)
{
    struct stat info {};
    const TFileDescriptor locked = OpenLocked(path, O_WRONLY, info);
    if (!locked.IsOpen())
        return TFileOutcome::OpenFailed;

    // The new file goes beside the file that the path finally names, so that a symbolic link
    // keeps pointing at the collection.
    const std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr),
                                                               &std::free);
    if (!resolved)
        return TFileOutcome::OpenFailed;
    const std::string target = resolved.get();
    const size_t slash = target.rfind('/');
    const std::string folder = target.substr(0, slash + 1);
    // Hidden, and short enough for the file system even beside a very long name.
    TTemporaryFile temporary(folder + "." + target.substr(slash + 1, 200) + ".XXXXXX");
    if (!temporary.IsOpen())
        return TFileOutcome::WriteFailed;

    // Only root may give a file to another owner; everyone else keeps at least the permissions.
    if (info.st_uid != ::geteuid() || info.st_gid != ::getegid())
        IgnoreFailure(::fchown(temporary.Get(), info.st_uid, info.st_gid));
    if (::fchmod(temporary.Get(), info.st_mode & 07777) != 0)
        return TFileOutcome::WriteFailed;

    size_t done = 0;
    while (done < text.size()) {
        const ssize_t count = WriteSome(temporary.Get(), text.data() + done, text.size() - done);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            return TFileOutcome::WriteFailed;
        done += static_cast<size_t>(count);
    }
    // A full disc may show only now, when the delayed blocks are allocated.
    if (::fsync(temporary.Get()) != 0 || ::rename(temporary.Path().c_str(), target.c_str()) != 0)
        return TFileOutcome::WriteFailed;
    temporary.Keep();
    SyncFolder(folder);
    return TFileOutcome::Done;
}

ssize_t TPosixCollectionFileStore::ReadSome(int fd, char* buffer, size_t size)
{
    return ::read(fd, buffer, size);
}

ssize_t TPosixCollectionFileStore::WriteSome(int fd, const char* data, size_t size)
{
    return ::write(fd, data, size);
}
