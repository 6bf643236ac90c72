#pragma once

#include "support/WindowFixture.h"

#include "browse/CollectionTree.h"
#include "browse/CollectionTreeModel.h"
#include "browse/FolderListModel.h"
#include "platform/AnsiText.h"
#include "platform/QtText.h"

#include <QItemSelectionModel>
#include <QTreeView>

#include <string>
#include <vector>

// The window over a collection made in the test, with readers for what the tree and the list
// show. Names are given and read in UTF-8.
class TBrowseFixture : public TWindowFixture {
protected:
    // Boxes of the window's construction (such as the one about missing drives) are forgotten.
    void SetUp() override
    {
        MakeWindow();
        Dialogs.Messages.clear();
    }

    TFendrel& C() { return Window->Collection(); }
    uint32_t Add(uint32_t parent, uint32_t kind, const std::string& name, uint32_t size = 0,
                 uint64_t fileTime = 0)
    {
        TCollectionNode value;
        value.Name = Ansi(name);
        value.Flags = kind;
        value.ParentId = parent;
        value.Size = size;
        value.WriteTimeHigh = static_cast<uint32_t>(fileTime >> 32);
        value.WriteTimeLow = static_cast<uint32_t>(fileTime);
        return C().AddNode(parent ? C().GetNode(parent).Children : C().Discs, value).Id;
    }
    uint32_t Disc(const std::string& name) { return Add(0, nfDisc, name); }
    uint32_t Folder(uint32_t parent, const std::string& name)
    {
        return Add(parent, nfFolder, name);
    }
    uint32_t File(uint32_t parent, const std::string& name, uint32_t size = 0,
                  uint64_t fileTime = 0)
    {
        return Add(parent, nfFile, name, size, fileTime);
    }
    void Hide(uint32_t id) { C().GetNode(id).Flags |= nfFilteredOut; }

    void Fill() { FillTree(C(), *Window->TreeView_Main, DisplayPath(Window->CollectionFile)); }

    TCollectionTreeModel& Tree() { return *Window->TreeModel; }
    // Every item's position in display order (each item before its children, collapsed
    // branches included), making every folder of the tree.
    std::vector<int> DisplayOrder()
    {
        std::vector<int> order;
        std::vector<int> pending;
        for (int row = Tree().ChildCountOf(-1) - 1; row >= 0; --row)
            pending.push_back(Tree().ChildAt(-1, row));
        while (!pending.empty()) {
            const int position = pending.back();
            pending.pop_back();
            order.push_back(position);
            for (int row = Tree().ChildCountOf(position) - 1; row >= 0; --row)
                pending.push_back(Tree().ChildAt(position, row));
        }
        return order;
    }
    // Every item's caption in display order, two spaces of indent per level.
    std::vector<std::string> TreeItems()
    {
        std::vector<std::string> items;
        for (const int position : DisplayOrder()) {
            std::string indent;
            for (int above = Tree().Item(position).Parent; above >= 0;
                 above = Tree().Item(above).Parent)
                indent += "  ";
            items.push_back(indent + AnsiToUtf8(Tree().Item(position).Caption));
        }
        return items;
    }
    // The node id of the selected item; -1 when none is selected.
    int64_t SelectedData()
    {
        const int selected = SelectedTreeItem(*Window->TreeView_Main);
        return selected < 0 ? -1 : int64_t{Tree().Item(selected).Data};
    }
    void SelectNode(uint32_t id)
    {
        SelectTreeItem(*Window->TreeView_Main, FindTreeItem(*Window->TreeView_Main, id));
    }
    bool Expanded(uint32_t id)
    {
        return Window->TreeView_Main->isExpanded(
            Tree().IndexAt(FindTreeItem(*Window->TreeView_Main, id)));
    }

    // The list's "Имя" column as shown.
    std::vector<std::string> ListCaptions()
    {
        std::vector<std::string> captions;
        for (int row = 0; row < Window->ListModel->rowCount(); ++row)
            captions.push_back(ListText(row, 0));
        return captions;
    }
    std::string ListText(int row, int column)
    {
        return Window->ListModel->data(Window->ListModel->index(row, column), Qt::DisplayRole)
            .toString()
            .toStdString();
    }
    void SelectRow(int row)
    {
        Window->ListView_Main->selectionModel()->select(Window->ListModel->index(row, 0),
                                                        QItemSelectionModel::ClearAndSelect |
                                                            QItemSelectionModel::Rows);
    }
};
