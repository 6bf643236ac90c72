#pragma once

#include "acquisition/DiscCheck.h"

#include <QDialog>

#include <string>

class QLabel;
class QPushButton;
class QTreeWidget;

// What reading a disc back found: a header with the counts (or that all is well), the entries
// grouped as unreadable, missing, new and changed, each with its path, size, date and what is
// wrong with it. "Обновить диск" accepts (offered while the disc differs from its record),
// "Закрыть" (and Escape) rejects.
class TCheckReportWindow final : public QDialog {
public:
    // title: the disc's title (code page 1251); utcOffsetSeconds: the local time's offset for
    // the dates.
    TCheckReportWindow(const std::string& title, const TDiscCheck& check, int64_t utcOffsetSeconds,
                       QWidget* parent = nullptr);

    QLabel* Header = nullptr;
    QTreeWidget* Results = nullptr; // four groups, each item one entry; hidden when all is well
    QPushButton* Update = nullptr;
    QPushButton* Close = nullptr;
};

// The header's text (code page 1251, lines separated by CR LF): the counts of each group and what
// was read, or "Диск читается полностью, изменений нет" first when all is well.
[[nodiscard]] std::string CheckReportHeader(const TDiscCheck& check);
