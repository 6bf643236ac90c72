#include "browse/CollectionTreeModel.h"

#include "browse/FolderListing.h"
#include "collection/Fendrel.h"
#include "platform/QtText.h"

#include <span>
#include <stdexcept>
#include <utility>

TCollectionTreeModel::TCollectionTreeModel(QList<QIcon> images, QObject* parent)
    : QAbstractItemModel(parent)
    , Images_(std::move(images))
{
}

void TCollectionTreeModel::Clear(const TFendrel* collection, int folderImage, int openFolderImage)
{
    if (!Resetting_) {
        beginResetModel();
        Resetting_ = true;
    }
    Items_.clear();
    TopLevel_.clear();
    DisplayCaptions_.clear();
    Collection_ = collection;
    FolderImage_ = folderImage;
    OpenFolderImage_ = openFolderImage;
}

int TCollectionTreeModel::AddItem(int parent, std::string_view caption, int image,
                                  int selectedImage, uint32_t data, bool foldersLater)
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
        TItem& above = Items_.at(parent);
        if (above.ChildCount <= 0) {
            above.ChildCount = 0;
            above.FirstChild = position;
        } else if (above.FirstChild + above.ChildCount != position) {
            throw std::logic_error("tree items added out of order");
        }
        row = above.ChildCount++;
    }
    Items_.push_back(
        {TNodeName(caption), data, parent, row, image, selectedImage, foldersLater ? -1 : 0, 0});
    return position;
}

int TCollectionTreeModel::ChildCountOf(int position) const
{
    if (position < 0)
        return static_cast<int>(TopLevel_.size());
    if (Resetting_)
        return 0;
    MakeFolders(position);
    return Items_.at(position).ChildCount;
}

int TCollectionTreeModel::ChildAt(int position, int row) const
{
    if (position < 0)
        return TopLevel_.at(row);
    MakeFolders(position);
    const TItem& item = Items_.at(position);
    if (row < 0 || row >= item.ChildCount)
        throw std::out_of_range("no such row");
    return item.FirstChild + row;
}

void TCollectionTreeModel::MakeFolders(int position) const
{
    TItem& item = Items_.at(position);
    if (item.ChildCount >= 0)
        return;
    item.ChildCount = 0;
    item.FirstChild = Count();
    const TCollectionNode* node = Collection_ ? Collection_->Nodes.Find(item.Data) : nullptr;
    if (!node)
        return;
    Folders_.clear();
    std::string unreadable;
    for (const uint32_t id : node->Children) {
        const TCollectionNode* child = Collection_->Nodes.Find(id);
        if (!child) {
            // The collection's own error, as every other walk over it reports a missing node.
            try {
                (void)Collection_->GetNode(id);
            } catch (const std::exception& error) {
                unreadable = error.what();
            }
            continue;
        }
        if (child->Is(nfFolder) && !child->Is(nfFilteredOut))
            Folders_.push_back(child);
    }
    const size_t kept = MergeByNameInPlace(
        std::span<const TCollectionNode*>(Folders_),
        [](const TCollectionNode* folder) -> const auto& { return *folder; });
    for (size_t row = 0; row < kept; ++row) {
        const TCollectionNode& folder = *Folders_[row];
        Items_.push_back({folder.Name, folder.Id, position, static_cast<int>(row), FolderImage_,
                          OpenFolderImage_, -1, 0});
    }
    item.ChildCount = static_cast<int>(kept);
    if (!unreadable.empty() && Unreadable_.isEmpty()) {
        // Reported after the view's request is answered: a message box now would let the view
        // ask the model again while it is in the middle of a question.
        Unreadable_ = QByteArray::fromStdString(unreadable);
        QMetaObject::invokeMethod(const_cast<TCollectionTreeModel*>(this), "ReportUnreadable",
                                  Qt::QueuedConnection);
    }
}

void TCollectionTreeModel::ReportUnreadable()
{
    const QByteArray message = std::exchange(Unreadable_, {});
    if (!message.isEmpty())
        emit BranchUnreadable(message);
}

bool TCollectionTreeModel::MayHaveFolders(const TItem& item) const
{
    if (item.ChildCount >= 0)
        return item.ChildCount > 0;
    const TCollectionNode* node = Collection_ ? Collection_->Nodes.Find(item.Data) : nullptr;
    if (!node)
        return false;
    for (const uint32_t id : node->Children) {
        const TCollectionNode* child = Collection_->Nodes.Find(id);
        if (!child)
            return true; // making them reports the fault
        if (child->Is(nfFolder) && !child->Is(nfFilteredOut))
            return true;
    }
    return false;
}

int TCollectionTreeModel::PositionOfNode(uint32_t data) const
{
    if (Resetting_)
        return -1;
    // The node's way down from its disc, when the collection knows it.
    std::vector<uint32_t> way;
    if (data != 0 && Collection_) {
        for (uint32_t id = data; id != 0 && way.size() <= Collection_->LastId;) {
            const TCollectionNode* node = Collection_->Nodes.Find(id);
            if (!node) {
                way.clear();
                break;
            }
            way.push_back(id);
            id = node->ParentId;
        }
    }
    // The first item on the way (or the node's own item, when there is no way) is among those
    // already made: the root and the discs are made with the tree.
    const uint32_t first = way.empty() ? data : way.back();
    int position = -1;
    for (int made = 0; made < Count(); ++made) {
        if (Items_[made].Data == first) {
            position = made;
            break;
        }
    }
    if (position < 0 || way.size() <= 1)
        return position;
    for (auto next = way.rbegin() + 1; next != way.rend(); ++next) {
        MakeFolders(position);
        const TItem& item = Items_[position];
        int found = -1;
        for (int row = 0; row < item.ChildCount; ++row) {
            if (Items_[item.FirstChild + row].Data == *next) {
                found = item.FirstChild + row;
                break;
            }
        }
        if (found < 0)
            return -1;
        position = found;
    }
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
    if (column != 0 || row < 0 || Resetting_)
        return {};
    const int above = parent.isValid() ? PositionOf(parent) : -1;
    if (row >= ChildCountOf(above))
        return {};
    return createIndex(row, 0, static_cast<quintptr>(ChildAt(above, row)));
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
    return ChildCountOf(parent.isValid() ? PositionOf(parent) : -1);
}

bool TCollectionTreeModel::hasChildren(const QModelIndex& parent) const
{
    if (Resetting_)
        return false;
    if (!parent.isValid())
        return !TopLevel_.empty();
    return MayHaveFolders(Items_[PositionOf(parent)]);
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
