#include "findtool/SharedRead.h"

#include "platform/UniqueFd.h"

#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>

TSharedRead ReadShared(const std::string& path, std::string& text, std::chrono::milliseconds wait)
{
    using TClock = std::chrono::steady_clock;
    const TClock::time_point deadline = TClock::now() + wait;
    for (;;) {
        // Non-blocking, so that a FIFO given by mistake does not hang the open.
        const TUniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
        if (!file)
            return TSharedRead::OpenFailed;
        struct stat info {};
        if (::fstat(file.Get(), &info) != 0)
            return TSharedRead::OpenFailed;
        if (!S_ISREG(info.st_mode))
            return TSharedRead::NotAFile;
        if (::flock(file.Get(), LOCK_SH | LOCK_NB) != 0) {
            if (errno != EWOULDBLOCK)
                return TSharedRead::ReadFailed;
            if (TClock::now() >= deadline)
                return TSharedRead::Locked;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            continue;
        }
        // A save renames its new file over the path while it holds the old file's lock; the
        // lock then guards a file that the path no longer names, so the path is opened again.
        struct stat now {};
        if (::stat(path.c_str(), &now) != 0 || now.st_dev != info.st_dev ||
            now.st_ino != info.st_ino) {
            if (TClock::now() >= deadline)
                return TSharedRead::Locked;
            continue;
        }
        if (info.st_size < 0 || static_cast<uint64_t>(info.st_size) > UINT32_MAX)
            return TSharedRead::TooLarge;

        std::string buffer(static_cast<size_t>(info.st_size), '\0');
        size_t done = 0;
        while (done < buffer.size()) {
            const ssize_t count = ::read(file.Get(), buffer.data() + done, buffer.size() - done);
            if (count < 0 && errno == EINTR)
                continue;
            if (count <= 0)
                return TSharedRead::ReadFailed;
            done += static_cast<size_t>(count);
        }
        text = std::move(buffer);
        return TSharedRead::Done;
    }
}
