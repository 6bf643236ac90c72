// Discs read without mounting: ISO 9660 images that xorriso writes during the test, reached through
// the drive table like a real drive.

#include "support/DiscTrees.h"

#include "platform/Drives.h"

#include <gtest/gtest.h>

namespace {

constexpr int64_t kTime = 981173106; // 2001-02-03 04:05:06 UTC

// Cyrillic and Latin names, an empty folder, a folder nested ten deep, distinct times and sizes.
std::vector<TTreeEntry> SampleTree()
{
    std::vector<TTreeEntry> tree = {FolderEntry("Документы", kTime + 60),
                                    FileEntry("Документы/Отчет за год.txt", kTime + 120, 1234),
                                    FileEntry("Документы/readme", kTime - 86400 * 365, 0),
                                    FolderEntry("Empty", kTime + 180),
                                    FileEntry("Ёлка.TXT", kTime + 240, 77),
                                    FileEntry("Track02.mp3", kTime + 420, 6000)};
    std::string path = "level1";
    for (int level = 1; level <= 10; ++level) {
        path += level > 1 ? "/level" + std::to_string(level) : "";
        tree.push_back(FolderEntry(path, kTime + 1000 + level));
    }
    tree.push_back(FileEntry(path + "/bottom.dat", kTime + 2000, 42));
    return tree;
}

class DiscImage : public ::testing::Test {
protected:
    // Writes an image of tree with the xorriso options, puts it in drive D: and scans it.
    const TCollectionNode& Scan(const std::vector<TTreeEntry>& tree, const std::string& options,
                                size_t count)
    {
        MakeTree(Scratch / "source", tree);
        MakeIsoImage(Scratch / "source", Scratch / "disc.iso", options);
        Drives.Add('D', {TDriveSource::TKind::Image, Scratch / "disc.iso", {}});
        Volume = Drives.OpenVolume('D');
        if (!Volume)
            throw std::runtime_error("the image cannot be read");
        EXPECT_EQ(Collection.ScanDisc("disc", *Volume), static_cast<int32_t>(count));
        return Collection.GetNode(Collection.Discs.back());
    }

    TScratchFolder Scratch;
    TDriveTable Drives;
    std::unique_ptr<IVolume> Volume;
    TFendrel Collection;
};

TEST_F(DiscImage, JolietTreeIsReadWholeWhateverTheReadersTimeZone)
{
    const char* zone = std::getenv("TZ");
    const std::string saved = zone ? zone : "";
    ::setenv("TZ", "Asia/Vladivostok", 1);
    ::tzset();
    const std::vector<TTreeEntry> tree = SampleTree();
    const TCollectionNode& disc =
        Scan(tree, "-volid 'ДИСК 1' -joliet on -rockridge on", tree.size());
    zone ? ::setenv("TZ", saved.c_str(), 1) : ::unsetenv("TZ");
    ::tzset();
    EXPECT_EQ(Volume->Label(), Ansi("ДИСК 1"));
    EXPECT_EQ(DumpScanned(Collection, disc), DumpExpected(tree)); // in the disc's own order
    EXPECT_TRUE(IdsArePreOrder(Collection, disc));
}

TEST_F(DiscImage, RockRidgeNamesAndLinksWithoutJoliet)
{
    std::vector<TTreeEntry> tree = SampleTree();
    tree.push_back(LinkEntry("Документы/loop", kTime + 5, ".."));
    tree.push_back(LinkEntry("dangling", kTime + 6, "nowhere"));
    tree.push_back(FileEntry(std::string(80, 'n') + ".long", kTime + 7, 9));
    const TCollectionNode& disc = Scan(tree, "-volid DATA -joliet off -rockridge on", tree.size());
    EXPECT_EQ(Volume->Label(), "DATA");
    EXPECT_EQ(DumpScanned(Collection, disc, true), DumpExpected(tree));
}

TEST_F(DiscImage, PlainIsoNamesLoseTheirVersion)
{
    const TCollectionNode& disc =
        Scan({FolderEntry("Sub", kTime), FileEntry("Sub/readme.txt", kTime, 2),
              FileEntry("noext", kTime, 3)},
             "-joliet off -rockridge off", 3);
    const std::string t = std::to_string(FileTimeFromUnix(kTime));
    EXPECT_EQ(DumpScanned(Collection, disc, true),
              "E NOEXT t=" + t + " s=3\nF SUB t=" + t + " s=0\n  E README.TXT t=" + t + " s=2\n");
}

TEST_F(DiscImage, FileOver4GiBKeepsTheLow32BitsOfItsWholeSize)
{
    const std::vector<TTreeEntry> tree = {FileEntry("huge.bin", kTime, 5ull << 30),
                                          FileEntry("small.bin", kTime, 10)};
    const TCollectionNode& disc = Scan(tree, "-compliance iso_9660_level=3 -joliet on", 2);
    EXPECT_EQ(DumpScanned(Collection, disc), DumpExpected(tree));
    EXPECT_EQ(Collection.GetNode(disc.Children.at(0)).Size, 1u << 30);
}

TEST_F(DiscImage, FolderOfManyBlocksAndFoldersRelocatedForDepthWithoutJoliet)
{
    std::vector<TTreeEntry> tree = SampleTree(); // ten levels: the deepest are relocated
    tree.push_back(FolderEntry("Много", kTime));
    for (int i = 0; i < 150; ++i) // records of about 100 bytes: several blocks
        tree.push_back(FileEntry("Много/Файл с длинным именем номер " + std::to_string(i) + ".txt",
                                 kTime + i, 1000 + i));
    const TCollectionNode& disc =
        Scan(tree, "-joliet off -rockridge on -compliance deep_paths_off", tree.size());
    EXPECT_EQ(DumpScanned(Collection, disc, true), DumpExpected(tree));
}

TEST_F(DiscImage, SameVolumeScansAgainAndFindsFoldersByPath)
{
    const std::vector<TTreeEntry> tree = {FolderEntry("a", kTime), FolderEntry("a/b", kTime),
                                          FileEntry("a/b/c.txt", kTime, 1)};
    const TCollectionNode& first = Scan(tree, "-joliet on", 3);
    EXPECT_EQ(Collection.ScanDisc("again", *Volume), 3);
    EXPECT_EQ(DumpScanned(Collection, Collection.GetNode(Collection.Discs.back())),
              DumpScanned(Collection, first));
    EXPECT_TRUE(Volume->OpenFolder("/a/b/"));
    EXPECT_FALSE(Volume->OpenFolder("/a/c/"));
    EXPECT_FALSE(Volume->OpenFolder("/a/b/c.txt/"));
}

} // namespace
