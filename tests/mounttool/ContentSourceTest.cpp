// Files read through to their media without mounting: a file manager copying several files at
// once reads them from as many threads, and each must get its own bytes.
#include "support/DiscTrees.h"
#include "support/RawSectors.h"

#include "collection/Fendrel.h"
#include "discs/Drives.h"
#include "mounttool/ContentSource.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

std::string Pattern(size_t size, unsigned seed)
{
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 131 + seed * 7 + (i >> 11) * 3) & 0xFF);
    return bytes;
}

// The id of the file named name among the disc's entries.
uint32_t FileNamed(const TFendrel& collection, uint32_t disc, const std::string& name)
{
    for (const uint32_t id : collection.GetNode(disc).Children) {
        if (collection.GetNode(id).Name.view() == name)
            return id;
    }
    throw std::runtime_error("no file " + name);
}

// The machine of the test: no drives, no media mounted; a disc is found at its recorded path.
TContentSource::TMachine NoDrives()
{
    return {[] { return std::make_unique<TDriveTable>(); },
            [] {
                return std::vector<TMedium>();
            }};
}

} // namespace

TEST(ContentSource, FilesOfOneImageReadFromSeveralThreadsAtOnceGetTheirOwnBytes)
{
    TScratchFolder scratch;
    // Raw 2352-byte sectors, which the reader unpacks through a buffer of its own.
    constexpr int kFiles = 4;
    std::vector<std::string> contents;
    std::vector<TTreeEntry> tree;
    for (int i = 0; i < kFiles; ++i) {
        contents.push_back(Pattern(300'000 + 4099 * i, i + 1));
        tree.push_back(FileEntry("f" + std::to_string(i) + ".bin", 1000, contents.back().size()));
    }
    MakeTree(scratch / "source", tree);
    for (int i = 0; i < kFiles; ++i)
        WriteFileBytes(scratch / ("source/f" + std::to_string(i) + ".bin"), contents[i]);
    MakeIsoImage(scratch / "source", scratch / "disc.iso", "");
    std::string iso = FileBytes(scratch / "disc.iso");
    iso.resize((iso.size() + 2047) / 2048 * 2048, '\0');
    WriteFileBytes(scratch / "disc.bin", RawSectors(iso, 0, TRawMode::Mode1));
    WriteFileBytes(scratch / "disc.cue",
                   "FILE \"disc.bin\" BINARY\n  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\n");

    TFendrel collection;
    TDriveTable drives;
    const std::unique_ptr<IVolume> volume = drives.OpenImage(scratch / "disc.cue");
    ASSERT_TRUE(volume);
    collection.ScanDisc("disc", *volume);
    const uint32_t disc = collection.Discs.front();

    TContentSource source(NoDrives());
    std::vector<std::unique_ptr<TOpenContent>> open;
    for (int i = 0; i < kFiles; ++i) {
        int error = 0;
        open.push_back(source.Open(
            FileOnDisc(collection, FileNamed(collection, disc, "f" + std::to_string(i) + ".bin")),
            error));
        ASSERT_TRUE(open.back()) << "error " << error;
    }
    // Each thread reads its file whole, many times over, in pieces of changing sizes.
    std::atomic<int> wrong{0};
    std::vector<std::thread> readers;
    for (int i = 0; i < kFiles; ++i) {
        readers.emplace_back([&, i] {
            for (int round = 0; round < 20; ++round) {
                std::string read;
                std::vector<uint8_t> piece(1 + (round * 7919 + i * 104729) % 70000);
                for (uint64_t at = 0;;) {
                    const std::optional<size_t> got = open[i]->Read(at, piece);
                    if (!got || *got == 0)
                        break;
                    read.append(reinterpret_cast<const char*>(piece.data()), *got);
                    at += *got;
                }
                if (read != contents[i])
                    ++wrong;
            }
        });
    }
    for (std::thread& reader : readers)
        reader.join();
    EXPECT_EQ(wrong, 0);
}
