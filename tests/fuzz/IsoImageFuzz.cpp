// Reads arbitrary bytes as a disc image, scans it and reads its files' bytes. Whatever the
// bytes, opening, scanning and reading must end without crashing or reading outside a buffer or
// a file. An input stands for the image
// from its volume descriptors on: the 32 KiB before them, which nothing reads, are zeros here.
// An input that begins with "#" and a kind of container ("#cue", "#ccd", "#mds" with a
// descriptor, a line "#data" and the data file's bytes; "#nrg", "#bin" with the image's bytes
// alone) is written as that container's files and opened as an added image is.
#include "FileReads.h"

#include "discs/DiscImage.h"
#include "discs/IsoVolume.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

namespace {

void Scan(IVolume& volume)
{
    ScanAndReadFiles(volume);
}

// The container's files in a folder of the fuzzer's own; false when the input is no container.
bool ScanContainer(std::string_view input)
{
    // Removed when the fuzzer exits.
    struct TFolder {
        TFolder()
        {
            if (!::mkdtemp(Path.data()))
                std::abort();
        }
        ~TFolder() { std::filesystem::remove_all(Path); }
        std::string Path = "/tmp/fendrel-fuzz-XXXXXX";
    };
    static const TFolder made;
    const std::string& folder = made.Path;
    const size_t lineEnd = input.find('\n');
    if (input.empty() || input[0] != '#' || lineEnd == std::string_view::npos)
        return false;
    const std::string kind(input.substr(1, lineEnd - 1));
    std::string_view rest = input.substr(lineEnd + 1);
    std::string opened;
    if (kind == "cue" || kind == "ccd" || kind == "mds") {
        const size_t split = rest.find("\n#data\n");
        const std::string_view descriptor = rest.substr(0, split);
        const std::string_view data =
            split == std::string_view::npos ? std::string_view() : rest.substr(split + 7);
        const std::string dataName = kind == "cue"   ? "disc.bin"
                                     : kind == "ccd" ? "disc.img"
                                                     : "disc.mdf";
        std::ofstream(folder + "/" + dataName, std::ios::binary | std::ios::trunc) << data;
        opened = folder + "/disc." + kind;
        std::ofstream(opened, std::ios::binary | std::ios::trunc) << descriptor;
    } else if (kind == "nrg" || kind == "bin") {
        opened = folder + "/disc." + kind;
        std::ofstream(opened, std::ios::binary | std::ios::trunc) << rest;
    } else {
        return false;
    }
    if (const auto volume = OpenDiscImage(opened))
        Scan(*volume);
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (ScanContainer(std::string_view(reinterpret_cast<const char*>(data), size)))
        return 0;
    constexpr off_t systemArea = 16 * 2048;
    static const int fd = memfd_create("image", MFD_CLOEXEC);
    static const std::vector<uint8_t> zeros(systemArea);
    if (fd < 0 || ::ftruncate(fd, 0) != 0 ||
        ::pwrite(fd, zeros.data(), zeros.size(), 0) != systemArea ||
        ::pwrite(fd, data, size, systemArea) != static_cast<ssize_t>(size))
        std::abort();
    if (const auto volume = OpenIsoVolume("/proc/self/fd/" + std::to_string(fd)))
        Scan(*volume);
    return 0;
}
