#include "app/uMain.h"

#include "browse/CollectionTree.h"
#include "browse/CollectionTreeModel.h"
#include "browse/FolderListModel.h"
#include "browse/FolderListing.h"
#include "platform/AnsiText.h"
#include "platform/LocalTime.h"

#include <QItemSelectionModel>
#include <QMouseEvent>
#include <QTreeView>

#include <algorithm>
#include <functional>
#include <utility>

namespace {

// Reports a double click of the left button anywhere in a view, on a row or not, and keeps it
// from the view: the handler may replace the rows under the mouse.
class TDoubleClickFilter final : public QObject {
public:
    TDoubleClickFilter(std::function<void()> handler, QObject* parent)
        : QObject(parent)
        , Handler_(std::move(handler))
    {
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::MouseButtonDblClick &&
            static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
            Handler_();
            return true;
        }
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void()> Handler_;
};

} // namespace

void TForm_Main::ConnectBrowseHandlers()
{
    connect(TreeView_Main->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this](const QItemSelection& selected, const QItemSelection&) {
                const QModelIndex node = selected.indexes().value(0);
                RunGuarded([&] { TreeView_MainChange(TreeView_Main, node); });
            });
    ListView_Main->viewport()->installEventFilter(new TDoubleClickFilter(
        [this] { RunGuarded([this] { ListView_MainDblClick(ListView_Main); }); }, ListView_Main));
    // Enter on a row (or a click, where the desktop activates items with a single click) does
    // what a double click does. The double click itself never reaches the view, so a row is not
    // acted on twice.
    connect(ListView_Main, &QAbstractItemView::activated, this, [this](const QModelIndex& row) {
        RunGuarded([&] {
            ListView_Main->selectionModel()->select(row, QItemSelectionModel::ClearAndSelect |
                                                             QItemSelectionModel::Rows);
            ListView_MainDblClick(ListView_Main);
        });
    });
}

void TForm_Main::ShowItem(const TFendrel& collection, uint32_t id, QTreeView& view)
{
    if (id != 0) {
        const TCollectionNode& node = collection.GetNode(id);
        if (node.Is(nfFile)) {
            MessageBox(FileInformationText(collection, node), Ansi("Информация о файле"),
                       TMessageKind::Information);
            return;
        }
    }
    // The rows are made before the old ones go, so a failure leaves the list as it was.
    std::vector<TListRow> rows = ListRows(collection, id, UtcOffsetNow());
    static_cast<TFolderListModel*>(view.model())->Assign(std::move(rows));
    // A new listing starts at its first row, with no current row left from the one before.
    view.selectionModel()->clear();
    view.scrollToTop();
}

void TForm_Main::TreeView_MainChange(QObject*, const QModelIndex& node)
{
    if (!node.isValid())
        return;
    ShowItem(Collection(), TreeModel->Item(TreeModel->PositionOf(node)).Data, *ListView_Main);
}

void TForm_Main::ListView_MainDblClick(QObject*)
{
    const QModelIndexList selected = ListView_Main->selectionModel()->selectedRows();
    if (selected.isEmpty())
        return;
    const auto first = std::min_element(
        selected.begin(), selected.end(),
        [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    const uint32_t data = ListModel->Rows().at(first->row()).Data;
    if (data == 0)
        return;
    if (const int item = FindTreeItem(*TreeView_Main, data); item >= 0) {
        SelectTreeItem(*TreeView_Main, item);
        TreeView_Main->expand(TreeModel->IndexAt(item));
        return;
    }
    ShowItem(Collection(), data, *ListView_Main);
}
