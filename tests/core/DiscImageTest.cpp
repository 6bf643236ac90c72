// Discs read without mounting: ISO 9660 images written by xorriso during the test, reached through
// the drive table like a real drive.

#include "support/DiscTrees.h"

#include "platform/AnsiText.h"
#include "platform/Drives.h"

#include <gtest/gtest.h>

namespace {

constexpr int64_t kTime = 981173106; // 2001-02-03 04:05:06 UTC

// Cyrillic and Latin names, an empty folder, a folder nested ten deep, distinct times and sizes.
std::vector<TTreeEntry> SampleTree()
{
    std::vector<TTreeEntry> tree = {
        FolderEntry("Документы", kTime + 60),
        FileEntry("Документы/Отчёт за год.txt", kTime + 120, 1234),
        FileEntry("Документы/readme", kTime - 86400 * 365, 0),
        FolderEntry("Empty", kTime + 180),
        FileEntry("Ёлка.TXT", kTime + 240, 77),
        FolderEntry("Music", kTime + 300),
        FileEntry("Music/track01.mp3", kTime + 360, 5000),
        FileEntry("Music/Track02.mp3", kTime + 420, 6000),
    };
    std::string path = "level1";
    for (int level = 1; level <= 10; ++level) {
        if (level > 1)
            path += "/level" + std::to_string(level);
        tree.push_back(FolderEntry(path, kTime + 1000 + level));
    }
    tree.push_back(FileEntry(path + "/bottom.dat", kTime + 2000, 42));
    return tree;
}

class DiscImage : public ::testing::Test {
protected:
    // Writes an image of tree with the xorriso options and puts it in drive D:.
    void MakeDisc(const std::vector<TTreeEntry>& tree, const std::string& options)
    {
        MakeTree(Scratch / "source", tree);
        MakeIsoImage(Scratch / "source", Scratch / "disc.iso", options);
        Drives.Add('D', {TDriveSource::TKind::Image, Scratch / "disc.iso", {}});
    }
    // Scans drive D: and returns the disc node.
    const TCollectionNode& Scan(int32_t expectedCount)
    {
        const std::unique_ptr<IVolume> volume = Drives.OpenVolume('D');
        if (!volume)
            throw std::runtime_error("the image cannot be read");
        EXPECT_EQ(Collection.ScanDisc("disc", *volume), expectedCount);
        return Collection.GetNode(Collection.Discs.back());
    }

    TScratchFolder Scratch;
    TDriveTable Drives;
    TFendrel Collection;
};

TEST_F(DiscImage, JolietNamesTimesSizesAndOrderAreReadWhole)
{
    const std::vector<TTreeEntry> tree = SampleTree();
    MakeDisc(tree, "-volid 'ДИСК 1' -joliet on -rockridge on");
    EXPECT_EQ(Drives.OpenVolume('D')->Label(), Ansi("ДИСК 1"));
    const TCollectionNode& disc = Scan(static_cast<int32_t>(tree.size()));
    EXPECT_EQ(DumpScanned(Collection, disc), DumpExpected(tree, TOrder::Joliet));
    EXPECT_TRUE(IdsArePreOrder(Collection, disc));
}

TEST_F(DiscImage, TimesDoNotDependOnTheReadersTimeZone)
{
    const std::vector<TTreeEntry> tree = {FileEntry("a.txt", kTime, 1)};
    MakeDisc(tree, "-joliet on");
    const char* saved = std::getenv("TZ");
    const std::string previous = saved ? saved : "";
    ::setenv("TZ", "Asia/Vladivostok", 1);
    ::tzset();
    const TCollectionNode& disc = Scan(1);
    saved ? ::setenv("TZ", previous.c_str(), 1) : ::unsetenv("TZ");
    ::tzset();
    EXPECT_EQ(DumpScanned(Collection, disc), DumpExpected(tree, TOrder::Joliet));
}

TEST_F(DiscImage, RockRidgeNamesAndLinksWithoutJoliet)
{
    std::vector<TTreeEntry> tree = SampleTree();
    tree.push_back(LinkEntry("Документы/loop", kTime + 5, ".."));
    tree.push_back(LinkEntry("dangling", kTime + 6, "nowhere"));
    tree.push_back(FileEntry(std::string(80, 'n') + ".long", kTime + 7, 9));
    MakeDisc(tree, "-volid DATA -joliet off -rockridge on");
    EXPECT_EQ(Drives.OpenVolume('D')->Label(), "DATA");
    const TCollectionNode& disc = Scan(static_cast<int32_t>(tree.size()));
    EXPECT_EQ(DumpScanned(Collection, disc, true), DumpExpected(tree, TOrder::ByBytes));
    EXPECT_TRUE(IdsArePreOrder(Collection, disc));
}

TEST_F(DiscImage, RockRidgeNameCutByTheReaderEndsOnAWholeCharacter)
{
    // Such names come back cut to 93 bytes, here in the middle of a two-byte letter.
    std::string name;
    for (int i = 0; i < 70; ++i)
        name += "Ж";
    MakeDisc({FileEntry(name, kTime, 1)}, "-joliet off -rockridge on");
    const TCollectionNode& disc = Scan(1);
    const std::string read = Collection.GetNode(disc.Children.at(0)).Name.str();
    EXPECT_EQ(read, std::string(46, '\xC6')) << AnsiToUtf8(read);
}

TEST_F(DiscImage, PlainIsoNamesLoseTheirVersion)
{
    MakeDisc({FolderEntry("Sub", kTime), FileEntry("Sub/readme.txt", kTime, 2),
              FileEntry("noext", kTime, 3)},
             "-joliet off -rockridge off");
    EXPECT_EQ(Drives.OpenVolume('D')->Label(), "ISOIMAGE");
    const TCollectionNode& disc = Scan(3);
    const uint64_t t = FileTimeFromUnix(kTime);
    EXPECT_EQ(DumpScanned(Collection, disc, true),
              "E NOEXT t=" + std::to_string(t) + " s=3\n" + "F SUB t=" + std::to_string(t) +
                  " s=0\n" + "  E README.TXT t=" + std::to_string(t) + " s=2\n");
}

TEST_F(DiscImage, FileOver4GiBKeepsTheLow32BitsOfItsWholeSize)
{
    const std::vector<TTreeEntry> tree = {FileEntry("huge.bin", kTime, 5ull << 30),
                                          FileEntry("small.bin", kTime, 10)};
    MakeDisc(tree, "-compliance iso_9660_level=3 -joliet on -rockridge on");
    const TCollectionNode& disc = Scan(2);
    EXPECT_EQ(DumpScanned(Collection, disc), DumpExpected(tree, TOrder::Joliet));
    EXPECT_EQ(Collection.GetNode(disc.Children.at(0)).Size, 1u << 30);
}

TEST_F(DiscImage, NoReadableDiscGivesNoVolume)
{
    Drives.Add('D', {TDriveSource::TKind::Image, Scratch / "missing.iso", {}});
    {
        std::FILE* junk = std::fopen((Scratch / "junk.iso").c_str(), "wb");
        ASSERT_NE(junk, nullptr);
        const std::string text(100000, 'j');
        std::fwrite(text.data(), 1, text.size(), junk);
        std::fclose(junk);
    }
    Drives.Add('E', {TDriveSource::TKind::Image, Scratch / "junk.iso", {}});
    Drives.Add('F', {TDriveSource::TKind::Folder, Scratch / "missing", {}});
    EXPECT_EQ(Drives.OpenVolume('D'), nullptr);
    EXPECT_EQ(Drives.OpenVolume('E'), nullptr);
    EXPECT_EQ(Drives.OpenVolume('F'), nullptr);
    EXPECT_EQ(Drives.OpenVolume('G'), nullptr);
}

} // namespace
