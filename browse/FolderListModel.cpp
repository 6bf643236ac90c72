#include "browse/FolderListModel.h"

#include "platform/QtText.h"

TFolderListModel::TFolderListModel(QList<QIcon> images, QObject* parent)
    : QAbstractTableModel(parent)
    , Images_(std::move(images))
{
}

void TFolderListModel::Assign(std::vector<TRow> rows)
{
    beginResetModel();
    Rows_ = std::move(rows);
    endResetModel();
}

int TFolderListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(Rows_.size());
}

int TFolderListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant TFolderListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const TRow& row = Rows_[index.row()];
    const int column = index.column();
    switch (role) {
    case Qt::DisplayRole:
        return Display(column == 0 ? row.Caption : row.SubItems[column - 1]);
    case Qt::DecorationRole:
        if (column == 0 && row.Image >= 0 && row.Image < Images_.size())
            return Images_[row.Image];
        return {};
    case DataRole:
        return QVariant::fromValue(row.Data);
    default:
        return {};
    }
}

QVariant TFolderListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    static const char* const titles[ColumnCount] = {"Имя", "Тип", "Дата", "Время", "Размер"};
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
        section >= ColumnCount)
        return {};
    return QString::fromUtf8(titles[section]);
}
