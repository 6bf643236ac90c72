#include "browse/CollectionTree.h"

#include "browse/CollectionTreeModel.h"
#include "browse/FolderListing.h"
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

// The visible folders among ids, in the order their items take.
std::vector<const TCollectionNode*> VisibleFolders(const TFendrel& collection,
                                                   const TCollectionBranch& ids)
{
    std::vector<const TCollectionNode*> folders;
    for (const uint32_t id : ids) {
        const TCollectionNode& node = collection.GetNode(id);
        if (!node.Is(nfFilteredOut) && node.Is(nfFolder))
            folders.push_back(&node);
    }
    return MergeByName(std::move(folders));
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
        items.Clear();
        static const std::string rootCaption = Ansi("Библиотека ");
        root = items.AddItem(-1, rootCaption + FromDisplay(text), kRootImage, kRootImage, 0);
        // The path is shown as the file system spells it, even where code page 1251 has no
        // letter for it.
        items.SetDisplayCaption(root, Display(rootCaption) + text);
        for (const uint32_t id : collection.Discs) {
            const TCollectionNode& disc = collection.GetNode(id);
            if (disc.Is(nfFilteredOut))
                continue;
            const int item = items.AddItem(root, disc.Name, kDiscImage, kDiscImage, id);
            FillBranch(collection, items, item, disc.Children);
        }
    }
    view.expand(items.IndexAt(root));

    if (const int again = FindTreeItem(view, remembered); again >= 0)
        SelectTreeItem(view, again);
}

void FillBranch(const TFendrel& collection, TCollectionTreeModel& items, int parent,
                const TCollectionBranch& ids)
{
    // One frame per open level: its sorted folders and the next one to add. Each item is added
    // before its branch, so items arrive in display order.
    struct TFrame {
        std::vector<const TCollectionNode*> Folders;
        size_t Next = 0;
        int Parent = -1;
    };
    std::vector<TFrame> open;
    open.push_back({VisibleFolders(collection, ids), 0, parent});
    while (!open.empty()) {
        TFrame& top = open.back();
        if (top.Next == top.Folders.size()) {
            open.pop_back();
            continue;
        }
        const TCollectionNode& folder = *top.Folders[top.Next++];
        const int item =
            items.AddItem(top.Parent, folder.Name, kFolderImage, kOpenFolderImage, folder.Id);
        std::vector<const TCollectionNode*> below = VisibleFolders(collection, folder.Children);
        if (!below.empty())
            open.push_back({std::move(below), 0, item}); // top is not used after this
    }
}

int SelectedTreeItem(const QTreeView& view)
{
    const QModelIndexList selected = view.selectionModel()->selectedIndexes();
    return selected.isEmpty() ? -1 : ItemsOf(view).PositionOf(selected.first());
}

int FindTreeItem(const QTreeView& view, uint32_t data)
{
    const TCollectionTreeModel& items = ItemsOf(view);
    for (int position = 0; position < items.Count(); ++position)
        if (items.Item(position).Data == data)
            return position;
    return -1;
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
