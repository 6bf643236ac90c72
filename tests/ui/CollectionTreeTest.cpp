#include "BrowseFixture.h"

#include <gmock/gmock.h>

#include <numeric>
#include <random>
#include <tuple>

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
    EXPECT_EQ(Tree().Item(7).Data, upper);
    EXPECT_EQ(Tree().Item(9).Data, lower);
    EXPECT_EQ(Tree().data(Tree().IndexAt(7), Qt::ToolTipRole).toString().toStdString(), "DOCS");
    const auto images = [&](int item) {
        return std::pair(Tree().Item(item).Image, Tree().Item(item).SelectedImage);
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

TEST_F(CollectionTree, MissingNodeIsReportedAndTheTreeStaysUsable)
{
    const uint32_t disc = Disc("disc");
    Folder(disc, "a");
    C().GetNode(disc).Children.push_back(4242);
    Window->RunGuarded([&] { Fill(); });
    EXPECT_THAT(Dialogs.MessageTexts(), ElementsAre("Node not found."));
    EXPECT_EQ(Tree().rowCount(Tree().IndexAt(0)), 1) << "the view sees the items made before";
}

// The view finds every item through index, parent and rowCount, also after a rebuild with fewer
// items that reuses the memory of the ones before; a long caption is kept whole.
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
                EXPECT_EQ(Tree().Children(order.back()).size(),
                          static_cast<size_t>(Tree().rowCount(parent)));
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
    const auto positions = [](int count) {
        std::vector<int> all(static_cast<size_t>(count));
        std::iota(all.begin(), all.end(), 0);
        return all;
    };

    Fill();
    EXPECT_EQ(walk(), positions(9));
    EXPECT_THAT(TreeItems(), ElementsAre("Библиотека ", "  first", "    outer", "      inner",
                                         "        innermost", "      " + longName,
                                         "    second folder", "  second", "    only"));
    Hide(outer);
    Fill();
    EXPECT_EQ(walk(), positions(5));
    EXPECT_EQ(Tree().index(2, 0, Tree().IndexAt(0)), QModelIndex()) << "no row past the last";
    EXPECT_THAT(TreeItems(),
                ElementsAre("Библиотека ", "  first", "    second folder", "  second", "    only"));
}

// A large tree is built on two threads, the second half of the discs' branches found and sorted
// apart: the items must be those of one thread, in the same places, whichever discs and folders
// are hidden. A missing node on the second thread's side is reported as on the first's.
TEST_F(CollectionTree, TreeBuiltOnTwoThreadsIsTheTreeOfOne)
{
    std::mt19937 random(1210);
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
    }
    const auto items = [&](size_t twoThreadsFrom) {
        SetTwoThreadTreeNodes(twoThreadsFrom);
        Fill();
        SetTwoThreadTreeNodes(1'000'000);
        std::vector<std::tuple<uint32_t, int, int, int>> all;
        for (int position = 0; position < Tree().Count(); ++position) {
            const auto& item = Tree().Item(position);
            all.emplace_back(item.Data, item.Parent, item.Row, item.ChildCount);
        }
        return std::make_pair(all, TreeItems());
    };
    const auto one = items(SIZE_MAX);
    ASSERT_GT(one.first.size(), 500U);
    EXPECT_EQ(items(0), one);

    C().GetNode(C().Discs.back()).Children.push_back(4242);
    Window->RunGuarded([&] {
        SetTwoThreadTreeNodes(0);
        Fill();
        SetTwoThreadTreeNodes(1'000'000);
    });
    EXPECT_THAT(Dialogs.MessageTexts(), ElementsAre("Node not found."));
}

TEST_F(CollectionTree, DeeplyNestedFoldersDoNotExhaustTheStack)
{
    constexpr int kLevels = 200'000;
    uint32_t parent = Disc("deep");
    for (int level = 0; level < kLevels; ++level)
        parent = Folder(parent, "f");
    Fill();
    ASSERT_EQ(Tree().Count(), kLevels + 2);
    EXPECT_EQ(Tree().Item(kLevels + 1).Data, parent);
}

} // namespace
