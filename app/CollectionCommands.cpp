#include "app/uMain.h"

#include "platform/QtText.h"

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
    // Reading collection files arrives with the collection file work.
}

void TForm_Main::SaveCollectionFile()
{
    // Writing collection files arrives with the collection file work.
}

void TForm_Main::Act_ExitExecute(QObject*)
{
    close();
}

void TForm_Main::Act_HelpContentsExecute(QObject*) {}

void TForm_Main::Act_HelpAboutExecute(QObject*) {}
