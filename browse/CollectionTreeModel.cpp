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
    Items_.clear(); // keeps its memory for the items that follow
    ChildPositions_.clear();
    TopLevel_.clear();
    DisplayCaptions_.clear();
}

int TCollectionTreeModel::AddItem(int parent, std::string_view caption, int image,
                                  int selectedImage, uint32_t data)
{
    if (!Resetting_) {
        beginResetModel();
        Resetting_ = true;
    }
    const int position = Count();
    int row = 0;
    if (parent < 0) {
        row = static_cast<int>(TopLevel_.size());
        TopLevel_.push_back(position);
    } else {
        row = Items_.at(parent).ChildCount++;
    }
    Items_.push_back({TNodeName(caption), data, parent, row, image, selectedImage, 0, 0});
    return position;
}

std::span<const int> TCollectionTreeModel::Children(int position) const
{
    if (position < 0)
        return TopLevel_;
    if (Resetting_)
        return {};
    const TItem& item = Items_.at(position);
    return std::span<const int>(ChildPositions_)
        .subspan(static_cast<size_t>(item.FirstChild), static_cast<size_t>(item.ChildCount));
}

void TCollectionTreeModel::LinkChildren()
{
    int next = 0;
    for (TItem& item : Items_) {
        item.FirstChild = next;
        next += item.ChildCount;
    }
    ChildPositions_.resize(static_cast<size_t>(next));
    // Items come in display order, so each parent's children arrive in row order.
    for (int position = 0; position < Count(); ++position) {
        const TItem& item = Items_[position];
        if (item.Parent >= 0)
            ChildPositions_[Items_[item.Parent].FirstChild + item.Row] = position;
    }
}

void TCollectionTreeModel::SetDisplayCaption(int position, QString text)
{
    DisplayCaptions_[position] = std::move(text);
}

void TCollectionTreeModel::EndUpdate()
{
    if (Resetting_) {
        LinkChildren();
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
    if (Resetting_)
        return {};
    const std::span<const int> siblings = Children(parent.isValid() ? PositionOf(parent) : -1);
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
    return Items_[PositionOf(parent)].ChildCount;
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
        return Display(item.Caption.view());
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
