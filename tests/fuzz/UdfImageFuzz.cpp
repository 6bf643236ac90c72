// Reads arbitrary bytes as a UDF disc image, scans it and reads its files' bytes. Whatever the
// bytes, opening, scanning and reading must end without crashing or reading outside a buffer. A UDF
// image is mostly zeros, with its anchor 256 blocks in: so that mutations land on what is read, the
// input lists only the blocks that are not zeros, each as its number (two bytes, little-endian)
// followed by its 2048 bytes, and the image ends after the highest block listed.
#include "FileReads.h"

#include "discs/UdfVolume.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    constexpr size_t block = 2048;
    static const int fd = memfd_create("image", MFD_CLOEXEC);
    if (fd < 0 || ::ftruncate(fd, 0) != 0)
        std::abort();
    off_t end = 0;
    for (size_t at = 0; at + 2 < size; at += 2 + block) {
        const off_t offset = static_cast<off_t>(data[at] | data[at + 1] << 8) * block;
        const size_t length = std::min(block, size - at - 2);
        if (::pwrite(fd, data + at + 2, length, offset) != static_cast<ssize_t>(length))
            std::abort();
        end = std::max(end, offset + static_cast<off_t>(block));
    }
    if (::ftruncate(fd, end) != 0)
        std::abort();
    if (const auto volume = OpenUdfVolume("/proc/self/fd/" + std::to_string(fd)))
        ScanAndReadFiles(*volume);
    return 0;
}
