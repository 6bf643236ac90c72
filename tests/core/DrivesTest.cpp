#include "support/DiscTrees.h"

#include "platform/AnsiText.h"
#include "platform/Drives.h"
#include "platform/IsoVolume.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/sysmacros.h>

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

TEST(Drives, OnlyOpticalDrivesAreFoundInDeviceOrder)
{
    TScratchFolder sys;
    for (const char* device :
         {"sda", "sr1", "loop0", "sr10", "nvme0n1", "sr0", "srx", "sr", "md127"})
        std::filesystem::create_directory(sys / device);
    EXPECT_THAT(FindOpticalDevices(sys.Path), ElementsAre("/dev/sr0", "/dev/sr1", "/dev/sr10"));
    EXPECT_THAT(FindOpticalDevices(sys / "absent"), IsEmpty());
}

TEST(Drives, TableListsLettersInOrderAndKnowsNoOthers)
{
    TDriveTable table;
    table.Add('F', {TDriveSource::TKind::Image, "/nowhere/f.iso", {}});
    table.Add('D', {TDriveSource::TKind::Device, "/dev/nonexistent-drive", {}});
    EXPECT_THAT(table.DriveLetters(), ElementsAre('D', 'F'));
    EXPECT_EQ(table.OpenVolume('D'), nullptr);
    EXPECT_EQ(table.OpenVolume('E'), nullptr);
}

TEST(Drives, MountPointIsFoundByDeviceNumberWithItsEscapesUndone)
{
    const std::string mountinfo =
        "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
        "40 22 11:0 /sub /mnt/bind rw - iso9660 /dev/sr0 ro\n"
        "41 22 11:0 / /media/user/MY\\040DISC\\134x ro,nosuid shared:300 - iso9660 /dev/sr0 ro\n"
        "42 22 11:1 / /media/user/OTHER ro - udf /dev/sr1 ro\n"
        "broken line\n";
    EXPECT_EQ(MountPointOf(makedev(11, 0), mountinfo), "/media/user/MY DISC\\x");
    EXPECT_EQ(MountPointOf(makedev(11, 1), mountinfo), "/media/user/OTHER");
    EXPECT_EQ(MountPointOf(makedev(11, 2), mountinfo), std::nullopt);
}

TEST(Drives, UdevLabelIsFoundByDeviceNumberWithItsEscapesUndone)
{
    std::vector<std::string> devices;
    for (const char* device : {"/dev/loop0", "/dev/loop1", "/dev/vda", "/dev/sda", "/dev/zram0"}) {
        struct stat status {};
        if (::stat(device, &status) == 0 && S_ISBLK(status.st_mode))
            devices.push_back(device);
    }
    if (devices.size() < 2)
        GTEST_SKIP() << "needs two block devices";
    TScratchFolder byLabel;
    std::filesystem::create_symlink(devices[0], byLabel / "MY\\x20DISC\\x2fA\\xd0\\x96");
    std::filesystem::create_symlink("/nowhere", byLabel / "dangling");
    struct stat first {};
    struct stat second {};
    ::stat(devices[0].c_str(), &first);
    ::stat(devices[1].c_str(), &second);
    EXPECT_EQ(UdevLabelOf(first.st_rdev, byLabel.Path), "MY DISC/AЖ");
    EXPECT_EQ(UdevLabelOf(second.st_rdev, byLabel.Path), std::nullopt);
}

TEST(Drives, DriveWhoseDiscIsNotMountedReadsTheDiscItself)
{
    TScratchFolder scratch;
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

TEST(DiscNames, ControlBytesAndForeignCharactersBecomeQuestionMarks)
{
    EXPECT_EQ(NameFromDisc("Ёлка\r\n\x01\x1F end"), Ansi("Ёлка???? end"));
    EXPECT_EQ(NameFromDisc("\xE2\x98\x83 \xFF"), "? ?");
    EXPECT_EQ(NameFromDisc("\x7F~ "), "\x7F~ ");
}

TEST(DiscNames, CutNamesEndOnTheirLastWholeCharacter)
{
    EXPECT_EQ(WithoutCutCharacter("abc"), "abc");
    EXPECT_EQ(WithoutCutCharacter("ЖЖ"), "ЖЖ");
    EXPECT_EQ(WithoutCutCharacter(std::string("ЖЖ").substr(0, 3)), "Ж");
    EXPECT_EQ(WithoutCutCharacter(std::string("a☃").substr(0, 3)), "a");
    EXPECT_EQ(WithoutCutCharacter(std::string("a☃").substr(0, 2)), "a");
    EXPECT_EQ(WithoutCutCharacter("a\xF0\x9F\x98"), "a");
    EXPECT_EQ(WithoutCutCharacter("\x80\x80"), "\x80\x80"); // not UTF-8 at all: left alone
    EXPECT_EQ(WithoutCutCharacter(""), "");
}

TEST(DiscTimes, UnixTimesBecomeFileTimesWithinTheirRange)
{
    EXPECT_EQ(FileTimeFromUnix(0), 116444736000000000ull);
    EXPECT_EQ(FileTimeFromUnix(1, 999999999), 116444736019999999ull);
    EXPECT_EQ(FileTimeFromUnix(-11644473600), 0u);
    EXPECT_EQ(FileTimeFromUnix(-11644473601), 0u);
    EXPECT_EQ(FileTimeFromUnix(INT64_MAX), static_cast<uint64_t>(INT64_MAX));
    EXPECT_EQ(FileTimeFromUnix(INT64_MIN), 0u);
}

} // namespace
