#include "find/FindResultsModel.h"

#include "browse/FolderListing.h"
#include "collection/NameOrder.h"
#include "platform/QtText.h"

#include <algorithm>
#include <functional>
#include <numeric>

TFindResultsModel::TFindResultsModel(QList<QIcon> images, QObject* parent)
    : QAbstractTableModel(parent)
    , Images_(std::move(images))
{
}

void TFindResultsModel::Reset(std::shared_ptr<const TFindSnapshot> snapshot,
                              int64_t utcOffsetSeconds)
{
    beginResetModel();
    Snapshot_ = std::move(snapshot);
    Rows_.clear();
    Rows_.shrink_to_fit();
    Groups_.clear();
    Groups_.shrink_to_fit();
    UtcOffset_ = utcOffsetSeconds;
    endResetModel();
}

void TFindResultsModel::Append(const std::vector<uint32_t>& entries,
                               const std::vector<uint32_t>& groups)
{
    if (entries.empty() || !Snapshot_)
        return;
    const int first = rowCount();
    beginInsertRows({}, first, first + static_cast<int>(entries.size()) - 1);
    Rows_.insert(Rows_.end(), entries.begin(), entries.end());
    if (groups.size() == entries.size())
        Groups_.insert(Groups_.end(), groups.begin(), groups.end());
    else
        Groups_.insert(Groups_.end(), entries.size(), 0);
    endInsertRows();
}

void TFindResultsModel::Resort()
{
    if (Sorted_)
        sort(SortColumn_, SortOrder_);
}

std::vector<uint32_t> TFindResultsModel::SortedOrder(int column, Qt::SortOrder order) const
{
    const TFindSnapshot& s = *Snapshot_;
    std::vector<uint32_t> rows(Rows_.size());
    std::iota(rows.begin(), rows.end(), 0);

    // Texts that take a walk up the tree are made once per row, not once per comparison.
    std::vector<std::string> paths;
    std::vector<size_t> discs;
    if (column == PathColumn)
        for (const uint32_t entry : Rows_)
            paths.push_back(s.Path(entry));
    if (column == DiscColumn)
        for (const uint32_t entry : Rows_)
            discs.push_back(s.DiscOf(entry));

    std::function<bool(uint32_t, uint32_t)> less;
    switch (column) {
    case NameColumn:
        less = [&](uint32_t a, uint32_t b) {
            return StrCompareIC(s.Name(Rows_[a]), s.Name(Rows_[b]));
        };
        break;
    case PathColumn:
        less = [&](uint32_t a, uint32_t b) {
            return StrCompareIC(paths[a], paths[b]);
        };
        break;
    case DiscColumn:
        less = [&](uint32_t a, uint32_t b) {
            return StrCompareIC(s.Name(discs[a]), s.Name(discs[b]));
        };
        break;
    case SizeColumn:
        less = [&](uint32_t a, uint32_t b) {
            return s.Entry(Rows_[a]).Size < s.Entry(Rows_[b]).Size;
        };
        break;
    case DateColumn:
        less = [&](uint32_t a, uint32_t b) {
            return s.Entry(Rows_[a]).Time < s.Entry(Rows_[b]).Time;
        };
        break;
    case GroupColumn:
        less = [&](uint32_t a, uint32_t b) {
            return Groups_[a] < Groups_[b];
        };
        break;
    default:
        // The order found: groups of copies in their order, then the entries' order.
        less = [&](uint32_t a, uint32_t b) {
            return Groups_[a] != Groups_[b] ? Groups_[a] < Groups_[b] : Rows_[a] < Rows_[b];
        };
        break;
    }
    if (order == Qt::DescendingOrder && column >= 0)
        std::stable_sort(rows.begin(), rows.end(),
                         [&](uint32_t a, uint32_t b) { return less(b, a); });
    else
        std::stable_sort(rows.begin(), rows.end(), less);
    return rows;
}

void TFindResultsModel::sort(int column, Qt::SortOrder order)
{
    SortColumn_ = column;
    SortOrder_ = order;
    Sorted_ = true;
    if (Rows_.size() < 2)
        return;
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const std::vector<uint32_t> permutation = SortedOrder(column, order);
    std::vector<uint32_t> sorted(Rows_.size());
    std::vector<uint32_t> sortedGroups(Rows_.size());
    std::vector<int> newRow(Rows_.size());
    for (size_t i = 0; i < permutation.size(); ++i) {
        sorted[i] = Rows_[permutation[i]];
        sortedGroups[i] = Groups_[permutation[i]];
        newRow[permutation[i]] = static_cast<int>(i);
    }
    Rows_ = std::move(sorted);
    Groups_ = std::move(sortedGroups);
    // The selection and the current row follow their rows.
    const QModelIndexList before = persistentIndexList();
    QModelIndexList after;
    after.reserve(before.size());
    for (const QModelIndex& index : before)
        after.push_back(index.isValid() ? this->index(newRow[index.row()], index.column())
                                        : QModelIndex());
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

int TFindResultsModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(Rows_.size());
}

int TFindResultsModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant TFindResultsModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const TFindSnapshot& s = *Snapshot_;
    const uint32_t entry = Rows_[index.row()];
    const TFindSnapshot::TEntry& found = s.Entry(entry);
    const bool folder = (found.Flags & nfFolder) != 0;
    switch (role) {
    case Qt::DisplayRole:
        switch (index.column()) {
        case NameColumn:
            return Display(s.Name(entry));
        case PathColumn:
            return Display(s.Path(entry));
        case DiscColumn:
            return Display(s.Name(s.DiscOf(entry)));
        case SizeColumn:
            return Display(FormatSize(found.Size));
        case DateColumn:
            if (const auto time = FileTimeToLocal(static_cast<uint32_t>(found.Time >> 32),
                                                  static_cast<uint32_t>(found.Time), UtcOffset_))
                return Display(FormatDate(*time) + ' ' + FormatTime(*time));
            return {};
        case GroupColumn:
            if (Groups_[index.row()] != 0)
                return Groups_[index.row()];
            return {};
        default:
            return {};
        }
    case Qt::DecorationRole: {
        const int image = folder ? 2 : 3;
        if (index.column() == NameColumn && image < Images_.size())
            return Images_[image];
        return {};
    }
    case Qt::TextAlignmentRole:
        if (index.column() == SizeColumn || index.column() == GroupColumn)
            return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
        return {};
    case IdRole:
        return QVariant::fromValue(found.Id);
    default:
        return {};
    }
}

QVariant TFindResultsModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    static const char* const titles[ColumnCount] = {"Имя",    "Путь", "Диск",
                                                    "Размер", "Дата", "Группа"};
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
        section >= ColumnCount)
        return {};
    return QString::fromUtf8(titles[section]);
}
