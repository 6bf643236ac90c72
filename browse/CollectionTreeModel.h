#pragma once

#include "collection/CollectionNode.h"

#include <QAbstractItemModel>
#include <QByteArray>
#include <QIcon>
#include <QList>

#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <vector>

class TFendrel;

// The items of the collection tree: a caption, two icon indexes and the id of the node shown.
// The folders below an item are made only when they are first asked for (the view draws or
// opens the item, or a command looks for one of them): at ten million records the tree has a
// million folders, and a user sees a few of them; building them all made the start-up, every
// filter and every removal wait for items nobody opened.
// An item's position is its place in the order the items were made; it stays the same until the
// next rebuild. The children of an item are made together, so they lie side by side.
class TCollectionTreeModel final : public QAbstractItemModel {
    Q_OBJECT
public:
    struct TItem {
        TNodeName Caption; // 8-bit; converted only in data()
        uint32_t Data = 0; // node id, 0 for the root item
        int Parent = -1;   // position of the parent item, -1 for a top-level item
        int Row = 0;       // row under the parent
        int Image = 0;
        int SelectedImage = 0;
        int ChildCount = 0; // -1 while its folders have not been made
        int FirstChild = 0; // the position of its first child
    };
    static constexpr int DataRole = Qt::UserRole;

    // images: the icon set, indexed by Image and SelectedImage.
    TCollectionTreeModel(QList<QIcon> images, QObject* parent);

    // A rebuild: Clear, the AddItem calls, then EndUpdate. Views see one reset. An item's children
    // are added one after the other, right after the last item added below the same parent.
    // collection: where the folders of items added with folders made later come from; not owned,
    // it must outlive the items or be forgotten first (ForgetCollection).
    void Clear(const TFendrel* collection = nullptr, int folderImage = 0, int openFolderImage = 0);
    // foldersLater: the item's children are the visible folders of its node, made when first
    // needed, sorted as the folder list sorts them.
    int AddItem(int parent, std::string_view caption, int image, int selectedImage, uint32_t data,
                bool foldersLater = false);
    // What the view shows for the item instead of its converted caption (for text that did not
    // come from the collection, such as the collection file's path).
    void SetDisplayCaption(int position, QString text);
    void EndUpdate();
    // The collection is about to go: the items stay as they are, and those whose folders have not
    // been made show none, until the next rebuild.
    void ForgetCollection() { Collection_ = nullptr; }

    [[nodiscard]] int Count() const { return static_cast<int>(Items_.size()); }
    // A reference stays valid until the next rebuild.
    [[nodiscard]] const TItem& Item(int position) const { return Items_.at(position); }
    // The number of the item's children (of the top-level items for -1), making them if needed;
    // 0 while an update is under way.
    [[nodiscard]] int ChildCountOf(int position) const;
    // The position of the item's child at row.
    [[nodiscard]] int ChildAt(int position, int row) const;
    // The position of the item showing node data (0: the root item), making the folders on the
    // way to it; -1 when the tree does not show it.
    [[nodiscard]] int PositionOfNode(uint32_t data) const;
    [[nodiscard]] QModelIndex IndexAt(int position) const;
    [[nodiscard]] int PositionOf(const QModelIndex& index) const;

    [[nodiscard]] QModelIndex index(int row, int column,
                                    const QModelIndex& parent = {}) const override;
    [[nodiscard]] QModelIndex parent(const QModelIndex& child) const override;
    [[nodiscard]] int rowCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] bool hasChildren(const QModelIndex& parent = {}) const override;
    [[nodiscard]] int columnCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] QVariant data(const QModelIndex& index, int role) const override;

signals:
    // A folder's list named a node the collection does not have; message is 8-bit. Sent once the
    // view's request that met it has been answered, with the node left out.
    void BranchUnreadable(const QByteArray& message);

private slots:
    void ReportUnreadable();

private:
    [[nodiscard]] const QIcon& IconFor(int image, int selectedImage) const;
    // Makes the item's folders when they have not been made yet.
    void MakeFolders(int position) const;
    [[nodiscard]] bool MayHaveFolders(const TItem& item) const;

    QList<QIcon> Images_;
    const TFendrel* Collection_ = nullptr;
    int FolderImage_ = 0;
    int OpenFolderImage_ = 0;
    // Made on demand from the const functions the view calls; a deque keeps references to items
    // valid while more are made.
    mutable std::deque<TItem> Items_;
    std::vector<int> TopLevel_;
    std::map<int, QString> DisplayCaptions_;
    bool Resetting_ = false;
    mutable QByteArray Unreadable_;                       // the fault still to be reported
    mutable std::vector<const TCollectionNode*> Folders_; // reused by MakeFolders
    mutable std::map<std::pair<int, int>, QIcon> Icons_;  // normal picture with its selected one
};
