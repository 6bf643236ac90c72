#include "app/uMain.h"

#include "acquisition/DiscAdder.h"
#include "discs/Drives.h"
#include "platform/AnsiText.h"
#include "platform/QtText.h"

#include <QAction>
#include <QMenu>

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
    Adder->AddScanned([this, letter] { return Platform_.Drives.OpenVolume(letter); },
                      Ansi("Невозможно получить информацию о диске в дисководе ") + driveName,
                      driveName);
}

// Each image chosen becomes a disc, in the order the dialog gives them, each with its own title;
// one that cannot be read, or whose title is cancelled, is left out and the others go on. One
// count and one save end the command. Cancelling the reading of an image's checksums stops the
// command: that image and the ones after it are not added.
void TForm_Main::Act_AddImageExecute(QObject*)
{
    const std::vector<std::string> paths = Platform_.Dialogs.OpenFilesDialog(OpenDlg_Image);
    TAddedDiscs added;
    for (const std::string& path : paths) {
        if (added.Checksums.Cancelled)
            break; // the user stopped the command while an image was read
        Adder->ScanNew([this, &path] { return Platform_.Drives.OpenImage(path); },
                       Ansi("Невозможно получить информацию о диске в образе ") +
                           FileNameForMessage(path),
                       added);
    }
    Adder->Report(added);
}

// A folder added as a disc: a USB stick or memory card by its mount point, or a disc copied onto
// a hard disk. It is walked as a mounted disc is, and never beyond its own file system.
void TForm_Main::Act_AddFolderExecute(QObject*)
{
    const std::optional<std::string> path = Platform_.Dialogs.FolderDialog(OpenDlg_Folder);
    if (!path)
        return;
    Adder->AddScanned([this, &path] { return Platform_.Drives.OpenFolder(*path); },
                      Ansi("Невозможно прочитать папку ") + FileNameForMessage(*path));
}
