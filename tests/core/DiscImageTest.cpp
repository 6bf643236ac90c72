// Discs read without mounting: ISO 9660 images that xorriso writes during the test, reached through
// the drive table like a real drive.

#include "support/DiscTrees.h"

#include "collection/NameOrder.h"
#include "discs/Drives.h"
#include "discs/FolderVolume.h"

#include <gtest/gtest.h>
#include <iterator>

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
        Scan(tree, "-volid 'ДИСК 1' -joliet on -rockridge off", tree.size());
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

// A disc with both Joliet and Rock Ridge, as Linux burning programs write it, is read through Rock
// Ridge: names Joliet would cut or mangle stay whole and links stay, just as the folder it was
// made of scans, whether the image is added or stands for the disc in a drive.
TEST_F(DiscImage, RockRidgeIsReadBeforeJolietAsTheFolderItWasMadeOf)
{
    std::vector<TTreeEntry> tree = SampleTree();
    tree.push_back(FileEntry("🎵 music.mp3", kTime + 3, 300));
    tree.push_back(FileEntry(std::string(196, 'x') + ".txt", kTime + 4, 200));
    tree.push_back(LinkEntry("Документы/к папке", kTime + 5, ".."));
    tree.push_back(LinkEntry("dangling", kTime + 6, "nowhere"));
    const TCollectionNode& disc =
        Scan(tree, "-volid 'ДИСК 2' -joliet on -rockridge on", tree.size());
    EXPECT_EQ(Volume->Label(), Ansi("ДИСК 2"));
    const std::string fromImage = DumpScanned(Collection, disc, true);
    EXPECT_EQ(fromImage, DumpExpected(tree));

    const std::unique_ptr<IVolume> folder = OpenFolderVolume(Scratch / "source", "folder");
    ASSERT_TRUE(folder);
    ASSERT_EQ(Collection.ScanDisc("folder", *folder), static_cast<int32_t>(tree.size()));
    EXPECT_EQ(DumpScanned(Collection, Collection.GetNode(Collection.Discs.back()), true),
              fromImage);

    Drives.Add('E', {TDriveSource::TKind::Device, Scratch / "disc.iso", {}});
    const std::unique_ptr<IVolume> drive = Drives.OpenVolume('E');
    ASSERT_TRUE(drive);
    ASSERT_EQ(Collection.ScanDisc("drive", *drive), static_cast<int32_t>(tree.size()));
    EXPECT_EQ(DumpScanned(Collection, Collection.GetNode(Collection.Discs.back()), true),
              fromImage);
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

// Names that code page 1251 cannot hold, letter-case twins among them, from the Joliet or the
// Rock Ridge names of an image: shown as they are, saved and loaded again byte for byte, and
// found by a filter in either letter case.
class ForeignNames : public DiscImage {
protected:
    void ScanSaveReloadAndFind(const std::string& options, bool joliet)
    {
        std::vector<TTreeEntry> tree = {
            FolderEntry("Müller", kTime),           FileEntry("Müller/Ελληνικά.txt", kTime + 1, 10),
            FileEntry("MÜLLER.MP3", kTime + 2, 20), FileEntry("日本語.txt", kTime + 3, 30),
            FileEntry("Twin.txt", kTime + 5, 50),   FileEntry("TWIN.TXT", kTime + 6, 60),
            FileEntry("Привет café", kTime + 7, 70)};
        if (!joliet) {
            // Joliet holds no more than 64 characters, all of the first plane.
            std::string longest; // 254 bytes of UTF-8, as long as a Linux name gets
            for (int i = 0; i < 127; ++i)
                longest += "é";
            tree.push_back(FileEntry(longest, kTime + 8, 80));
            tree.push_back(FileEntry("😀 emoji.png", kTime + 4, 40));
        }
        const TCollectionNode& disc = Scan(tree, options, tree.size());
        EXPECT_EQ(DumpScanned(Collection, disc, true), DumpExpected(tree));

        const std::string text = Collection.SaveToText();
        TFendrel reloaded;
        ASSERT_TRUE(reloaded.LoadFromText(text));
        EXPECT_EQ(reloaded.SaveToText(), text);
        EXPECT_EQ(DumpScanned(reloaded, reloaded.GetNode(reloaded.Discs.back()), true),
                  DumpExpected(tree));

        const auto find = [&](const char* filter) {
            TCollectionBranch hits;
            reloaded.FindNodes(FoldName(Ansi(filter)), hits);
            std::vector<std::string> names;
            for (const uint32_t id : hits)
                names.push_back(AnsiToUtf8(reloaded.GetNode(id).Name));
            std::sort(names.begin(), names.end());
            return names;
        };
        EXPECT_EQ(find("ü"), (std::vector<std::string>{"MÜLLER.MP3", "Müller"}));
        EXPECT_EQ(find("Ü"), find("ü"));
        EXPECT_EQ(find("ΕΛΛΗΝΙΚΆ"), std::vector<std::string>{"Ελληνικά.txt"});
        EXPECT_EQ(find("本語"), std::vector<std::string>{"日本語.txt"});
        EXPECT_EQ(find("twin"), (std::vector<std::string>{"TWIN.TXT", "Twin.txt"}));
        EXPECT_TRUE(find("?").empty());
    }
};

TEST_F(ForeignNames, FromJoliet)
{
    ScanSaveReloadAndFind("-joliet on -rockridge off", true);
}

TEST_F(ForeignNames, FromRockRidge)
{
    ScanSaveReloadAndFind("-joliet off -rockridge on", false);
}

// Old Russian discs without Joliet or Rock Ridge carry code page 1251 in their plain names and
// label; names that are valid UTF-8 are read as UTF-8.
TEST_F(DiscImage, PlainIsoNamesThatAreNotUtf8AreReadAsCodePage1251)
{
    MakeTree(Scratch / "source",
             {FolderEntry("PAPKA", kTime), FileEntry("PAPKA/FAIL.TXT", kTime, 1),
              FileEntry("UTF8", kTime, 2), FileEntry("ODD", kTime, 3)});
    MakeIsoImage(Scratch / "source", Scratch / "disc.iso",
                 "-volid DISK -joliet off -rockridge off");
    std::string image;
    {
        std::ifstream in(Scratch / "disc.iso", std::ios::binary);
        image.assign(std::istreambuf_iterator<char>(in), {});
    }
    // Each name is given its new bytes where it follows its length in a directory record.
    const auto rename = [&](const std::string& from, const std::string& to) {
        ASSERT_EQ(from.size(), to.size());
        const std::string record = static_cast<char>(from.size()) + from;
        for (size_t at = image.find(record); at != std::string::npos; at = image.find(record, at))
            image.replace(at + 1, from.size(), to);
    };
    rename("PAPKA", Ansi("ПАПКА"));
    rename("FAIL.TXT;1", Ansi("ФАЙЛ.TXT;1"));
    rename("UTF8.;1", "Жж.;1");
    rename("ODD.;1", "O\x98X.;1");
    image.replace(16 * 2048 + 40, 4, Ansi("ДИСК"));
    std::ofstream(Scratch / "disc.iso", std::ios::binary | std::ios::trunc) << image;

    Drives.Add('D', {TDriveSource::TKind::Image, Scratch / "disc.iso", {}});
    Volume = Drives.OpenVolume('D');
    ASSERT_TRUE(Volume);
    EXPECT_EQ(Volume->Label(), Ansi("ДИСК"));
    EXPECT_EQ(Collection.ScanDisc("disc", *Volume), 4);
    const std::string t = " t=" + std::to_string(FileTimeFromUnix(kTime)) + " s=";
    EXPECT_EQ(DumpScanned(Collection, Collection.GetNode(Collection.Discs.back()), true),
              "E O\xEF\xBF\xBDX" + t + "3\nE Жж" + t + "2\nF ПАПКА" + t + "0\n  E ФАЙЛ.TXT" + t +
                  "1\n");
}

// A Rock Ridge name may run longer than the collection keeps: it is cut at the scan, so that
// what is saved is what loads, while the walk still finds the folder by its whole name.
TEST_F(DiscImage, RockRidgeNameLongerThanTheCollectionKeepsIsCutAtTheScan)
{
    const std::string name(255, 'a');
    MakeTree(Scratch / "source", {FolderEntry(name, kTime), FileEntry(name + "/inside", kTime, 1)});
    MakeIsoImage(Scratch / "source", Scratch / "disc.iso", "-joliet off -rockridge on");
    std::string image;
    {
        std::ifstream in(Scratch / "disc.iso", std::ios::binary);
        image.assign(std::istreambuf_iterator<char>(in), {});
    }
    // The folder's record lists its PX entry before the NM entries of its name: made into one
    // more NM entry, it puts 31 letters b before the 255 letters a.
    const size_t nm = image.find("NM");
    const size_t px = image.rfind("PX\x24\x01", nm);
    ASSERT_NE(nm, std::string::npos);
    ASSERT_TRUE(px != std::string::npos && nm - px < 100);
    image.replace(px, 36, std::string("NM\x24\x01\x01") + std::string(31, 'b'));
    std::ofstream(Scratch / "disc.iso", std::ios::binary | std::ios::trunc) << image;

    Drives.Add('D', {TDriveSource::TKind::Image, Scratch / "disc.iso", {}});
    Volume = Drives.OpenVolume('D');
    ASSERT_TRUE(Volume);
    EXPECT_EQ(Collection.ScanDisc("disc", *Volume), 2);
    const TCollectionNode& folder = Collection.GetNode(Collection.GetNode(1).Children.at(0));
    EXPECT_EQ(folder.Name.str(), std::string(31, 'b') + std::string(224, 'a'));
    ASSERT_EQ(folder.Children.size(), 1u) << "the folder is opened by its whole name";
    const std::string text = Collection.SaveToText();
    TFendrel reloaded;
    ASSERT_TRUE(reloaded.LoadFromText(text));
    EXPECT_EQ(reloaded.SaveToText(), text);
}

TEST_F(DiscImage, FileOver4GiBInSeveralExtentsKeepsItsWholeSize)
{
    const std::vector<TTreeEntry> tree = {FileEntry("huge.bin", kTime, 5ull << 30),
                                          FileEntry("small.bin", kTime, 10)};
    const TCollectionNode& disc = Scan(tree, "-compliance iso_9660_level=3 -joliet on", 2);
    EXPECT_EQ(DumpScanned(Collection, disc), DumpExpected(tree));
    EXPECT_EQ(Collection.GetNode(disc.Children.at(0)).Size, 1u << 30); // the record line's half
    EXPECT_EQ(Collection.GetNode(disc.Children.at(0)).FullSize(), 5ull << 30);
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
