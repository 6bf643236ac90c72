// The mounted tree without mounting: names, inode numbers, attributes and extended attributes.
#include "Nodes.h"

#include "mounttool/CollectionView.h"
#include "mounttool/MountTree.h"
#include "platform/AnsiText.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <set>

using ::testing::ElementsAre;
using ::testing::Optional;

namespace {

constexpr uint64_t kSeed = 0x1234567890ABCDEF;

uint32_t Add(TFendrel& collection, uint32_t parent, uint32_t kind, const std::string& utf8,
             uint64_t size = 0, uint64_t time = 0)
{
    return AddEntry(collection, parent, kind, utf8, size, time);
}

std::shared_ptr<const TCollectionView> ViewOf(std::unique_ptr<TFendrel> collection,
                                              unsigned number = 1, uint64_t seed = kSeed)
{
    return std::make_shared<const TCollectionView>(std::move(collection), number, kMountRootIno,
                                                   seed);
}

std::vector<std::string> NamesIn(const TCollectionView& view, uint32_t folder)
{
    std::vector<std::string> names;
    for (const uint32_t id : view.EntriesOf(folder))
        names.push_back(view.NameOf(id));
    return names;
}

} // namespace

TEST(MountNames, WhatAFileNameCannotBeIsChangedTheRestShownAsTheWindowShowsIt)
{
    EXPECT_EQ(MountName(Utf8ToAnsi("Лето 2005")), "Лето 2005");
    EXPECT_EQ(MountName("a/b"), "a\u2215b");
    EXPECT_EQ(MountName("."), "\u2024");
    EXPECT_EQ(MountName(".."), "\u2025");
    EXPECT_EQ(MountName("..."), "...");
    EXPECT_EQ(MountName(""), "(без имени)");
    std::string lineFeed = "a";
    AppendEscape(lineFeed, U'\n'); // as the scan records a line feed in a name
    lineFeed += "b";
    EXPECT_EQ(MountName(lineFeed), "a\u240Ab");               // shown as its picture
    EXPECT_EQ(MountName(Utf8ToAnsi("caf\xE9")), "caf\uFFFD"); // a byte that was not UTF-8

    // 255 Cyrillic letters are 510 bytes of UTF-8: cut between letters.
    const std::string longest = MountName(std::string(255, '\xE0'));
    EXPECT_LE(longest.size(), kLongestMountName);
    EXPECT_EQ(longest.size() % 2, 0U);
    EXPECT_TRUE(IsValidUtf8(longest));
}

TEST(MountNames, TwinsAreMarkedBeforeAFilesExtensionAndWithinTheLongestName)
{
    EXPECT_EQ(TwinName("a.txt", 2, true), "a (2).txt");
    EXPECT_EQ(TwinName("a.txt", 3, false), "a.txt (3)");
    EXPECT_EQ(TwinName(".profile", 2, true), ".profile (2)");
    const std::string cut = TwinName(std::string(255, 'x'), 12, true);
    EXPECT_EQ(cut.size(), kLongestMountName);
    EXPECT_TRUE(cut.ends_with(" (12)"));
}

TEST(CollectionView, NamesAreUniqueInEachFolderTheFirstKeepsItAndEveryBuildNamesThemAlike)
{
    const auto make = [] {
        auto collection = std::make_unique<TFendrel>();
        Add(*collection, 0, nfDisc, "Фото");
        const uint32_t second = Add(*collection, 0, nfDisc, "Фото");
        Add(*collection, second, nfFile, "a.txt");
        Add(*collection, second, nfFile, "a.txt");
        Add(*collection, second, nfFile, "a (2).txt"); // a real name the twin took first
        Add(*collection, second, nfFolder, "x");
        Add(*collection, second, nfFile, "x"); // a folder and a file of one name
        Add(*collection, second, nfFile, "b/c");
        Add(*collection, second, nfFile, "b\u2215c");
        return collection;
    };
    const auto view = ViewOf(make());
    EXPECT_THAT(NamesIn(*view, 0), ElementsAre("Фото", "Фото (2)"));
    const uint32_t second = view->Collection().Discs[1];
    const std::vector<std::string> names = NamesIn(*view, second);
    EXPECT_THAT(names, ElementsAre("a.txt", "a (2).txt", "a (2) (2).txt", "x", "x (2)", "b\u2215c",
                                   "b\u2215c (2)"));
    for (size_t i = 0; i < names.size(); ++i)
        EXPECT_THAT(view->Child(second, names[i]), Optional(view->EntriesOf(second)[i]));
    EXPECT_EQ(view->Child(second, "a (3).txt"), std::nullopt);

    // Another run mixes other numbers into its inodes, yet names every entry the same.
    const auto again = ViewOf(make(), 1, kSeed + 1);
    EXPECT_EQ(NamesIn(*again, second), names);
}

TEST(CollectionView, EveryEntryHasAnInodeNumberOfItsOwnThatFindsIt)
{
    auto collection = std::make_unique<TFendrel>();
    for (int disc = 0; disc < 20; ++disc) {
        const uint32_t id = Add(*collection, 0, nfDisc, "disc");
        for (int file = 0; file < 500; ++file)
            Add(*collection, id, nfFile, std::to_string(file % 100) + ".txt");
    }
    const auto view = ViewOf(std::move(collection), 3);
    std::set<uint64_t> inos;
    for (uint32_t id = 1; id <= view->Collection().LastId; ++id) {
        const uint64_t ino = view->InoOf(id);
        EXPECT_EQ(ino >> 56, 3U);
        EXPECT_THAT(view->NodeOf(ino), Optional(id));
        inos.insert(ino);
    }
    EXPECT_EQ(inos.size(), view->Collection().LastId);
    EXPECT_EQ(view->Entries(), view->Collection().LastId);
    EXPECT_THAT(view->NodeOf(kMountRootIno), Optional(0U));
    EXPECT_EQ(view->NodeOf(uint64_t{4} << 56 | 77), std::nullopt); // another collection's
}

TEST(CollectionView, AnEntryKeepsItsInodeNumberWhenTheCollectionIsReadAgainWithOtherDiscs)
{
    const auto make = [](bool more) {
        auto collection = std::make_unique<TFendrel>();
        if (more)
            Add(*collection, 0, nfDisc, "Новый");
        const uint32_t disc = Add(*collection, 0, nfDisc, "Backup");
        const uint32_t folder = Add(*collection, disc, nfFolder, "Docs");
        if (more)
            Add(*collection, folder, nfFile, "new.txt");
        Add(*collection, folder, nfFile, "a.txt");
        return collection;
    };
    const auto before = ViewOf(make(false));
    const auto after = ViewOf(make(true));
    const auto inoOf = [](const TCollectionView& view, const std::vector<std::string>& path) {
        uint32_t at = 0;
        for (const std::string& name : path)
            at = view.Child(at, name).value_or(0);
        return view.InoOf(at);
    };
    EXPECT_EQ(inoOf(*before, {"Backup", "Docs", "a.txt"}),
              inoOf(*after, {"Backup", "Docs", "a.txt"}));
    EXPECT_NE(inoOf(*after, {"Backup", "Docs", "new.txt"}), kMountRootIno);
}

TEST(CollectionView, HostileShapesAreBuiltInTimeAndWithoutRecursion)
{
    auto collection = std::make_unique<TFendrel>();
    uint32_t at = Add(*collection, 0, nfDisc, "deep");
    for (int level = 0; level < 300'000; ++level)
        at = Add(*collection, at, nfFolder, "F");
    const uint32_t deepest = at;
    // A folder of 50,000 twins: each is named from where the last left off.
    const uint32_t flat = Add(*collection, 0, nfDisc, "flat");
    for (int i = 0; i < 50'000; ++i)
        Add(*collection, flat, nfFile, "same.txt");
    const auto view = ViewOf(std::move(collection));
    EXPECT_EQ(view->NameOf(view->EntriesOf(flat).back()), "same (50000).txt");
    EXPECT_THAT(view->Child(flat, "same (49999).txt"), Optional(view->EntriesOf(flat)[49'998]));
    EXPECT_THAT(view->NodeOf(view->InoOf(deepest)), Optional(deepest));
}

TEST(MountTree, AttributesCarryWholeSizesRecordedTimesAndTheDiscsRecord)
{
    auto collection = std::make_unique<TFendrel>();
    const uint32_t disc = Add(*collection, 0, nfDisc, "Backup");
    collection->DiscRecords[disc].Added = 127'000'000'000'000'000; // 2003-06-14 as a FILETIME
    // 1 February 2005 05:07:09 UTC, and the same time plus 0.5 s.
    constexpr uint64_t kFeb = 0x01C5081BE17AFC80;
    const uint32_t folder = Add(*collection, disc, nfFolder, "Docs", 0, kFeb);
    const uint32_t big =
        Add(*collection, folder, nfFile, "big.iso", uint64_t{5} << 30, kFeb + 5'000'000);
    const uint32_t old = Add(*collection, folder, nfFile, "old.txt", 1, 0);
    collection->Checksums[big] = {0x0123456789ABCDEF, 0xFEDCBA9876543210};
    const TMountTree tree({{"/x/a.frl", "a", 1'000'000'000'123, ViewOf(std::move(collection))}});

    const TEntryAttributes bigFile = tree.Attributes({0, big});
    EXPECT_FALSE(bigFile.Folder);
    EXPECT_EQ(bigFile.Size, uint64_t{5} << 30);
    EXPECT_EQ(bigFile.Seconds, 1107234429);
    EXPECT_EQ(bigFile.Nanoseconds, 500'000'000U);
    const TEntryAttributes docs = tree.Attributes({0, folder});
    EXPECT_TRUE(docs.Folder);
    EXPECT_EQ(docs.Seconds, 1107234429);
    EXPECT_EQ(tree.Attributes({0, old}).Seconds, 0); // a time not known
    EXPECT_EQ(tree.Attributes({0, disc}).Seconds, 1055526400);
    const TEntryAttributes root = tree.Attributes(tree.Root());
    EXPECT_EQ(root.Ino, kMountRootIno);
    EXPECT_EQ(root.Seconds, 1000);
    EXPECT_EQ(root.Nanoseconds, 123U);
    EXPECT_EQ(tree.Bytes(), (uint64_t{5} << 30) + 1);

    EXPECT_THAT(tree.AttributeNames({0, big}),
                ElementsAre("user.fendrel.disc", "user.fendrel.path", "user.fendrel.xxh128"));
    EXPECT_THAT(tree.AttributeNames({0, old}),
                ElementsAre("user.fendrel.disc", "user.fendrel.path"));
    EXPECT_THAT(tree.Attribute({0, big}, "user.fendrel.disc"), Optional(std::string("Backup")));
    EXPECT_THAT(tree.Attribute({0, big}, "user.fendrel.path"),
                Optional(std::string("\\Docs\\big.iso")));
    EXPECT_THAT(tree.Attribute({0, disc}, "user.fendrel.path"), Optional(std::string("\\")));
    EXPECT_THAT(tree.Attribute({0, big}, "user.fendrel.xxh128"),
                Optional(std::string("FEDCBA98765432100123456789ABCDEF")));
    EXPECT_EQ(tree.Attribute({0, old}, "user.fendrel.xxh128"), std::nullopt);
    EXPECT_TRUE(tree.AttributeNames(tree.Root()).empty());
}

TEST(MountTree, SeveralCollectionsHaveAFolderEachNamedByTheirFiles)
{
    const std::vector<std::string> paths{"/a/discs.frl", "/b/discs.frl", "/c/Фото.FRL"};
    const std::vector<std::string> names = CollectionFolderNames(paths);
    EXPECT_THAT(names, ElementsAre("discs", "discs (2)", "Фото"));
    std::vector<TMountedCollection> collections;
    for (size_t i = 0; i < paths.size(); ++i) {
        auto collection = std::make_unique<TFendrel>();
        Add(*collection, 0, nfDisc, "Backup");
        const unsigned number = TMountTree::ViewNumber(i);
        collections.push_back(
            {paths[i], names[i], 0,
             std::make_shared<const TCollectionView>(std::move(collection), number,
                                                     TCollectionView::FolderIno(number), kSeed)});
    }
    const TMountTree tree(std::move(collections));
    ASSERT_EQ(tree.Count(tree.Root()), 3U);
    EXPECT_EQ(tree.NameOf(tree.EntryAt(tree.Root(), 1)), "discs (2)");
    const std::optional<TMountEntry> second = tree.Lookup(tree.Root(), "discs (2)");
    ASSERT_THAT(second, Optional(TMountEntry{1, 0}));
    const std::optional<TMountEntry> disc = tree.Lookup(*second, "Backup");
    ASSERT_TRUE(disc);
    EXPECT_EQ(disc->Collection, 1);
    EXPECT_THAT(tree.Find(tree.Ino(*disc)), Optional(*disc));
    EXPECT_THAT(tree.Find(tree.Ino(*second)), Optional(*second));
    EXPECT_EQ(tree.Parent(*disc), *second);
    EXPECT_EQ(tree.Parent(*second), tree.Root());
    // The same disc title in each collection, each its own entry.
    EXPECT_NE(tree.Ino(*tree.Lookup({0, 0}, "Backup")), tree.Ino(*disc));
}

TEST(MountTree, FileTimesBefore1970AreCountedBackwards)
{
    EXPECT_EQ(UnixTimeOf(116444736000000000), (std::pair<int64_t, uint32_t>{0, 0}));
    EXPECT_EQ(UnixTimeOf(116444736000000000 - 5), (std::pair<int64_t, uint32_t>{-1, 999'999'500}));
    EXPECT_EQ(UnixTimeOf(1), (std::pair<int64_t, uint32_t>{-11644473600, 100}));
    EXPECT_EQ(UnixTimeOf(UINT64_MAX).first, 1833029933770);
}
