// Disc images in containers (raw sectors, .cue sheets, Nero, Alcohol and CloneCD images), each
// made during the test from an .iso twin: every one scans to exactly the twin's tree, whether
// it is chosen by its descriptor or its data file; damaged ones are refused or scanned as far as
// they hold, and nothing is read outside their files.

#include "support/DiscTrees.h"
#include "support/RawSectors.h"
#include "support/UdfImageBuilder.h"

#include "discs/Drives.h"

#include <gtest/gtest.h>
#include <random>

namespace {

constexpr int64_t kTime = 1262304000; // 2010-01-01 00:00:00 UTC

std::vector<TTreeEntry> Tree()
{
    return {
        FolderEntry("Фото", kTime + 1),         FileEntry("Фото/лето.jpg", kTime + 2, 123456),
        FolderEntry("Фото/2009", kTime + 3),    FileEntry("Фото/2009/зима.jpg", kTime + 4, 654321),
        FileEntry("readme.txt", kTime + 5, 42), FileEntry("🎵 music.mp3", kTime + 6, 3000000)};
}

void Put32Be(std::string& b, size_t at, uint64_t v)
{
    for (int i = 0; i < 4; ++i)
        b[at + i] = static_cast<char>(v >> (24 - 8 * i));
}
void Put64Be(std::string& b, size_t at, uint64_t v)
{
    Put32Be(b, at, v >> 32);
    Put32Be(b, at + 4, v & 0xFFFFFFFF);
}
void Put32Le(std::string& b, size_t at, uint64_t v)
{
    for (int i = 0; i < 4; ++i)
        b[at + i] = static_cast<char>(v >> (8 * i));
}

std::string Chunk(const char* id, const std::string& data)
{
    std::string chunk = std::string(id, 4) + std::string(4, '\0') + data;
    Put32Be(chunk, 4, data.size());
    return chunk;
}

// A track of a Nero or Alcohol image made here: its disc block, where it lies in the image file
// and how long it is.
struct TMadeTrack {
    uint32_t First = 0;
    uint64_t Offset = 0;
    uint32_t Sectors = 0;
    uint32_t SectorSize = 2352;
    bool Audio = false;
};

// A Nero image (footer of the 5.5 kind) of raw bytes and disc-at-once sessions of tracks.
std::string NrgOf(std::string raw, const std::vector<std::vector<TMadeTrack>>& sessions)
{
    std::string chunks;
    uint8_t number = 1;
    for (const std::vector<TMadeTrack>& tracks : sessions) {
        std::string cue, dao(22, '\0');
        dao[20] = static_cast<char>(number);
        for (const TMadeTrack& t : tracks) {
            std::string entry(8, '\0');
            entry[1] = static_cast<char>(number);
            entry[2] = 1;
            Put32Be(entry, 4, t.First);
            cue += entry;
            std::string track(42, '\0');
            track[12] = static_cast<char>(t.SectorSize >> 8);
            track[13] = static_cast<char>(t.SectorSize & 0xFF);
            track[14] = t.Audio ? 7 : 6;
            Put64Be(track, 18, t.Offset);
            Put64Be(track, 26, t.Offset);
            Put64Be(track, 34, t.Offset + uint64_t{t.Sectors} * t.SectorSize);
            dao += track;
            ++number;
        }
        dao[21] = static_cast<char>(number - 1);
        chunks += Chunk("CUEX", cue) + Chunk("DAOX", dao);
        std::string sinf(4, '\0');
        Put32Be(sinf, 0, tracks.size());
        chunks += Chunk("SINF", sinf);
    }
    chunks += Chunk("END!", "");
    const uint64_t at = raw.size();
    raw += chunks + "NER5" + std::string(8, '\0');
    Put64Be(raw, raw.size() - 8, at);
    return raw;
}

// The .mds descriptor of an .mdf with these sessions of tracks.
std::string MdsOf(const std::vector<std::vector<TMadeTrack>>& sessions)
{
    std::string mds(0x58, '\0');
    mds.replace(0, 16, "MEDIA DESCRIPTOR");
    mds[0x14] = static_cast<char>(sessions.size());
    Put32Le(mds, 0x50, mds.size());
    const size_t sessionsAt = mds.size();
    mds += std::string(24 * sessions.size(), '\0');
    uint32_t number = 1;
    for (size_t s = 0; s < sessions.size(); ++s) {
        const size_t at = sessionsAt + 24 * s;
        const TMadeTrack& last = sessions[s].back();
        Put32Le(mds, at + 4, last.First + last.Sectors);
        mds[at + 8] = static_cast<char>(s + 1);
        mds[at + 10] = static_cast<char>(sessions[s].size() + 1); // a lead-in entry first
        Put32Le(mds, at + 20, mds.size());
        std::string blocks(80, '\0');
        blocks[4] = static_cast<char>(0xA0);
        for (const TMadeTrack& t : sessions[s]) {
            std::string block(80, '\0');
            block[0] = static_cast<char>(t.Audio ? 0xA9 : 0xAA);
            block[4] = static_cast<char>(number++);
            block[16] = static_cast<char>(t.SectorSize & 0xFF);
            block[17] = static_cast<char>(t.SectorSize >> 8);
            Put32Le(block, 36, t.First);
            Put32Le(block, 40, t.Offset);
            blocks += block;
        }
        mds += blocks;
    }
    return mds;
}

class DiscContainer : public ::testing::Test {
protected:
    DiscContainer()
    {
        MakeTree(Scratch / "source", Tree());
        MakeIsoImage(Scratch / "source", Scratch / "twin.iso",
                     "-volid 'ДИСК' -joliet on -rockridge on -padding 300k");
        Twin = FileBytes(Scratch / "twin.iso");
        Twin.resize((Twin.size() + 2047) / 2048 * 2048, '\0');
        Expected = Scanned(Scratch / "twin.iso");
        EXPECT_TRUE(Expected.starts_with("ДИСК\n")) << Expected;
        EXPECT_NE(Expected.find("    E зима.jpg"), std::string::npos) << Expected;
        EXPECT_NE(Expected.find("E 🎵 music.mp3"), std::string::npos) << Expected;
    }

    // The label and tree of the disc in the image, as adding it would scan them; "" when the
    // image is refused.
    std::string Scanned(const std::string& path)
    {
        const std::unique_ptr<IVolume> volume = Drives.OpenImage(path);
        if (!volume)
            return "";
        TFendrel collection;
        collection.ScanDisc("disc", *volume);
        return AnsiToUtf8(volume->Label()) + "\n" +
               DumpScanned(collection, collection.GetNode(collection.Discs.back()));
    }

    std::string Cue(const std::string& bin, const std::string& mode)
    {
        return "FILE \"" + bin + "\" BINARY\r\n  TRACK 01 " + mode +
               "\r\n    INDEX 01 00:00:00\r\n";
    }

    TScratchFolder Scratch;
    TDriveTable Drives;
    std::string Twin, Expected;
};

TEST_F(DiscContainer, BinCueInModeOneAndModeTwoFromTheSheetOrTheBin)
{
    WriteFileBytes(Scratch / "one.bin", RawSectors(Twin, 0, TRawMode::Mode1));
    WriteFileBytes(Scratch / "one.cue", Cue("one.bin", "MODE1/2352"));
    EXPECT_EQ(Scanned(Scratch / "one.cue"), Expected);
    EXPECT_EQ(Scanned(Scratch / "one.bin"), Expected);

    // Mode 2 form 1, as CD-XA discs hold data, with a sheet that names the file in another case
    // of letters after the image was renamed, and an audio track after the data.
    std::string raw = RawSectors(Twin, 0, TRawMode::Mode2Form1);
    const uint32_t dataSectors = static_cast<uint32_t>(raw.size() / 2352);
    raw += std::string(2352 * 300, '\x55');
    WriteFileBytes(Scratch / "two.bin", raw);
    WriteFileBytes(Scratch / "two.cue",
                   "REM made by hand\nFILE \"OLD NAME.BIN\" BINARY\n  TRACK 01 MODE2/2352\n"
                   "    INDEX 01 00:00:00\n  TRACK 02 AUDIO\n    INDEX 00 " +
                       std::to_string(dataSectors / 75 / 60) + ":" +
                       std::to_string(dataSectors / 75 % 60) + ":" +
                       std::to_string(dataSectors % 75) + "\n    INDEX 01 " +
                       std::to_string((dataSectors + 150) / 75 / 60) + ":" +
                       std::to_string((dataSectors + 150) / 75 % 60) + ":" +
                       std::to_string((dataSectors + 150) % 75) + "\n");
    EXPECT_EQ(Scanned(Scratch / "two.cue"), Expected);
    EXPECT_EQ(Scanned(Scratch / "two.bin"), Expected);

    // The first track's pregap kept in the file, before the disc's block 0.
    WriteFileBytes(Scratch / "gap.bin",
                   std::string(2352 * 150, '\0') + RawSectors(Twin, 0, TRawMode::Mode1));
    WriteFileBytes(Scratch / "gap.cue", "FILE \"gap.bin\" BINARY\n  TRACK 01 MODE1/2352\n"
                                        "    INDEX 00 00:00:00\n    INDEX 01 00:02:00\n");
    EXPECT_EQ(Scanned(Scratch / "gap.cue"), Expected);

    // 2048-byte sectors in a sheet: the .iso with a .cue beside it.
    WriteFileBytes(Scratch / "three.iso", Twin);
    WriteFileBytes(Scratch / "three.cue", Cue("three.iso", "MODE1/2048"));
    EXPECT_EQ(Scanned(Scratch / "three.cue"), Expected);
}

TEST_F(DiscContainer, RawImagesWithoutSheetsWhateverTheirName)
{
    WriteFileBytes(Scratch / "raw.iso", RawSectors(Twin, 0, TRawMode::Mode1));
    EXPECT_EQ(Scanned(Scratch / "raw.iso"), Expected);
    WriteFileBytes(Scratch / "raw.img", RawSectors(Twin, 0, TRawMode::Mode2Form1));
    EXPECT_EQ(Scanned(Scratch / "raw.img"), Expected);
    // Sectors with their subchannel data, as some programs dump them (an .mdf without its .mds).
    WriteFileBytes(Scratch / "sub.mdf", RawSectors(Twin, 0, TRawMode::Mode1, true));
    EXPECT_EQ(Scanned(Scratch / "sub.mdf"), Expected);
}

TEST_F(DiscContainer, NeroAlcoholAndCloneCdImages)
{
    const std::string raw = RawSectors(Twin, 0, TRawMode::Mode1);
    const uint32_t sectors = static_cast<uint32_t>(raw.size() / 2352);
    // Nero: a short header before the track, as Nero writes none but tools may.
    const std::string lead(4096, '\0');
    WriteFileBytes(Scratch / "disc.nrg",
                   NrgOf(lead + raw, {{{0, lead.size(), sectors, 2352, false}}}));
    EXPECT_EQ(Scanned(Scratch / "disc.nrg"), Expected);
    // The same with 2048-byte sectors.
    WriteFileBytes(Scratch / "cooked.nrg", NrgOf(Twin, {{{0, 0, sectors, 2048, false}}}));
    EXPECT_EQ(Scanned(Scratch / "cooked.nrg"), Expected);

    WriteFileBytes(Scratch / "alcohol.mdf", raw);
    WriteFileBytes(Scratch / "alcohol.mds", MdsOf({{{0, 0, sectors, 2352, false}}}));
    EXPECT_EQ(Scanned(Scratch / "alcohol.mds"), Expected);
    EXPECT_EQ(Scanned(Scratch / "alcohol.mdf"), Expected);

    WriteFileBytes(Scratch / "clone.img", raw);
    WriteFileBytes(Scratch / "clone.ccd",
                   "[CloneCD]\nVersion=3\n[Disc]\nTocEntries=4\nSessions=1\n"
                   "[Entry 0]\nSession=1\nPoint=0xa0\nControl=0x04\nPLBA=-1\n"
                   "[Entry 3]\nSession=1\nPoint=0x01\nADR=0x01\nControl=0x04\nPLBA=0\n"
                   "[TRACK 1]\nMODE=1\nINDEX 1=0\n");
    EXPECT_EQ(Scanned(Scratch / "clone.ccd"), Expected);
    EXPECT_EQ(Scanned(Scratch / "clone.img"), Expected);
}

// A disc of two sessions is read from the last, which holds the whole tree; its blocks lie after
// a gap that the image does not hold.
TEST_F(DiscContainer, SeveralSessionsAreReadFromTheLast)
{
    std::vector<TTreeEntry> more = Tree();
    more.push_back(FileEntry("добавлено позже.txt", kTime + 7, 7));
    MakeTree(Scratch / "second", more);
    const uint32_t firstBlocks = static_cast<uint32_t>(Twin.size() / 2048);
    const uint32_t second = firstBlocks + 11400;
    const std::string command =
        "cd '" + Scratch.Path + "' && LC_ALL=C.UTF-8 xorriso -as mkisofs -C 0," +
        std::to_string(second) + " -M twin.iso -J -R -V 'ДИСК 2' -o two.iso second 2>/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
    std::string session2 = FileBytes(Scratch / "two.iso");
    session2.resize((session2.size() + 2047) / 2048 * 2048, '\0');
    const uint32_t secondBlocks = static_cast<uint32_t>(session2.size() / 2048);

    const std::string raw =
        RawSectors(Twin, 0, TRawMode::Mode1) + RawSectors(session2, second, TRawMode::Mode1);
    const std::vector<std::vector<TMadeTrack>> sessions = {
        {{0, 0, firstBlocks, 2352, false}},
        {{second, uint64_t{firstBlocks} * 2352, secondBlocks, 2352, false}}};
    WriteFileBytes(Scratch / "multi.nrg", NrgOf(raw, sessions));
    WriteFileBytes(Scratch / "multi.mdf", raw);
    WriteFileBytes(Scratch / "multi.mds", MdsOf(sessions));

    // What the second session holds, written on its own at block 0 for comparison.
    MakeTree(Scratch / "whole", more);
    MakeIsoImage(Scratch / "whole", Scratch / "whole.iso",
                 "-volid 'ДИСК 2' -joliet on -rockridge on");
    const std::string whole = Scanned(Scratch / "whole.iso");
    ASSERT_NE(whole, "");
    EXPECT_NE(whole, Expected);
    EXPECT_EQ(Scanned(Scratch / "multi.nrg"), whole);
    EXPECT_EQ(Scanned(Scratch / "multi.mds"), whole);

    // A sheet with a file for each session, the second beginning with its track's pregap.
    WriteFileBytes(Scratch / "s1.bin", RawSectors(Twin, 0, TRawMode::Mode1));
    WriteFileBytes(Scratch / "s2.bin",
                   std::string(2352 * 150, '\0') + RawSectors(session2, second, TRawMode::Mode1));
    WriteFileBytes(Scratch / "multi.cue",
                   "REM SESSION 01\nFILE \"s1.bin\" BINARY\n  TRACK 01 MODE1/2352\n"
                   "    INDEX 01 00:00:00\nREM SESSION 02\nFILE \"s2.bin\" BINARY\n"
                   "  TRACK 02 MODE1/2352\n    INDEX 00 00:00:00\n    INDEX 01 00:02:00\n");
    EXPECT_EQ(Scanned(Scratch / "multi.cue"), whole);
}

// UDF is found in containers as well.
TEST_F(DiscContainer, UdfInsideABinCue)
{
    const std::vector<TTreeEntry> tree = Tree();
    std::string udf = MakeUdfImage(tree, {}).Bytes;
    WriteFileBytes(Scratch / "udf.iso", udf);
    const std::string expected = Scanned(Scratch / "udf.iso");
    ASSERT_NE(expected, "");
    WriteFileBytes(Scratch / "udf.bin", RawSectors(udf, 0, TRawMode::Mode1));
    WriteFileBytes(Scratch / "udf.cue", Cue("udf.bin", "MODE1/2352"));
    EXPECT_EQ(Scanned(Scratch / "udf.cue"), expected);
}

// Audio discs have no files: their images are refused like any image that holds no disc, and so
// are containers whose descriptors are damaged or name files that are missing.
TEST_F(DiscContainer, AudioOnlyAndDamagedContainersAreRefused)
{
    WriteFileBytes(Scratch / "audio.bin", std::string(2352 * 200, '\x33'));
    WriteFileBytes(Scratch / "audio.cue", Cue("audio.bin", "AUDIO"));
    EXPECT_EQ(Scanned(Scratch / "audio.cue"), "");
    EXPECT_EQ(Scanned(Scratch / "audio.bin"), "");

    WriteFileBytes(Scratch / "missing.cue", Cue("nowhere.bin", "MODE1/2352"));
    EXPECT_EQ(Scanned(Scratch / "missing.cue"), "");
    WriteFileBytes(Scratch / "garbage.cue", "TRACK 01 MODE1/2352\nINDEX 01 99:99:99\n");
    EXPECT_EQ(Scanned(Scratch / "garbage.cue"), "");

    const std::string raw = RawSectors(Twin, 0, TRawMode::Mode1);
    const uint32_t sectors = static_cast<uint32_t>(raw.size() / 2352);
    std::string nrg = NrgOf(raw, {{{0, 0, sectors, 2352, false}}});
    // The first chunk claims more bytes than the image holds.
    Put32Be(nrg, raw.size() + 4, 0x7FFFFFF0);
    WriteFileBytes(Scratch / "bad.nrg", nrg);
    EXPECT_EQ(Scanned(Scratch / "bad.nrg"), "");

    WriteFileBytes(Scratch / "bad.mdf", raw);
    std::string mds = MdsOf({{{0, 0, sectors, 2352, false}}});
    Put32Le(mds, 0x50, 0xFFFFFF00);
    WriteFileBytes(Scratch / "bad.mds", mds);
    EXPECT_EQ(Scanned(Scratch / "bad.mds"), "");

    WriteFileBytes(Scratch / "nothing.ccd", "[Entry 0]\nPoint=0x01\nPLBA=0\n");
    EXPECT_EQ(Scanned(Scratch / "nothing.ccd"), "");
}

// Containers cut short, or with scrambled bytes, give what they still hold or nothing; a scan
// under a small address space limit would fail on any huge allocation, and the sanitizers catch
// any read outside a buffer.
TEST_F(DiscContainer, CutAndScrambledContainersAreScannedAsFarAsTheyHold)
{
    const std::string raw = RawSectors(Twin, 0, TRawMode::Mode1);
    const uint32_t sectors = static_cast<uint32_t>(raw.size() / 2352);
    WriteFileBytes(Scratch / "cut.cue", Cue("cut.bin", "MODE1/2352"));
    for (const size_t keep : {size_t{100}, size_t{2352 * 17 + 5}, raw.size() / 2, raw.size() - 1}) {
        WriteFileBytes(Scratch / "cut.bin", raw.substr(0, keep));
        const std::string scanned = Scanned(Scratch / "cut.cue");
        EXPECT_TRUE(scanned.empty() || scanned.starts_with("ДИСК\n")) << keep;
    }
    std::mt19937 random(21);
    const std::string nrg = NrgOf(raw, {{{0, 0, sectors, 2352, false}}});
    const std::string mds = MdsOf({{{0, 0, sectors, 2352, false}}});
    WriteFileBytes(Scratch / "s.mdf", raw);
    for (int round = 0; round < 200; ++round) {
        std::string a = nrg, b = mds;
        for (int i = 0; i < 8; ++i) {
            a[raw.size() + random() % (a.size() - raw.size())] = static_cast<char>(random());
            b[random() % b.size()] = static_cast<char>(random());
        }
        WriteFileBytes(Scratch / "s.nrg", a);
        WriteFileBytes(Scratch / "s.mds", b);
        (void)Scanned(Scratch / "s.nrg");
        (void)Scanned(Scratch / "s.mds");
    }
}

} // namespace
