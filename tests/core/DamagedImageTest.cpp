// Image files that are not discs, or discs damaged on the way: they are refused, or scanned as
// far as they can be read, and nothing is read outside the file or the bytes read from it.

#include "support/DiscTrees.h"

#include "discs/Drives.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <random>
#include <sys/resource.h>
#include <sys/wait.h>

namespace {

constexpr int64_t kTime = 1500000000;
constexpr size_t kBlock = 2048;
constexpr size_t kRootRecord = 16 * kBlock + 156; // in the primary volume descriptor

std::string ReadBytes(const std::string& path)
{
    std::ostringstream bytes;
    bytes << std::ifstream(path, std::ios::binary).rdbuf();
    return bytes.str();
}

uint32_t Le32At(const std::string& bytes, size_t at)
{
    uint32_t value = 0;
    for (size_t i = 0; i < 4; ++i)
        value |= uint32_t{static_cast<unsigned char>(bytes.at(at + i))} << (8 * i);
    return value;
}

// The directory record with that plain ISO 9660 name. Each name used here (of more than one
// character, unlike the parent numbers before the names of the path tables) occurs once, right
// after its length byte.
size_t RecordOf(const std::string& image, const std::string& name)
{
    const size_t at = image.find(static_cast<char>(name.size()) + name);
    if (at == std::string::npos)
        throw std::runtime_error("no record of " + name);
    return at - 32;
}

// Points the record of the folder name at block, in both byte orders.
void PointAt(std::string& image, const std::string& name, uint32_t block)
{
    const size_t extent = RecordOf(image, name) + 2;
    for (size_t i = 0; i < 4; ++i)
        image.at(extent + i) = image.at(extent + 7 - i) = static_cast<char>(block >> (8 * i));
}

// Sets the data length of the record at, in both byte orders.
void SetRecordSize(std::string& image, size_t record, uint32_t size)
{
    for (size_t i = 0; i < 4; ++i)
        image.at(record + 10 + i) = image.at(record + 17 - i) = static_cast<char>(size >> (8 * i));
}

uint64_t AddressSpaceBytes()
{
    std::ifstream status("/proc/self/status");
    for (std::string key; status >> key;) {
        if (key == "VmSize:") {
            uint64_t kib = 0;
            status >> kib;
            return kib * 1024;
        }
    }
    return 0;
}

// Scans the image in a child process whose address space may grow by no more than limit bytes.
// The count of entries; -1 when the scan ran out of memory, -2 when the image was refused.
int ScanWithinMemory(const std::string& image, uint64_t limit)
{
    int channel[2];
    if (::pipe(channel) != 0)
        return -3;
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(channel[0]);
        int result = -1;
        try {
            const rlimit bound{AddressSpaceBytes() + limit, RLIM_INFINITY};
            ::setrlimit(RLIMIT_AS, &bound);
            TDriveTable drives;
            result = -2;
            if (const std::unique_ptr<IVolume> volume = drives.OpenImage(image)) {
                TFendrel collection;
                result = collection.ScanDisc("disc", *volume);
            }
        } catch (const std::bad_alloc&) {
            result = -1;
        }
        ::_exit(::write(channel[1], &result, sizeof result) == sizeof result ? 0 : 1);
    }
    ::close(channel[1]);
    int result = -3;
    if (child < 0 || ::read(channel[0], &result, sizeof result) != sizeof result)
        result = -3;
    ::close(channel[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    return result;
}

class DamagedImage : public ::testing::Test {
protected:
    // An image with plain ISO 9660 names (easy to find and damage) of a few folders and files.
    std::string MakeImage(const std::vector<TTreeEntry>& tree)
    {
        MakeTree(Scratch / "source", tree);
        MakeIsoImage(Scratch / "source", Image, "-joliet off -rockridge off");
        return ReadBytes(Image);
    }
    // The disc in the image as text, or "refused".
    std::string ScanText(const std::string& bytes)
    {
        std::ofstream(Image, std::ios::binary | std::ios::trunc) << bytes;
        const std::unique_ptr<IVolume> volume = Drives.OpenImage(Image);
        if (!volume)
            return "refused";
        TFendrel collection;
        const int32_t count = collection.ScanDisc("disc", *volume);
        const TCollectionNode& disc = collection.GetNode(collection.Discs.at(0));
        return std::to_string(count) + "\n" + DumpScanned(collection, disc);
    }

    TScratchFolder Scratch;
    std::string Image = Scratch / "disc.iso";
    TDriveTable Drives;
};

TEST_F(DamagedImage, FilesThatHoldNoDiscAreRefused)
{
    const std::string good = MakeImage({FileEntry("a.txt", kTime, 1)});
    const size_t root = Le32At(good, kRootRecord + 2) * kBlock;
    std::mt19937 random(7);
    std::string noise(1 << 20, '\0');
    for (char& c : noise)
        c = static_cast<char>(random());
    // What a disc holding UDF alone begins with: its volume recognition sequence.
    std::string udf(20 * kBlock, '\0');
    for (const auto& [block, id] : {std::pair{16, "BEA01"}, {17, "NSR02"}, {18, "TEA01"}})
        udf.replace(block * kBlock + 1, 5, id);

    EXPECT_EQ(ScanText(noise), "refused");
    EXPECT_EQ(ScanText(""), "refused");
    EXPECT_EQ(ScanText(udf), "refused");
    EXPECT_EQ(ScanText(good.substr(0, 16 * kBlock + 100)), "refused") << "cut in its descriptor";
    EXPECT_EQ(ScanText(good.substr(0, root)), "refused") << "cut before its root folder";
    EXPECT_FALSE(Drives.OpenImage(Scratch / "missing.iso"));
    EXPECT_FALSE(Drives.OpenImage(Scratch.Path)) << "a folder";
}

// Folders whose records are damaged or lie past the end are left empty; folders leading back to
// the root, or to a directory already listed, are walked once; the rest is read.
TEST_F(DamagedImage, DamagedMissingAndLoopingFoldersAreLeftEmpty)
{
    std::string image = MakeImage({FolderEntry("FIRST", kTime), FileEntry("FIRST/F.TXT", kTime, 1),
                                   FolderEntry("SHARED", kTime),
                                   FileEntry("SHARED/S.TXT", kTime, 2), FolderEntry("BAD", kTime),
                                   FileEntry("BAD/X.TXT", kTime, 3), FolderEntry("FAR", kTime),
                                   FileEntry("FAR/Y.TXT", kTime, 4), FolderEntry("LOOP", kTime)});
    // BAD's third record, after "." and ".." (34 bytes each), gets a length no record can have.
    image.at(Le32At(image, RecordOf(image, "BAD") + 2) * kBlock + 2 * 34) = 20;
    PointAt(image, "FAR", static_cast<uint32_t>(image.size() / kBlock));
    PointAt(image, "LOOP", Le32At(image, kRootRecord + 2));
    PointAt(image, "SHARED", Le32At(image, RecordOf(image, "FIRST") + 2));
    const std::string t = " t=" + std::to_string(FileTimeFromUnix(kTime)) + " s=";
    EXPECT_EQ(ScanText(image), "6\nF BAD" + t + "0\nF FAR" + t + "0\nF FIRST" + t + "0\n  E F.TXT" +
                                   t + "1\nF LOOP" + t + "0\nF SHARED" + t + "0\n");
}

// A folder whose recorded size is damaged, still inside the image, cannot be read; the folders
// its size reaches over are listed all the same.
TEST_F(DamagedImage, FolderWithADamagedSizeHidesNoFolderAfterIt)
{
    std::string image = MakeImage({FolderEntry("AAA", kTime), FileEntry("AAA/A.TXT", kTime, 1),
                                   FolderEntry("BBB", kTime), FileEntry("BBB/B1.TXT", kTime, 2),
                                   FileEntry("BBB/B2.TXT", kTime, 3)});
    const size_t aaa = RecordOf(image, "AAA");
    const uint64_t start = uint64_t{Le32At(image, aaa + 2)} * kBlock;
    ASSERT_LT(start, uint64_t{Le32At(image, RecordOf(image, "BBB") + 2)} * kBlock);
    SetRecordSize(image, aaa, static_cast<uint32_t>(image.size() - start));
    image.at(image.size() - kBlock) = 20; // a record length no record can have
    const std::string t = " t=" + std::to_string(FileTimeFromUnix(kTime)) + " s=";
    EXPECT_EQ(ScanText(image),
              "4\nF AAA" + t + "0\nF BBB" + t + "0\n  E B1.TXT" + t + "2\n  E B2.TXT" + t + "3\n");
}

TEST_F(DamagedImage, RecordTimesAreReadAtTheirOffsetFromUtcAndAnImpossibleOffsetAsUtc)
{
    std::string image = MakeImage({FileEntry("EAST.TXT", kTime, 1), FileEntry("ODD.TXT", kTime, 2),
                                   FileEntry("WEST.TXT", kTime, 3)});
    const auto setTime = [&](const std::string& name, std::vector<int> fields) {
        for (size_t i = 0; i < fields.size(); ++i)
            image.at(RecordOf(image, name) + 18 + i) = static_cast<char>(fields[i]);
    };
    setTime("EAST.TXT;1", {101, 2, 3, 14, 5, 6, 40});  // 2001-02-03 14:05:06 at UTC+10
    setTime("WEST.TXT;1", {101, 2, 2, 22, 5, 6, -24}); // 2001-02-02 22:05:06 at UTC-6
    setTime("ODD.TXT;1", {101, 14, 3, 4, 5, 6, 100});  // month 14: February of the next year
    const std::string utc = std::to_string(FileTimeFromUnix(981173106)); // 2001-02-03 04:05:06
    const std::string next = std::to_string(FileTimeFromUnix(981173106 + 365 * 86400));
    EXPECT_EQ(ScanText(image), "3\nE EAST.TXT t=" + utc + " s=1\nE ODD.TXT t=" + next +
                                   " s=2\nE WEST.TXT t=" + utc + " s=3\n");
}

// A chain of 200 nested folders whose records each claim the rest of a 40 MiB image, and one
// whose folder claims 64 MiB of a far smaller image: what the scan holds at once stays below
// twice the image's size (the collection here is small). The blocks of the first folder hold the
// records of all the others, which it lists; those lie inside it and are not listed again.
TEST_F(DamagedImage, CraftedSizesTakeNoMoreMemoryThanTheImage)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer reserves more address space than any limit allows";
#endif
    std::vector<TTreeEntry> tree;
    std::string path;
    for (int level = 1; level <= 200; ++level) {
        char name[8];
        std::snprintf(name, sizeof name, "D%03d", level);
        if (level > 1)
            path += '/';
        path += name;
        tree.push_back(FolderEntry(path, kTime));
    }
    tree.push_back(FileEntry(path + "/F.TXT", kTime, 1));
    MakeTree(Scratch / "source", tree);
    MakeIsoImage(Scratch / "source", Image,
                 "-joliet off -rockridge off -compliance deep_paths:long_paths");
    const std::string good = ReadBytes(Image);

    // Blocks of zeros after the directories (no records, no damage): the path tables that
    // follow them are not needed for a scan.
    constexpr uint64_t claimed = 40u << 20;
    std::string nested = good;
    uint64_t directoriesEnd = 0;
    for (const TTreeEntry& folder : tree) {
        if (!folder.Folder)
            continue;
        const size_t record = RecordOf(nested, folder.Path.substr(folder.Path.size() - 4));
        const uint64_t start = uint64_t{Le32At(nested, record + 2)} * kBlock;
        SetRecordSize(nested, record, static_cast<uint32_t>(claimed - start));
        directoriesEnd = std::max(directoriesEnd, start + kBlock);
    }
    std::fill(nested.begin() + static_cast<std::ptrdiff_t>(directoriesEnd), nested.end(), '\0');
    std::ofstream(Image, std::ios::binary | std::ios::trunc) << nested;
    std::filesystem::resize_file(Image, claimed);
    EXPECT_EQ(ScanWithinMemory(Image, 2 * claimed + (16u << 20)), 201);

    std::string far = good;
    SetRecordSize(far, RecordOf(far, "D001"), (64u << 20) - 1);
    std::ofstream(Image, std::ios::binary | std::ios::trunc) << far;
    EXPECT_EQ(ScanWithinMemory(Image, 2 * far.size() + (16u << 20)), 1);
}

// Every cut of a good image, and copies with bytes of their descriptors and directories changed
// at random: each is refused or scanned to an end, and a cut image never shows more than the
// whole one. Run under the sanitizers, this also checks that no read leaves its buffer.
TEST_F(DamagedImage, CutAndScrambledImagesNeverCrashTheScan)
{
    std::vector<TTreeEntry> tree = {FolderEntry("Папка", kTime),
                                    FolderEntry("Папка/Вложенная", kTime),
                                    FileEntry("Папка/Вложенная/файл.txt", kTime, 10)};
    for (int i = 0; i < 40; ++i)
        tree.push_back(FileEntry("Папка/длинное имя файла " + std::to_string(i), kTime + i, i));
    MakeTree(Scratch / "source", tree);
    for (const char* options : {"-joliet on -rockridge on", "-joliet off -rockridge on"}) {
        SCOPED_TRACE(options);
        MakeIsoImage(Scratch / "source", Image, options);
        const std::string good = ReadBytes(Image);
        const size_t whole = std::stoul(ScanText(good));
        ASSERT_EQ(whole, tree.size());
        const size_t metadata = std::min(good.size(), 64 * kBlock); // descriptors and folders

        for (size_t cut = 16 * kBlock; cut < metadata; cut += 509) {
            const std::string text = ScanText(good.substr(0, cut));
            if (text != "refused") {
                EXPECT_LE(std::stoul(text), whole) << "cut at " << cut;
            }
        }
        std::mt19937 random(2024);
        std::uniform_int_distribution<size_t> position(16 * kBlock, metadata - 1);
        for (int copy = 0; copy < 150; ++copy) {
            std::string scrambled = good;
            for (int change = 1 + copy % 20; change > 0; --change)
                scrambled[position(random)] = static_cast<char>(random());
            (void)ScanText(scrambled);
        }
    }
}

} // namespace
