// Reads arbitrary bytes as a disc image and scans it. Whatever the bytes, opening and scanning
// must end without crashing or reading outside a buffer. The input stands for the image from
// its volume descriptors on: the 32 KiB before them, which nothing reads, are zeros here.
#include "collection/Fendrel.h"
#include "discs/IsoVolume.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    constexpr off_t systemArea = 16 * 2048;
    static const int fd = memfd_create("image", MFD_CLOEXEC);
    static const std::vector<uint8_t> zeros(systemArea);
    if (fd < 0 || ::ftruncate(fd, 0) != 0 ||
        ::pwrite(fd, zeros.data(), zeros.size(), 0) != systemArea ||
        ::pwrite(fd, data, size, systemArea) != static_cast<ssize_t>(size))
        std::abort();
    if (const auto volume = OpenIsoVolume("/proc/self/fd/" + std::to_string(fd))) {
        (void)volume->Label();
        TFendrel collection;
        (void)collection.ScanDisc("image", *volume);
    }
    return 0;
}
