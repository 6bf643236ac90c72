#pragma once

#include "collection/DiscRecord.h"
#include "platform/ReadingProgress.h"

#include <cstdint>
#include <string>
#include <vector>

class IVolume;

// A file of a scan whose bytes are to be read: its node, its path on the volume (its folder's
// path followed by its RawName), where its listing said it lies and the size it listed.
struct TFileToRead {
    uint32_t Id = 0;
    std::string Path;
    uint64_t Where = 0;
    uint64_t Size = 0;
};

// What reading one file's bytes found.
struct TFileReading {
    enum class TOutcome : uint8_t {
        NotRead,     // the reading stopped before this file
        Read,        // every byte of its listed size read: Checksum is theirs
        Unreadable,  // it could not be opened, a block could not be read or the file ended early
        NotOrdinary, // a link, a device or a pipe: no content to read
    };
    TOutcome Outcome = TOutcome::NotRead;
    TContentChecksum Checksum;
    // Unreadable: the offset of the first block that could not be read (the file's size when it
    // ended before its listed size, 0 when it could not be opened).
    uint64_t BadOffset = 0;
};

// The block the bytes are read in: large, so that a disc is read at its speed, and a multiple of
// every sector size so that a read error is told to the block.
inline constexpr size_t kContentBlock = size_t{1} << 20;
// The unit a failed block is read again in to find where the fault begins: a disc's sector.
inline constexpr size_t kFaultUnit = 2048;

// Reads each file's bytes once, the files in their order and each from its start to its end, and
// gives each its XXH3-128 checksum; results receives one entry a file. Returns false as soon as
// progress.Cancel is set (the files not reached stay NotRead). A file is read up to the size its
// listing gave; bytes it has grown by since are not read.
[[nodiscard]] bool ReadFileContents(IVolume& volume, const std::vector<TFileToRead>& files,
                                    std::vector<TFileReading>& results, TReadingProgress& progress);

// The total of the files' listed sizes.
[[nodiscard]] uint64_t TotalSize(const std::vector<TFileToRead>& files);
