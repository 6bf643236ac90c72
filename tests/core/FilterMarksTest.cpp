// The marks of ApplyFilter and SetFlagsDeep, and the hits of FindNodes, against the walk through
// the lists that defines them, written out plainly here, over collections of every shape the
// program makes (read from a file, removed discs, hits kept from before a removal) and over lists
// edited by hand, out of id order.
#include "collection/Fendrel.h"
#include "collection/NameOrder.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

// The definition: every node of the list and below it, in pre-order.
void WalkSetFlags(TFendrel& c, const TCollectionBranch& list, uint32_t andMask, uint32_t orMask)
{
    for (const uint32_t id : list) {
        TCollectionNode& node = c.GetNode(id);
        node.Flags = (node.Flags & andMask) | orMask;
        WalkSetFlags(c, node.Children, andMask, orMask);
    }
}

void WalkApplyFilter(TFendrel& c, const TCollectionBranch& hits)
{
    if (hits.empty()) {
        WalkSetFlags(c, c.Discs, ~nfFilteredOut, 0);
        return;
    }
    WalkSetFlags(c, c.Discs, 0xFFFFFFFF, nfFilteredOut);
    for (const uint32_t hit : hits) {
        for (uint32_t id = hit; id != 0; id = c.GetNode(id).ParentId)
            c.GetNode(id).Flags &= ~nfFilteredOut;
        WalkSetFlags(c, c.GetNode(hit).Children, ~nfFilteredOut, 0);
    }
}

// The definition of the search: the files and folders below list whose names hold filter, in
// pre-order; count receives one step per list walked, a node's own (empty or not) included.
void WalkFind(const TFendrel& c, const TCollectionBranch& list, const std::string& filter,
              TCollectionBranch& hits, int32_t& count)
{
    for (const uint32_t id : list) {
        const TCollectionNode& node = c.GetNode(id);
        if (!node.Is(nfDisc) && FoldedNameContains(node.Name, filter))
            hits.push_back(id);
        WalkFind(c, node.Children, filter, hits, count);
    }
    ++count;
}

std::vector<uint32_t> AllFlags(const TFendrel& c)
{
    std::vector<uint32_t> flags;
    for (uint32_t id = 1; id <= c.LastId; ++id)
        flags.push_back(c.GetNode(id).Flags);
    return flags;
}

// A collection as scans build it, with some discs removed, some nodes marked at random, and hits
// drawn from before the removals. Built the same way for the same seed.
struct TRandomCollection {
    explicit TRandomCollection(uint32_t seed)
    {
        std::mt19937 random(seed);
        const auto pick = [&](size_t count) {
            return std::uniform_int_distribution<size_t>(0, count - 1)(random);
        };
        for (int d = 0; d < 6; ++d) {
            TCollectionNode disc;
            disc.Flags = nfDisc;
            std::vector<uint32_t> folders{C.AddNode(C.Discs, disc).Id};
            for (int n = 0; n < 40; ++n) {
                TCollectionNode node;
                node.ParentId = folders[pick(folders.size())];
                node.Flags = pick(3) == 0 ? nfFolder : nfFile;
                const uint32_t id = C.AddNode(C.GetNode(node.ParentId).Children, node).Id;
                if (node.Flags == nfFolder)
                    folders.push_back(id);
            }
        }
        for (int h = 0; h < 5; ++h)
            Hits.push_back(static_cast<uint32_t>(1 + pick(C.LastId)));
        for (int r = 0; r < 2; ++r)
            C.DeleteDisc(C.Discs[pick(C.Discs.size())]);
        for (uint32_t id = 1; id <= C.LastId; ++id)
            if (pick(4) == 0)
                C.GetNode(id).Flags |= nfFilteredOut;
    }
    TFendrel C;
    TCollectionBranch Hits;
};

TEST(FilterMarks, SameAsTheWalkWithRemovedDiscsAndStaleHits)
{
    for (uint32_t seed = 1; seed <= 200; ++seed) {
        SCOPED_TRACE(seed);
        TRandomCollection fast(seed), walked(seed);
        fast.C.ApplyFilter(fast.Hits);
        WalkApplyFilter(walked.C, walked.Hits);
        ASSERT_EQ(AllFlags(fast.C), AllFlags(walked.C));

        fast.C.ApplyFilter({});
        WalkApplyFilter(walked.C, {});
        ASSERT_EQ(AllFlags(fast.C), AllFlags(walked.C));

        // Over one list below a disc, only what is below it changes.
        const TCollectionBranch& list = fast.C.GetNode(fast.C.Discs.back()).Children;
        fast.C.SetFlagsDeep(list, 0xFFFFFFFF, nfFilteredOut | 0x100);
        WalkSetFlags(walked.C, walked.C.GetNode(walked.C.Discs.back()).Children, 0xFFFFFFFF,
                     nfFilteredOut | 0x100);
        ASSERT_EQ(AllFlags(fast.C), AllFlags(walked.C));
    }
}

// Lists edited by hand: a folder holding a node added before it, and a node in two lists.
struct TEditedLists {
    TEditedLists()
    {
        TCollectionNode value;
        value.Flags = nfFile;
        early = C.AddNode(C.Discs, value).Id; // moved below the folder further down
        value.Flags = nfDisc;
        disc = C.AddNode(C.Discs, value).Id;
        value.Flags = nfFolder;
        value.ParentId = disc;
        folder = C.AddNode(C.GetNode(disc).Children, value).Id;
        value.Flags = nfFile;
        value.ParentId = folder;
        shared = C.AddNode(C.GetNode(folder).Children, value).Id;
        value.ParentId = 0;
        other = C.AddNode(C.Discs, value).Id;
        C.Discs.erase(C.Discs.begin());
        C.GetNode(folder).Children.push_back(early);
        C.GetNode(early).ParentId = folder;
        C.GetNode(other).Children.push_back(shared);
        C.GetNode(other).Flags = nfFolder;
    }
    TFendrel C;
    uint32_t early = 0, disc = 0, folder = 0, shared = 0, other = 0;
};

TEST(FilterMarks, ListsOutOfIdOrderAreMarkedAsTheWalkMarksThem)
{
    TEditedLists fast, walked;
    for (const TCollectionBranch& hits :
         {TCollectionBranch{fast.folder}, TCollectionBranch{fast.other}, TCollectionBranch{}}) {
        fast.C.ApplyFilter(hits);
        WalkApplyFilter(walked.C, hits);
        EXPECT_EQ(AllFlags(fast.C), AllFlags(walked.C));
    }
    fast.C.SetFlagsDeep(fast.C.GetNode(fast.folder).Children, 0xFFFFFFFF, 0x200);
    WalkSetFlags(walked.C, walked.C.GetNode(walked.folder).Children, 0xFFFFFFFF, 0x200);
    EXPECT_EQ(AllFlags(fast.C), AllFlags(walked.C));
    EXPECT_TRUE(fast.C.GetNode(fast.early).Flags & 0x200);

    // The shared node is written in both its lists.
    fast.C.GetNode(fast.shared).Name = "shared";
    const std::string text = fast.C.SaveToText();
    EXPECT_EQ(text, ";Fendrel File v1 begin\r\n"
                    "D 00000000 00000000 00000000 \r\n"
                    "F 00000000 00000000 00000000 \r\n"
                    "E 00000000 00000000 00000000 shared\r\n"
                    "E 00000000 00000000 00000000 \r\n"
                    "<\r\n"
                    "<\r\n"
                    "F 00000000 00000000 00000000 \r\n"
                    "E 00000000 00000000 00000000 shared\r\n"
                    "<\r\n");
}

// A collection with names of a few letters, as scans build it, then in the shapes a session gives
// it: as read back from its file, with a disc removed and another added after that.
void FillNamed(TFendrel& c, std::mt19937& random)
{
    const auto pick = [&](size_t count) {
        return std::uniform_int_distribution<size_t>(0, count - 1)(random);
    };
    const auto name = [&] {
        std::string text;
        for (size_t n = pick(5); n > 0; --n)
            text += "abAB"[pick(4)];
        return text;
    };
    for (size_t d = pick(5); d > 0; --d) {
        TCollectionNode disc;
        disc.Flags = nfDisc;
        disc.Name = "ab disc";
        std::vector<uint32_t> folders{c.AddNode(c.Discs, disc).Id};
        for (size_t n = pick(60); n > 0; --n) {
            TCollectionNode node;
            node.ParentId = folders[pick(folders.size())];
            node.Flags = pick(3) == 0 ? nfFolder : nfFile;
            node.Name = name();
            const uint32_t id = c.AddNode(c.GetNode(node.ParentId).Children, node).Id;
            if (node.Flags == nfFolder)
                folders.push_back(id);
        }
    }
}

// FindNodes on c and on its twin by the walk: the same hits, count and marks.
void ExpectFoundAsByTheWalk(TFendrel& c, TFendrel& twin, const std::string& filter)
{
    TCollectionBranch hits;
    const int32_t found = c.FindNodes(filter, hits);
    TCollectionBranch expected;
    int32_t count = 0;
    WalkFind(twin, twin.Discs, filter, expected, count);
    if (!expected.empty())
        WalkApplyFilter(twin, expected);
    ASSERT_EQ(hits, expected) << filter;
    EXPECT_EQ(found, static_cast<int32_t>(expected.size()));
    EXPECT_EQ(c.ProgressCount, count);
    ASSERT_EQ(AllFlags(c), AllFlags(twin)) << filter;
}

void SearchFindsWhatTheWalkFinds()
{
    std::mt19937 random(77);
    for (int round = 0; round < 100; ++round) {
        SCOPED_TRACE(round);
        TFendrel built, builtTwin;
        std::mt19937 same = random;
        FillNamed(built, random);
        FillNamed(builtTwin, same);
        const std::string text = built.SaveToText();
        TFendrel read, readTwin;
        ASSERT_TRUE(read.LoadFromText(text));
        ASSERT_TRUE(readTwin.LoadFromText(text));
        for (const std::string filter : {"ab", "b", "aab", "zz"}) {
            ExpectFoundAsByTheWalk(built, builtTwin, filter);
            ExpectFoundAsByTheWalk(read, readTwin, filter);
        }
        if (read.Discs.empty())
            continue;
        for (TFendrel* c : {&read, &readTwin}) {
            c->DeleteDisc(c->Discs.front());
            TCollectionNode disc;
            disc.Flags = nfDisc;
            TCollectionNode file;
            file.Flags = nfFile;
            file.Name = "bab";
            file.ParentId = c->AddNode(c->Discs, disc).Id;
            c->AddNode(c->GetNode(file.ParentId).Children, file);
        }
        ExpectFoundAsByTheWalk(read, readTwin, "ab");
    }

    // Lists edited by hand: a folder holding a node added before it, and a node in two lists,
    // found once in each.
    TEditedLists edited, editedTwin;
    for (TEditedLists* lists : {&edited, &editedTwin}) {
        lists->C.GetNode(lists->shared).Name = "shared";
        lists->C.GetNode(lists->early).Name = "early";
    }
    ExpectFoundAsByTheWalk(edited.C, editedTwin.C, "shared");
    TCollectionBranch hits;
    EXPECT_EQ(edited.C.FindNodes("shared", hits), 2);
    ExpectFoundAsByTheWalk(edited.C, editedTwin.C, "early");
}

TEST(FilterMarks, SearchFindsWhatTheWalkFindsInEveryOrderOfTheLists)
{
    SearchFindsWhatTheWalkFinds();
}

// A large collection's names are tested on two threads, each taking half of the ids.
TEST(FilterMarks, SearchOnTwoThreadsFindsWhatTheWalkFinds)
{
    TFendrel::SetTwoThreadSearchNodes(0);
    SearchFindsWhatTheWalkFinds();
    TFendrel::SetTwoThreadSearchNodes(1'000'000);
}

} // namespace
