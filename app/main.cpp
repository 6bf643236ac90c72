#include "app/Application.h"
#include "app/uMain.h"
#include "discs/Drives.h"
#include "media/MediaCommands.h"
#include "media/UDisks2Watcher.h"
#include "platform/CollectionFileStore.h"
#include "platform/HelpViewer.h"
#include "platform/QtDialogs.h"
#include "platform/SettingsStore.h"
#include "platform/TickClock.h"

#include <QApplication>
#include <QDBusConnection>

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
    // Media inserted and drives plugged in while the program runs; nothing without a system bus.
    TUDisks2Watcher media(QDBusConnection::systemBus());
    form->Media->OfferUpdates();
    form->Media->Watch(media);
    form->show();
    QApplication::exec();
    form.reset(); // writes the settings; before the watcher it follows goes
    return 0;
}
