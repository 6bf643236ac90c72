// Discs in UDF: images that the builder writes in every layout, empty file systems of each kind
// that mkudffs makes, UDF bridges that genisoimage makes, and damaged copies of them, all opened
// through the drive table as an image added as a disc is.

#include "support/UdfImageBuilder.h"

#include "discs/Drives.h"
#include "discs/UdfRecords.h"

#include <gtest/gtest.h>
#include <random>

namespace {

constexpr int64_t kTime = 981173106; // 2001-02-03 04:05:06 UTC
constexpr size_t kBlock = 2048;

// Cyrillic names (16-bit), Latin ones (8-bit), a name longer than Joliet allows, a file of
// 5 GiB, an empty folder, a folder nested ten deep and one of several directory blocks.
std::vector<TTreeEntry> SampleTree()
{
    std::vector<TTreeEntry> tree = {FolderEntry("Документы", kTime + 60),
                                    FileEntry("Документы/Отчет за год.txt", kTime + 120, 1234),
                                    FileEntry("Документы/readme", kTime - 86400 * 365, 0),
                                    FolderEntry("Empty", kTime + 180),
                                    FileEntry(std::string(200, 'n') + ".long", kTime + 7, 9),
                                    FileEntry("huge.bin", kTime + 240, 5ull << 30)};
    std::string path = "level1";
    for (int level = 1; level <= 10; ++level) {
        path += level > 1 ? "/level" + std::to_string(level) : "";
        tree.push_back(FolderEntry(path, kTime + 1000 + level));
    }
    tree.push_back(FileEntry(path + "/bottom.dat", kTime + 2000, 42));
    tree.push_back(FolderEntry("Много", kTime));
    for (int i = 0; i < 120; ++i)
        tree.push_back(FileEntry("Много/Файл с длинным именем номер " + std::to_string(i) + ".txt",
                                 kTime + i, 1000 + i));
    return tree;
}

class UdfImage : public ::testing::Test {
protected:
    // The disc in the image as text (the count, then the tree), or "refused".
    std::string ScanText(const std::string& bytes)
    {
        WriteFile(Image, bytes);
        return ScanFile(Image);
    }
    std::string ScanFile(const std::string& path)
    {
        Volume = Drives.OpenImage(path);
        if (!Volume)
            return "refused";
        TFendrel collection;
        const int32_t count = collection.ScanDisc("disc", *Volume);
        const TCollectionNode& disc = collection.GetNode(collection.Discs.at(0));
        return std::to_string(count) + "\n" + DumpScanned(collection, disc, true);
    }
    static std::string Whole(const std::vector<TTreeEntry>& tree)
    {
        return std::to_string(tree.size()) + "\n" + DumpExpected(tree);
    }

    TScratchFolder Scratch;
    std::string Image = Scratch / "disc.udf";
    TDriveTable Drives;
    std::unique_ptr<IVolume> Volume;
};

struct TLayout {
    const char* Name;
    TUdfImageOptions Options;
};

class UdfLayout : public UdfImage, public ::testing::WithParamInterface<TLayout> {};

TEST_P(UdfLayout, WholeTreeWithNamesTimesAtTheirZoneAndWholeSizes)
{
    TUdfImageOptions options = GetParam().Options;
    options.Label = "Мой диск";
    const std::vector<TTreeEntry> tree = SampleTree();
    EXPECT_EQ(ScanText(MakeUdfImage(tree, options).Bytes), Whole(tree));
    EXPECT_EQ(Volume->Label(), Ansi("Мой диск"));
    EXPECT_TRUE(Volume->OpenFolder("/level1/level2/"));
    EXPECT_FALSE(Volume->OpenFolder("/huge.bin/"));
}

TUdfImageOptions Layout(bool metadata, bool embedded, bool longAds, uint32_t extentBlocks,
                        uint32_t inEntry, int zone)
{
    TUdfImageOptions o;
    o.Metadata = metadata;
    o.Embedded = embedded;
    o.LongDescriptors = longAds;
    o.ExtentBlocks = extentBlocks;
    o.DescriptorsInEntry = inEntry;
    o.ZoneMinutes = zone;
    return o;
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, UdfLayout,
    ::testing::Values(TLayout{"Udf102", Layout(false, false, false, 0, 0, 0)},
                      TLayout{"Udf102EmbeddedEast", Layout(false, true, false, 0, 0, 180)},
                      TLayout{"Udf102BlockExtentsContinued", Layout(false, false, true, 1, 1, 0)},
                      TLayout{"Udf250Metadata", Layout(true, false, false, 0, 0, -300)},
                      TLayout{"Udf250EmbeddedLong", Layout(true, true, true, 0, 0, 0)},
                      TLayout{"Udf250BlockExtentsContinued", Layout(true, false, false, 1, 2, 60)}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(UdfImage, DiscInADriveThatIsNotMountedIsReadThroughUdf)
{
    const std::vector<TTreeEntry> tree = {FolderEntry("a", kTime), FileEntry("a/b.txt", kTime, 7)};
    TUdfImageOptions options;
    options.Label = "DVD";
    WriteFile(Image, MakeUdfImage(tree, options).Bytes);
    Drives.Add('E', {TDriveSource::TKind::Device, Image, {}}); // not a mounted block device
    const std::unique_ptr<IVolume> disc = Drives.OpenVolume('E');
    ASSERT_TRUE(disc);
    EXPECT_EQ(disc->Label(), "DVD");
    TFendrel collection;
    EXPECT_EQ(collection.ScanDisc("disc", *disc), 2);
    EXPECT_EQ(DumpScanned(collection, collection.GetNode(collection.Discs[0]), true),
              DumpExpected(tree));
}

// What a burning tool writes before any file: every layout mkudffs makes opens with its label.
TEST_F(UdfImage, EmptyFileSystemsOfEveryKindMkudffsWrites)
{
    const char* kinds[] = {"--media-type=hd -b 2048 --udfrev=1.02",
                           "--media-type=hd -b 2048 --udfrev=1.50",
                           "--media-type=hd -b 2048 --udfrev=2.01",
                           "--media-type=hd -b 2048 --udfrev=2.01 --noefe --ad=short",
                           "--media-type=hd -b 512 --udfrev=2.01",
                           "--media-type=cdrw --udfrev=2.01", // sparable partition
                           "--media-type=cdr --udfrev=1.50",  // virtual allocation table
                           "--media-type=dvdr --udfrev=2.01",
                           "--media-type=bdr --udfrev=2.50", // table and metadata partition
                           "--media-type=bdr --udfrev=2.60"};
    for (const char* kind : kinds) {
        SCOPED_TRACE(kind);
        std::filesystem::remove(Image);
        const std::string command = std::string("mkudffs --utf8 --new-file --label=Проба ") + kind +
                                    " '" + Image + "' 20000 >/dev/null 2>&1";
        ASSERT_EQ(std::system(command.c_str()), 0);
        EXPECT_EQ(ScanFile(Image), "0\n");
        ASSERT_TRUE(Volume);
        EXPECT_EQ(Volume->Label(), Ansi("Проба"));
    }
}

// genisoimage writes UDF beside plain ISO 9660 names; with those names stripped, the same image
// is a disc of UDF alone. Either way the UDF names are read; with UDF gone, or holding less
// than ISO 9660, ISO 9660's.
TEST_F(UdfImage, BridgeIsReadThroughUdfUnlessItsIsoTreeHoldsMore)
{
    const std::vector<TTreeEntry> tree = {FolderEntry("Папка", kTime), FolderEntry("Sub", kTime),
                                          FileEntry("Sub/readme.txt", kTime, 2),
                                          FileEntry("Папка/Длинное имя.html", kTime, 3)};
    MakeTree(Scratch / "source", tree);
    const std::string command = "genisoimage -quiet -udf -V DATA -o '" + Image + "' '" +
                                Scratch / "source" + "' 2>/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
    std::ostringstream read;
    read << std::ifstream(Image, std::ios::binary).rdbuf();
    const std::string bridge = read.str();
    EXPECT_EQ(ScanFile(Image), Whole(tree));
    EXPECT_EQ(Volume->Label(), "DATA");

    std::string udfOnly = bridge;
    for (size_t block = 16; udfOnly.compare(block * kBlock + 1, 5, "CD001") == 0; ++block)
        std::fill_n(udfOnly.begin() + static_cast<ptrdiff_t>(block * kBlock), kBlock, '\0');
    EXPECT_EQ(ScanText(udfOnly), Whole(tree));

    const std::string t = " t=" + std::to_string(FileTimeFromUnix(kTime)) + " s=";
    const std::string iso = "4\nF SUB" + t + "0\n  E README.TXT" + t + "2\nF ________" + t +
                            "0\n  E ________.HTM" + t + "3\n";
    std::string isoOnly = bridge; // every anchor of the UDF volume lost
    for (size_t block = 256; block < isoOnly.size() / kBlock; ++block)
        if (isoOnly.compare(block * kBlock, 2, "\x02\x00", 2) == 0)
            isoOnly[block * kBlock] = 0;
    EXPECT_EQ(ScanText(isoOnly), iso);

    // With "Sub" deleted from the UDF root, the ISO 9660 root holds more: it is read instead.
    std::string lessUdf = bridge;
    const size_t sub = lessUdf.find("\x08Sub") - 38;
    lessUdf[sub + 18] = static_cast<char>(lessUdf[sub + 18] | 0x04);
    const auto location = static_cast<uint32_t>(static_cast<unsigned char>(lessUdf[sub + 12]) |
                                                static_cast<unsigned char>(lessUdf[sub + 13]) << 8);
    udf_builder_detail::Tag(lessUdf, sub, 257, location, 38 + 4, 2);
    EXPECT_EQ(ScanText(lessUdf), iso);
}

// Points the entry named in an identifier of the folder's directory at block.
void PointAt(TUdfImage& image, const std::string& folder, const std::string& leaf, uint32_t block)
{
    const std::string name = std::string(1, '\x08') + leaf;
    const size_t at = image.Bytes.find(name, image.Directory.at(folder)) - 38;
    udf_builder_detail::Put32(image.Bytes, at + 24, block);
    udf_builder_detail::Tag(image.Bytes, at, 257, 0, 38 + name.size(), 2);
}

uint32_t BlockOf(const TUdfImage& image, const std::string& path)
{
    return static_cast<uint32_t>(image.Entry.at(path) / kBlock -
                                 udf_builder_detail::kPartitionStart);
}

// Folders whose directories are damaged or lie past the end are left empty; folders that lead
// back to the root, or to a directory already listed, are walked once; entries that cannot be
// read keep their names; everything else is read.
TEST_F(UdfImage, DamagedMissingAndLoopingFoldersAreLeftEmpty)
{
    TUdfImage image =
        MakeUdfImage({FolderEntry("FIRST", kTime), FileEntry("FIRST/F.TXT", kTime, 1),
                      FolderEntry("SHARED", kTime), FileEntry("SHARED/S.TXT", kTime, 2),
                      FolderEntry("BAD", kTime), FileEntry("BAD/X.TXT", kTime, 3),
                      FileEntry("BAD/Y.TXT", kTime, 3), FolderEntry("FAR", kTime),
                      FolderEntry("LOOP", kTime), FolderEntry("HUGE", kTime),
                      FileEntry("LOST.TXT", kTime, 4), FileEntry("CIRCLE.TXT", kTime, 5)});
    std::string& b = image.Bytes;
    b[image.Directory.at("BAD") + 40 + 4] ^= 1; // the checksum of its first named identifier
    PointAt(image, "", "FAR", 0x7FFFFFFF);
    PointAt(image, "", "LOOP", BlockOf(image, ""));
    PointAt(image, "", "SHARED", BlockOf(image, "FIRST"));
    std::fill_n(b.begin() + static_cast<ptrdiff_t>(image.Entry.at("LOST.TXT")), kBlock, '\0');
    // A directory claiming a terabyte in one extent that runs far past the image's end.
    udf_builder_detail::Put64(b, image.Entry.at("HUGE") + 56, 1ull << 40);
    udf_builder_detail::Put32(b, image.Entry.at("HUGE") + 176, 0x3FFFF800);
    udf_builder_detail::Tag(b, image.Entry.at("HUGE"), 261, BlockOf(image, "HUGE"), 184, 2);
    // An indirect entry that leads back to itself.
    const size_t circle = image.Entry.at("CIRCLE.TXT");
    std::fill_n(b.begin() + static_cast<ptrdiff_t>(circle), kBlock, '\0');
    udf_builder_detail::Put32(b, circle + 40, BlockOf(image, "CIRCLE.TXT"));
    udf_builder_detail::Tag(b, circle, 259, BlockOf(image, "CIRCLE.TXT"), 52, 2);

    const std::string t = " t=" + std::to_string(FileTimeFromUnix(kTime)) + " s=";
    const std::string root = " t=" + std::to_string(FileTimeFromUnix(0)) + " s=";
    EXPECT_EQ(ScanText(b), "9\nF BAD" + t + "0\nE CIRCLE.TXT t=0 s=0\nF FAR t=0 s=0\nF FIRST" + t +
                               "0\n  E F.TXT" + t + "1\nF HUGE" + t + "0\nF LOOP" + root +
                               "0\nE LOST.TXT t=0 s=0\nF SHARED" + t + "0\n");
}

// Folders whose entries all list the root's directory bytes nest into one another as deep as
// there are folders; the directories held open at once never exceed the image's size.
TEST_F(UdfImage, FoldersNestedIntoOneAnotherHoldNoMoreThanTheImage)
{
    constexpr size_t kFolders = 400;
    const auto name = [](size_t i) {
        std::string text = "N";
        text += std::to_string(i);
        return text;
    };
    std::vector<TTreeEntry> tree;
    for (size_t i = 0; i < kFolders; ++i)
        tree.push_back(FolderEntry(name(i), kTime));
    TUdfImage image = MakeUdfImage(tree);
    std::string& b = image.Bytes;
    const size_t root = image.Entry.at("");
    const auto field = [&](size_t at) {
        return static_cast<uint32_t>(static_cast<unsigned char>(b[at]) |
                                     static_cast<unsigned char>(b[at + 1]) << 8 |
                                     static_cast<unsigned char>(b[at + 2]) << 16);
    };
    const uint32_t size = field(root + 56), block = field(root + 180);
    for (size_t i = 0; i < kFolders; ++i) {
        const size_t entry = image.Entry.at(name(i));
        udf_builder_detail::Put64(b, entry + 56, size);
        udf_builder_detail::Put32(b, entry + 176, size);
        udf_builder_detail::Put32(b, entry + 180, block);
        udf_builder_detail::Tag(b, entry, 261, 0, 184, 2);
    }
    const size_t count = std::stoul(ScanText(b));
    EXPECT_GT(count, 2 * kFolders) << "the folders do nest";
    EXPECT_LE(count, kFolders * (b.size() / size + 1));
}

// A lost first anchor, main volume descriptors or metadata file: the copies the disc keeps of
// each are read instead.
TEST_F(UdfImage, CopiesStandInForLostAnchorDescriptorsAndMetadataFile)
{
    const std::vector<TTreeEntry> tree = {FolderEntry("a", kTime), FileEntry("a/b.txt", kTime, 7)};
    TUdfImageOptions options;
    options.Metadata = true;
    const std::string good = MakeUdfImage(tree, options).Bytes;
    const auto without = [&](std::initializer_list<size_t> blocks) {
        std::string damaged = good;
        for (const size_t block : blocks)
            std::fill_n(damaged.begin() + static_cast<ptrdiff_t>(block * kBlock), kBlock, '\0');
        return damaged;
    };
    EXPECT_EQ(ScanText(without({256})), Whole(tree)) << "the anchor in the last block";
    EXPECT_EQ(ScanText(without({32, 33, 34})), Whole(tree)) << "the reserve sequence";
    EXPECT_EQ(ScanText(without({udf_builder_detail::kPartitionStart})), Whole(tree))
        << "the metadata file's mirror";
    EXPECT_EQ(ScanText(without({256, good.size() / kBlock - 1})), "refused");
}

// Every cut of a good image, and copies with bytes of their descriptors, entries and
// directories changed at random: each is refused or scanned to an end, and a cut image never
// shows more than the whole one. Under the sanitizers this also checks every read's bounds.
TEST_F(UdfImage, CutAndScrambledImagesNeverCrashTheScan)
{
    std::vector<TTreeEntry> tree = {FolderEntry("Папка", kTime),
                                    FolderEntry("Папка/Вложенная", kTime),
                                    FileEntry("Папка/Вложенная/файл.txt", kTime, 10)};
    for (int i = 0; i < 60; ++i)
        tree.push_back(FileEntry("Папка/длинное имя файла " + std::to_string(i), kTime + i, i));
    for (const bool metadata : {false, true}) {
        SCOPED_TRACE(metadata);
        TUdfImageOptions options = Layout(metadata, true, metadata, 1, 1, 0);
        const std::string good = MakeUdfImage(tree, options).Bytes;
        ASSERT_EQ(ScanText(good), Whole(tree));
        for (size_t cut = 16 * kBlock; cut < good.size(); cut += 4093) {
            const std::string text = ScanText(good.substr(0, cut));
            if (text != "refused") {
                EXPECT_LE(std::stoul(text), tree.size()) << "cut at " << cut;
            }
        }
        std::mt19937 random(2024);
        std::uniform_int_distribution<size_t> position(16 * kBlock, good.size() - 1);
        for (int copy = 0; copy < 150; ++copy) {
            std::string scrambled = good;
            for (int change = 1 + copy % 20; change > 0; --change)
                scrambled[position(random)] = static_cast<char>(random());
            (void)ScanText(scrambled);
        }
    }
}

TEST(UdfRecords, NamesInBothCompressionsAndTimesAtTheirOffsetFromUtc)
{
    const auto bytes = [](std::initializer_list<int> list) {
        std::vector<uint8_t> v;
        for (const int b : list)
            v.push_back(static_cast<uint8_t>(b));
        return v;
    };
    EXPECT_EQ(Utf8FromCs0(bytes({8, 'c', 'a', 'f', 0xE9})), "caf\xC3\xA9");
    EXPECT_EQ(Utf8FromCs0(bytes({16, 0x04, 0x10, 0xD8, 0x3D, 0xDE, 0x00, 0x00})), "А😀");
    EXPECT_EQ(Utf8FromCs0(bytes({16, 0xD8, 0x3D, 0x00, 'x'})), "\xEF\xBF\xBDx")
        << "a lone surrogate";
    EXPECT_EQ(Utf8FromCs0(bytes({})), "");
    std::vector<uint8_t> label(32, 0);
    label[0] = 8, label[1] = 'O', label[2] = 'K', label[31] = 200; // a length past the field
    EXPECT_EQ(Utf8FromDstring(label), "OK");

    // 2001-02-03 07:05:06.123456 at UTC+3 (type 1, +180 minutes) is 04:05:06.123456 UTC.
    const uint64_t utc = FileTimeFromUnix(kTime, 123'456'000);
    EXPECT_EQ(FileTimeFromUdf(bytes({180, 0x10, 0xD1, 7, 2, 3, 7, 5, 6, 12, 34, 56})), utc);
    // 2001-02-02 23:05:06 at UTC-5: -300 minutes in twelve bits.
    EXPECT_EQ(FileTimeFromUdf(bytes({0xD4, 0x1E, 0xD1, 7, 2, 2, 23, 5, 6, 0, 0, 0})),
              FileTimeFromUnix(kTime));
    // No zone given (-2047), and a time recorded as UTC: both read as UTC.
    EXPECT_EQ(FileTimeFromUdf(bytes({0x01, 0x18, 0xD1, 7, 2, 3, 4, 5, 6, 0, 0, 0})),
              FileTimeFromUnix(kTime));
    EXPECT_EQ(FileTimeFromUdf(bytes({180, 0x00, 0xD1, 7, 2, 3, 4, 5, 6, 0, 0, 0})),
              FileTimeFromUnix(kTime));
    EXPECT_EQ(FileTimeFromUdf(bytes({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0})), 0u);
}

} // namespace
