#include "app/uMain.h"

#include "browse/CollectionTree.h"
#include "browse/CollectionTreeModel.h"
#include "browse/FolderListModel.h"
#include "find/FindWindow.h"
#include "media/MediaCommands.h"

#include <QAction>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QTreeView>

void TForm_Main::Act_FindExecute(QObject*)
{
    if (!FindWindow) {
        TFindHost host;
        host.Collection = [this]() -> const TFendrel& {
            return Collection();
        };
        host.ShowNode = [this](uint32_t id) {
            bool shown = false;
            RunGuarded([&] { shown = ShowFoundNode(id); });
            return shown;
        };
        host.OpenFolder = [this](uint32_t id) {
            RunGuarded([&] {
                QWidget* owner = FindWindow && FindWindow->isVisible()
                                     ? static_cast<QWidget*>(FindWindow)
                                     : this;
                Media->OpenFoundFolder(id, owner);
            });
        };
        host.Dialogs = &Platform_.Dialogs;
        host.ApplicationTitle = ApplicationTitle;
        host.CollectionFile = [this] {
            return CollectionFile;
        };
        host.Images = ImageLista_Main;
        FindWindow = new TFindWindow(std::move(host), this);
        // Every change of the collection ends with a rebuild of the tree.
        connect(TreeModel, &QAbstractItemModel::modelReset, FindWindow,
                [this] { FindWindow->CollectionShown(); });
        connect(this, &TForm_Main::CollectionReplaced, FindWindow,
                [this] { FindWindow->CollectionReplaced(); });
    }
    FindWindow->show();
    FindWindow->raise();
    FindWindow->activateWindow();
    FindWindow->Edit_Pattern->setFocus();
    FindWindow->Edit_Pattern->selectAll();
}

bool TForm_Main::ShowFoundNode(uint32_t id)
{
    const TCollectionNode& node = Collection().GetNode(id);
    // A node hidden by the filter, or below a hidden folder, has no row to select.
    bool hidden = false;
    for (uint32_t at = id; at != 0 && !hidden;) {
        const TCollectionNode& above = Collection().GetNode(at);
        hidden = above.Is(nfFilteredOut);
        at = above.ParentId;
    }
    if (hidden)
        Act_NoFilterExecute(Act_NoFilter);

    // Its folder; where the tree shows another folder of the same name instead, the nearest one
    // above it that has an item.
    int item = -1;
    for (uint32_t folder = node.ParentId;;) {
        item = FindTreeItem(*TreeView_Main, folder);
        if (item >= 0 || folder == 0)
            break;
        folder = Collection().GetNode(folder).ParentId;
    }
    if (item < 0)
        return false;
    SelectTreeItem(*TreeView_Main, item);
    raise();
    activateWindow();

    const std::vector<TListRow>& rows = ListModel->Rows();
    for (size_t row = 0; row < rows.size(); ++row) {
        if (rows[row].Data != id)
            continue;
        const QModelIndex index = ListModel->index(static_cast<int>(row), 0);
        ListView_Main->selectionModel()->setCurrentIndex(
            index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        ListView_Main->scrollTo(index);
        ListView_Main->setFocus();
        return true;
    }
    return false;
}
