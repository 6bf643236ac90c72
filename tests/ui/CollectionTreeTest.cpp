#include "BrowseFixture.h"

#include "browse/FolderListing.h"

#include <QCoreApplication>

#include <gmock/gmock.h>

#include <algorithm>
#include <random>

using ::testing::ElementsAre;

namespace {

class CollectionTree : public TBrowseFixture {};

TEST_F(CollectionTree, RootCaptionIsTheLabelAndTheCollectionPath)
{
    const auto rootText = [&] {
        Fill();
        return Tree().data(Tree().IndexAt(0), Qt::DisplayRole).toString().toStdString();
    };
    EXPECT_EQ(rootText(), "Библиотека ");
    Window->CollectionFile = "/home/anna/Catalog/home.frl";
    EXPECT_EQ(rootText(), "Библиотека /home/anna/Catalog/home.frl");
    Window->CollectionFile = "/tmp/Диски 日本.frl"; // no letter for 日本 in code page 1251
    EXPECT_EQ(rootText(), "Библиотека /tmp/Диски 日本.frl");
    // The tree is narrower than a long path: its tip shows the whole caption.
    EXPECT_EQ(Tree().data(Tree().IndexAt(0), Qt::ToolTipRole).toString().toStdString(),
              "Библиотека /tmp/Диски 日本.frl");
}

TEST_F(CollectionTree, DiscsInOrderFoldersSortedCaseTwinsSideBySideHiddenLeftOut)
{
    const uint32_t zed = Disc("Zed");
    Folder(zed, "b");
    File(zed, "file.txt");
    Folder(zed, "C");
    Folder(Folder(zed, "a"), "x");
    const uint32_t hidden = Folder(zed, "hidden");
    Hide(hidden);
    Folder(hidden, "visible, under a hidden one");
    const uint32_t alpha = Disc("Alpha");
    const uint32_t lower = Folder(alpha, "Docs");
    Folder(lower, "old");
    const uint32_t upper = Folder(alpha, "DOCS");
    Folder(upper, "sub");
    Folder(alpha, "same");
    Folder(Folder(alpha, "same"), "kept");
    Folder(alpha, "Müller");
    Folder(alpha, "MÜLLER");
    Hide(Disc("Gone"));
    Disc("Zed");
    Fill();
    EXPECT_THAT(TreeItems(),
                ElementsAre("Библиотека ", "  Zed", "    a", "      x", "    b", "    C", "  Alpha",
                            "    DOCS", "      sub", "    Docs", "      old", "    MÜLLER",
                            "    Müller", "    same", "      kept", "  Zed"))
        << "twins by their bytes; of two names equal byte for byte the later stands";
    const std::vector<int> order = DisplayOrder();
    EXPECT_EQ(Tree().Item(order[7]).Data, upper);
    EXPECT_EQ(Tree().Item(order[9]).Data, lower);
    EXPECT_EQ(Tree().data(Tree().IndexAt(order[7]), Qt::ToolTipRole).toString().toStdString(),
              "DOCS");
    const auto images = [&](int item) {
        return std::pair(Tree().Item(order[item]).Image, Tree().Item(order[item]).SelectedImage);
    };
    EXPECT_EQ(images(0), std::pair(0, 0));
    EXPECT_EQ(images(1), std::pair(1, 1));
    EXPECT_EQ(images(7), std::pair(2, 4));
    EXPECT_TRUE(Window->TreeView_Main->isExpanded(Tree().IndexAt(0)));
    EXPECT_FALSE(Expanded(zed));
    EXPECT_EQ(SelectedData(), 0) << "nothing was selected, so the root is";
}

// A folder of many folders is sorted as a short one: by name, case twins side by side, of two
// names equal byte for byte the later one with its branch.
TEST_F(CollectionTree, ManyFoldersOfOneFolderAreSortedAsFewAre)
{
    const uint32_t disc = Disc("Disc");
    const uint32_t many = Folder(disc, "many");
    for (int i = 0; i < 40; ++i) {
        const int number = (i * 17) % 40; // every number once, out of order
        const uint32_t folder = Folder(many, (number < 10 ? "f0" : "f") + std::to_string(number));
        if (number == 12)
            Folder(folder, "dropped");
        File(folder, "file");
    }
    Folder(Folder(many, "f12"), "kept");
    Folder(many, "F07");
    Fill();
    std::vector<std::string> expected{"Библиотека ", "  Disc", "    many"};
    for (int number = 0; number < 40; ++number) {
        const std::string name = (number < 10 ? "f0" : "f") + std::to_string(number);
        if (number == 7)
            expected.push_back("      F07");
        expected.push_back("      " + name);
        if (number == 12)
            expected.push_back("        kept");
    }
    EXPECT_EQ(TreeItems(), expected);
}

TEST_F(CollectionTree, SelectionIsFoundAgainByIdWithItsAncestorsOpen)
{
    const uint32_t disc = Disc("disc");
    const uint32_t outer = Folder(disc, "outer");
    const uint32_t inner = Folder(outer, "inner");
    File(inner, "inside.txt");
    Fill();
    SelectNode(inner);
    Window->TreeView_Main->collapseAll();
    Window->ListModel->Assign({});
    Fill();
    EXPECT_EQ(SelectedData(), inner);
    EXPECT_TRUE(Expanded(disc) && Expanded(outer));
    EXPECT_FALSE(Expanded(inner));
    EXPECT_THAT(ListCaptions(), ElementsAre("inside.txt")) << "the reselection lists the folder";

    Hide(inner);
    Fill();
    EXPECT_EQ(SelectedData(), -1);
    EXPECT_THAT(ListCaptions(), ElementsAre("inside.txt")) << "the list keeps its rows";
    Fill();
    EXPECT_EQ(SelectedData(), 0);
    EXPECT_THAT(ListCaptions(), ElementsAre("disc"));
}

// A list naming a node the collection lacks is reported when its folder is opened; the folder
// shows the rest, and the tree stays usable.
TEST_F(CollectionTree, MissingNodeIsReportedAndTheTreeStaysUsable)
{
    const uint32_t disc = Disc("disc");
    Folder(disc, "a");
    C().GetNode(disc).Children.push_back(4242);
    Folder(disc, "b");
    Window->RunGuarded([&] { Fill(); });
    const QModelIndex discIndex = Tree().IndexAt(FindTreeItem(*Window->TreeView_Main, disc));
    EXPECT_TRUE(Tree().hasChildren(discIndex));
    EXPECT_EQ(Tree().rowCount(discIndex), 2) << "the view sees the folders the collection has";
    QCoreApplication::processEvents();
    EXPECT_THAT(Dialogs.MessageTexts(), ElementsAre("Node not found."));
    EXPECT_EQ(Tree().rowCount(discIndex), 2);
    QCoreApplication::processEvents();
    EXPECT_EQ(Dialogs.MessageTexts().size(), 1U) << "reported once";
}

// The tree makes a disc's folders only when they are asked for, and forgets the collection it
// came from when the window's collection is replaced: what was not made then shows nothing
// until the tree is rebuilt, and never reads the collection that has gone.
TEST_F(CollectionTree, FoldersAreMadeWhenAskedForAndNeverFromACollectionThatHasGone)
{
    const uint32_t first = Disc("first");
    Folder(Folder(first, "outer"), "inner");
    File(first, "only a file");
    const uint32_t second = Disc("second");
    Folder(second, "kept");
    const uint32_t files = Disc("files");
    File(files, "a.txt");
    Fill();
    const int made = Tree().Count();
    EXPECT_EQ(made, 4) << "the root and the discs";
    const auto indexOf = [&](uint32_t id) {
        return Tree().IndexAt(FindTreeItem(*Window->TreeView_Main, id));
    };
    EXPECT_TRUE(Tree().hasChildren(indexOf(first)));
    EXPECT_FALSE(Tree().hasChildren(indexOf(files))) << "files are not shown in the tree";
    EXPECT_EQ(Tree().Count(), made) << "asking whether there are folders makes none";
    EXPECT_EQ(Tree().rowCount(indexOf(first)), 1);
    EXPECT_EQ(Tree().Count(), made + 1) << "one level at a time";

    const QModelIndex secondIndex = indexOf(second);
    Window->ReplaceCollection();
    EXPECT_EQ(Tree().rowCount(secondIndex), 0);
    EXPECT_EQ(FindTreeItem(*Window->TreeView_Main, 0), 0) << "the items made stay";
    Fill();
    EXPECT_EQ(Tree().Count(), 1) << "an empty collection";
}
// The view finds every item through index, parent and rowCount, also after a rebuild with fewer
// items; a long caption is kept whole.
TEST_F(CollectionTree, ModelWalkReachesEveryItemInDisplayOrderAfterEachRebuild)
{
    const std::string longName(70, 'L');
    const uint32_t first = Disc("first");
    const uint32_t outer = Folder(first, "outer");
    Folder(Folder(outer, "inner"), "innermost");
    Folder(outer, longName);
    Folder(first, "second folder");
    const uint32_t second = Disc("second");
    Folder(second, "only");
    const auto walk = [&] {
        std::vector<int> order;
        std::vector<QModelIndex> pending{QModelIndex()};
        while (!pending.empty()) {
            const QModelIndex parent = pending.back();
            pending.pop_back();
            if (parent.isValid()) {
                order.push_back(Tree().PositionOf(parent));
                EXPECT_EQ(Tree().hasChildren(parent), Tree().rowCount(parent) > 0);
            }
            for (int row = Tree().rowCount(parent) - 1; row >= 0; --row) {
                const QModelIndex child = Tree().index(row, 0, parent);
                EXPECT_EQ(Tree().parent(child), parent);
                EXPECT_EQ(child.row(), row);
                pending.push_back(child);
            }
        }
        return order;
    };

    Fill();
    const std::vector<int> walked = walk();
    EXPECT_EQ(walked.size(), 9U);
    EXPECT_EQ(walked, DisplayOrder());
    EXPECT_EQ(Tree().Count(), 9);
    EXPECT_THAT(TreeItems(), ElementsAre("Библиотека ", "  first", "    outer", "      inner",
                                         "        innermost", "      " + longName,
                                         "    second folder", "  second", "    only"));
    Hide(outer);
    Fill();
    EXPECT_EQ(walk().size(), 5U);
    EXPECT_EQ(Tree().index(2, 0, Tree().IndexAt(0)), QModelIndex()) << "no row past the last";
    EXPECT_THAT(TreeItems(),
                ElementsAre("Библиотека ", "  first", "    second folder", "  second", "    only"));
}

// Over a random collection with hidden discs and folders and case twins, every item the tree
// makes, whichever way it is reached, is the one a plain walk of the collection expects: the
// visible folders of its node, sorted and merged as the folder list sorts them.
TEST_F(CollectionTree, EveryFolderMadeIsTheOneTheCollectionShows)
{
    std::mt19937 random(1210);
    std::vector<uint32_t> folders;
    for (int d = 0; d < 40; ++d) {
        const uint32_t disc = Disc("disc " + std::to_string(d % 7));
        std::vector<uint32_t> open{disc};
        for (int n = 0; n < 60; ++n) {
            const uint32_t parent = open[random() % open.size()];
            const std::string name(1 + random() % 3, static_cast<char>("aAbB"[random() % 4]));
            if (random() % 3 == 0)
                File(parent, name);
            else
                open.push_back(Folder(parent, name));
        }
        if (d % 5 == 1)
            Hide(disc);
        if (d % 3 == 0)
            Hide(open[1 + random() % (open.size() - 1)]);
        folders.insert(folders.end(), open.begin() + 1, open.end());
    }
    Fill();
    // The expected tree, one level at a time from the collection.
    std::vector<std::string> expected{AnsiToUtf8(Tree().Item(0).Caption)};
    const auto expect = [&](const auto& self, const TCollectionBranch& ids,
                            const std::string& indent) -> void {
        std::vector<const TCollectionNode*> shown;
        for (const uint32_t id : ids)
            if (C().GetNode(id).Is(nfFolder) && !C().GetNode(id).Is(nfFilteredOut))
                shown.push_back(&C().GetNode(id));
        for (const TCollectionNode* folder : MergeByName(shown)) {
            expected.push_back(indent + AnsiToUtf8(folder->Name));
            self(self, folder->Children, indent + "  ");
        }
    };
    for (const uint32_t disc : C().Discs)
        if (!C().GetNode(disc).Is(nfFilteredOut)) {
            expected.push_back("  " + AnsiToUtf8(C().GetNode(disc).Name));
            expect(expect, C().GetNode(disc).Children, "    ");
        }

    // Reached first by looking up folders in a random order, then by the whole walk.
    std::shuffle(folders.begin(), folders.end(), random);
    size_t found = 0;
    for (const uint32_t id : folders) {
        const int position = FindTreeItem(*Window->TreeView_Main, id);
        if (position < 0)
            continue;
        ++found;
        EXPECT_EQ(Tree().Item(position).Data, id);
        const int parent = Tree().Item(position).Parent;
        EXPECT_EQ(Tree().ChildAt(parent, Tree().Item(position).Row), position);
        EXPECT_EQ(Tree().Item(parent).Data, C().GetNode(id).ParentId);
    }
    EXPECT_GT(found, 500U);
    EXPECT_EQ(TreeItems(), expected);
    EXPECT_EQ(static_cast<size_t>(Tree().Count()), expected.size());
}

TEST_F(CollectionTree, DeeplyNestedFoldersDoNotExhaustTheStack)
{
    constexpr int kLevels = 200'000;
    uint32_t parent = Disc("deep");
    for (int level = 0; level < kLevels; ++level)
        parent = Folder(parent, "f");
    Fill();
    const int deepest = FindTreeItem(*Window->TreeView_Main, parent);
    ASSERT_GE(deepest, 0);
    EXPECT_EQ(Tree().Item(deepest).Data, parent);
    EXPECT_EQ(Tree().Count(), kLevels + 2);
    EXPECT_EQ(DisplayOrder().size(), static_cast<size_t>(kLevels + 2));
}

} // namespace
