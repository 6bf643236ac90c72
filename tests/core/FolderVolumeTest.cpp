// Discs read where they are mounted: a folder stands for the mounted disc in the drive table.

#include "support/DiscTrees.h"

#include "platform/Drives.h"

#include <gtest/gtest.h>
#include <set>

namespace {

constexpr int64_t kTime = 1262304000; // 2010-01-01 00:00:00 UTC

class MountedDisc : public ::testing::Test {
protected:
    MountedDisc()
    {
        Drives.Add('E', {TDriveSource::TKind::Folder, Scratch / "disc", Ansi("Фото")});
    }

    const TCollectionNode& Scan(const std::vector<TTreeEntry>& tree, size_t count)
    {
        MakeTree(Scratch / "disc", tree);
        const std::unique_ptr<IVolume> volume = Drives.OpenVolume('E');
        EXPECT_EQ(volume->Label(), Ansi("Фото"));
        EXPECT_EQ(Collection.ScanDisc("disc", *volume), static_cast<int32_t>(count));
        return Collection.GetNode(Collection.Discs.back());
    }

    TScratchFolder Scratch;
    TDriveTable Drives;
    TFendrel Collection;
};

TEST_F(MountedDisc, TreeIsReadWholeWithLinksAsFilesNeverFollowed)
{
    const std::vector<TTreeEntry> tree = {FolderEntry("Альбом", kTime + 1),
                                          FileEntry("Альбом/Снимок 001.jpg", kTime + 2, 300000),
                                          LinkEntry("Альбом/loop", kTime + 3, ".."),
                                          LinkEntry("dangling", kTime + 5, "nowhere"),
                                          FolderEntry("Empty", kTime + 6),
                                          FolderEntry("a\\b", kTime + 7), // "\" is just a character
                                          FileEntry("a\\b/inside", kTime + 8, 1),
                                          FileEntry(".hidden", kTime + 9, 2),
                                          FileEntry("sparse", kTime + 10, (1ull << 32) + 5)};
    const TCollectionNode& disc = Scan(tree, tree.size());
    EXPECT_EQ(DumpScanned(Collection, disc, true), DumpExpected(tree));
    EXPECT_TRUE(IdsArePreOrder(Collection, disc));
}

// Linux names are bytes: UTF-8 mostly, but any byte but "/" and zero may stand in them.
TEST_F(MountedDisc, EveryNameIsKeptExactlyAndTimesKeepTheirFraction)
{
    MakeTree(Scratch / "disc",
             {FileEntry("line\r\nbreak", kTime, 1), FileEntry("bad\xFF", kTime, 2),
              FileEntry("bad\xFE", kTime, 3), FolderEntry("Müller \xC3", kTime),
              FileEntry("Müller \xC3/日本語.txt", kTime, 4), FileEntry(" leading", kTime, 5),
              FileEntry("😀", kTime, 6)});
    const timespec precise[2] = {{kTime, 123456789}, {kTime, 123456789}};
    ASSERT_EQ(::utimensat(AT_FDCWD, (Scratch / "disc/bad\xFF").c_str(), precise, 0), 0);
    const TCollectionNode& disc = Scan({}, 7);
    const std::string t = " t=" + std::to_string(FileTimeFromUnix(kTime)) + " s=";
    EXPECT_EQ(DumpScanned(Collection, disc, true),
              "E  leading" + t + "5\nF Müller \xEF\xBF\xBD" + t + "0\n  E 日本語.txt" + t +
                  "4\nE bad\xEF\xBF\xBD" + t +
                  "3\nE bad\xEF\xBF\xBD t=" + std::to_string(FileTimeFromUnix(kTime) + 1234567) +
                  " s=2\nE line␍␊break" + t + "1\nE 😀" + t + "6\n");

    // Shown alike, the two bad names are stored apart, each byte as it was.
    std::set<std::string> names;
    for (const uint32_t id : disc.Children)
        names.insert(Collection.GetNode(id).Name.str());
    EXPECT_EQ(names.size(), 6u);
    EXPECT_TRUE(names.contains("bad\x98"
                               "00DCFF"));
    EXPECT_TRUE(names.contains("bad\x98"
                               "00DCFE"));

    // Saved and loaded again, every name comes back byte for byte, each record on its line.
    const std::string text = Collection.SaveToText();
    TFendrel reloaded;
    ASSERT_TRUE(reloaded.LoadFromText(text));
    EXPECT_EQ(reloaded.SaveToText(), text);
    EXPECT_EQ(DumpScanned(reloaded, reloaded.GetNode(reloaded.Discs.at(0)), true),
              DumpScanned(Collection, disc, true));
}

TEST_F(MountedDisc, UnreadableFolderStaysEmptyAndTheWalkGoesOn)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "root reads every folder";
    MakeTree(Scratch / "disc", {FolderEntry("locked", kTime), FileEntry("locked/secret", kTime, 1),
                                FolderEntry("z", kTime), FileEntry("z/open", kTime, 1)});
    ASSERT_EQ(::chmod((Scratch / "disc/locked").c_str(), 0), 0);
    const std::string t = std::to_string(FileTimeFromUnix(kTime));
    EXPECT_EQ(DumpScanned(Collection, Scan({}, 3), true),
              "F locked t=" + t + " s=0\nF z t=" + t + " s=0\n  E open t=" + t + " s=1\n");
}

TEST_F(MountedDisc, PathsLongerThanTheSystemLimitAreStillRead)
{
    // 1,100 levels of "abc/" make a path of 4,400 bytes, more than one call may name.
    MakeTree(Scratch / "disc", {});
    int fd = ::open((Scratch / "disc").c_str(), O_RDONLY | O_DIRECTORY);
    for (int level = 0; level < 1100 && fd >= 0; ++level) {
        ::mkdirat(fd, "abc", 0755);
        const int next = ::openat(fd, "abc", O_RDONLY | O_DIRECTORY);
        ::close(std::exchange(fd, next));
    }
    ::close(::openat(fd, "bottom", O_WRONLY | O_CREAT, 0644));
    ::close(fd);
    Scan({}, 1101);
    EXPECT_EQ(Collection.GetNode(Collection.LastId).Name.str(), "bottom");
}

} // namespace
