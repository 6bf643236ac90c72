#include "discs/ImageFile.h"

#include "discs/DiscContainers.h"

#include <cerrno>
#include <fcntl.h>
#include <linux/cdrom.h>
#include <sys/ioctl.h>
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
    // A multi-session disc in a drive is read from its last session, as the kernel mounts it.
    cdrom_multisession session{};
    session.addr_format = CDROM_LBA;
    if (S_ISBLK(status.st_mode) && ::ioctl(file.Fd_.Get(), CDROMMULTISESSION, &session) == 0 &&
        session.xa_flag && session.addr.lba > 0 &&
        static_cast<uint64_t>(session.addr.lba) * 2048 < file.Size_)
        file.SessionStart_ = static_cast<uint32_t>(session.addr.lba);
    if (S_ISREG(status.st_mode)) {
        TContainer container = OpenContainer(path, file.Fd_.Get(), file.Size_);
        switch (container.Kind) {
        case TContainerKind::Plain:
            break;
        case TContainerKind::Sectors:
            file.Map_ = std::move(container.Map);
            break;
        case TContainerKind::Damaged:
            return std::nullopt;
        }
    }
    return file;
}

bool TImageFile::Read(uint64_t offset, std::span<uint8_t> out) const
{
    if (Map_)
        return Map_->Read(offset, out);
    if (offset > Size_ || out.size() > Size_ - offset)
        return false;
    return ReadWhole(Fd_.Get(), offset, out);
}
