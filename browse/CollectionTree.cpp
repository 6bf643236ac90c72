#include "browse/CollectionTree.h"

#include "browse/CollectionTreeModel.h"
#include "collection/Fendrel.h"
#include "platform/AnsiText.h"
#include "platform/QtText.h"

#include <QTreeView>

#include <vector>

namespace {

constexpr int kRootImage = 0;
constexpr int kDiscImage = 1;
constexpr int kFolderImage = 2;
constexpr int kOpenFolderImage = 4;

TCollectionTreeModel& ItemsOf(const QTreeView& view)
{
    return *static_cast<TCollectionTreeModel*>(view.model());
}

// Ends the model's update however the rebuild ends, so that the view never stays without items.
class TUpdateGuard {
public:
    explicit TUpdateGuard(TCollectionTreeModel& items)
        : Items_(items)
    {
    }
    ~TUpdateGuard() { Items_.EndUpdate(); }
    TUpdateGuard(const TUpdateGuard&) = delete;
    TUpdateGuard& operator=(const TUpdateGuard&) = delete;

private:
    TCollectionTreeModel& Items_;
};

} // namespace

void FillTree(const TFendrel& collection, QTreeView& view, const QString& text)
{
    TCollectionTreeModel& items = ItemsOf(view);
    const int selected = SelectedTreeItem(view);
    const uint32_t remembered = selected < 0 ? 0 : items.Item(selected).Data;

    int root = 0;
    {
        // The view sees the items once, when the guard ends the update.
        const TUpdateGuard guard(items);
        items.Clear(&collection, kFolderImage, kOpenFolderImage);
        static const std::string rootCaption = Ansi("Библиотека ");
        root = items.AddItem(-1, rootCaption + FromDisplay(text), kRootImage, kRootImage, 0);
        // The path is shown as the file system spells it, even where code page 1251 has no
        // letter for it.
        items.SetDisplayCaption(root, Display(rootCaption) + text);
        // The discs are made now, their folders when the view or a command first needs them.
        for (const uint32_t id : collection.Discs) {
            const TCollectionNode& node = collection.GetNode(id);
            if (!node.Is(nfFilteredOut))
                items.AddItem(root, node.Name, kDiscImage, kDiscImage, id, /*foldersLater=*/true);
        }
    }
    view.expand(items.IndexAt(root));

    if (const int again = FindTreeItem(view, remembered); again >= 0)
        SelectTreeItem(view, again);
}

int SelectedTreeItem(const QTreeView& view)
{
    const QModelIndexList selected = view.selectionModel()->selectedIndexes();
    return selected.isEmpty() ? -1 : ItemsOf(view).PositionOf(selected.first());
}

int FindTreeItem(const QTreeView& view, uint32_t data)
{
    return ItemsOf(view).PositionOfNode(data);
}

void SelectTreeItem(QTreeView& view, int position)
{
    const TCollectionTreeModel& items = ItemsOf(view);
    std::vector<int> ancestors;
    for (int above = items.Item(position).Parent; above >= 0; above = items.Item(above).Parent)
        ancestors.push_back(above);
    for (auto ancestor = ancestors.rbegin(); ancestor != ancestors.rend(); ++ancestor)
        view.expand(items.IndexAt(*ancestor));
    const QModelIndex index = items.IndexAt(position);
    view.selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
    view.scrollTo(index);
}
