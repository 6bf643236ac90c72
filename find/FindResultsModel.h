#pragma once

#include "search/FindSnapshot.h"

#include <QAbstractTableModel>
#include <QIcon>
#include <QList>

#include <memory>
#include <vector>

// The rows of the find window: one per hit, an entry of the snapshot the search ran over. Texts
// are made from the snapshot only when a row is shown, so a million hits cost four bytes each.
class TFindResultsModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    // GroupColumn: the number of a group of copies, for the duplicates search.
    enum TColumn {
        NameColumn,
        PathColumn,
        DiscColumn,
        SizeColumn,
        DateColumn,
        GroupColumn,
        ColumnCount
    };
    static constexpr int IdRole = Qt::UserRole; // the node's id in the collection

    // images: the main window's icon set (2 a folder, 3 a file).
    TFindResultsModel(QList<QIcon> images, QObject* parent);

    // No rows; the next ones come from snapshot, their dates shown utcOffsetSeconds east of UTC.
    void Reset(std::shared_ptr<const TFindSnapshot> snapshot, int64_t utcOffsetSeconds);
    // Appends rows for the entries. They stay after the others until the next sort or Resort.
    // groups: each entry's group of copies (as many as entries), or none.
    void Append(const std::vector<uint32_t>& entries, const std::vector<uint32_t>& groups = {});
    // Sorts the rows again as the last sort did, if there was one.
    void Resort();

    [[nodiscard]] const std::shared_ptr<const TFindSnapshot>& Snapshot() const { return Snapshot_; }
    [[nodiscard]] const std::vector<uint32_t>& Entries() const { return Rows_; }

    // column -1: the order found (depth-first, discs in their order). Equal keys keep the order
    // they had, so sorting by one column after another sorts by both.
    void sort(int column, Qt::SortOrder order) override;
    [[nodiscard]] int rowCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] int columnCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] QVariant data(const QModelIndex& index, int role) const override;
    [[nodiscard]] QVariant headerData(int section, Qt::Orientation orientation,
                                      int role) const override;

private:
    [[nodiscard]] std::vector<uint32_t> SortedOrder(int column, Qt::SortOrder order) const;

    QList<QIcon> Images_;
    std::shared_ptr<const TFindSnapshot> Snapshot_;
    std::vector<uint32_t> Rows_;   // entry indexes into Snapshot_
    std::vector<uint32_t> Groups_; // each row's group of copies; 0 none
    int64_t UtcOffset_ = 0;
    int SortColumn_ = -1;
    Qt::SortOrder SortOrder_ = Qt::AscendingOrder;
    bool Sorted_ = false; // a sort was asked for since the last Reset
};
