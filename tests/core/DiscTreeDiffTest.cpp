#include "collection/DiscTreeDiff.h"
#include "collection/DiscRecord.h"
#include "collection/DiscUpdate.h"
#include "collection/Fendrel.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

// Builds a disc from lines "path" (a folder when it ends in "\"), "path size" or
// "path size time", parents before their contents.
uint32_t MakeDisc(TFendrel& c, const std::vector<std::string>& lines)
{
    TCollectionNode disc;
    disc.Name = "Disc";
    disc.Flags = nfDisc;
    const uint32_t id = c.AddNode(c.Discs, disc).Id;
    for (const std::string& line : lines) {
        std::istringstream in(line);
        std::string path;
        uint64_t size = 0;
        uint32_t time = 7;
        in >> path >> size >> time;
        const bool folder = path.back() == '\\';
        if (folder)
            path.pop_back();
        uint32_t parent = id;
        size_t start = 0;
        for (size_t slash = path.find('\\'); slash != std::string::npos;
             start = slash + 1, slash = path.find('\\', start)) {
            const std::string name = path.substr(start, slash - start);
            for (const uint32_t child : c.GetNode(parent).Children)
                if (c.GetNode(child).Name.view() == name)
                    parent = child;
        }
        TCollectionNode node;
        node.Name = path.substr(start);
        node.Flags = folder ? nfFolder : nfFile;
        node.ParentId = parent;
        node.WriteTimeLow = time;
        node.SetFullSize(size);
        c.AddNode(c.GetNode(parent).Children, node);
    }
    return id;
}

std::vector<std::string> Paths(const std::vector<TTreeChange>& changes)
{
    std::vector<std::string> paths;
    for (const TTreeChange& change : changes)
        paths.push_back(change.Path + (change.Folder ? "\\" : ""));
    return paths;
}

TDiscTreeDiff Compare(const std::vector<std::string>& before, const std::vector<std::string>& after)
{
    static TFendrel old;
    static TFendrel scanned;
    const uint32_t a = MakeDisc(old, before);
    const uint32_t b = MakeDisc(scanned, after);
    return CompareDiscTrees(old, old.GetNode(a), scanned, scanned.GetNode(b));
}

TEST(DiscTreeDiff, AddedRemovedAndChangedEntriesWithPathsInTreeOrderAndByteTotals)
{
    const TDiscTreeDiff diff =
        Compare({"b.txt 10", "Docs\\", "Docs\\old.doc 100", "Docs\\same.doc 5", "a.txt 3", "Gone\\",
                 "Gone\\x 40", "Gone\\Deep\\", "Gone\\Deep\\y 2", "touched 9 1"},
                // The scan lists the entries in another order; only names match them.
                {"touched 9 2", "A.TXT 3", "Docs\\", "Docs\\same.doc 5", "Docs\\new.doc 70",
                 "b.txt 25", "New\\", "New\\z 6", "big 6000000000"});
    EXPECT_THAT(Paths(diff.Added), ElementsAre("A.TXT", "big", "Docs\\new.doc", "New\\", "New\\z"));
    EXPECT_THAT(Paths(diff.Removed), ElementsAre("a.txt", "Docs\\old.doc", "Gone\\", "Gone\\Deep\\",
                                                 "Gone\\Deep\\y", "Gone\\x"));
    EXPECT_THAT(Paths(diff.Changed), ElementsAre("b.txt", "touched"));
    EXPECT_EQ(diff.Changed[0].OldSize, 10u);
    EXPECT_EQ(diff.Changed[0].NewSize, 25u);
    EXPECT_EQ(diff.Changed[1].OldTime, 1u);
    EXPECT_EQ(diff.Changed[1].NewTime, 2u);
    // Sizes above 4 GiB count whole; growth adds, removals and the case-renamed file take away.
    EXPECT_EQ(diff.BytesAdded, 3u + 6000000000u + 70u + 6u + 15u);
    EXPECT_EQ(diff.BytesRemoved, 3u + 100u + 40u + 2u);
}

TEST(DiscTreeDiff, EqualTreesAndAFileBecomingAFolder)
{
    const std::vector<std::string> tree = {"Ёлка\\", "Ёлка\\игрушка 5", "ёж 1", "Я 2"};
    EXPECT_TRUE(Compare(tree, tree).Empty());
    EXPECT_TRUE(Compare({}, {}).Empty());

    const TDiscTreeDiff diff = Compare({"x 5", "y\\", "y\\in 1"}, {"x\\", "x\\in 1", "y 4"});
    EXPECT_THAT(Paths(diff.Removed), ElementsAre("x", "y\\", "y\\in"));
    EXPECT_THAT(Paths(diff.Added), ElementsAre("x\\", "x\\in", "y"));
    EXPECT_THAT(diff.Changed, IsEmpty());

    const TDiscTreeDiff emptied = Compare({"a\\", "a\\b\\", "a\\b\\c 1"}, {});
    EXPECT_THAT(Paths(emptied.Removed), ElementsAre("a\\", "a\\b\\", "a\\b\\c"));
    EXPECT_EQ(emptied.BytesRemoved, 1u);
}

TEST(DiscTreeDiff, DeepTreesNeedNoStack)
{
    TFendrel old;
    TFendrel scanned;
    const uint32_t a = MakeDisc(old, {});
    const uint32_t b = MakeDisc(scanned, {});
    uint32_t parent = a;
    for (int level = 0; level < 3000; ++level) {
        TCollectionNode folder;
        folder.Name = "d";
        folder.Flags = nfFolder;
        folder.ParentId = parent;
        parent = old.AddNode(old.GetNode(parent).Children, folder).Id;
    }
    const TDiscTreeDiff diff = CompareDiscTrees(old, old.GetNode(a), scanned, scanned.GetNode(b));
    ASSERT_EQ(diff.Removed.size(), 3000u);
    EXPECT_EQ(diff.Removed[2].Path, "d\\d\\d");
}

TEST(DiscUpdate, TreeIsReplacedByACopyWithNewIdsAndTheOldNodesStayFindable)
{
    TFendrel c;
    const uint32_t first = MakeDisc(c, {"keep\\", "keep\\a 1"});
    const uint32_t disc = MakeDisc(c, {"old\\", "old\\x 1"});
    c.DiscRecords[disc].Notes = "shelf 3";
    const uint32_t oldFolder = c.GetNode(disc).Children[0];
    TFendrel scanned;
    const uint32_t from = MakeDisc(scanned, {"new\\", "new\\y 5000000000", "z 2"});
    scanned.Checksums[scanned.GetNode(scanned.GetNode(from).Children[1]).Id] = {1, 2};

    EXPECT_EQ(ReplaceDiscTree(c, disc, scanned, from), 3);
    EXPECT_THAT(c.Discs, ElementsAre(first, disc));
    EXPECT_EQ(c.GetNode(disc).Name.view(), "Disc");
    EXPECT_EQ(c.DiscRecords[disc].Notes, "shelf 3");
    EXPECT_EQ(c.GetNode(oldFolder).Name.view(), "old") << "detached, still findable by id";
    EXPECT_TRUE(c.GetNode(oldFolder).Children.empty());
    const TCollectionNode& folder = c.GetNode(c.GetNode(disc).Children.at(0));
    EXPECT_GT(folder.Id, oldFolder);
    EXPECT_EQ(folder.ParentId, disc);
    const TCollectionNode& big = c.GetNode(folder.Children.at(0));
    EXPECT_EQ(big.FullSize(), 5000000000u);
    EXPECT_EQ(big.ParentId, folder.Id);
    EXPECT_GT(big.Id, folder.Id);
    const uint32_t z = c.GetNode(disc).Children.at(1);
    EXPECT_EQ(c.Checksums.at(z), (TContentChecksum{1, 2}));
    EXPECT_TRUE(CompareDiscTrees(c, c.GetNode(disc), scanned, scanned.GetNode(from)).Empty());
}

TVolumeFacts Folder(std::string path, std::string fsType, std::string uuid = {},
                    std::string mount = {})
{
    TVolumeFacts facts;
    facts.Source.Kind = TSourceKind::Folder;
    facts.Source.Path = std::move(path);
    facts.Source.FsType = std::move(fsType);
    facts.Source.MountPoint = std::move(mount);
    facts.Identity.Uuid = std::move(uuid);
    return facts;
}

TVolumeFacts Image(std::string path, uint64_t created = 0, std::string volumeSet = {})
{
    TVolumeFacts facts;
    facts.Source.Kind = TSourceKind::Image;
    facts.Source.Path = std::move(path);
    facts.Identity.CreationTime = created;
    facts.Identity.VolumeSetId = std::move(volumeSet);
    return facts;
}

TEST(CompareMedia, FoldersByUuidAndPathBelowTheMountOrByPathAndFileSystem)
{
    // The same USB disk mounted elsewhere is the same; another folder on it is not.
    EXPECT_EQ(CompareMedia(Folder("/media/a/Photos", "vfat", "12-34", "/media/a"),
                           Folder("/run/media/u/B/Photos/", "vfat", "12-34", "/run/media/u/B")),
              TMediumMatch::Same);
    EXPECT_EQ(CompareMedia(Folder("/media/a/Photos", "vfat", "12-34", "/media/a"),
                           Folder("/media/a/Music", "vfat", "12-34", "/media/a")),
              TMediumMatch::Different);
    EXPECT_EQ(CompareMedia(Folder("/media/a", "vfat", "12-34", "/media/a"),
                           Folder("/media/a", "vfat", "56-78", "/media/a")),
              TMediumMatch::Different);
    // Without udev: the path and the file system type; an empty mount point is another medium.
    EXPECT_EQ(CompareMedia(Folder("/media/a/", "vfat"), Folder("/media/a", "vfat")),
              TMediumMatch::Same);
    EXPECT_EQ(CompareMedia(Folder("/media/a", "vfat"), Folder("/media/a", "ext4")),
              TMediumMatch::Different);
    EXPECT_EQ(CompareMedia(Folder("/media/a", ""), Folder("/media/b", "")),
              TMediumMatch::Different);
    EXPECT_EQ(CompareMedia(Folder("/media/a", "vfat", "12-34"), Folder("/media/a", "vfat")),
              TMediumMatch::Unknown);
    EXPECT_EQ(CompareMedia(Folder("", ""), Folder("", "")), TMediumMatch::Unknown);
}

TEST(CompareMedia, DiscsAndImagesByIdentifiersAndLabelNeverByLabelAlone)
{
    TVolumeFacts a = Image("/a.iso", 100, "SET");
    TVolumeFacts b = Image("/moved/b.iso", 100, "SET");
    a.Identity.Label = "ONE";
    b.Identity.Label = "TWO";
    // Two discs written in the same second, of the same size, told apart by their labels.
    EXPECT_EQ(CompareMedia(a, b), TMediumMatch::Different);
    b.Identity.Label = "ONE";
    EXPECT_EQ(CompareMedia(a, b), TMediumMatch::Same);
    EXPECT_TRUE(SameMedium(a, b));
    b.Identity.CreationTime = 101;
    EXPECT_EQ(CompareMedia(a, b), TMediumMatch::Different);
    EXPECT_FALSE(SameMedium(a, b));
    // Labels alike tell nothing.
    TVolumeFacts c = Image("/c.iso");
    TVolumeFacts d = Image("/d.iso");
    c.Identity.Label = d.Identity.Label = "SAME";
    EXPECT_EQ(CompareMedia(c, d), TMediumMatch::Unknown);
    EXPECT_EQ(CompareMedia(c, Image("/c.iso")), TMediumMatch::Same) << "the same image file";
    EXPECT_EQ(CompareMedia(a, Image("/a.iso")), TMediumMatch::Unknown);
    TVolumeFacts drive = a;
    drive.Source = TDiscSource{};
    drive.Source.Kind = TSourceKind::Drive;
    drive.Source.Path = "/dev/sr0";
    EXPECT_EQ(CompareMedia(a, drive), TMediumMatch::Same) << "an image of the disc in a drive";
    EXPECT_EQ(CompareMedia(a, Folder("/a.iso", "")), TMediumMatch::Unknown);
}

} // namespace
