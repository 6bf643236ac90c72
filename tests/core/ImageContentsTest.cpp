// Files' bytes read back from disc images (ISO 9660 of each naming, UDF, every container): their
// checksums equal those of the files the image was made of; a flipped byte changes one, and an
// image cut short makes the files it lost unreadable from their first missing block.

#include "support/DiscTrees.h"
#include "support/RawSectors.h"
#include "support/UdfImageBuilder.h"

#include "discs/Drives.h"
#include "discs/FileContents.h"

#include <gtest/gtest.h>
#include <map>
#include <xxhash.h>

namespace {

constexpr int64_t kTime = 1262304000;
using enum TFileReading::TOutcome;

std::string Pattern(size_t size, unsigned seed)
{
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 131 + seed * 7 + (i >> 11) * 3) & 0xFF);
    return bytes;
}

TContentChecksum ChecksumOf(const std::string& bytes)
{
    const XXH128_hash_t hash = XXH3_128bits(bytes.data(), bytes.size());
    return {hash.low64, hash.high64};
}

// Files by path, across block and read boundaries: empty, one byte, one block, a little more than
// the reading's block.
std::map<std::string, std::string> Contents()
{
    return {{"empty", ""},
            {"one", "1"},
            {"Папка/block.bin", Pattern(2048, 1)},
            {"Папка/Вложенная/odd.bin", Pattern(2049, 2)},
            {"big.bin", Pattern(kContentBlock + 4096 * 3 + 77, 3)},
            {"tail.bin", Pattern(70000, 4)}};
}

std::vector<TTreeEntry> TreeOf(const std::map<std::string, std::string>& contents)
{
    std::vector<TTreeEntry> tree = {FolderEntry("Папка", kTime),
                                    FolderEntry("Папка/Вложенная", kTime)};
    for (const auto& [path, bytes] : contents)
        tree.push_back(FileEntry(path, kTime, bytes.size()));
    return tree;
}

class ImageContents : public ::testing::Test {
protected:
    // The source folder with the contents written into it.
    void MakeSource(const std::map<std::string, std::string>& contents)
    {
        MakeTree(Scratch / "source", TreeOf(contents));
        for (const auto& [path, bytes] : contents)
            WriteFileBytes(Scratch / ("source/" + path), bytes);
    }
    // A whole ISO 9660 image of the source folder.
    std::string MakeIso(const std::string& options, const std::string& name = "disc.iso")
    {
        const std::string image = Scratch / name;
        const std::string command = "LC_ALL=C.UTF-8 xorriso -outdev '" + image + "' " + options +
                                    " -map '" + Scratch / "source" + "' / >/dev/null 2>&1";
        if (std::system(command.c_str()) != 0)
            throw std::runtime_error("xorriso could not write " + image);
        return image;
    }
    // Scans the volume, then reads every file; each file's reading by its path below the root.
    std::map<std::string, TFileReading> ReadVolume(IVolume& volume)
    {
        TFendrel collection;
        std::vector<TFileToRead> files;
        (void)collection.ScanDisc("disc", volume, &files);
        std::vector<TFileReading> results;
        TReadingProgress progress;
        EXPECT_TRUE(ReadFileContents(volume, files, results, progress));
        std::map<std::string, TFileReading> byPath;
        for (size_t i = 0; i < files.size(); ++i)
            byPath[files[i].Path.substr(1)] = results[i];
        return byPath;
    }
    std::map<std::string, TFileReading> ReadImage(const std::string& path)
    {
        const std::unique_ptr<IVolume> volume = Drives.OpenImage(path);
        if (!volume)
            throw std::runtime_error("the image cannot be read: " + path);
        return ReadVolume(*volume);
    }
    // Every file read whole with the checksum of its source bytes.
    static void ExpectSource(const std::map<std::string, TFileReading>& read,
                             const std::map<std::string, std::string>& contents,
                             const std::string& what)
    {
        ASSERT_EQ(read.size(), contents.size()) << what;
        for (const auto& [path, bytes] : contents) {
            ASSERT_TRUE(read.contains(path)) << what << ": " << path;
            EXPECT_EQ(read.at(path).Outcome, Read) << what << ": " << path;
            EXPECT_EQ(read.at(path).Checksum, ChecksumOf(bytes)) << what << ": " << path;
        }
    }

    TScratchFolder Scratch;
    TDriveTable Drives;
};

TEST_F(ImageContents, IsoFilesOfEveryNamingReadAsTheirSources)
{
    const std::map<std::string, std::string> contents = Contents();
    MakeSource(contents);
    std::filesystem::create_symlink("one", Scratch / "source/link");

    std::map<std::string, TFileReading> read =
        ReadImage(MakeIso("-joliet off -rockridge on", "rr.iso"));
    ASSERT_TRUE(read.contains("link"));
    EXPECT_EQ(read["link"].Outcome, NotOrdinary); // a link has no content of its own
    read.erase("link");
    ExpectSource(read, contents, "Rock Ridge");
    // Without Rock Ridge the link is left out.
    ExpectSource(ReadImage(MakeIso("-joliet on -rockridge off", "joliet.iso")), contents, "Joliet");

    // Plain names are upper case with versions; the bytes are the same.
    MakeIso("-joliet off -rockridge off", "plain.iso");
    const std::unique_ptr<IVolume> plain = Drives.OpenImage(Scratch / "plain.iso");
    ASSERT_TRUE(plain);
    const std::map<std::string, TFileReading> plainRead = ReadVolume(*plain);
    EXPECT_EQ(plainRead.at("BIG.BIN;1").Checksum, ChecksumOf(contents.at("big.bin")));
    EXPECT_EQ(plainRead.size(), contents.size());
    for (const auto& [path, reading] : plainRead)
        EXPECT_EQ(reading.Outcome, Read) << path;
    // A file found by its path alone, without where its listing found it.
    const std::unique_ptr<IFileContent> byPath = plain->OpenFile("/TAIL.BIN;1", 0);
    ASSERT_TRUE(byPath);
    std::string tail(70000, '\0');
    EXPECT_EQ(byPath->Read(0, std::span(reinterpret_cast<uint8_t*>(tail.data()), tail.size())),
              70000u);
    EXPECT_EQ(tail, contents.at("tail.bin"));
    EXPECT_EQ(plain->OpenFile("/NOWHERE;1", 0), nullptr);

    // The image standing for the disc in a drive.
    Drives.Add('E', {TDriveSource::TKind::Device, Scratch / "rr.iso", {}});
    const std::unique_ptr<IVolume> drive = Drives.OpenVolume('E');
    ASSERT_TRUE(drive);
    read = ReadVolume(*drive);
    read.erase("link");
    ExpectSource(read, contents, "drive");
}

// A byte flipped inside a file changes its checksum and no other; an image cut inside a file
// makes it unreadable from the first block it lost, and the files after it from their start.
TEST_F(ImageContents, FlippedAndCutIsoImages)
{
    const std::map<std::string, std::string> contents = Contents();
    MakeSource(contents);
    std::string image = FileBytes(MakeIso("-joliet on -rockridge on"));
    const std::string& big = contents.at("big.bin");
    const size_t at = image.find(big.substr(0, 4096));
    ASSERT_NE(at, std::string::npos);
    ASSERT_EQ(at % 2048, 0u);

    std::string flipped = image;
    flipped[at + 5000] = static_cast<char>(flipped[at + 5000] ^ 0x20);
    WriteFileBytes(Scratch / "flipped.iso", flipped);
    std::map<std::string, TFileReading> read = ReadImage(Scratch / "flipped.iso");
    EXPECT_EQ(read["big.bin"].Outcome, Read);
    EXPECT_NE(read["big.bin"].Checksum, ChecksumOf(big));
    read.erase("big.bin");
    std::map<std::string, std::string> others = contents;
    others.erase("big.bin");
    ExpectSource(read, others, "flipped");

    // Cut 100 bytes into the file's 300th block, within the first reading block.
    WriteFileBytes(Scratch / "cut.iso", image.substr(0, at + 2048 * 300 + 100));
    read = ReadImage(Scratch / "cut.iso");
    EXPECT_EQ(read["big.bin"].Outcome, Unreadable);
    EXPECT_EQ(read["big.bin"].BadOffset, 2048u * 300);
    for (const auto& [path, bytes] : contents) {
        if (bytes.size() < 2048)
            continue; // too short to be told by its bytes where it lies
        const size_t where = image.find(bytes.substr(0, 2048));
        if (where > at) {
            EXPECT_EQ(read[path].Outcome, Unreadable) << path;
            EXPECT_EQ(read[path].BadOffset, 0u) << path;
        } else if (where < at) {
            EXPECT_EQ(read[path].Checksum, ChecksumOf(bytes)) << path;
        }
    }
}

// The record of a file in the root directory of a plain image: where it lies in the image.
size_t RecordOf(const std::string& image, const std::string& name)
{
    const uint32_t root = static_cast<uint8_t>(image[16 * 2048 + 156 + 2]) |
                          static_cast<uint8_t>(image[16 * 2048 + 156 + 3]) << 8;
    for (size_t at = size_t{root} * 2048; at < size_t{root + 1} * 2048 && image[at] != 0;
         at += static_cast<uint8_t>(image[at]))
        if (image.compare(at + 33, name.size(), name) == 0 &&
            static_cast<uint8_t>(image[at + 32]) == name.size())
            return at;
    throw std::runtime_error("no record " + name);
}

void PutBoth32(std::string& bytes, size_t at, uint32_t value)
{
    for (int i = 0; i < 4; ++i) {
        bytes[at + i] = static_cast<char>(value >> (8 * i));
        bytes[at + 7 - i] = static_cast<char>(value >> (8 * i));
    }
}

// A file in several pieces, as files of 4 GiB and more are recorded, made small by hand: its
// record is split into pieces that follow one another in the directory. The pieces are put in
// the opposite order of their blocks, so that only reading them in their records' order gives
// the file back.
TEST_F(ImageContents, IsoFileInSeveralPieces)
{
    const std::string bytes = Pattern(2048 * 5 + 300, 9);
    MakeSource({{"multi.dat", bytes}, {"after.dat", "after"}});
    std::string image = FileBytes(MakeIso("-joliet off -rockridge off"));
    const size_t record = RecordOf(image, "MULTI.DAT;1");
    const size_t length = static_cast<uint8_t>(image[record]);
    const uint32_t extent = static_cast<uint8_t>(image[record + 2]) |
                            static_cast<uint8_t>(image[record + 3]) << 8 |
                            static_cast<uint8_t>(image[record + 4]) << 16;
    // The pieces: blocks 3..5 of the file first, then blocks 0..2, swapped in the image.
    const std::string head = image.substr(size_t{extent} * 2048, 3 * 2048);
    const std::string rest = image.substr(size_t{extent + 3} * 2048, 2048 * 2 + 300);
    image.replace(size_t{extent} * 2048, rest.size(), rest);
    image.replace(size_t{extent} * 2048 + 2 * 2048 + 2048, head.size(), head);
    std::string first = image.substr(record, length), second = first;
    PutBoth32(first, 2, extent + 3);
    PutBoth32(first, 10, 3 * 2048);
    first[25] = static_cast<char>(first[25] | 0x80);
    PutBoth32(second, 2, extent);
    PutBoth32(second, 10, 2 * 2048 + 300);
    const size_t blockEnd = (record / 2048 + 1) * 2048;
    std::string after = image.substr(record + length, blockEnd - record - length);
    ASSERT_EQ(after.substr(after.size() - length), std::string(length, '\0')) << "no room";
    after.resize(after.size() - length);
    image.replace(record, blockEnd - record, first + second + after);
    WriteFileBytes(Scratch / "multi.iso", image);

    const std::map<std::string, TFileReading> read = ReadImage(Scratch / "multi.iso");
    ASSERT_EQ(read.size(), 2u);
    EXPECT_EQ(read.at("MULTI.DAT;1").Outcome, Read);
    EXPECT_EQ(read.at("MULTI.DAT;1").Checksum, ChecksumOf(bytes));
    EXPECT_EQ(read.at("AFTER.DAT;1").Checksum, ChecksumOf("after"));

    // A record claiming almost 4 GiB more in a small image: read up to the image's end, and no
    // further.
    const size_t afterRecord = RecordOf(image, "AFTER.DAT;1");
    PutBoth32(image, afterRecord + 10, 0xFFFFF000);
    WriteFileBytes(Scratch / "huge.iso", image);
    const uint32_t afterExtent = static_cast<uint8_t>(image[afterRecord + 2]) |
                                 static_cast<uint8_t>(image[afterRecord + 3]) << 8 |
                                 static_cast<uint8_t>(image[afterRecord + 4]) << 16;
    const TFileReading huge = ReadImage(Scratch / "huge.iso").at("AFTER.DAT;1");
    EXPECT_EQ(huge.Outcome, Unreadable);
    EXPECT_EQ(huge.BadOffset, image.size() - size_t{afterExtent} * 2048);
}

// UDF files in extents of a few blocks with their descriptors continued in allocation extent
// blocks, in short and long descriptors, in entries of both kinds, kept inside their entries,
// and as holes that read as zeros.
TEST_F(ImageContents, UdfFilesOfEveryAllocation)
{
    std::map<std::string, std::string> contents = Contents();
    contents["small.txt"] = "kept in its entry";
    std::vector<TTreeEntry> tree = TreeOf(contents);
    tree.push_back(FileEntry("hole.bin", kTime, 10000));
    std::map<std::string, std::string> expected = contents;
    expected["hole.bin"] = std::string(10000, '\0');

    TUdfImageOptions options;
    options.Contents = contents;
    options.ExtentBlocks = 3;
    options.DescriptorsInEntry = 40;
    options.Embedded = true;
    const std::vector<TUdfImageOptions> kinds = [&] {
        std::vector<TUdfImageOptions> all(3, options);
        all[1].LongDescriptors = true;
        all[2].Metadata = true;
        all[2].ExtentBlocks = 0;
        all[2].DescriptorsInEntry = 0;
        return all;
    }();
    for (size_t kind = 0; kind < kinds.size(); ++kind) {
        const std::string path = Scratch / ("udf" + std::to_string(kind) + ".iso");
        WriteFileBytes(path, MakeUdfImage(tree, kinds[kind]).Bytes);
        ExpectSource(ReadImage(path), expected, "kind " + std::to_string(kind));
    }

    // Cut inside the last file's extents: read up to its first lost block.
    options.DescriptorsInEntry = 0;
    options.Contents = {{"big.bin", contents.at("big.bin")}};
    const TUdfImage whole =
        MakeUdfImage({FileEntry("big.bin", kTime, contents["big.bin"].size())}, options);
    const size_t at = whole.Bytes.find(contents["big.bin"].substr(0, 4096));
    ASSERT_NE(at, std::string::npos);
    std::string flipped = whole.Bytes;
    flipped[at + kContentBlock + 10] = 'x';
    WriteFileBytes(Scratch / "flipped.iso", flipped);
    std::map<std::string, TFileReading> read = ReadImage(Scratch / "flipped.iso");
    EXPECT_EQ(read["big.bin"].Outcome, Read);
    EXPECT_NE(read["big.bin"].Checksum, ChecksumOf(contents["big.bin"]));
    WriteFileBytes(Scratch / "cut.iso", whole.Bytes.substr(0, at + 2048 * 7 + 1000));
    read = ReadImage(Scratch / "cut.iso");
    EXPECT_EQ(read["big.bin"].Outcome, Unreadable);
    EXPECT_EQ(read["big.bin"].BadOffset, 2048u * 7);
}

// A UDF bridge as genisoimage writes it is read through UDF, with its files' bytes.
TEST_F(ImageContents, UdfBridgeOfAWriter)
{
    const std::map<std::string, std::string> contents = Contents();
    MakeSource(contents);
    const std::string image = Scratch / "bridge.iso";
    ASSERT_EQ(std::system(("genisoimage -quiet -udf -J -R -input-charset utf-8 -o '" + image +
                           "' '" + Scratch / "source" + "' 2>/dev/null")
                              .c_str()),
              0);
    const std::unique_ptr<IVolume> volume = Drives.OpenImage(image);
    ASSERT_TRUE(volume);
    EXPECT_TRUE(volume->Facts().Identity.FileSystem.starts_with("UDF"));
    ExpectSource(ReadVolume(*volume), contents, "genisoimage");
}

// Containers give the disc's blocks wherever they keep them; a block that no track holds cannot
// be read.
TEST_F(ImageContents, ContainersReadAsTheImageTheyHold)
{
    const std::map<std::string, std::string> contents = Contents();
    MakeSource(contents);
    std::string iso = FileBytes(MakeIso("-joliet on -rockridge on"));
    iso.resize((iso.size() + 2047) / 2048 * 2048, '\0');
    const std::string raw = RawSectors(iso, 0, TRawMode::Mode1);
    const std::string cue = "FILE \"disc.bin\" BINARY\n  TRACK 01 MODE1/2352\n"
                            "    INDEX 01 00:00:00\n";
    WriteFileBytes(Scratch / "disc.bin", raw);
    WriteFileBytes(Scratch / "disc.cue", cue);
    ExpectSource(ReadImage(Scratch / "disc.cue"), contents, "bin/cue");
    WriteFileBytes(Scratch / "mode2.img", RawSectors(iso, 0, TRawMode::Mode2Form1));
    ExpectSource(ReadImage(Scratch / "mode2.img"), contents, "raw mode 2");
    WriteFileBytes(Scratch / "clone.img", raw);
    WriteFileBytes(Scratch / "clone.ccd",
                   "[CloneCD]\nVersion=3\n[Disc]\nTocEntries=4\nSessions=1\n"
                   "[Entry 0]\nSession=1\nPoint=0xa0\nControl=0x04\nPLBA=-1\n"
                   "[Entry 3]\nSession=1\nPoint=0x01\nADR=0x01\nControl=0x04\nPLBA=0\n"
                   "[TRACK 1]\nMODE=1\nINDEX 1=0\n");
    ExpectSource(ReadImage(Scratch / "clone.ccd"), contents, "CloneCD");

    // The data track ends inside the big file: a track of audio follows, which holds no blocks.
    const size_t at = iso.find(contents.at("big.bin").substr(0, 4096));
    ASSERT_NE(at, std::string::npos);
    const size_t dataSectors = at / 2048 + 10;
    std::string mixed = raw.substr(0, dataSectors * 2352) + std::string(2352 * 300, '\x55');
    WriteFileBytes(Scratch / "mixed.bin", mixed);
    const auto msf = [](size_t sector) {
        char text[32];
        std::snprintf(text, sizeof text, "%02zu:%02zu:%02zu", sector / 75 / 60, sector / 75 % 60,
                      sector % 75);
        return std::string(text);
    };
    WriteFileBytes(Scratch / "mixed.cue",
                   "FILE \"mixed.bin\" BINARY\n  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\n"
                   "  TRACK 02 AUDIO\n    INDEX 01 " +
                       msf(dataSectors) + "\n");
    const std::map<std::string, TFileReading> read = ReadImage(Scratch / "mixed.cue");
    EXPECT_EQ(read.at("big.bin").Outcome, Unreadable);
    EXPECT_EQ(read.at("big.bin").BadOffset, 2048u * 10);
}

} // namespace
