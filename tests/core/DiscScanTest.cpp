#include "support/DiscTrees.h"
#include "support/SteppedClock.h"

#include "collection/ProgressLine.h"

#include <gmock/gmock.h>
#include <map>

using ::testing::ElementsAre;

namespace {

TFindData Entry(const std::string& name, bool folder, uint64_t time = 0, uint32_t size = 0)
{
    return {name, name, folder, time, size};
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

// Folders by path, each path asked for noted; a path without an entry cannot be read. With a depth,
// each folder holds one folder "d" down to that depth, where a file ends the chain.
class TFakeVolume final : public IVolume {
public:
    std::map<std::string, std::vector<TFindData>> Folders;
    std::vector<std::string> Opened;
    size_t ChainDepth = 0;

    [[nodiscard]] std::string Label() const override { return {}; }
    [[nodiscard]] std::unique_ptr<IFolderListing> OpenFolder(const std::string& path) override
    {
        if (ChainDepth > 0) // each level adds "d/" to the path
            return std::make_unique<TListing>(std::vector{
                (path.size() - 1) / 2 == ChainDepth ? Entry("bottom", false) : Entry("d", true)});
        Opened.push_back(path);
        const auto found = Folders.find(path);
        return found == Folders.end() ? nullptr : std::make_unique<TListing>(found->second);
    }
};

TEST(DiscScan, WalksDepthFirstInListingOrderAndCountsEveryFolderAndFile)
{
    TFakeVolume volume;
    volume.Folders["/"] = {Entry(".", true),       Entry("..", true),
                           Entry("zeta", true, 7), Entry("alpha.txt", false, 0x1'0000'0002, 10),
                           Entry("locked", true),  Entry("last", false)};
    volume.Folders["/zeta/"] = {Entry("..", true), Entry("inner", true), Entry("b", false, 0, 3)};
    volume.Folders["/zeta/inner/"] = {Entry("deep", false, 0, 4)};

    TSteppedClock clock;
    std::vector<std::string> shown;
    TProgressLine progress(clock,
                           [&](const std::string& text) { shown.push_back(AnsiToUtf8(text)); });
    TFendrel c(&progress);
    EXPECT_EQ(c.ScanDisc(Ansi("Диск"), volume), 7);
    EXPECT_THAT(shown, ElementsAre(" Сканирование диска: найдено 0 элементов", " Готово"));

    ASSERT_EQ(c.Discs.size(), 1u);
    const TCollectionNode& disc = c.GetNode(c.Discs[0]);
    EXPECT_EQ(disc.Name.str(), Ansi("Диск"));
    EXPECT_EQ(disc.Flags, nfDisc);
    EXPECT_EQ(disc.ParentId | disc.WriteTimeLow | disc.WriteTimeHigh | disc.Size, 0u);
    EXPECT_TRUE(IdsArePreOrder(c, disc));
    EXPECT_EQ(DumpScanned(c, disc), "F zeta t=7 s=0\n"
                                    "  F inner t=0 s=0\n"
                                    "    E deep t=0 s=4\n"
                                    "  E b t=0 s=3\n"
                                    "E alpha.txt t=4294967298 s=10\n"
                                    "F locked t=0 s=0\n"
                                    "E last t=0 s=0\n");
    EXPECT_THAT(volume.Opened, ElementsAre("/", "/zeta/", "/zeta/inner/", "/locked/"));

    TUnreadableVolume unreadable;
    EXPECT_EQ(c.ScanDisc("none", unreadable), 0);
    EXPECT_TRUE(c.GetNode(c.Discs.at(1)).Children.empty());
}

TEST(DiscScan, DepthIsLimitedOnlyByMemory)
{
    constexpr size_t depth = 300000; // far deeper than a thread's stack could follow by recursion
    TFakeVolume volume;
    volume.ChainDepth = depth;
    TFendrel c;
    EXPECT_EQ(c.ScanDisc("deep", volume), static_cast<int32_t>(depth + 1));
    EXPECT_EQ(c.GetNode(c.LastId).Name.str(), "bottom");
    EXPECT_EQ(c.GetNode(c.LastId).ParentId, c.LastId - 1);
}

} // namespace
