#include "app/uMain.h"

#include "platform/CollectionFileStore.h"
#include "platform/HelpViewer.h"
#include "platform/QtText.h"

#include <QItemSelectionModel>
#include <QTreeView>

namespace {

constexpr const char* kHelpFile = "Fendrel.chm";

// Qt reads "[*]" in a window title as the place of the modified mark; a doubled one shows as
// the literal text, which a path may hold.
QString LiteralTitle(QString title)
{
    return title.replace(QStringLiteral("[*]"), QStringLiteral("[*][*]"));
}

} // namespace

void TForm_Main::Act_NewCollectionExecute(QObject* sender)
{
    if (const auto path = Platform_.Dialogs.SaveFileDialog(SaveDlg_Collection)) {
        CollectionFile = *path;
        OpenCollectionFile();
    } else if (!sender) {
        close();
    }
}

void TForm_Main::Act_LoadCollectionExecute(QObject*)
{
    if (const auto path = Platform_.Dialogs.OpenFileDialog(OpenDlg_Collection)) {
        CollectionFile = *path;
        OpenCollectionFile();
    }
}

void TForm_Main::OpenCollectionFile()
{
    if (CollectionFile.empty())
        return;
    std::string text;
    const TFileOutcome outcome = Platform_.CollectionFiles.ReadWhole(CollectionFile, text);
    if (outcome != TFileOutcome::Done) {
        // The collection in memory stays, and so does the file it belongs to: a later save must
        // not write it over the file that failed to open.
        if (LoadedFile_.empty() && UnopenedLastCollection_.empty())
            UnopenedLastCollection_ = CollectionFile;
        CollectionFile = LoadedFile_;
        MessageBox(Ansi(outcome == TFileOutcome::OpenFailed ? "Ошибка при открытии файла коллекции"
                                                            : "Ошибка при загрузке коллекции"),
                   ApplicationTitle, TMessageKind::Error);
        return;
    }

    ReplaceCollection();
    bool loaded = false;
    try {
        loaded = Collection().LoadFromText(text);
    } catch (...) {
        // Out of memory part-way: what was read must never be saved over the whole file.
        CollectionFile.clear();
        LoadedFile_.clear();
        throw;
    }
    LoadedFile_ = CollectionFile;
    std::string().swap(text); // free the file's bytes now: they are not needed any longer
    if (!loaded)
        MessageBox(Ansi("Файл коллекции поврежден или имеет неверный формат"), ApplicationTitle,
                   TMessageKind::Error);
    setWindowTitle(LiteralTitle("Fendrel - " + DisplayPath(CollectionFile)));
    TreeView_Main->selectionModel()->clear();
    ResetFilters(/*unmarked=*/true); // a collection read from its file has no marks
}

void TForm_Main::SaveCollectionFile()
{
    const std::string text = Collection().SaveToText();
    switch (Platform_.CollectionFiles.ReplaceWhole(CollectionFile, text)) {
    case TFileOutcome::Done:
        ResetFilters();
        return;
    case TFileOutcome::OpenFailed:
        MessageBox(Ansi("Ошибка при открытии файла коллекции"), ApplicationTitle,
                   TMessageKind::Error);
        return;
    default:
        MessageBox(Ansi("Ошибка при сохранении коллекции. Возможно, нет места на диске"),
                   ApplicationTitle, TMessageKind::Error);
        return;
    }
}

void TForm_Main::Act_ExitExecute(QObject*)
{
    close();
}

void TForm_Main::Act_HelpContentsExecute(QObject*)
{
    if (!Platform_.Help.OpenHelpFile(kHelpFile))
        MessageBox(Ansi("Ошибка вызова справки - проверьте наличие файла Fendrel.chm"),
                   ApplicationTitle, TMessageKind::Error);
}

void TForm_Main::Act_HelpAboutExecute(QObject*)
{
    MessageBox(Ansi("Fendrel v1.2\r\n"
                    "Каталог содержимого дисков CD и DVD\r\n"
                    "Свободная программа, 2026 год"),
               Ansi("О программе"), TMessageKind::Information);
}
