#include "app/uMain.h"

#include "discs/Drives.h"
#include "platform/AnsiText.h"
#include "platform/QtText.h"

// A folder added as a disc: a USB stick or memory card by its mount point, or a disc copied onto
// a hard disk. It is walked as a mounted disc is, and never beyond its own file system.
void TForm_Main::Act_AddFolderExecute(QObject*)
{
    const std::optional<std::string> path = Platform_.Dialogs.FolderDialog(OpenDlg_Folder);
    if (!path)
        return;
    AddScannedDisc([this, &path] { return Platform_.Drives.OpenFolder(*path); },
                   Ansi("Невозможно прочитать папку ") + FileNameForMessage(*path));
}
