// What a volume tells of itself when it is opened: ISO 9660 and UDF images made by the usual
// tools, and a folder on a mounted file system.
#include "support/DiscTrees.h"

#include "discs/Drives.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace {

constexpr int64_t kTime = 1600000000;
// 2020-01-02 03:04:05 UTC as a FILETIME.
const uint64_t kCreated = FileTimeFromUnix(1577934245);

class DiscFacts : public ::testing::Test {
protected:
    TVolumeFacts Facts(const std::string& image)
    {
        const std::unique_ptr<IVolume> volume = Drives.OpenImage(image);
        if (!volume)
            throw std::runtime_error("the image cannot be read");
        return volume->Facts();
    }
    std::string Iso(const std::string& options)
    {
        MakeTree(Scratch / "source", {FileEntry("a.txt", kTime, 100)});
        MakeIsoImage(Scratch / "source", Scratch / "disc.iso", options);
        return Scratch / "disc.iso";
    }

    TScratchFolder Scratch;
    TDriveTable Drives;
};

TEST_F(DiscFacts, IsoImagesByXorrisoTellTheirDescriptorsAndTheImageFile)
{
    const std::string image =
        Iso("-volid 'ДИСК 1' -volset_id 'Архив 2020' -joliet on -rockridge off "
            "-volume_date c 2020010203040500");
    const TVolumeFacts facts = Facts(image);
    EXPECT_EQ(facts.Source.Kind, TSourceKind::Image);
    EXPECT_EQ(facts.Source.Path, image);
    struct stat status {};
    ASSERT_EQ(::stat(image.c_str(), &status), 0);
    EXPECT_EQ(facts.Source.ImageSize, static_cast<uint64_t>(status.st_size));
    EXPECT_EQ(facts.Source.ImageTime,
              FileTimeFromUnix(status.st_mtim.tv_sec, status.st_mtim.tv_nsec));
    EXPECT_EQ(facts.Identity.Label, "ДИСК 1");
    EXPECT_EQ(facts.Identity.FileSystem, "ISO 9660 + Joliet");
    EXPECT_EQ(facts.Identity.VolumeSetId, "Архив 2020");
    EXPECT_EQ(facts.Identity.CreationTime, kCreated);
    EXPECT_GT(facts.Identity.VolumeBlocks, 16u);
    EXPECT_EQ(facts.Capacity, facts.Identity.VolumeBlocks * 2048);
    EXPECT_EQ(facts.FreeSpace, 0u);

    EXPECT_EQ(Facts(Iso("-volid DATA -joliet off -rockridge on")).Identity.FileSystem,
              "ISO 9660 + Rock Ridge");
}

TEST_F(DiscFacts, PlainIsoByGenisoimageAndItsVolumeSet)
{
    MakeTree(Scratch / "source", {FileEntry("A.TXT", kTime, 100)});
    const std::string image = Scratch / "plain.iso";
    const std::string command = "genisoimage -quiet -V PLAIN -volset SET_7 -o '" + image + "' '" +
                                Scratch / "source" + "' 2>/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
    const TVolumeFacts facts = Facts(image);
    EXPECT_EQ(facts.Identity.Label, "PLAIN");
    EXPECT_EQ(facts.Identity.FileSystem, "ISO 9660");
    EXPECT_EQ(facts.Identity.VolumeSetId, "SET_7");
    EXPECT_NE(facts.Identity.CreationTime, 0u);
    EXPECT_EQ(facts.Capacity, std::filesystem::file_size(image));
}

TEST_F(DiscFacts, UdfImagesByMkudffsTellTheirRevisionIdentifiersAndRecordingTime)
{
    const std::string image = Scratch / "disc.udf";
    const std::string command =
        "mkudffs --utf8 --new-file --media-type=bdr --udfrev=2.50 --vid=Проба "
        "--lvid='Логический том' --fullvsid='Набор томов' '" +
        image + "' 20000 >/dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0);
    const TVolumeFacts facts = Facts(image);
    EXPECT_EQ(facts.Identity.FileSystem, "UDF 2.50");
    EXPECT_EQ(facts.Identity.LogicalVolumeId, "Логический том");
    EXPECT_EQ(facts.Identity.Label, "Логический том"); // the label is the logical volume's
    EXPECT_EQ(facts.Identity.VolumeSetId, "Набор томов");
    const uint64_t now = FileTimeFromUnix(::time(nullptr));
    EXPECT_GT(facts.Identity.CreationTime, now - 3600ULL * 10'000'000);
    EXPECT_LE(facts.Identity.CreationTime, now + 10'000'000);
    EXPECT_EQ(facts.Capacity, std::filesystem::file_size(image));
}

TEST_F(DiscFacts, FolderTellsTheInnermostMountItLiesUnderAndItsSpace)
{
    MakeTree(Scratch / "media/stick", {FolderEntry("DCIM", kTime)});
    struct stat status {};
    ASSERT_EQ(::stat((Scratch / "media").c_str(), &status), 0);
    const std::string device =
        std::to_string(major(status.st_dev)) + ":" + std::to_string(minor(status.st_dev));
    const std::string media = std::filesystem::canonical(Scratch / "media").string();
    const std::string mountinfo = "22 1 " + device + " / / rw shared:1 - ext4 /dev/sda1 rw\n" + //
                                  "23 22 " + device + " / " + media +
                                  "/stick rw - vfat /dev/sdb1 rw\n" + "24 22 " + device + " / " +
                                  media + "/st rw - ntfs /dev/sdc1 rw\n" + "25 22 0:99 / " + media +
                                  "/stick/DCIM rw - tmpfs tmpfs rw\n";

    TVolumeFacts facts =
        FolderFacts(Scratch / "media/stick/DCIM", mountinfo, "/nowhere", "/nowhere");
    EXPECT_EQ(facts.Source.MountPoint, media + "/stick");
    EXPECT_EQ(facts.Source.FsType, "vfat");
    EXPECT_EQ(facts.Identity.FileSystem, "vfat");
    EXPECT_GT(facts.Capacity, 0u);
    EXPECT_LE(facts.FreeSpace, facts.Capacity);

    facts = FolderFacts(Scratch / "media", mountinfo, "/nowhere", "/nowhere");
    EXPECT_EQ(facts.Source.MountPoint, "/");
    EXPECT_EQ(facts.Source.FsType, "ext4");
    EXPECT_EQ(FolderFacts(Scratch / "gone", mountinfo).Source.MountPoint, "");

    // udev's links name the file system by its UUID and its label.
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/dev", error)) {
        struct stat node {};
        if (::stat(entry.path().c_str(), &node) != 0 || !S_ISBLK(node.st_mode) ||
            node.st_rdev != status.st_dev)
            continue;
        TScratchFolder links;
        std::filesystem::create_directories(links / "uuid");
        std::filesystem::create_directories(links / "label");
        std::filesystem::create_symlink(entry.path(), links / "uuid/1234-ABCD");
        std::filesystem::create_symlink(entry.path(), links / "label/MY\\x20STICK");
        facts = FolderFacts(Scratch / "media", mountinfo, links / "uuid", links / "label");
        EXPECT_EQ(facts.Identity.Uuid, "1234-ABCD");
        EXPECT_EQ(facts.Identity.Label, "MY STICK");
        return;
    }
    GTEST_SKIP() << "no block device holds the scratch folder: UUID and label are not tried";
}

} // namespace
