#include "browse/CollectionTree.h"

#include "browse/CollectionTreeModel.h"
#include "browse/FolderListing.h"
#include "collection/Fendrel.h"
#include "platform/AnsiText.h"
#include "platform/QtText.h"
#include "platform/SideBySide.h"

#include <QTreeView>

#include <algorithm>
#include <span>
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

// The branches below a run of discs as the tree shows them, made apart from the tree.
struct TNotedBranches {
    std::vector<const TCollectionNode*> Folders; // in display order, disc after disc
    std::vector<int> Parents; // the position of each one's parent in its disc's part, or -1
    std::vector<size_t> Ends; // for each disc of the run, where its part of Folders ends
};

// Adds the branches of the tree below its discs. A branch is built in two steps: first a walk
// through the lists in their own order, which for a collection read from its file is the order
// of the nodes in memory, finds the visible folders; then the folders found are sorted by name
// under each parent and added in display order. Sorting first and walking in display order would
// jump through the nodes, and every file of a shown folder is looked at, so a tree of ten million
// records was built mostly of waits for memory. The builder's memory is reused branch by branch.
class TBranchBuilder {
public:
    explicit TBranchBuilder(const TFendrel& collection)
        : Collection_(collection)
    {
    }

    // Adds the visible folders among ids under the item at position parent, sorted by name as
    // the list sorts them (MergeByName), each followed by its own branch. Keeps its own stack,
    // so any depth of nesting is fine.
    void Add(TCollectionTreeModel& items, int parent, const TCollectionBranch& ids)
    {
        Find(ids);
        SortByParent();
        Emit(parent, [&items](int item, const TCollectionNode& node) {
            return items.AddItem(item, node.Name, kFolderImage, kOpenFolderImage, node.Id);
        });
    }

    // What Add would add, noted at the end of branch instead: each folder in display order with
    // the position among the noted folders of its parent, -1 for a folder right below ids.
    void Note(TNotedBranches& branch, const TCollectionBranch& ids)
    {
        Find(ids);
        SortByParent();
        const auto first = static_cast<int>(branch.Folders.size());
        Emit(-1, [&branch, first](int parent, const TCollectionNode& node) {
            branch.Folders.push_back(&node);
            branch.Parents.push_back(parent < 0 ? -1 : parent - first);
            return static_cast<int>(branch.Folders.size()) - 1;
        });
    }

private:
    // Folders_ and Parents_ receive every visible folder below ids whose folders above it are
    // visible, in the walk's pre-order, with the position of its parent folder in Folders_ (-1
    // for one in ids).
    void Find(const TCollectionBranch& ids)
    {
        Folders_.clear();
        Parents_.clear();
        Walk_.clear();
        Walk_.push_back({&ids, 0, -1});
        while (!Walk_.empty()) {
            TWalkFrame& top = Walk_.back();
            if (top.Next == top.List->size()) {
                Walk_.pop_back();
                continue;
            }
            const TCollectionNode& node = Collection_.GetNode((*top.List)[top.Next++]);
            if (node.Is(nfFilteredOut) || !node.Is(nfFolder))
                continue;
            const int folder = static_cast<int>(Folders_.size());
            Folders_.push_back(&node);
            Parents_.push_back(top.Folder);
            if (!node.Children.empty())
                Walk_.push_back({&node.Children, 0, folder}); // top is not used after this
        }
    }

    // Groups the folders by parent (group 0 holds those in ids, group p + 1 the children of
    // folder p), each group in list order, then sorts each group by name and notes how many of
    // it are kept.
    void SortByParent()
    {
        const size_t folders = Folders_.size();
        Starts_.assign(folders + 2, 0);
        for (const int parent : Parents_)
            ++Starts_[static_cast<size_t>(parent + 1) + 1];
        for (size_t group = 1; group < Starts_.size(); ++group)
            Starts_[group] += Starts_[group - 1];
        Grouped_.resize(folders);
        Kept_.assign(folders + 1, 0);
        // Kept_ counts each group's entries as they are placed, then holds the number kept.
        for (size_t folder = 0; folder < folders; ++folder) {
            const auto group = static_cast<size_t>(Parents_[folder] + 1);
            Grouped_[Starts_[group] + Kept_[group]++] = static_cast<int>(folder);
        }
        for (size_t group = 0; group <= folders; ++group) {
            if (Kept_[group] > 1)
                Kept_[group] = MergeByNameInPlace(
                    std::span<int>(Grouped_).subspan(Starts_[group], Kept_[group]),
                    [this](int folder) -> const TCollectionNode& { return *Folders_[folder]; });
        }
    }

    // Hands the kept folders of each group to add (add(parent, folder) gives the folder's item),
    // each before its own group, those of group 0 under parent.
    template <typename TAdd> void Emit(int parent, TAdd add)
    {
        struct TFrame {
            size_t Group;
            size_t Next;
            int Item;
        };
        std::vector<TFrame> open{{0, 0, parent}};
        while (!open.empty()) {
            TFrame& top = open.back();
            if (top.Next == Kept_[top.Group]) {
                open.pop_back();
                continue;
            }
            const int folder = Grouped_[Starts_[top.Group] + top.Next++];
            const TCollectionNode& node = *Folders_[folder];
            const int item = add(top.Item, node);
            const auto below = static_cast<size_t>(folder) + 1;
            if (Kept_[below] > 0)
                open.push_back({below, 0, item}); // top is not used after this
        }
    }

    struct TWalkFrame {
        const TCollectionBranch* List;
        size_t Next;
        int Folder;
    };

    const TFendrel& Collection_;
    std::vector<const TCollectionNode*> Folders_;
    std::vector<int> Parents_;
    std::vector<size_t> Starts_; // where each group starts in Grouped_
    std::vector<int> Grouped_;   // positions in Folders_, group after group
    std::vector<size_t> Kept_;   // the number of each group's entries kept
    std::vector<TWalkFrame> Walk_;
};

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

// A tree over a collection of at least this many nodes is built on two threads.
size_t TwoThreadTreeNodes = 1'000'000;

// Notes the branches of the discs of the list from first on, as the tree would add them.
TNotedBranches NoteBranches(const TFendrel& collection, size_t first)
{
    TNotedBranches noted;
    TBranchBuilder branches(collection);
    for (size_t disc = first; disc < collection.Discs.size(); ++disc) {
        const TCollectionNode& node = collection.GetNode(collection.Discs[disc]);
        if (!node.Is(nfFilteredOut))
            branches.Note(noted, node.Children);
        noted.Ends.push_back(noted.Folders.size());
    }
    return noted;
}

// Adds the visible discs under the root item, each with its branch. In a large collection the
// discs of the second half (by ids, so by records for a collection read from its file) have their
// branches found and sorted on a thread of their own while this one adds the first half's; their
// items are then added from its notes.
void AddDiscs(const TFendrel& collection, TCollectionTreeModel& items, int root)
{
    const TCollectionBranch& discs = collection.Discs;
    size_t split = discs.size();
    if (collection.LastId >= TwoThreadTreeNodes && discs.size() > 1)
        split = static_cast<size_t>(
            std::find_if(discs.begin() + 1, discs.end(),
                         [half = collection.LastId / 2](uint32_t id) { return id > half; }) -
            discs.begin());
    const auto addFirstHalf = [&] {
        TBranchBuilder branches(collection);
        for (size_t disc = 0; disc < split; ++disc) {
            const uint32_t id = discs[disc];
            const TCollectionNode& node = collection.GetNode(id);
            if (node.Is(nfFilteredOut))
                continue;
            const int item = items.AddItem(root, node.Name, kDiscImage, kDiscImage, id);
            branches.Add(items, item, node.Children);
        }
    };
    if (split == discs.size()) {
        addFirstHalf();
        return;
    }
    TNotedBranches noted;
    SideBySide(addFirstHalf, [&] { noted = NoteBranches(collection, split); });
    size_t folder = 0;
    for (size_t disc = split; disc < discs.size(); ++disc) {
        const uint32_t id = discs[disc];
        const TCollectionNode& node = collection.GetNode(id);
        if (node.Is(nfFilteredOut))
            continue;
        const int item = items.AddItem(root, node.Name, kDiscImage, kDiscImage, id);
        // The items of the disc's part follow its own item in the order noted.
        for (const size_t end = noted.Ends[disc - split]; folder < end; ++folder) {
            const int parent = noted.Parents[folder];
            const TCollectionNode& shown = *noted.Folders[folder];
            items.AddItem(parent < 0 ? item : item + 1 + parent, shown.Name, kFolderImage,
                          kOpenFolderImage, shown.Id);
        }
    }
}

} // namespace

void SetTwoThreadTreeNodes(size_t nodes)
{
    TwoThreadTreeNodes = nodes;
}

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
        AddDiscs(collection, items, root);
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
