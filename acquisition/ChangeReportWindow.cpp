#include "acquisition/ChangeReportWindow.h"

#include "acquisition/ReportParts.h"
#include "browse/FolderListing.h"
#include "platform/AnsiText.h"
#include "platform/QtText.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

std::string Bytes(uint64_t bytes)
{
    return FormatSize(bytes) + " (" + std::to_string(bytes) + Ansi(" байт)");
}

QString Date(uint64_t fileTime, int64_t utcOffsetSeconds)
{
    const std::optional<TCalendarTime> local = FileTimeToLocal(
        static_cast<uint32_t>(fileTime >> 32), static_cast<uint32_t>(fileTime), utcOffsetSeconds);
    if (!local)
        return {};
    return QString::fromStdString(FormatDate(*local) + " " + FormatTime(*local));
}

QString Size(const TTreeChange& change, uint64_t size)
{
    return change.Folder ? QString() : QString::fromStdString(FormatSize(size));
}

void AddGroup(QTreeWidget& tree, const char* caption, const std::vector<TTreeChange>& changes,
              bool before, bool after, int64_t offset)
{
    auto* group = new QTreeWidgetItem(&tree);
    group->setText(0, QString::fromUtf8(caption) + QString(" (%1)").arg(changes.size()));
    for (const TTreeChange& change : changes) {
        auto* item = new QTreeWidgetItem(group);
        item->setText(0, Display(change.Path + (change.Folder ? "\\" : "")));
        const QString arrow = QString::fromUtf8(" → ");
        if (before && after) {
            item->setText(1, change.Folder || change.OldSize == change.NewSize
                                 ? Size(change, change.NewSize)
                                 : Size(change, change.OldSize) + arrow +
                                       Size(change, change.NewSize));
            item->setText(2, change.OldTime == change.NewTime
                                 ? Date(change.NewTime, offset)
                                 : Date(change.OldTime, offset) + arrow +
                                       Date(change.NewTime, offset));
        } else {
            item->setText(1, Size(change, after ? change.NewSize : change.OldSize));
            item->setText(2, Date(after ? change.NewTime : change.OldTime, offset));
        }
    }
    group->setExpanded(true);
}

} // namespace

std::string ChangeReportHeader(const TDiscTreeDiff& diff)
{
    return Ansi("Добавлено: ") + std::to_string(diff.Added.size()) + Ansi(", удалено: ") +
           std::to_string(diff.Removed.size()) + Ansi(", изменено: ") +
           std::to_string(diff.Changed.size()) + "\r\n" + Ansi("Байт добавлено: ") +
           Bytes(diff.BytesAdded) + Ansi(", удалено: ") + Bytes(diff.BytesRemoved);
}

TChangeReportWindow::TChangeReportWindow(const std::string& title, const TDiscTreeDiff& diff,
                                         int64_t utcOffsetSeconds, QWidget* parent)
    : QDialog(parent)
{
    setObjectName("ChangeReportWindow");
    setWindowTitle(QString::fromUtf8("Изменения на диске «") + Display(title) +
                   QString::fromUtf8("»"));
    resize(640, 420);

    Header = MakeReportHeader(ChangeReportHeader(diff), QString::fromUtf8("Итог изменений"), this);
    Changes = MakeReportTree(
        "Changes", QString::fromUtf8("Изменения"),
        {QString::fromUtf8("Путь"), QString::fromUtf8("Размер"), QString::fromUtf8("Дата")}, 340,
        this);
    AddGroup(*Changes, "Добавлено", diff.Added, false, true, utcOffsetSeconds);
    AddGroup(*Changes, "Удалено", diff.Removed, true, false, utcOffsetSeconds);
    AddGroup(*Changes, "Изменено", diff.Changed, true, true, utcOffsetSeconds);

    auto* buttons = new QDialogButtonBox(this);
    Apply = buttons->addButton(QString::fromUtf8("Применить"), QDialogButtonBox::AcceptRole);
    Apply->setObjectName("Apply");
    Cancel = buttons->addButton(QString::fromUtf8("Отмена"), QDialogButtonBox::RejectRole);
    Cancel->setObjectName("Cancel");
    Apply->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Header);
    layout->addWidget(Changes, 1);
    layout->addWidget(buttons);
}
