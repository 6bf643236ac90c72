// A disc read back against its record: what is missing, new, changed in size, time or content, and
// what no longer reads.

#include "support/DiscTrees.h"

#include "acquisition/DiscCheck.h"
#include "discs/FileContents.h"
#include "discs/FolderVolume.h"

#include <gmock/gmock.h>
#include <xxhash.h>

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace fs = std::filesystem;

namespace {

constexpr int64_t kTime = 1262304000;

void Write(const std::string& path, const std::string& bytes, int64_t time = kTime)
{
    WriteFileAt(path, bytes, time);
}

// A folder volume but for one folder, which does not open.
class TOneFolderShut final : public IVolume {
public:
    TOneFolderShut(std::unique_ptr<IVolume> volume, std::string shut)
        : Volume_(std::move(volume))
        , Shut_(std::move(shut))
    {
    }
    [[nodiscard]] std::string Label() const override { return Volume_->Label(); }
    [[nodiscard]] std::unique_ptr<IFolderListing> OpenFolder(const std::string& path) override
    {
        return path == Shut_ ? nullptr : Volume_->OpenFolder(path);
    }
    [[nodiscard]] std::unique_ptr<IFileContent> OpenFile(const std::string& path,
                                                         uint64_t where) override
    {
        return Volume_->OpenFile(path, where);
    }

private:
    std::unique_ptr<IVolume> Volume_;
    std::string Shut_;
};

class DiscCheck : public ::testing::Test {
protected:
    DiscCheck()
    {
        MakeTree(Disc, {FolderEntry("Docs", kTime), FolderEntry("Photos", kTime)});
        Write(Disc + "/Docs/a.txt", "alpha");
        Write(Disc + "/Docs/b.txt", "bravo");
        Write(Disc + "/Photos/1.jpg", std::string(3 * kContentBlock + 5, 'p'));
        Write(Disc + "/notes.txt", "notes");
        SettleFolders(Disc, kTime);
    }

    // Records the folder as a disc of Recorded, with the checksums of its files read as they are
    // now, but for the files named in without.
    void Record(const std::vector<std::string>& without = {})
    {
        const std::unique_ptr<IVolume> volume = OpenFolderVolume(Disc, "disc");
        ASSERT_NE(volume, nullptr);
        std::vector<TFileToRead> files;
        (void)Recorded.ScanDisc("disc", *volume, &files);
        std::vector<TFileReading> readings;
        TReadingProgress progress;
        ASSERT_TRUE(ReadFileContents(*volume, files, readings, progress));
        for (size_t i = 0; i < files.size(); ++i)
            if (std::ranges::find(without, Recorded.GetNode(files[i].Id).Name.str()) ==
                without.end())
                Recorded.Checksums[files[i].Id] = readings[i].Checksum;
    }

    // Scans the folder afresh (its folder at the volume path shut not opening), runs between
    // the scan and the reading, reads and checks.
    TDiscCheck Check(const std::function<void()>& between = {}, const std::string& shut = {})
    {
        TFendrel scan;
        TOneFolderShut volume(OpenFolderVolume(Disc, "disc"), shut);
        TListingWatch watched(volume, scan);
        std::vector<TFileToRead> files;
        (void)scan.ScanDisc("disc", watched, &files);
        if (between)
            between();
        std::vector<TFileReading> readings;
        TReadingProgress progress;
        EXPECT_TRUE(ReadFileContents(volume, files, readings, progress));
        return CheckDiscReadings(Recorded, Recorded.Discs.back(), scan, scan.Discs.back(), files,
                                 readings, watched.Unlisted);
    }

    TScratchFolder Scratch;
    std::string Disc = Scratch / "disc";
    TFendrel Recorded;
};

TEST_F(DiscCheck, DiscAsRecordedIsAllWellWithEveryChecksumCompared)
{
    Record();
    const TDiscCheck check = Check();
    EXPECT_TRUE(check.AllWell());
    EXPECT_FALSE(check.TreeDiffers());
    EXPECT_EQ(check.FilesRead, 4u);
    EXPECT_EQ(check.BytesRead, 5u + 5u + 3 * kContentBlock + 5u + 5u);
    EXPECT_EQ(check.ChecksumsCompared, 4u);

    // A disc recorded without checksums is checked for reading alone.
    Recorded.Checksums.clear();
    const TDiscCheck unsummed = Check();
    EXPECT_TRUE(unsummed.AllWell());
    EXPECT_EQ(unsummed.ChecksumsCompared, 0u);
}

TEST_F(DiscCheck, EachDifferenceLandsInItsOwnGroup)
{
    Write(Disc + "/same.txt", "kept");
    Write(Disc + "/unsummed.txt", "one");
    SettleFolders(Disc, kTime);
    Record({"unsummed.txt"});

    fs::remove(Disc + "/notes.txt");
    fs::remove_all(Disc + "/Photos");
    MakeTree(Disc, {FolderEntry("New", kTime)});
    Write(Disc + "/New/n.txt", "new");
    Write(Disc + "/Docs/a.txt", "alpha, longer");     // size
    Write(Disc + "/Docs/b.txt", "bravo", kTime + 60); // time alone
    // The same size and time, other bytes: told only by the checksum, and only where one was
    // recorded.
    Write(Disc + "/same.txt", "KEPT");
    Write(Disc + "/unsummed.txt", "two");
    SettleFolders(Disc, kTime);

    const TDiscCheck check = Check();
    EXPECT_FALSE(check.AllWell());
    EXPECT_THAT(ChangePaths(check.Missing), ElementsAre("notes.txt", "Photos\\", "Photos\\1.jpg"));
    EXPECT_THAT(ChangePaths(check.New), ElementsAre("New\\", "New\\n.txt"));
    EXPECT_THAT(ChangePaths(check.Changed), ElementsAre("Docs\\a.txt", "Docs\\b.txt"));
    EXPECT_THAT(ChangePaths(check.ContentChanged), ElementsAre("same.txt"));
    EXPECT_EQ(check.ContentChanged[0].NewSize, 4u);
    EXPECT_THAT(check.Unreadable, IsEmpty());
    // a.txt and b.txt are changed already; unsummed.txt and n.txt have nothing to compare with.
    EXPECT_EQ(check.ChecksumsCompared, 1u);
    EXPECT_EQ(check.FilesRead, 5u);
}

TEST_F(DiscCheck, FileCutShortAfterTheListingIsUnreadableFromWhereItEnds)
{
    Record();
    const TDiscCheck check =
        Check([&] { fs::resize_file(Disc + "/Photos/1.jpg", kContentBlock + 4096); });
    ASSERT_EQ(check.Unreadable.size(), 1u);
    EXPECT_EQ(AnsiToUtf8(check.Unreadable[0].Path), "Photos\\1.jpg");
    EXPECT_EQ(check.Unreadable[0].Size, 3 * kContentBlock + 5);
    EXPECT_EQ(check.Unreadable[0].BadOffset, kContentBlock + 4096);
    EXPECT_FALSE(check.TreeDiffers());
    EXPECT_FALSE(check.AllWell());
    EXPECT_EQ(check.FilesRead, 3u);
}

TEST_F(DiscCheck, FolderThatDoesNotOpenIsUnreadableAndItsContentsNotMissing)
{
    Record();
    const TDiscCheck check = Check({}, "/Photos/");
    ASSERT_EQ(check.Unreadable.size(), 1u);
    EXPECT_EQ(AnsiToUtf8(check.Unreadable[0].Path), "Photos");
    EXPECT_TRUE(check.Unreadable[0].Folder);
    EXPECT_EQ(check.FoldersUnlisted, 1u);
    EXPECT_THAT(check.Missing, IsEmpty());
    EXPECT_THAT(check.Changed, IsEmpty());

    // A folder missing beside it is still missing; the disc's top not opening hides nothing.
    fs::remove_all(Disc + "/Docs");
    SettleFolders(Disc, kTime);
    EXPECT_THAT(ChangePaths(Check({}, "/Photos/").Missing),
                ElementsAre("Docs\\", "Docs\\a.txt", "Docs\\b.txt"));
    const TDiscCheck top = Check({}, "/");
    ASSERT_EQ(top.Unreadable.size(), 1u);
    EXPECT_EQ(top.Unreadable[0].Path, "");
    EXPECT_THAT(top.Missing, IsEmpty());
}

// Run once more as an unprivileged user by the test script: root reads every file.
TEST_F(DiscCheck, UnreadableFileIsReportedAndTheRestStillChecked)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "root reads every file";
    Record();
    ASSERT_EQ(::chmod((Disc + "/Docs/a.txt").c_str(), 0), 0);
    Write(Disc + "/notes.txt", "NOTES");
    SettleFolders(Disc, kTime);

    const TDiscCheck check = Check();
    ASSERT_EQ(check.Unreadable.size(), 1u);
    EXPECT_EQ(AnsiToUtf8(check.Unreadable[0].Path), "Docs\\a.txt");
    EXPECT_EQ(check.Unreadable[0].BadOffset, 0u);
    EXPECT_THAT(ChangePaths(check.ContentChanged), ElementsAre("notes.txt"));
    EXPECT_THAT(check.Missing, IsEmpty());
    EXPECT_THAT(check.Changed, IsEmpty());
}

TEST_F(DiscCheck, UnreadableFolderIsReportedAsSuch)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "root lists every folder";
    Record();
    ASSERT_EQ(::chmod((Disc + "/Docs").c_str(), 0), 0);
    const TDiscCheck check = Check();
    ASSERT_EQ(check.Unreadable.size(), 1u);
    EXPECT_EQ(AnsiToUtf8(check.Unreadable[0].Path), "Docs");
    EXPECT_TRUE(check.Unreadable[0].Folder);
    EXPECT_THAT(check.Missing, IsEmpty());
}

} // namespace
