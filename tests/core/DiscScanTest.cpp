#include "support/DiscTrees.h"
#include "support/SteppedClock.h"

#include "collection/Fendrel.h"
#include "collection/ProgressLine.h"
#include "platform/AnsiText.h"
#include "platform/Volume.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <optional>

using ::testing::ElementsAre;

namespace {

TFindData Entry(const std::string& name, bool folder, uint64_t time = 0, uint32_t size = 0)
{
    TFindData entry;
    entry.Name = name;
    entry.RawName = name;
    entry.IsFolder = folder;
    entry.LastWriteTime = time;
    entry.SizeLow = size;
    return entry;
}

class TListing final : public IFolderListing {
public:
    explicit TListing(std::vector<TFindData> entries)
        : Entries_(std::move(entries))
    {
    }
    bool Next(TFindData& entry) override
    {
        if (At_ == Entries_.size())
            return false;
        entry = Entries_[At_++];
        return true;
    }

private:
    std::vector<TFindData> Entries_;
    size_t At_ = 0;
};

// Folders by path; a path that is not in the map cannot be read. Every path asked for is noted.
class TFakeVolume final : public IVolume {
public:
    std::map<std::string, std::vector<TFindData>> Folders;
    std::vector<std::string> Opened;

    [[nodiscard]] std::string Label() const override { return "FAKE"; }
    [[nodiscard]] std::unique_ptr<IFolderListing> OpenFolder(const std::string& path) override
    {
        Opened.push_back(path);
        const auto found = Folders.find(path);
        if (found == Folders.end())
            return nullptr;
        return std::make_unique<TListing>(found->second);
    }
};

TEST(DiscScan, WalksDepthFirstInListingOrderAndCountsEveryFolderAndFile)
{
    TFakeVolume volume;
    volume.Folders["/"] = {Entry(".", true),       Entry("..", true),
                           Entry("zeta", true, 7), Entry("alpha.txt", false, 0x1'0000'0002, 10),
                           Entry("locked", true),  Entry("last", false)};
    volume.Folders["/zeta/"] = {Entry("..", true), Entry("inner", true), Entry("b", false, 0, 3),
                                Entry(".", true)};
    volume.Folders["/zeta/inner/"] = {Entry("deep", false, 0, 4)};
    // "/locked/" is missing: that folder cannot be read.

    TSteppedClock clock;
    std::vector<std::string> shown;
    TProgressLine progress(clock,
                           [&](const std::string& text) { shown.push_back(AnsiToUtf8(text)); });
    TFendrel c(&progress);
    EXPECT_EQ(c.ScanDisc(Ansi("Диск"), volume), 7);
    EXPECT_EQ(c.ProgressCount, 7);
    EXPECT_THAT(shown, ElementsAre(" Сканирование диска: найдено 0 элементов", " Готово"));

    ASSERT_EQ(c.Discs.size(), 1u);
    const TCollectionNode& disc = c.GetNode(c.Discs[0]);
    EXPECT_EQ(disc.Name.str(), Ansi("Диск"));
    EXPECT_EQ(disc.Flags, nfDisc);
    EXPECT_EQ(disc.ParentId, 0u);
    EXPECT_EQ(disc.WriteTimeLow | disc.WriteTimeHigh | disc.Size, 0u);
    EXPECT_TRUE(IdsArePreOrder(c, disc));
    EXPECT_EQ(DumpScanned(c, disc), "F zeta t=7 s=0\n"
                                    "  F inner t=0 s=0\n"
                                    "    E deep t=0 s=4\n"
                                    "  E b t=0 s=3\n"
                                    "E alpha.txt t=4294967298 s=10\n"
                                    "F locked t=0 s=0\n"
                                    "E last t=0 s=0\n");
    EXPECT_THAT(volume.Opened, ElementsAre("/", "/zeta/", "/zeta/inner/", "/locked/"));
}

TEST(DiscScan, SubfolderPathsUseTheNameTheVolumeHolds)
{
    // The shown name lost a character the code page lacks; the walk must still find the folder.
    TFindData folder = Entry("?", true);
    folder.RawName = "\xE2\x98\x83";
    TFakeVolume volume;
    volume.Folders["/"] = {folder};
    volume.Folders["/\xE2\x98\x83/"] = {Entry("inside", false)};
    TFendrel c;
    EXPECT_EQ(c.ScanDisc("", volume), 2);
    EXPECT_EQ(DumpScanned(c, c.GetNode(c.Discs[0])), "F ? t=0 s=0\n  E inside t=0 s=0\n");
}

TEST(DiscScan, EmptyOrUnreadableDiscAddsTheDiscAlone)
{
    TFakeVolume empty;
    empty.Folders["/"] = {Entry(".", true), Entry("..", true)};
    TUnreadableVolume unreadable;
    TFendrel c;
    EXPECT_EQ(c.ScanDisc("one", empty), 0);
    EXPECT_EQ(c.ScanDisc("two", unreadable), 0);
    ASSERT_EQ(c.Discs.size(), 2u);
    EXPECT_TRUE(c.GetNode(c.Discs[0]).Children.empty());
    EXPECT_TRUE(c.GetNode(c.Discs[1]).Children.empty());
}

// One folder in each folder, a file at the bottom: far deeper than a thread's stack could follow
// by recursion.
class TChainVolume final : public IVolume {
public:
    explicit TChainVolume(size_t depth)
        : Depth_(depth)
    {
    }
    [[nodiscard]] std::string Label() const override { return {}; }
    [[nodiscard]] std::unique_ptr<IFolderListing> OpenFolder(const std::string& path) override
    {
        const size_t level = (path.size() - 1) / 2; // each level adds "d/"
        if (level == Depth_)
            return std::make_unique<TListing>(std::vector<TFindData>{Entry("bottom", false)});
        return std::make_unique<TListing>(std::vector<TFindData>{Entry("d", true)});
    }

private:
    size_t Depth_;
};

TEST(DiscScan, DepthIsLimitedOnlyByMemory)
{
    constexpr size_t depth = 300000;
    TChainVolume volume(depth);
    TFendrel c;
    EXPECT_EQ(c.ScanDisc("deep", volume), static_cast<int32_t>(depth + 1));
    const TCollectionNode& bottom = c.GetNode(c.LastId);
    EXPECT_EQ(bottom.Name, "bottom");
    EXPECT_EQ(bottom.ParentId, c.LastId - 1);
}

} // namespace
