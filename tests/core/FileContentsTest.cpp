// A disc's files read byte for byte: checksums of what a folder holds, and what cannot be read.

#include "support/DiscTrees.h"

#include "discs/FileContents.h"
#include "discs/FolderVolume.h"

#include <fstream>
#include <gtest/gtest.h>
#include <xxhash.h>

namespace {

constexpr int64_t kTime = 1262304000;

std::string Pattern(size_t size, unsigned seed)
{
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 131 + seed * 7 + (i >> 11)) & 0xFF);
    return bytes;
}

TContentChecksum ChecksumOf(const std::string& bytes)
{
    const XXH128_hash_t hash = XXH3_128bits(bytes.data(), bytes.size());
    return {hash.low64, hash.high64};
}

void Write(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

class FileContents : public ::testing::Test {
protected:
    // Scans the folder as a disc, collecting its files, and reads them.
    std::vector<TFileReading> ScanAndRead(std::vector<TFileToRead>* seen = nullptr)
    {
        Volume = OpenFolderVolume(Scratch / "disc", "disc");
        EXPECT_NE(Volume, nullptr);
        Files.clear();
        (void)Collection.ScanDisc("disc", *Volume, &Files);
        if (seen)
            *seen = Files;
        std::vector<TFileReading> results;
        EXPECT_TRUE(ReadFileContents(*Volume, Files, results, Progress));
        return results;
    }
    // The reading of the file whose path ends with name.
    const TFileReading& Of(const std::vector<TFileReading>& results, const std::string& name) const
    {
        for (size_t i = 0; i < Files.size(); ++i)
            if (Files[i].Path.ends_with("/" + name))
                return results[i];
        throw std::runtime_error("no file " + name);
    }

    TScratchFolder Scratch;
    TFendrel Collection;
    std::unique_ptr<IVolume> Volume;
    std::vector<TFileToRead> Files;
    TReadingProgress Progress;
};

TEST_F(FileContents, EveryOrdinaryFileIsReadWholeAcrossBlocks)
{
    MakeTree(Scratch / "disc", {FolderEntry("a", kTime), FolderEntry("a/b", kTime),
                                LinkEntry("link", kTime, "a"), FileEntry("empty", kTime, 0)});
    // Sizes around the block boundary: a short read at a block's end must not end the file.
    const std::string big = Pattern(kContentBlock * 2 + 17, 1);
    const std::string exact = Pattern(kContentBlock, 2);
    Write(Scratch / "disc/a/b/big", big);
    Write(Scratch / "disc/a/exact", exact);
    Write(Scratch / "disc/small", "x");
    ASSERT_EQ(::mkfifo((Scratch / "disc/pipe").c_str(), 0600), 0);

    std::vector<TFileToRead> files;
    const std::vector<TFileReading> results = ScanAndRead(&files);
    ASSERT_EQ(files.size(), 6u);
    for (const TFileToRead& file : files)
        EXPECT_EQ(Collection.GetNode(file.Id).FullSize(), file.Size) << file.Path;

    using enum TFileReading::TOutcome;
    EXPECT_EQ(Of(results, "big").Outcome, Read);
    EXPECT_EQ(Of(results, "big").Checksum, ChecksumOf(big));
    EXPECT_EQ(Of(results, "exact").Checksum, ChecksumOf(exact));
    EXPECT_EQ(Of(results, "small").Checksum, ChecksumOf("x"));
    EXPECT_EQ(Of(results, "empty").Checksum, ChecksumOf(""));
    // A link is never followed and a pipe never waited on: neither has a content.
    EXPECT_EQ(Of(results, "link").Outcome, NotOrdinary);
    EXPECT_EQ(Of(results, "pipe").Outcome, NotOrdinary);
    EXPECT_EQ(Progress.Bytes.load(), big.size() + exact.size() + 1);
    EXPECT_EQ(Progress.Files.load(), 6u);
}

TEST_F(FileContents, FilesThatChangedAfterTheListingAreToldApart)
{
    MakeTree(Scratch / "disc", {});
    Write(Scratch / "disc/shrinks", Pattern(5000, 3));
    Write(Scratch / "disc/grows", Pattern(3000, 4));
    Write(Scratch / "disc/goes", "gone");
    std::vector<TFileToRead> files;
    Volume = OpenFolderVolume(Scratch / "disc", "disc");
    (void)Collection.ScanDisc("disc", *Volume, &files);
    Files = files;
    std::filesystem::resize_file(Scratch / "disc/shrinks", 4096 + 100);
    Write(Scratch / "disc/grows", Pattern(3000, 4) + "more");
    std::filesystem::remove(Scratch / "disc/goes");

    std::vector<TFileReading> results;
    ASSERT_TRUE(ReadFileContents(*Volume, Files, results, Progress));
    using enum TFileReading::TOutcome;
    EXPECT_EQ(Of(results, "shrinks").Outcome, Unreadable);
    EXPECT_EQ(Of(results, "shrinks").BadOffset, 4196u);
    // Only the listed bytes are read.
    EXPECT_EQ(Of(results, "grows").Checksum, ChecksumOf(Pattern(3000, 4)));
    EXPECT_EQ(Of(results, "goes").Outcome, Unreadable);
    EXPECT_EQ(Of(results, "goes").BadOffset, 0u);
}

TEST_F(FileContents, CancelStopsBeforeTheNextFile)
{
    MakeTree(Scratch / "disc", {FileEntry("one", kTime, 10), FileEntry("two", kTime, 10)});
    Volume = OpenFolderVolume(Scratch / "disc", "disc");
    (void)Collection.ScanDisc("disc", *Volume, &Files);
    Progress.Cancel = true;
    std::vector<TFileReading> results;
    EXPECT_FALSE(ReadFileContents(*Volume, Files, results, Progress));
    ASSERT_EQ(results.size(), 2u);
    EXPECT_EQ(results[0].Outcome, TFileReading::TOutcome::NotRead);
    EXPECT_EQ(Progress.Bytes.load(), 0u);
}

// Run once more as an unprivileged user by the test script: root reads every file.
TEST_F(FileContents, UnreadableFileIsCountedNotFatal)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "root reads every file";
    MakeTree(Scratch / "disc", {FileEntry("locked", kTime, 100), FileEntry("open", kTime, 5)});
    ASSERT_EQ(::chmod((Scratch / "disc/locked").c_str(), 0), 0);
    const std::vector<TFileReading> results = ScanAndRead();
    EXPECT_EQ(Of(results, "locked").Outcome, TFileReading::TOutcome::Unreadable);
    EXPECT_EQ(Of(results, "open").Outcome, TFileReading::TOutcome::Read);
}

} // namespace
