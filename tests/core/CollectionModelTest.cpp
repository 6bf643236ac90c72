#include "collection/Fendrel.h"
#include "collection/FendrelError.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

TCollectionNode& Add(TFendrel& c, TCollectionBranch& list, uint32_t kind, const std::string& name,
                     uint32_t parent = 0, uint32_t size = 0)
{
    TCollectionNode value;
    value.Name = name;
    value.Flags = kind;
    value.ParentId = parent;
    value.Size = size;
    return c.AddNode(list, value);
}

// Three discs; the second holds a folder with a file and a subfolder.
struct TThreeDiscs {
    TFendrel c;
    uint32_t disc1, disc2, disc3, folder, file, subfolder;
    TThreeDiscs()
    {
        disc1 = Add(c, c.Discs, nfDisc, "one").Id;
        TCollectionNode& d2 = Add(c, c.Discs, nfDisc, "two");
        disc2 = d2.Id;
        TCollectionNode& f = Add(c, d2.Children, nfFolder, "Docs", disc2);
        folder = f.Id;
        file = Add(c, f.Children, nfFile, "a.txt", folder, 10).Id;
        subfolder = Add(c, f.Children, nfFolder, "sub", folder).Id;
        disc3 = Add(c, c.Discs, nfDisc, "three").Id;
    }
};

TEST(CollectionModel, IdsCountUpAcrossListsAndAreNeverReused)
{
    TThreeDiscs t;
    EXPECT_EQ(t.disc1, 1u);
    EXPECT_EQ(t.disc2, 2u);
    EXPECT_EQ(t.folder, 3u);
    EXPECT_EQ(t.c.LastId, 6u);

    t.c.DeleteDisc(t.disc2);
    EXPECT_THAT(t.c.Discs, ElementsAre(t.disc1, t.disc3));
    EXPECT_EQ(Add(t.c, t.c.Discs, nfDisc, "four").Id, 7u);
}

TEST(CollectionModel, AddNodeOverwritesIdAndCopiesValue)
{
    TFendrel c;
    TCollectionNode value;
    value.Id = 99;
    value.Name = "x";
    value.Flags = nfFile;
    value.WriteTimeLow = 1;
    value.WriteTimeHigh = 2;
    value.Size = 3;
    const TCollectionNode& stored = c.AddNode(c.Discs, value);
    EXPECT_EQ(stored.Id, 1u);
    EXPECT_EQ(stored.Name, "x");
    EXPECT_EQ(stored.WriteTimeHigh, 2u);
    EXPECT_EQ(value.Id, 99u);
}

TEST(CollectionModel, DeleteDiscKeepsNodesFindableWithEmptyChildren)
{
    TThreeDiscs t;
    t.c.DeleteDisc(t.disc2);
    for (const uint32_t id : {t.disc2, t.folder, t.file, t.subfolder})
        EXPECT_THAT(t.c.GetNode(id).Children, IsEmpty()) << id;
    // Following ParentId from below still ends at the disc.
    uint32_t id = t.subfolder;
    while (t.c.GetNode(id).ParentId != 0)
        id = t.c.GetNode(id).ParentId;
    EXPECT_EQ(id, t.disc2);
    EXPECT_EQ(t.c.GetNode(t.file).Name, "a.txt");
}

TEST(CollectionModel, DeleteDiscOfZeroOrMissingIdChangesNothing)
{
    TThreeDiscs t;
    t.c.DeleteDisc(0);
    EXPECT_EQ(t.c.Discs.size(), 3u);
    try {
        t.c.DeleteDisc(42);
        FAIL() << "no error";
    } catch (const EFendrelError& error) {
        EXPECT_STREQ(error.what(), "Node not found");
    }
    EXPECT_EQ(t.c.Discs.size(), 3u);
    EXPECT_EQ(t.c.GetNode(t.disc2).Children.size(), 1u);
}

TEST(CollectionModel, DeleteDiscNotInDiscsStillEmptiesItsSubtree)
{
    TThreeDiscs t;
    t.c.Discs.erase(t.c.Discs.begin() + 1);
    t.c.DeleteDisc(t.disc2);
    EXPECT_THAT(t.c.Discs, ElementsAre(t.disc1, t.disc3));
    EXPECT_THAT(t.c.GetNode(t.folder).Children, IsEmpty());
}

TEST(CollectionModel, SumFileSizesCarriesPast32Bits)
{
    TFendrel c;
    TCollectionNode& disc = Add(c, c.Discs, nfDisc, "d");
    TCollectionNode& empty = Add(c, disc.Children, nfFolder, "empty", disc.Id);
    EXPECT_EQ(c.SumFileSizes(empty), 0u);
    TCollectionNode& folder = Add(c, disc.Children, nfFolder, "big", disc.Id);
    Add(c, folder.Children, nfFile, "a", folder.Id, 0xFFFFFFFF);
    TCollectionNode& inner = Add(c, folder.Children, nfFolder, "inner", folder.Id);
    Add(c, inner.Children, nfFile, "b", inner.Id, 0xFFFFFFFF);
    EXPECT_EQ(c.SumFileSizes(folder), 2ull * 0xFFFFFFFFull);
    EXPECT_EQ(c.SumFileSizes(disc), 2ull * 0xFFFFFFFFull);
}

TEST(CollectionModel, SetFlagsDeepChangesOnlyTheMaskedBits)
{
    TThreeDiscs t;
    t.c.SetFlagsDeep(t.c.Discs, 0xFFFFFFFF, nfFilteredOut);
    EXPECT_EQ(t.c.GetNode(t.subfolder).Flags, nfFolder | nfFilteredOut);
    t.c.SetFlagsDeep(t.c.Discs, ~nfFilteredOut, 0);
    EXPECT_EQ(t.c.GetNode(t.disc2).Flags, nfDisc);
    EXPECT_EQ(t.c.GetNode(t.folder).Flags, nfFolder);
    EXPECT_EQ(t.c.GetNode(t.file).Flags, nfFile);
    EXPECT_EQ(t.c.GetNode(t.subfolder).Flags, nfFolder);
}

TEST(CollectionModel, ReferencesStayValidWhileAMillionNodesAreAdded)
{
    TFendrel c;
    TCollectionNode& disc = Add(c, c.Discs, nfDisc, "disc");
    TCollectionNode& folder = Add(c, disc.Children, nfFolder, "folder", disc.Id);
    const TCollectionNode* const discAddress = &disc;
    // Some names too long to be kept inside the node: the store must free them when it goes.
    const std::string longName(40, 'n');
    for (int i = 0; i < 1000000; ++i)
        Add(c, folder.Children, nfFile, i % 1000 == 0 ? longName : "file", folder.Id,
            static_cast<uint32_t>(i));
    EXPECT_EQ(&c.GetNode(1), discAddress);
    EXPECT_EQ(c.GetNode(folder.Children[999'000]).Name.view(), longName);
    EXPECT_EQ(c.GetNode(folder.Children[999'001]).Name, "file");
    EXPECT_EQ(folder.Children.size(), 1000000u);
    EXPECT_EQ(c.GetNode(folder.Children.back()).Size, 999999u);
    EXPECT_EQ(c.SumFileSizes(disc), 999999ull * 1000000ull / 2);
}

TEST(CollectionModel, DeeplyNestedCollectionDoesNotExhaustTheStack)
{
    TFendrel c;
    TCollectionNode* node = &Add(c, c.Discs, nfDisc, "deep");
    for (int i = 0; i < 200000; ++i)
        node = &Add(c, node->Children, nfFolder, "f", node->Id);
    Add(c, node->Children, nfFile, "leaf", node->Id, 7);
    EXPECT_EQ(c.SumFileSizes(c.GetNode(1)), 7u);
    c.SetFlagsDeep(c.Discs, 0xFFFFFFFF, nfFilteredOut);
    EXPECT_TRUE(c.GetNode(c.LastId).Is(nfFilteredOut));
    c.DeleteDisc(1);
    EXPECT_THAT(c.GetNode(2).Children, IsEmpty());
}

} // namespace
