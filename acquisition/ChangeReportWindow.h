#pragma once

#include "collection/DiscTreeDiff.h"

#include <QDialog>

#include <string>

class QLabel;
class QPushButton;
class QTreeWidget;

// The changes a new scan would make to a disc, shown before they are made: a header with the
// counts and the bytes added and removed, the entries grouped as added, removed and changed, each
// with its path, size and date; "Применить" accepts, "Отмена" (and Escape) rejects.
class TChangeReportWindow final : public QDialog {
public:
    // title: the disc's title (code page 1251); utcOffsetSeconds: the local time's offset for
    // the dates.
    TChangeReportWindow(const std::string& title, const TDiscTreeDiff& diff,
                        int64_t utcOffsetSeconds, QWidget* parent = nullptr);

    QLabel* Header = nullptr;
    QTreeWidget* Changes = nullptr; // three groups, each item one entry
    QPushButton* Apply = nullptr;
    QPushButton* Cancel = nullptr;
};

// The header's text (code page 1251): "Добавлено: 3, удалено: 1, изменено: 2" and below it the
// bytes added and removed, in the list's form and in bytes.
[[nodiscard]] std::string ChangeReportHeader(const TDiscTreeDiff& diff);
