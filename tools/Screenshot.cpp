// Shows the main window over a small sample collection, with a folder open, and saves a picture
// of it with the frame the window manager drew:
//
//   fendrel_screenshot FOLDER OUTPUT.png
//
// FOLDER receives the collection file and the settings. Run it on an X server with a window
// manager; `bash dev.sh screenshot` starts both.

#include "app/Application.h"
#include "app/ImageList.h"
#include "app/Settings.h"
#include "app/uMain.h"
#include "browse/CollectionTree.h"
#include "collection/Fendrel.h"
#include "discs/Drives.h"
#include "discs/Volume.h"
#include "platform/AnsiText.h"
#include "platform/CollectionFileStore.h"
#include "platform/HelpViewer.h"
#include "platform/QtDialogs.h"
#include "platform/SettingsStore.h"
#include "platform/TickClock.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QPixmap>
#include <QScreen>
#include <QTreeView>
#include <QWindow>

#include <cstdio>
#include <fstream>
#include <initializer_list>

namespace {

// Days in the sample, as seconds since 1970 (UTC).
constexpr int64_t kAugust2004 = 1092650000;
constexpr int64_t kMay2023 = 1686000000;
constexpr int64_t kMarch2001 = 984000000;
constexpr int64_t kDay = 86400;

class TSample {
public:
    explicit TSample(TFendrel& collection)
        : C_(collection)
    {
    }
    // Adds a disc, a folder or a file under parent (0: a disc) and returns its id.
    uint32_t Add(uint32_t parent, const char* utf8Name, uint32_t kind, int64_t time = 0,
                 uint32_t size = 0)
    {
        TCollectionNode node;
        node.ParentId = parent;
        node.Name = Ansi(utf8Name);
        node.Flags = kind;
        const uint64_t fileTime = time ? FileTimeFromUnix(time) : 0;
        node.WriteTimeLow = static_cast<uint32_t>(fileTime);
        node.WriteTimeHigh = static_cast<uint32_t>(fileTime >> 32);
        node.Size = size;
        return C_.AddNode(parent ? C_.GetNode(parent).Children : C_.Discs, node).Id;
    }

private:
    TFendrel& C_;
};

// Four discs; the first one's folder "Море" is the one shown. Returns that folder's id.
uint32_t FillSample(TFendrel& c)
{
    TSample s(c);
    const uint32_t photos = s.Add(0, "Фото 2004", nfDisc);
    const uint32_t sea = s.Add(photos, "Море", nfFolder, kAugust2004);
    s.Add(sea, "Лучшие", nfFolder, kAugust2004 + kDay);
    int64_t shot = kAugust2004;
    for (const uint32_t size :
         {1843211u, 2016544u, 1730090u, 2210475u, 1954302u, 1688734u, 2105611u, 1902236u}) {
        static int number = 412;
        const std::string name = "IMG_0" + std::to_string(number++) + ".jpg";
        s.Add(sea, name.c_str(), nfFile, shot += 437, size);
    }
    s.Add(sea, "маршрут.txt", nfFile, kAugust2004 + 3600, 2381);
    const uint32_t mountains = s.Add(photos, "Горы", nfFolder, kAugust2004 + 7 * kDay);
    s.Add(mountains, "IMG_0501.jpg", nfFile, kAugust2004 + 7 * kDay, 1977210);
    s.Add(photos, "Дача", nfFolder, kAugust2004 + 30 * kDay);
    s.Add(photos, "описание.txt", nfFile, kAugust2004 + 31 * kDay, 912);

    const uint32_t distributions = s.Add(0, "Дистрибутивы", nfDisc);
    const uint32_t debian = s.Add(distributions, "Debian 12", nfFolder, kMay2023);
    s.Add(debian, "firmware", nfFolder, kMay2023);
    s.Add(distributions, "Утилиты", nfFolder, kMay2023);
    const uint32_t music = s.Add(0, "Музыка 1998-2003", nfDisc);
    s.Add(music, "Аквариум", nfFolder, kMarch2001);
    s.Add(music, "Кино", nfFolder, kMarch2001);
    const uint32_t documents = s.Add(0, "Документы", nfDisc);
    s.Add(documents, "Договоры", nfFolder, kMarch2001);
    return sea;
}

// Waits, handling events, until ready() or the time is up; says which.
template <typename TReady> bool WaitFor(TReady ready, int milliseconds)
{
    const QDeadlineTimer deadline(milliseconds);
    while (!ready()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: fendrel_screenshot FOLDER OUTPUT.png\n");
        return 2;
    }
    PrepareApplication(application);
    const std::string folder = argv[1];
    const std::string collectionFile = folder + "/" + "Мои диски.frl";

    TFendrel sample;
    const uint32_t shown = FillSample(sample);
    std::ofstream(collectionFile, std::ios::binary) << sample.SaveToText();
    TFileSettingsStore settings(folder + "/settings.reg");
    settings.WriteValues(kCurrentSettingsKey,
                         {{kDefDriveValue, TSettingsValue::OfInteger(3)},
                          {kLastCollectionValue, TSettingsValue::OfString(collectionFile)}});

    TQtDialogs dialogs;
    TSystemTickClock clock;
    TPosixCollectionFileStore collectionFiles;
    TDesktopHelpViewer help;
    TDriveTable drives;
    drives.Add('D', {TDriveSource::TKind::Folder, folder, "PHOTOS"});
    std::unique_ptr<TForm_Main> form =
        CreateMainWindow({dialogs, settings, clock, collectionFiles, help, drives});
    if (!form)
        return 1;
    dialogs.SetOwner(form.get());
    form->show();
    if (!WaitFor([&] { return !form->Collection().Discs.empty(); }, 5000)) {
        std::fprintf(stderr, "the collection did not open\n");
        return 1;
    }
    QTreeView& tree = *form->TreeView_Main;
    tree.expandRecursively(tree.model()->index(0, 0), 1); // the discs show their folders
    SelectTreeItem(tree, FindTreeItem(tree, shown));

    // The window manager frames the window some time after it is mapped.
    if (!WaitFor([&] { return form->frameGeometry() != form->geometry(); }, 5000))
        std::fprintf(stderr, "warning: the window has no frame; is a window manager running?\n");
    (void)WaitFor([] { return false; }, 500); // lets the last repaints reach the screen
    const QRect frame = form->frameGeometry();
    const QPixmap picture =
        form->screen()->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height());
    if (!picture.save(QString::fromLocal8Bit(argv[2]))) {
        std::fprintf(stderr, "cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
