#include "platform/ReplacingFile.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>

namespace {

// The file mode a new file gets from the process's file-creation mask.
mode_t NewFileMode()
{
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

} // namespace

TReplacingFile::TReplacingFile(std::string path)
    : Path_(std::move(path))
{
    const size_t slash = Path_.rfind('/');
    const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    Temporary_ = Path_.substr(0, nameStart) + "." + Path_.substr(nameStart) + ".export-XXXXXX";
    Fd_.Reset(::mkostemp(Temporary_.data(), O_CLOEXEC));
    if (!Fd_)
        return;
    // A replaced file keeps its mode; a new one gets what any new file would.
    struct stat info {};
    const mode_t mode = ::stat(Path_.c_str(), &info) == 0 ? info.st_mode & 07777 : NewFileMode();
    if (::fchmod(Fd_.Get(), mode) != 0)
        Failed_ = true;
}

TReplacingFile::~TReplacingFile()
{
    if (Fd_) {
        Fd_.Reset();
        ::unlink(Temporary_.c_str());
    }
}

bool TReplacingFile::Write(std::string_view bytes)
{
    while (!Failed_ && !bytes.empty()) {
        const ssize_t written = ::write(Fd_.Get(), bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            Failed_ = true;
        else
            bytes.remove_prefix(static_cast<size_t>(written));
    }
    return !Failed_;
}

bool TReplacingFile::Commit()
{
    if (!Fd_ || Failed_ || ::fsync(Fd_.Get()) != 0) {
        Failed_ = true;
        return false; // the destructor removes the temporary
    }
    const bool closed = ::close(Fd_.Release()) == 0;
    if (!closed || ::rename(Temporary_.c_str(), Path_.c_str()) != 0) {
        Failed_ = true;
        ::unlink(Temporary_.c_str());
        return false;
    }
    return true;
}
