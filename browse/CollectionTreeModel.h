#pragma once

#include "collection/NodeName.h"

#include <QAbstractItemModel>
#include <QIcon>
#include <QList>

#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <vector>

// The items of the collection tree: a caption, two icon indexes and the id of the node shown.
// Items are added in display order (each item before its children, a branch complete before the
// next sibling), so an item's position in the model is its position in display order. A tree of
// ten million records has a million items: an item holds no memory of its own (a caption of up
// to 30 bytes lives inside it), the lists of children are one array made when the update ends,
// and a rebuild reuses the memory of the items before it.
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
        int ChildCount = 0;
        int FirstChild = 0; // where the positions of its children start in the children array
    };
    static constexpr int DataRole = Qt::UserRole;

    // images: the icon set, indexed by Image and SelectedImage.
    TCollectionTreeModel(QList<QIcon> images, QObject* parent);

    // A rebuild: Clear, the AddItem calls, then EndUpdate. Views see one reset.
    void Clear();
    int AddItem(int parent, std::string_view caption, int image, int selectedImage, uint32_t data);
    // What the view shows for the item instead of its converted caption (for text that did not
    // come from the collection, such as the collection file's path).
    void SetDisplayCaption(int position, QString text);
    void EndUpdate();

    [[nodiscard]] int Count() const { return static_cast<int>(Items_.size()); }
    [[nodiscard]] const TItem& Item(int position) const { return Items_.at(position); }
    // The positions of the item's children (of the top-level items for -1), in row order; empty
    // while an update is under way.
    [[nodiscard]] std::span<const int> Children(int position) const;
    [[nodiscard]] QModelIndex IndexAt(int position) const;
    [[nodiscard]] int PositionOf(const QModelIndex& index) const;

    [[nodiscard]] QModelIndex index(int row, int column,
                                    const QModelIndex& parent = {}) const override;
    [[nodiscard]] QModelIndex parent(const QModelIndex& child) const override;
    [[nodiscard]] int rowCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] int columnCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] QVariant data(const QModelIndex& index, int role) const override;

private:
    [[nodiscard]] const QIcon& IconFor(int image, int selectedImage) const;

    QList<QIcon> Images_;
    // The positions of every item's children, item after item, made by EndUpdate.
    void LinkChildren();

    std::vector<TItem> Items_;
    std::vector<int> ChildPositions_;
    std::vector<int> TopLevel_;
    std::map<int, QString> DisplayCaptions_;
    bool Resetting_ = false;
    mutable std::map<std::pair<int, int>, QIcon> Icons_; // normal picture with its selected one
};
