#include "app/Application.h"
#include "app/uMain.h"
#include "discs/Drives.h"
#include "platform/CollectionFileStore.h"
#include "platform/HelpViewer.h"
#include "platform/QtDialogs.h"
#include "platform/SettingsStore.h"
#include "platform/TickClock.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    PrepareApplication(application);

    TQtDialogs dialogs;
    TFileSettingsStore settings(TFileSettingsStore::DefaultPath());
    TSystemTickClock clock;
    TPosixCollectionFileStore collectionFiles;
    TDesktopHelpViewer help;
    TDriveTable drives = TDriveTable::FromMachine();
    const TPlatform platform{dialogs, settings, clock, collectionFiles, help, drives};

    std::unique_ptr<TForm_Main> form = CreateMainWindow(platform);
    if (!form)
        return 0;
    dialogs.SetOwner(form.get());
    form->show();
    QApplication::exec();
    form.reset(); // writes the settings
    return 0;
}
