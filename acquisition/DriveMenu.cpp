#include "app/uMain.h"

#include "discs/Drives.h"
#include "platform/AnsiText.h"
#include "platform/QtText.h"

#include <QAction>
#include <QMenu>

void TForm_Main::BuildDriveMenu()
{
    int32_t position = 0;
    for (const char letter : Platform_.Drives.DriveLetters()) {
        auto* item = new QAction(MI_SelectDefDrive);
        item->setCheckable(true);
        // The caption is data: its letter is the stored default drive, and it names the drive.
        SetLiteralCaption(item, std::string{letter, ':'});
        item->setProperty("Tag", position++);
        connect(item, &QAction::triggered, this,
                [this, item] { RunGuarded([&] { MI_SelectDefDriveClick(item); }); });
        MI_SelectDefDrive->addAction(item);
    }
}

void TForm_Main::ChooseDefaultDrive(std::optional<char> storedLetter)
{
    const QList<QAction*> items = MI_SelectDefDrive->actions();
    if (storedLetter) {
        for (int position = 0; position < items.size(); ++position) {
            const std::string caption = LiteralCaption(items[position]);
            if (!caption.empty() && caption[0] == *storedLetter) {
                DefDriveIndex = position;
                items[position]->setChecked(true);
            }
        }
    }
    if (DefDriveIndex != -1)
        return;
    if (items.isEmpty()) {
        MessageBox(
            Ansi("В системе нет CD/DVD дисководов. Добавление новых дисков будет недоступно"),
            ApplicationTitle, TMessageKind::Warning);
        Act_AddDisc->setEnabled(false);
        return;
    }
    DefDriveIndex = 0;
    items[0]->setChecked(true);
}

void TForm_Main::MI_SelectDefDriveClick(QObject* sender)
{
    const QList<QAction*> items = MI_SelectDefDrive->actions();
    if (DefDriveIndex != -1 && DefDriveIndex < items.size())
        items[DefDriveIndex]->setChecked(false);
    if (auto* item = qobject_cast<QAction*>(sender)) {
        DefDriveIndex = item->property("Tag").toInt();
        if (DefDriveIndex >= 0 && DefDriveIndex < items.size())
            items[DefDriveIndex]->setChecked(true);
    }
}

void TForm_Main::DrivesChanged()
{
    std::optional<char> current;
    const QList<QAction*> items = MI_SelectDefDrive->actions();
    if (DefDriveIndex >= 0 && DefDriveIndex < items.size()) {
        const std::string caption = LiteralCaption(items[DefDriveIndex]);
        if (!caption.empty())
            current = caption[0];
    }
    for (QAction* item : items) {
        MI_SelectDefDrive->removeAction(item);
        item->deleteLater();
    }
    BuildDriveMenu();

    // As at start-up, but without the warning: the run has seen drives come and go.
    DefDriveIndex = -1;
    const QList<QAction*> now = MI_SelectDefDrive->actions();
    for (int position = 0; position < now.size() && current; ++position) {
        const std::string caption = LiteralCaption(now[position]);
        if (!caption.empty() && caption[0] == *current)
            DefDriveIndex = position;
    }
    if (DefDriveIndex == -1 && !now.isEmpty())
        DefDriveIndex = 0;
    if (DefDriveIndex != -1)
        now[DefDriveIndex]->setChecked(true);
    Act_AddDisc->setEnabled(DefDriveIndex != -1);
}
