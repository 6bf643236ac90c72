#include "BrowseFixture.h"

#include <gmock/gmock.h>

using ::testing::ElementsAre;

namespace {

class CollectionTree : public TBrowseFixture {};

TEST_F(CollectionTree, RootCaptionIsTheLabelAndTheCollectionPath) {
    const auto rootText = [&] {
        return Tree().data(Tree().IndexAt(0), Qt::DisplayRole).toString().toStdString();
    };
    Fill();
    EXPECT_EQ(rootText(), "Библиотека ") << "no collection file: the label and its space";

    Window->CollectionFile = "/home/anna/Catalog/home.frl";
    Fill();
    EXPECT_EQ(rootText(), "Библиотека /home/anna/Catalog/home.frl");
    EXPECT_EQ(Tree().Item(0).Data, 0u);
    EXPECT_EQ(Tree().Item(0).Image, 0);
    EXPECT_EQ(Tree().Item(0).SelectedImage, 0);

    Window->CollectionFile = "/tmp/Диски 日本.frl";
    Fill();
    EXPECT_EQ(rootText(), "Библиотека /tmp/Диски 日本.frl")
        << "a path is shown whole, also where code page 1251 has no letter for it";
}

TEST_F(CollectionTree, DiscsInAddedOrderFoldersSortedWithEqualNamesMerged) {
    const uint32_t zed = Disc("Zed");
    Folder(zed, "b");
    File(zed, "file.txt");
    Folder(zed, "C");
    Folder(Folder(zed, "a"), "x");
    const uint32_t alpha = Disc("Alpha");
    Folder(Folder(alpha, "Docs"), "old");
    const uint32_t docs = Folder(alpha, "DOCS");
    const uint32_t sub = Folder(docs, "sub");
    Disc("Zed");
    Fill();
    EXPECT_THAT(TreeItems(), ElementsAre("Библиотека ", "  Zed", "    a", "      x", "    b",
                                         "    C", "  Alpha", "    DOCS", "      sub", "  Zed"));
    const TCollectionTreeModel::TItem& merged = Tree().Item(7);
    EXPECT_EQ(merged.Data, docs) << "of Docs and DOCS the later one stands, with its own branch";
    EXPECT_EQ(Tree().Item(8).Data, sub);
    EXPECT_EQ(Tree().Item(1).Data, zed);
    EXPECT_EQ(Tree().Item(1).Image, 1);
    EXPECT_EQ(Tree().Item(1).SelectedImage, 1);
    EXPECT_EQ(merged.Image, 2);
    EXPECT_EQ(merged.SelectedImage, 4);

    EXPECT_TRUE(Window->TreeView_Main->isExpanded(Tree().IndexAt(0)));
    EXPECT_FALSE(Expanded(zed));
    EXPECT_FALSE(Expanded(docs));
    EXPECT_EQ(SelectedData(), 0) << "nothing was selected, so the root is";
}

TEST_F(CollectionTree, HiddenNodesAreLeftOutWithTheirBranch) {
    const uint32_t one = Disc("one");
    const uint32_t kept = Folder(one, "kept");
    Hide(Folder(kept, "gone"));
    Folder(Folder(one, "open"), "inner");
    Hide(Disc("two"));
    Hide(Folder(one, "hidden")); // its child is visible, yet it goes with its parent
    Fill();
    EXPECT_THAT(TreeItems(),
                ElementsAre("Библиотека ", "  one", "    kept", "    open", "      inner"));

    Hide(one);
    Fill();
    EXPECT_THAT(TreeItems(), ElementsAre("Библиотека "));
    EXPECT_TRUE(Window->TreeView_Main->isExpanded(Tree().IndexAt(0)));
    EXPECT_EQ(SelectedData(), 0);
}

TEST_F(CollectionTree, SelectionIsFoundAgainByIdWithItsAncestorsOpen) {
    const uint32_t disc = Disc("disc");
    const uint32_t outer = Folder(disc, "outer");
    const uint32_t inner = Folder(outer, "inner");
    File(inner, "inside.txt");
    Folder(disc, "other");
    Fill();
    SelectNode(inner);
    Window->TreeView_Main->collapseAll();
    Window->ListModel->Assign({});

    Fill();
    EXPECT_EQ(SelectedData(), inner);
    EXPECT_TRUE(Expanded(disc));
    EXPECT_TRUE(Expanded(outer));
    EXPECT_FALSE(Expanded(inner));
    EXPECT_THAT(ListCaptions(), ElementsAre("inside.txt")) << "the reselection lists the folder";

    // Hidden now: nothing is selected, and the list keeps what it showed.
    Hide(inner);
    Fill();
    EXPECT_EQ(SelectedData(), -1);
    EXPECT_THAT(ListCaptions(), ElementsAre("inside.txt"));
    Fill();
    EXPECT_EQ(SelectedData(), 0) << "with nothing selected the next rebuild selects the root";
    EXPECT_THAT(ListCaptions(), ElementsAre("disc"));
}

TEST_F(CollectionTree, MissingNodeIsReportedAndTheTreeStaysUsable) {
    const uint32_t disc = Disc("disc");
    Folder(disc, "a");
    C().GetNode(disc).Children.push_back(4242);
    Window->RunGuarded([&] { Fill(); });
    ASSERT_EQ(Dialogs.MessageTexts().size(), 1u);
    EXPECT_EQ(Dialogs.MessageTexts()[0], "Node not found.");
    EXPECT_EQ(Tree().rowCount(), 1) << "the view sees the items added before the fault";
    EXPECT_EQ(Tree().rowCount(Tree().IndexAt(0)), 1);

    C().GetNode(disc).Children.pop_back();
    Fill();
    EXPECT_THAT(TreeItems(), ElementsAre("Библиотека ", "  disc", "    a"));
}

TEST_F(CollectionTree, DeeplyNestedFoldersDoNotExhaustTheStack) {
    constexpr int kLevels = 200'000;
    uint32_t parent = Disc("deep");
    for (int level = 0; level < kLevels; ++level)
        parent = Folder(parent, "f");
    Fill();
    ASSERT_EQ(Tree().Count(), kLevels + 2);
    EXPECT_EQ(Tree().Item(kLevels + 1).Data, parent);
    EXPECT_EQ(Tree().Item(kLevels + 1).Parent, kLevels);
}

} // namespace
