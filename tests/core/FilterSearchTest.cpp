#include "collection/Fendrel.h"
#include "collection/ProgressLine.h"
#include "platform/AnsiText.h"
#include "support/SteppedClock.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

// A collection built by name; names are given in UTF-8 and stored in code page 1251.
struct TSearchFixture : ::testing::Test {
    TSteppedClock Clock;
    std::vector<std::string> Shown;
    TProgressLine Line{Clock, [this](const std::string& text) {
                           Shown.push_back(AnsiToUtf8(text));
                       }};
    TFendrel C{&Line};

    uint32_t Disc(const char* title) { return Add(C.Discs, nfDisc, title, 0); }
    uint32_t Folder(uint32_t parent, const char* name)
    {
        return Add(Below(parent), nfFolder, name, parent);
    }
    uint32_t File(uint32_t parent, const char* name)
    {
        return Add(Below(parent), nfFile, name, parent);
    }

    // Searches for the UTF-8 filter; the hits as names, in the order found.
    std::vector<std::string> Find(const char* filter)
    {
        Hits.clear();
        Count = C.FindNodes(Ansi(filter), Hits);
        std::vector<std::string> names;
        for (const uint32_t id : Hits)
            names.push_back(AnsiToUtf8(C.GetNode(id).Name));
        return names;
    }

    // The names of every reachable node without the mark, in depth-first pre-order.
    std::vector<std::string> Visible() { return Names(C.Discs, false); }
    std::vector<std::string> Marked() { return Names(C.Discs, true); }

    TCollectionBranch Hits;
    int32_t Count = -1;

private:
    TCollectionBranch& Below(uint32_t parent) { return C.GetNode(parent).Children; }
    uint32_t Add(TCollectionBranch& list, uint32_t kind, const char* name, uint32_t parent)
    {
        TCollectionNode value;
        value.Name = Ansi(name);
        value.Flags = kind;
        value.ParentId = parent;
        return C.AddNode(list, value).Id;
    }
    std::vector<std::string> Names(const TCollectionBranch& list, bool marked)
    {
        std::vector<std::string> names;
        for (const uint32_t id : list) {
            const TCollectionNode& node = C.GetNode(id);
            if (node.Is(nfFilteredOut) == marked)
                names.push_back(AnsiToUtf8(node.Name));
            for (const std::string& below : Names(node.Children, marked))
                names.push_back(below);
        }
        return names;
    }
};

TEST_F(TSearchFixture, MatchesAnyRunOfTheLoweredFileOrFolderNameButNeverADiscTitle)
{
    const uint32_t archive = Disc("TXT archive");
    File(archive, "Readme.TXT");
    Folder(archive, "txt files");
    File(archive, "Report.TXT");
    File(archive, "photo.jpg");

    EXPECT_THAT(Find("txt"), ElementsAre("Readme.TXT", "txt files", "Report.TXT"));
    EXPECT_THAT(Find("report.t"), ElementsAre("Report.TXT")) << "the match runs across the dot";
    EXPECT_THAT(Find("report txt"), IsEmpty());
    EXPECT_THAT(Find("photo.jpg"), ElementsAre("photo.jpg")) << "the whole name";
    EXPECT_THAT(Find("archive"), IsEmpty()) << "a disc title is never searched";
    EXPECT_THAT(Find("readme.txt and more"), IsEmpty()) << "longer than every name";
    EXPECT_THAT(Find("Readme"), IsEmpty()) << "the filter string must already be lower case";

    // Code page 1251: Cyrillic capitals, Ё included, lower to their small letters.
    File(archive, "ОТЧЁТ за Май.DOC");
    Folder(archive, "Ёлка");
    EXPECT_THAT(Find("отчёт за май"), ElementsAre("ОТЧЁТ за Май.DOC"));
    EXPECT_THAT(Find("ёлка"), ElementsAre("Ёлка"));
    EXPECT_THAT(Find("отчет"), IsEmpty()) << "е is not ё";
}

TEST_F(TSearchFixture, HitsComeInPreOrderWithAFolderBeforeWhatItHolds)
{
    const uint32_t first = Disc("one");
    const uint32_t docs = Folder(first, "docs");
    File(docs, "b docs.txt");
    const uint32_t inner = Folder(docs, "a docs inner");
    File(inner, "docs.pdf");
    File(first, "docs last");
    const uint32_t second = Disc("docs disc");
    File(second, "more docs");

    // Children in the order they were added, not sorted by name; discs in their order.
    EXPECT_THAT(Find("docs"), ElementsAre("docs", "b docs.txt", "a docs inner", "docs.pdf",
                                          "docs last", "more docs"));
    EXPECT_EQ(Count, 6);
}

TEST_F(TSearchFixture, AHitShowsThePathToItAndEverythingBelowIt)
{
    const uint32_t disc = Disc("disc");
    const uint32_t music = Folder(disc, "music");
    const uint32_t rock = Folder(music, "Rock");
    File(rock, "song.mp3");
    const uint32_t live = Folder(rock, "live");
    File(live, "encore.mp3");
    File(music, "list.txt");
    File(disc, "readme");
    const uint32_t other = Disc("other");
    File(other, "notes");

    EXPECT_THAT(Find("song"), ElementsAre("song.mp3"));
    EXPECT_THAT(Visible(), ElementsAre("disc", "music", "Rock", "song.mp3"));

    EXPECT_THAT(Find("rock"), ElementsAre("Rock"));
    EXPECT_THAT(Visible(), ElementsAre("disc", "music", "Rock", "song.mp3", "live", "encore.mp3"));
    EXPECT_THAT(Marked(), ElementsAre("list.txt", "readme", "other", "notes"));
}

TEST_F(TSearchFixture, SearchWithoutHitsLeavesEveryMark)
{
    const uint32_t disc = Disc("disc");
    File(disc, "alpha");
    File(disc, "beta");
    Find("alpha");
    const std::vector<std::string> filtered = Visible();
    ASSERT_THAT(filtered, ElementsAre("disc", "alpha"));

    EXPECT_THAT(Find("gamma"), IsEmpty());
    EXPECT_EQ(Hits.size(), 0u) << "the list handed in is emptied";
    EXPECT_EQ(Visible(), filtered);

    // A search covers the hidden part too, and the new hits replace the old filter.
    EXPECT_THAT(Find("beta"), ElementsAre("beta"));
    EXPECT_THAT(Visible(), ElementsAre("disc", "beta"));
}

TEST_F(TSearchFixture, KeptHitsOfARemovedDiscHideEverythingStillThere)
{
    const uint32_t gone = Disc("gone");
    File(gone, "report.doc");
    const uint32_t kept = Disc("kept");
    File(kept, "photo.jpg");
    Find("report");
    const TCollectionBranch hits = Hits;

    C.DeleteDisc(gone);
    C.ApplyFilter(hits);
    EXPECT_THAT(Visible(), IsEmpty());
    EXPECT_THAT(Marked(), ElementsAre("kept", "photo.jpg"));
}

TEST_F(TSearchFixture, DeeplyNestedCollectionIsSearchedAndMarkedWithoutRecursion)
{
    // Deeper than any thread stack would allow one call per level; every folder is a hit,
    // which also keeps the marking from walking the same paths once per hit.
    constexpr uint32_t depth = 200000;
    uint32_t parent = Disc("deep");
    for (uint32_t level = 0; level < depth; ++level)
        parent = Folder(parent, level == depth - 1 ? "last dir" : "dir");
    File(parent, "bottom.txt");
    const uint32_t other = Disc("other");
    File(other, "elsewhere");

    EXPECT_EQ(C.FindNodes("dir", Hits), static_cast<int32_t>(depth));
    EXPECT_EQ(Hits.front(), 2u);
    EXPECT_EQ(C.GetNode(Hits.back()).Name, "last dir");
    EXPECT_EQ(C.ProgressCount, static_cast<int32_t>(depth + 5));
    EXPECT_FALSE(C.GetNode(parent).Is(nfFilteredOut));
    EXPECT_FALSE(C.GetNode(parent + 1).Is(nfFilteredOut)) << "the file below the last hit";
    EXPECT_TRUE(C.GetNode(other).Is(nfFilteredOut));
}

} // namespace
