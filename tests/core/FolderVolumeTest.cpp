// Discs read where they are mounted: a folder stands for the mounted disc in the drive table.

#include "support/DiscTrees.h"

#include "platform/AnsiText.h"
#include "platform/Drives.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int64_t kTime = 1262304000; // 2010-01-01 00:00:00 UTC

class MountedDisc : public ::testing::Test {
protected:
    MountedDisc() { Drives.Add('E', {TDriveSource::TKind::Folder, Root(), Ansi("Фото")}); }

    [[nodiscard]] std::string Root() const { return Scratch / "disc"; }

    const TCollectionNode& Scan(int32_t expectedCount)
    {
        const std::unique_ptr<IVolume> volume = Drives.OpenVolume('E');
        if (!volume)
            throw std::runtime_error("the folder cannot be read");
        EXPECT_EQ(Collection.ScanDisc("disc", *volume), expectedCount);
        return Collection.GetNode(Collection.Discs.back());
    }

    TScratchFolder Scratch;
    TDriveTable Drives;
    TFendrel Collection;
};

TEST_F(MountedDisc, TreeIsReadWholeWithLinksAsFilesNeverFollowed)
{
    const std::vector<TTreeEntry> tree = {
        FolderEntry("Альбом", kTime + 1),
        FileEntry("Альбом/Снимок 001.jpg", kTime + 2, 300000),
        LinkEntry("Альбом/loop", kTime + 3, ".."),
        LinkEntry("Альбом/self", kTime + 4, "."),
        LinkEntry("dangling", kTime + 5, "nowhere"),
        FolderEntry("Empty", kTime + 6),
        FolderEntry("a\\b", kTime + 7), // a backslash is an ordinary character in a name
        FileEntry("a\\b/inside", kTime + 8, 1),
        FileEntry(".hidden", kTime + 9, 2),
        FileEntry("sparse", kTime + 10, (1ull << 32) + 5),
    };
    MakeTree(Root(), tree);
    EXPECT_EQ(Drives.OpenVolume('E')->Label(), Ansi("Фото"));
    const TCollectionNode& disc = Scan(static_cast<int32_t>(tree.size()));
    EXPECT_EQ(DumpScanned(Collection, disc, true), DumpExpected(tree, TOrder::ByBytes));
    EXPECT_TRUE(IdsArePreOrder(Collection, disc));
}

TEST_F(MountedDisc, NamesAreCleanedOfControlBytesAndTimesKeepTheirFraction)
{
    MakeTree(Root(), {FileEntry("line\r\nbreak", kTime, 1), FileEntry("tab\there", kTime, 2),
                      FileEntry("bad\xFF\xFE", kTime, 3)});
    const timespec precise[2] = {{kTime, 123456789}, {kTime, 123456789}};
    ASSERT_EQ(::utimensat(AT_FDCWD, (Root() + "/tab\there").c_str(), precise, 0), 0);

    const TCollectionNode& disc = Scan(3);
    const std::string t = std::to_string(FileTimeFromUnix(kTime));
    EXPECT_EQ(DumpScanned(Collection, disc, true),
              "E bad?? t=" + t + " s=3\n" + "E line??break t=" + t + " s=1\n" +
                  "E tab?here t=" + std::to_string(FileTimeFromUnix(kTime) + 1234567) + " s=2\n");
}

TEST_F(MountedDisc, UnreadableFolderStaysEmptyAndTheWalkGoesOn)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "root reads every folder";
    MakeTree(Root(), {FolderEntry("a", kTime), FolderEntry("locked", kTime),
                      FileEntry("locked/secret", kTime, 1), FolderEntry("z", kTime),
                      FileEntry("z/open", kTime, 1)});
    ASSERT_EQ(::chmod((Root() + "/locked").c_str(), 0), 0);
    const TCollectionNode& disc = Scan(4);
    const std::string t = std::to_string(FileTimeFromUnix(kTime));
    EXPECT_EQ(DumpScanned(Collection, disc, true), "F a t=" + t + " s=0\n" + "F locked t=" + t +
                                                       " s=0\n" + "F z t=" + t + " s=0\n" +
                                                       "  E open t=" + t + " s=1\n");
}

TEST_F(MountedDisc, PathsLongerThanTheSystemLimitAreStillRead)
{
    // 1,100 levels of "abc/" make a path of 4,400 bytes, beyond what one call may name.
    constexpr int depth = 1100;
    ASSERT_EQ(::mkdir(Root().c_str(), 0755), 0);
    int fd = ::open(Root().c_str(), O_RDONLY | O_DIRECTORY);
    for (int level = 0; level < depth; ++level) {
        ASSERT_EQ(::mkdirat(fd, "abc", 0755), 0);
        const int next = ::openat(fd, "abc", O_RDONLY | O_DIRECTORY);
        ::close(fd);
        fd = next;
        ASSERT_GE(fd, 0);
    }
    ::close(::openat(fd, "bottom", O_WRONLY | O_CREAT, 0644));
    ::close(fd);

    Scan(depth + 1);
    EXPECT_EQ(Collection.GetNode(Collection.LastId).Name.str(), "bottom");
}

} // namespace
