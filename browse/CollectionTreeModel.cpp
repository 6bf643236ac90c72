#include "browse/CollectionTreeModel.h"

#include "platform/QtText.h"

TCollectionTreeModel::TCollectionTreeModel(QList<QIcon> images, QObject* parent)
    : QAbstractItemModel(parent)
    , Images_(std::move(images))
{
}

void TCollectionTreeModel::Clear()
{
    if (!Resetting_) {
        beginResetModel();
        Resetting_ = true;
    }
    Items_.clear();
    TopLevel_.clear();
    DisplayCaptions_.clear();
}

int TCollectionTreeModel::AddItem(int parent, std::string caption, int image, int selectedImage,
                                  uint32_t data)
{
    if (!Resetting_) {
        beginResetModel();
        Resetting_ = true;
    }
    const int position = Count();
    // Take the sibling list only after the new item is in: adding it may move every item.
    const int row = static_cast<int>((parent < 0 ? TopLevel_ : Items_.at(parent).Children).size());
    Items_.push_back({std::move(caption), data, parent, row, image, selectedImage, {}});
    (parent < 0 ? TopLevel_ : Items_[parent].Children).push_back(position);
    return position;
}

void TCollectionTreeModel::SetDisplayCaption(int position, QString text)
{
    DisplayCaptions_[position] = std::move(text);
}

void TCollectionTreeModel::EndUpdate()
{
    if (Resetting_) {
        Resetting_ = false;
        endResetModel();
    }
}

QModelIndex TCollectionTreeModel::IndexAt(int position) const
{
    if (position < 0 || position >= Count())
        return {};
    return createIndex(Items_[position].Row, 0, static_cast<quintptr>(position));
}

int TCollectionTreeModel::PositionOf(const QModelIndex& index) const
{
    return index.isValid() ? static_cast<int>(index.internalId()) : -1;
}

QModelIndex TCollectionTreeModel::index(int row, int column, const QModelIndex& parent) const
{
    if (column != 0 || row < 0)
        return {};
    const std::vector<int>& siblings =
        parent.isValid() ? Items_[PositionOf(parent)].Children : TopLevel_;
    if (row >= static_cast<int>(siblings.size()))
        return {};
    return createIndex(row, 0, static_cast<quintptr>(siblings[row]));
}

QModelIndex TCollectionTreeModel::parent(const QModelIndex& child) const
{
    if (!child.isValid())
        return {};
    return IndexAt(Items_[PositionOf(child)].Parent);
}

int TCollectionTreeModel::rowCount(const QModelIndex& parent) const
{
    if (Resetting_)
        return 0;
    if (!parent.isValid())
        return static_cast<int>(TopLevel_.size());
    return static_cast<int>(Items_[PositionOf(parent)].Children.size());
}

int TCollectionTreeModel::columnCount(const QModelIndex&) const
{
    return 1;
}

QVariant TCollectionTreeModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid())
        return {};
    const TItem& item = Items_[PositionOf(index)];
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole: // the whole caption, where the tree is too narrow for it
        if (const auto shown = DisplayCaptions_.find(PositionOf(index));
            shown != DisplayCaptions_.end())
            return shown->second;
        return Display(item.Caption);
    case Qt::DecorationRole:
        return IconFor(item.Image, item.SelectedImage);
    case DataRole:
        return QVariant::fromValue(item.Data);
    default:
        return {};
    }
}

const QIcon& TCollectionTreeModel::IconFor(int image, int selectedImage) const
{
    auto [entry, added] = Icons_.try_emplace({image, selectedImage});
    if (added && image >= 0 && image < Images_.size()) {
        QIcon& icon = entry->second;
        for (const QSize& size : Images_[image].availableSizes())
            icon.addPixmap(Images_[image].pixmap(size), QIcon::Normal);
        if (selectedImage >= 0 && selectedImage < Images_.size())
            for (const QSize& size : Images_[selectedImage].availableSizes())
                icon.addPixmap(Images_[selectedImage].pixmap(size), QIcon::Selected);
    }
    return entry->second;
}
