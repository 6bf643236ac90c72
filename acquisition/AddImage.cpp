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

void TForm_Main::Act_AddImageExecute(QObject*)
{
    const std::optional<std::string> path = Platform_.Dialogs.OpenFileDialog(OpenDlg_Image);
    if (!path)
        return;
    AddScannedDisc([this, &path] { return Platform_.Drives.OpenImage(*path); },
                   Ansi("Невозможно получить информацию о диске в образе ") +
                       FileNameForMessage(*path));
}
