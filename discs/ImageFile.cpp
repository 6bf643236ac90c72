#include "discs/ImageFile.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

std::optional<TImageFile> TImageFile::Open(const std::string& path)
{
    TImageFile file;
    file.Fd_.Reset(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    struct stat status {};
    if (!file.Fd_ || ::fstat(file.Fd_.Get(), &status) != 0 ||
        !(S_ISREG(status.st_mode) || S_ISBLK(status.st_mode)))
        return std::nullopt;
    const off_t size =
        S_ISBLK(status.st_mode) ? ::lseek(file.Fd_.Get(), 0, SEEK_END) : status.st_size;
    if (size <= 0)
        return std::nullopt;
    file.Size_ = static_cast<uint64_t>(size);
    return file;
}

bool TImageFile::Read(uint64_t offset, std::span<uint8_t> out) const
{
    if (offset > Size_ || out.size() > Size_ - offset)
        return false;
    size_t done = 0;
    while (done < out.size()) {
        const ssize_t got = ::pread(Fd_.Get(), out.data() + done, out.size() - done,
                                    static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        done += static_cast<size_t>(got);
    }
    return true;
}
