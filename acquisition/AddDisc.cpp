#include "app/uMain.h"

#include "browse/CollectionTree.h"
#include "collection/CollectionChange.h"
#include "collection/DiscUpdate.h"
#include "discs/Drives.h"
#include "discs/FileContents.h"
#include "platform/AnsiText.h"
#include "platform/QtText.h"

#include <QAction>
#include <QMenu>
#include <QTreeView>

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
    AddScannedDisc([this, letter] { return Platform_.Drives.OpenVolume(letter); },
                   Ansi("Невозможно получить информацию о диске в дисководе ") + driveName,
                   driveName);
}

void TForm_Main::AddScannedDisc(const std::function<std::unique_ptr<IVolume>()>& open,
                                const std::string& failure, const std::string& driveName)
{
    TAddedDiscs added;
    ScanNewDisc(open, failure, added, driveName);
    ReportAddedDiscs(added);
}

void TForm_Main::ScanNewDisc(const std::function<std::unique_ptr<IVolume>()>& open,
                             const std::string& failure, TAddedDiscs& added,
                             const std::string& driveName)
{
    std::string label;
    TVolumeFacts facts;
    if (const std::unique_ptr<IVolume> disc = open()) {
        label = disc->Label();
        facts = disc->Facts();
    } else {
        MessageBox(failure, ApplicationTitle, TMessageKind::Error);
        return;
    }
    if (const uint32_t known = DiscOfMedium(facts); known != 0) {
        const std::string question = Ansi("Этот носитель уже есть в коллекции: «") +
                                     Collection().GetNode(known).Name.str() +
                                     Ansi("». Обновить этот диск?");
        if (MessageBox(question, ApplicationTitle, TMessageKind::Question) == TMessageResult::Yes) {
            UpdateKnownDisc(known, open, failure, added);
            return;
        }
    }

    std::optional<std::string> title = Platform_.Dialogs.InputBox(
        Ansi("Добавление диска"), Ansi("Введите заголовок для сканируемого диска"),
        " [" + label + "]");
    if (!title)
        return;
    EscapeControlBytes(*title);

    // The disc is opened again for the walk: it may have been changed while the title was typed.
    // One that can no longer be read is added without contents.
    std::unique_ptr<IVolume> disc = open();
    uint32_t id = 0;
    if (disc && ChecksumsOnAdd()) {
        // Reading the bytes takes minutes: the disc is scanned into a collection of its own and
        // comes into this one only once they are read, so that a cancel leaves no trace.
        TFendrel scan(&Progress_);
        std::vector<TFileToRead> files;
        const int32_t count = scan.ScanDisc(*title, *disc, &files);
        if (!ReadChecksums(*title, *disc, scan, files, added))
            return;
        id = AppendDiscCopy(Collection(), scan, scan.Discs.back());
        added.Count += count;
    } else {
        TUnreadableVolume unreadable;
        added.Count += Collection().ScanDisc(*title, disc ? *disc : unreadable);
        id = Collection().Discs.back();
    }
    TDiscRecord& record = Collection().DiscRecords[id];
    record.Added = Platform_.Clock.FileTimeNow();
    if (!driveName.empty())
        record.Facts.Source.DriveName = AnsiToUtf8(driveName);
    added.Ids.push_back(id);
}

void TForm_Main::UpdateKnownDisc(uint32_t disc,
                                 const std::function<std::unique_ptr<IVolume>()>& open,
                                 const std::string& failure, TAddedDiscs& added)
{
    // The update saves the collection on its own, and a save that meets another program's
    // changes replaces the collection: the discs this command added before are saved first, so
    // that none is lost and no id held in added goes stale.
    ReportAddedDiscs(added);
    added = {};
    const std::unique_ptr<IVolume> volume = open();
    if (!volume) {
        MessageBox(failure, ApplicationTitle, TMessageKind::Error);
        return;
    }
    UpdateDisc(disc, *volume);
}

void TForm_Main::ReportAddedDiscs(const TAddedDiscs& added)
{
    if (added.Ids.empty())
        return;
    FillTree(Collection(), *TreeView_Main, DisplayPath(CollectionFile));
    std::string count = Ansi("Добавлено элементов: ") + std::to_string(added.Count);
    if (added.Ids.size() > 1)
        count += Ansi(" (дисков: ") + std::to_string(added.Ids.size()) + ")";
    if (added.Checksums) {
        count += Ansi("\r\nФайлов с контрольными суммами: ") + std::to_string(added.Checksummed);
        if (added.Unreadable > 0)
            count += Ansi("\r\nНе удалось прочитать файлов: ") + std::to_string(added.Unreadable) +
                     Ansi(" (записаны без контрольных сумм)");
    }
    MessageBox(count, ApplicationTitle, TMessageKind::Information);
    SaveCollectionFile(TCollectionChange::DiscsAppended(added.Ids));
}
