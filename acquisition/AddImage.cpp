#include "app/uMain.h"

#include "platform/AnsiText.h"
#include "platform/Drives.h"
#include "platform/QtText.h"

#include <QFileInfo>

namespace {

// The file's name as the file manager shows it, in code page 1251 for the message; characters
// the code page lacks and control characters, which would break the message's lines, become
// escapes.
std::string FileNameForMessage(const std::string& path)
{
    std::string name = FromDisplay(QFileInfo(DisplayPath(path)).fileName());
    EscapeControlBytes(name);
    return name;
}

} // namespace

// Each image chosen becomes a disc, in the order the dialog gives them, each with its own title;
// one that cannot be read, or whose title is cancelled, is left out and the others go on. One
// count and one save end the command.
void TForm_Main::Act_AddImageExecute(QObject*)
{
    const std::vector<std::string> paths = Platform_.Dialogs.OpenFilesDialog(OpenDlg_Image);
    TAddedDiscs added;
    for (const std::string& path : paths)
        ScanNewDisc([this, &path] { return Platform_.Drives.OpenImage(path); },
                    Ansi("Невозможно получить информацию о диске в образе ") +
                        FileNameForMessage(path),
                    added);
    ReportAddedDiscs(added);
}
