#include "app/uMain.h"

#include "browse/CollectionTree.h"
#include "collection/CollectionChange.h"
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

    const char letter = driveName[0];
    AddScannedDisc([this, letter] { return Platform_.Drives.OpenVolume(letter); },
                   Ansi("Невозможно получить информацию о диске в дисководе ") + driveName);
}

void TForm_Main::AddScannedDisc(const std::function<std::unique_ptr<IVolume>()>& open,
                                const std::string& failure)
{
    std::string label;
    if (const std::unique_ptr<IVolume> disc = open()) {
        label = disc->Label();
    } else {
        MessageBox(failure, ApplicationTitle, TMessageKind::Error);
        return;
    }

    std::optional<std::string> title = Platform_.Dialogs.InputBox(
        Ansi("Добавление диска"), Ansi("Введите заголовок для сканируемого диска"),
        " [" + label + "]");
    if (!title)
        return;
    EscapeControlBytes(*title);

    // The disc is opened again for the walk: it may have been changed while the title was typed.
    // One that can no longer be read is added without contents.
    std::unique_ptr<IVolume> disc = open();
    TUnreadableVolume unreadable;
    const int32_t count = Collection().ScanDisc(*title, disc ? *disc : unreadable);
    const uint32_t added = Collection().Discs.back();

    FillTree(Collection(), *TreeView_Main, DisplayPath(CollectionFile));
    MessageBox(Ansi("Добавлено элементов: ") + std::to_string(count), ApplicationTitle,
               TMessageKind::Information);
    SaveCollectionFile(TCollectionChange::DiscsAppended({added}));
}
