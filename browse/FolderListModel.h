#pragma once

#include "browse/FolderListing.h"

#include <QAbstractTableModel>
#include <QIcon>
#include <QList>

#include <vector>

// The rows of the folder list: a caption, up to four sub-item texts (type, date, time, size), an
// icon index and the id of the node shown.
class TFolderListModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    using TRow = TListRow; // texts stay 8-bit; converted only in data()
    static constexpr int DataRole = Qt::UserRole;
    static constexpr int ColumnCount = 5;

    // images: the icon set, indexed by TRow::Image.
    TFolderListModel(QList<QIcon> images, QObject* parent);

    // Replaces every row at once.
    void Assign(std::vector<TRow> rows);
    [[nodiscard]] const std::vector<TRow>& Rows() const { return Rows_; }

    [[nodiscard]] int rowCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] int columnCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] QVariant data(const QModelIndex& index, int role) const override;
    [[nodiscard]] QVariant headerData(int section, Qt::Orientation orientation,
                                      int role) const override;

private:
    QList<QIcon> Images_;
    std::vector<TRow> Rows_;
};
