#pragma once

#include <QAbstractItemModel>
#include <QIcon>
#include <QList>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

// The items of the collection tree: a caption, two icon indexes and the id of the node shown.
// Items are added in display order (each item before its children, a branch complete before the
// next sibling), so an item's position in the model is its position in display order.
class TCollectionTreeModel final : public QAbstractItemModel {
    Q_OBJECT
public:
    struct TItem {
        std::string Caption; // 8-bit; converted only in data()
        uint32_t Data = 0;   // node id, 0 for the root item
        int Parent = -1;     // position of the parent item, -1 for a top-level item
        int Row = 0;         // row under the parent
        int Image = 0;
        int SelectedImage = 0;
        std::vector<int> Children;
    };
    static constexpr int DataRole = Qt::UserRole;

    // images: the icon set, indexed by Image and SelectedImage.
    TCollectionTreeModel(QList<QIcon> images, QObject* parent);

    // A rebuild: Clear, the AddItem calls, then EndUpdate. Views see one reset.
    void Clear();
    int AddItem(int parent, std::string caption, int image, int selectedImage, uint32_t data);
    // What the view shows for the item instead of its converted caption (for text that did not
    // come from the collection, such as the collection file's path).
    void SetDisplayCaption(int position, QString text);
    void EndUpdate();

    [[nodiscard]] int Count() const { return static_cast<int>(Items_.size()); }
    [[nodiscard]] const TItem& Item(int position) const { return Items_.at(position); }
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
    std::vector<TItem> Items_;
    std::vector<int> TopLevel_;
    std::map<int, QString> DisplayCaptions_;
    bool Resetting_ = false;
    mutable std::map<std::pair<int, int>, QIcon> Icons_; // normal picture with its selected one
};
