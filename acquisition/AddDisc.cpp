#include "app/uMain.h"

#include "browse/CollectionTree.h"
#include "platform/AnsiText.h"
#include "platform/Drives.h"
#include "platform/QtText.h"

#include <QAction>
#include <QMenu>
#include <QTreeView>

void TForm_Main::Act_AddDiscExecute(QObject*)
{
    if (DefDriveIndex == -1)
        return;
    const QList<QAction*> drives = MI_SelectDefDrive->actions();
    if (DefDriveIndex >= drives.size())
        return;
    const std::string driveName = LiteralCaption(drives[DefDriveIndex]);
    if (driveName.empty())
        return;

    std::string label;
    if (const std::unique_ptr<IVolume> disc = Platform_.Drives.OpenVolume(driveName[0])) {
        label = disc->Label();
    } else {
        MessageBox(Ansi("Невозможно получить информацию о диске в дисководе ") + driveName,
                   ApplicationTitle, TMessageKind::Error);
        return;
    }

    std::optional<std::string> title = Platform_.Dialogs.InputBox(
        Ansi("Добавление диска"), Ansi("Введите заголовок для сканируемого диска"),
        " [" + label + "]");
    if (!title)
        return;
    ReplaceControlBytes(*title);

    // The disc is opened again for the walk: it may have been changed while the title was typed.
    // One that can no longer be read is added without contents.
    std::unique_ptr<IVolume> disc = Platform_.Drives.OpenVolume(driveName[0]);
    TUnreadableVolume unreadable;
    const int32_t count = Collection().ScanDisc(*title, disc ? *disc : unreadable);

    FillTree(Collection(), *TreeView_Main, DisplayPath(CollectionFile));
    MessageBox(Ansi("Добавлено элементов: ") + std::to_string(count), ApplicationTitle,
               TMessageKind::Information);
    SaveCollectionFile();
}
