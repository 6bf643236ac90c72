#include "support/DiscTrees.h"

#include "discs/Drives.h"
#include "discs/IsoVolume.h"

#include <gmock/gmock.h>
#include <sys/sysmacros.h>

using ::testing::ElementsAre;

namespace {

TEST(Drives, OnlyOpticalDrivesAreFoundAndLetteredInDeviceOrder)
{
    TScratchFolder sys;
    for (const char* device : {"sda", "sr1", "loop0", "sr10", "nvme0n1", "sr0", "srx", "sr"})
        std::filesystem::create_directory(sys / device);
    EXPECT_THAT(FindOpticalDevices(sys.Path), ElementsAre("/dev/sr0", "/dev/sr1", "/dev/sr10"));
    EXPECT_TRUE(FindOpticalDevices(sys / "absent").empty());
}

TEST(Drives, DiscThatIsNotMountedIsReadFromTheDeviceItself)
{
    TScratchFolder scratch; // an image file stands for the device node
    MakeTree(scratch / "source", {FileEntry("a.txt", 1000000000, 5)});
    MakeIsoImage(scratch / "source", scratch / "disc.iso", "-volid DATA -joliet on");
    TDriveTable table;
    table.Add('D', {TDriveSource::TKind::Device, scratch / "disc.iso", {}});
    const std::unique_ptr<IVolume> volume = table.OpenVolume('D');
    ASSERT_NE(volume, nullptr);
    EXPECT_EQ(volume->Label(), "DATA");
    TFendrel c;
    EXPECT_EQ(c.ScanDisc("disc", *volume), 1);
}

// Reading one would wait for a writer, or never end: each is refused at once. A hang ends the
// test run through the alarm.
TEST(Drives, FifoOrDeviceGivenAsAnImageIsRefusedWithoutWaiting)
{
    TScratchFolder scratch;
    const std::string fifo = scratch / "disc.iso";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::filesystem::create_symlink(fifo, scratch / "link.iso");
    TDriveTable table;
    table.Add('D', {TDriveSource::TKind::Device, fifo, {}});
    table.Add('E', {TDriveSource::TKind::Image, "/dev/zero", {}});
    ::alarm(20);
    EXPECT_EQ(table.OpenImage(fifo), nullptr);
    EXPECT_EQ(table.OpenImage(scratch / "link.iso"), nullptr);
    EXPECT_EQ(table.OpenImage("/dev/zero"), nullptr);
    EXPECT_EQ(table.OpenImage("/dev/tty"), nullptr);
    EXPECT_EQ(table.OpenVolume('D'), nullptr);
    EXPECT_EQ(table.OpenVolume('E'), nullptr);
    ::alarm(0);
}

TEST(Drives, MountPointAndUdevLabelAreFoundByDeviceNumberWithEscapesUndone)
{
    const std::string mountinfo =
        "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
        "40 22 11:0 /sub /mnt/bind rw - iso9660 /dev/sr0 ro\n"
        "41 22 11:0 / /media/u/MY\\040DISC\\134x ro,nosuid shared:300 - iso9660 /dev/sr0 ro\n"
        "broken line\n";
    EXPECT_EQ(MountPointOf(makedev(11, 0), mountinfo), "/media/u/MY DISC\\x");
    EXPECT_EQ(MountPointOf(makedev(11, 1), mountinfo), std::nullopt);

    struct stat first {};
    struct stat second {};
    if (::stat("/dev/loop0", &first) != 0 || ::stat("/dev/loop1", &second) != 0)
        GTEST_SKIP() << "the label part needs two block devices";
    TScratchFolder byLabel;
    std::filesystem::create_symlink("/dev/loop0", byLabel / "MY\\x20DISC\\x2fA\\xd0\\x96");
    std::filesystem::create_symlink("/nowhere", byLabel / "dangling");
    EXPECT_EQ(UdevLabelOf(first.st_rdev, byLabel.Path), "MY DISC/AЖ");
    EXPECT_EQ(UdevLabelOf(second.st_rdev, byLabel.Path), std::nullopt);
}

TEST(Drives, PluggedDrivesTakeTheFirstFreeLetterAndOthersKeepTheirs)
{
    TDriveTable drives;
    drives.Add('D', {TDriveSource::TKind::Device, "/dev/sr0", {}});
    drives.Add('E', {TDriveSource::TKind::Folder, "/tmp", {}}); // known to no desktop
    EXPECT_EQ(drives.LetterOfDevice("/dev/sr0"), 'D');
    EXPECT_EQ(drives.LetterOfDevice(""), std::nullopt);
    EXPECT_EQ(drives.PlugDevice("/dev/sr1"), 'F');
    EXPECT_EQ(drives.PlugDevice("/dev/sr0"), 'D'); // already there: nothing changes
    EXPECT_EQ(drives.UnplugDevice("/dev/sr0"), 'D');
    EXPECT_EQ(drives.UnplugDevice("/dev/sr0"), std::nullopt);
    EXPECT_EQ(drives.PlugDevice("/dev/sr2"), 'D');
    EXPECT_THAT(drives.DriveLetters(), ::testing::ElementsAre('D', 'E', 'F'));
    for (char letter = 'G'; letter <= 'Z'; ++letter)
        drives.Add(letter, {TDriveSource::TKind::Folder, "/tmp", {}});
    EXPECT_EQ(drives.PlugDevice("/dev/sr3"), std::nullopt);
}

TEST(DiscNames, NamesAreKeptWholeLongOnesCutAndCutCharactersGo)
{
    const std::string odd = NameFromDisc("Ёлка\r\n\x01\x1F \xE2\x98\x83 \xFF\x7F");
    EXPECT_EQ(AnsiToUtf8(odd), "Ёлка␍␊␁␟ ☃ \xEF\xBF\xBD\x7F");
    EXPECT_EQ(odd.find_first_of("\r\n"), std::string::npos);
    EXPECT_EQ(NameFromDisc(" leading"), "\x98"
                                        "000020leading")
        << "the collection file would drop the blank";
    EXPECT_EQ(NameFromDisc("trailing "), "trailing ");
    EXPECT_EQ(NameFromDisc(std::string(300, 'n')), std::string(255, 'n'));

    // Plain ISO 9660 names: UTF-8 where they are UTF-8, code page 1251 where they are not.
    EXPECT_EQ(NameFromEightBitDisc(Ansi("ПАПКА")), Ansi("ПАПКА"));
    EXPECT_EQ(NameFromEightBitDisc("ПАПКА"), Ansi("ПАПКА"));
    EXPECT_EQ(AnsiToUtf8(NameFromEightBitDisc(Ansi("ПП") + "\x98" + "000041")), "ПП\xEF\xBF\xBD"
                                                                                "000041")
        << "0x98 is no letter of the code page, and what follows it is no escape";
    EXPECT_EQ(WithoutCutCharacter("aЖ"), "aЖ");
    EXPECT_EQ(WithoutCutCharacter(std::string("aЖ").substr(0, 2)), "a");
    EXPECT_EQ(WithoutCutCharacter(std::string("a☃").substr(0, 3)), "a");
    EXPECT_EQ(WithoutCutCharacter("a\xF0\x9F\x98"), "a");
    EXPECT_EQ(WithoutCutCharacter("\x80\x80"), "\x80\x80"); // not UTF-8 at all: left alone
}

TEST(DiscTimes, UnixTimesBecomeFileTimesWithinTheirRange)
{
    EXPECT_EQ(FileTimeFromUnix(0), 116444736000000000ull);
    EXPECT_EQ(FileTimeFromUnix(1, 999999999), 116444736019999999ull);
    EXPECT_EQ(FileTimeFromUnix(-11644473601), 0u);
    EXPECT_EQ(FileTimeFromUnix(INT64_MAX), static_cast<uint64_t>(INT64_MAX));
    EXPECT_EQ(FileTimeFromUnix(INT64_MIN), 0u);
}

} // namespace
