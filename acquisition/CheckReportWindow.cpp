#include "acquisition/CheckReportWindow.h"

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

QString Date(uint64_t fileTime, int64_t utcOffsetSeconds)
{
    const std::optional<TCalendarTime> local = FileTimeToLocal(
        static_cast<uint32_t>(fileTime >> 32), static_cast<uint32_t>(fileTime), utcOffsetSeconds);
    if (!local)
        return {};
    return QString::fromStdString(FormatDate(*local) + " " + FormatTime(*local));
}

QTreeWidgetItem* Group(QTreeWidget& tree, const char* caption, size_t count)
{
    auto* group = new QTreeWidgetItem(&tree);
    group->setText(0, QString::fromUtf8(caption) + QString(" (%1)").arg(count));
    group->setExpanded(true);
    return group;
}

QTreeWidgetItem* Entry(QTreeWidgetItem* group, const std::string& path, bool folder)
{
    auto* item = new QTreeWidgetItem(group);
    item->setText(0, Display(path + (folder ? "\\" : "")));
    return item;
}

// Entries on one side only: missing ones as recorded, new ones as found.
void AddOneSided(QTreeWidget& tree, const char* caption, const std::vector<TTreeChange>& changes,
                 bool found, int64_t offset)
{
    QTreeWidgetItem* group = Group(tree, caption, changes.size());
    for (const TTreeChange& change : changes) {
        QTreeWidgetItem* item = Entry(group, change.Path, change.Folder);
        if (!change.Folder)
            item->setText(
                1, QString::fromStdString(FormatSize(found ? change.NewSize : change.OldSize)));
        item->setText(2, Date(found ? change.NewTime : change.OldTime, offset));
    }
}

void AddChanged(QTreeWidget& tree, const TDiscCheck& check, int64_t offset)
{
    QTreeWidgetItem* group =
        Group(tree, "Изменены", check.Changed.size() + check.ContentChanged.size());
    const QString arrow = QString::fromUtf8(" → ");
    for (const TTreeChange& change : check.Changed) {
        QTreeWidgetItem* item = Entry(group, change.Path, change.Folder);
        QStringList what;
        if (!change.Folder) {
            const QString before = QString::fromStdString(FormatSize(change.OldSize));
            const QString after = QString::fromStdString(FormatSize(change.NewSize));
            item->setText(1, change.OldSize == change.NewSize ? after : before + arrow + after);
            if (change.OldSize != change.NewSize)
                what << QString::fromUtf8("размер");
        }
        item->setText(2, change.OldTime == change.NewTime
                             ? Date(change.NewTime, offset)
                             : Date(change.OldTime, offset) + arrow + Date(change.NewTime, offset));
        if (change.OldTime != change.NewTime)
            what << QString::fromUtf8("дата");
        item->setText(3, what.join(", "));
    }
    for (const TTreeChange& change : check.ContentChanged) {
        QTreeWidgetItem* item = Entry(group, change.Path, false);
        item->setText(1, QString::fromStdString(FormatSize(change.NewSize)));
        item->setText(2, Date(change.NewTime, offset));
        item->setText(3, QString::fromUtf8("содержимое (контрольная сумма)"));
    }
}

void AddUnreadable(QTreeWidget& tree, const std::vector<TUnreadableEntry>& entries)
{
    QTreeWidgetItem* group = Group(tree, "Не читаются", entries.size());
    for (const TUnreadableEntry& entry : entries) {
        QTreeWidgetItem* item = Entry(group, entry.Path, entry.Folder);
        if (entry.Folder) {
            item->setText(3, QString::fromUtf8("папка не открывается"));
            continue;
        }
        item->setText(1, QString::fromStdString(FormatSize(entry.Size)));
        item->setText(3, QString::fromUtf8("ошибка чтения с байта %1").arg(entry.BadOffset));
    }
}

} // namespace

std::string CheckReportHeader(const TDiscCheck& check)
{
    std::string header;
    if (check.AllWell())
        header = Ansi("Диск читается полностью, изменений нет");
    else
        header = Ansi("Не читаются: ") + std::to_string(check.Unreadable.size()) +
                 Ansi(", отсутствуют: ") + std::to_string(check.Missing.size()) +
                 Ansi(", новые: ") + std::to_string(check.New.size()) + Ansi(", изменены: ") +
                 std::to_string(check.Changed.size() + check.ContentChanged.size());
    return header + "\r\n" + Ansi("Прочитано файлов: ") + std::to_string(check.FilesRead) + " (" +
           FormatSize(check.BytesRead) + Ansi("), сверено по контрольным суммам: ") +
           std::to_string(check.ChecksumsCompared);
}

TCheckReportWindow::TCheckReportWindow(const std::string& title, const TDiscCheck& check,
                                       int64_t utcOffsetSeconds, QWidget* parent)
    : QDialog(parent)
{
    setObjectName("CheckReportWindow");
    setWindowTitle(QString::fromUtf8("Проверка диска «") + Display(title) + QString::fromUtf8("»"));
    resize(680, 420);

    Header = MakeReportHeader(CheckReportHeader(check), QString::fromUtf8("Итог проверки"), this);
    Results = MakeReportTree("Results", QString::fromUtf8("Результаты проверки"),
                             {QString::fromUtf8("Путь"), QString::fromUtf8("Размер"),
                              QString::fromUtf8("Дата"), QString::fromUtf8("Что не так")},
                             300, this);
    AddUnreadable(*Results, check.Unreadable);
    AddOneSided(*Results, "Отсутствуют", check.Missing, false, utcOffsetSeconds);
    AddOneSided(*Results, "Новые", check.New, true, utcOffsetSeconds);
    AddChanged(*Results, check, utcOffsetSeconds);
    Results->setVisible(!check.AllWell());

    auto* buttons = new QDialogButtonBox(this);
    Update = buttons->addButton(QString::fromUtf8("Обновить диск"), QDialogButtonBox::AcceptRole);
    Update->setObjectName("Update");
    // An update takes in a changed tree; it cannot mend a disc that does not read.
    Update->setEnabled(check.TreeDiffers());
    Close = buttons->addButton(QString::fromUtf8("Закрыть"), QDialogButtonBox::RejectRole);
    Close->setObjectName("Close");
    Close->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Header);
    layout->addWidget(Results, 1);
    layout->addWidget(buttons);
}
