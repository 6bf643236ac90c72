#pragma once

// Reads the files a scan listed, as checksums do, but bounded: a hostile image may list files of
// any size, and holes that read as zeros make even a small image's files huge. Each file is read
// at its start, around its middle and at its end, so that every extent its listing points at is
// exercised without reading the whole.

#include "collection/Fendrel.h"
#include "discs/FileContents.h"
#include "discs/Volume.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

inline void ScanAndReadFiles(IVolume& volume)
{
    (void)volume.Label();
    TFendrel collection;
    std::vector<TFileToRead> files;
    (void)collection.ScanDisc("image", volume, &files);
    constexpr size_t kPiece = 64 * 1024;
    constexpr size_t kMostFiles = 256;
    std::vector<uint8_t> buffer(kPiece);
    for (size_t i = 0; i < files.size() && i < kMostFiles; ++i) {
        const std::unique_ptr<IFileContent> file = volume.OpenFile(files[i].Path, files[i].Where);
        if (!file || !file->Ordinary())
            continue;
        const uint64_t size = files[i].Size;
        for (const uint64_t at : {uint64_t{0}, size / 2, size > kPiece ? size - kPiece : 0, size})
            (void)file->Read(at, buffer);
    }
}
