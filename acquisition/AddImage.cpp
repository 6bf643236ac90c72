#include "app/uMain.h"

#include "discs/Drives.h"
#include "platform/AnsiText.h"
#include "platform/QtText.h"

// Each image chosen becomes a disc, in the order the dialog gives them, each with its own title;
// one that cannot be read, or whose title is cancelled, is left out and the others go on. One
// count and one save end the command. Cancelling the reading of an image's checksums stops the
// command: that image and the ones after it are not added.
void TForm_Main::Act_AddImageExecute(QObject*)
{
    const std::vector<std::string> paths = Platform_.Dialogs.OpenFilesDialog(OpenDlg_Image);
    TAddedDiscs added;
    for (const std::string& path : paths) {
        if (added.Cancelled)
            break; // the user stopped the command while an image was read
        ScanNewDisc([this, &path] { return Platform_.Drives.OpenImage(path); },
                    Ansi("Невозможно получить информацию о диске в образе ") +
                        FileNameForMessage(path),
                    added);
    }
    ReportAddedDiscs(added);
}
