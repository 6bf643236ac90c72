#include "acquisition/DiscAdder.h"

#include "acquisition/UpdateDisc.h"
#include "app/Platform.h"
#include "app/WindowHost.h"
#include "collection/CollectionChange.h"
#include "collection/DiscUpdate.h"
#include "collection/Fendrel.h"
#include "discs/FileContents.h"
#include "discs/Volume.h"
#include "platform/AnsiText.h"
#include "platform/TickClock.h"

TDiscAdder::TDiscAdder(IWindowHost& host, TContentChecksums& checksums, TDiscUpdater& updater)
    : Host_(host)
    , Checksums_(checksums)
    , Updater_(updater)
{
}

void TDiscAdder::AddScanned(const std::function<std::unique_ptr<IVolume>()>& open,
                            const std::string& failure, const std::string& driveName)
{
    TAddedDiscs added;
    ScanNew(open, failure, added, driveName);
    Report(added);
}

void TDiscAdder::ScanNew(const std::function<std::unique_ptr<IVolume>()>& open,
                         const std::string& failure, TAddedDiscs& added,
                         const std::string& driveName)
{
    std::string label;
    TVolumeFacts facts;
    if (const std::unique_ptr<IVolume> disc = open()) {
        label = disc->Label();
        facts = disc->Facts();
    } else {
        Host_.MessageBox(failure, Host_.Title(), TMessageKind::Error);
        return;
    }
    if (const uint32_t known = Updater_.DiscOfMedium(facts); known != 0) {
        const std::string question = Ansi("Этот носитель уже есть в коллекции: «") +
                                     Host_.Collection().GetNode(known).Name.str() +
                                     Ansi("». Обновить этот диск?");
        if (Host_.MessageBox(question, Host_.Title(), TMessageKind::Question) ==
            TMessageResult::Yes) {
            UpdateKnown(known, open, failure, added);
            return;
        }
    }

    std::optional<std::string> title = Host_.Platform().Dialogs.InputBox(
        Ansi("Добавление диска"), Ansi("Введите заголовок для сканируемого диска"),
        " [" + label + "]");
    if (!title)
        return;
    EscapeControlBytes(*title);

    // The disc is opened again for the walk: it may have been changed while the title was typed.
    // One that can no longer be read is added without contents.
    std::unique_ptr<IVolume> disc = open();
    uint32_t id = 0;
    if (disc && Checksums_.On()) {
        // Reading the bytes takes minutes: the disc is scanned into a collection of its own and
        // comes into this one only once they are read, so that a cancel leaves no trace.
        TFendrel scan(&Host_.Progress());
        std::vector<TFileToRead> files;
        const int32_t count = scan.ScanDisc(*title, *disc, &files);
        if (!Checksums_.Read(*title, *disc, scan, files, added.Checksums))
            return;
        id = AppendDiscCopy(Host_.Collection(), scan, scan.Discs.back());
        added.Count += count;
    } else {
        TUnreadableVolume unreadable;
        added.Count += Host_.Collection().ScanDisc(*title, disc ? *disc : unreadable);
        id = Host_.Collection().Discs.back();
    }
    TDiscRecord& record = Host_.Collection().DiscRecords[id];
    record.Added = Host_.Platform().Clock.FileTimeNow();
    if (!driveName.empty())
        record.Facts.Source.DriveName = AnsiToUtf8(driveName);
    added.Ids.push_back(id);
}

void TDiscAdder::UpdateKnown(uint32_t disc, const std::function<std::unique_ptr<IVolume>()>& open,
                             const std::string& failure, TAddedDiscs& added)
{
    // The update saves the collection on its own, and a save that meets another program's
    // changes replaces the collection: the discs this command added before are saved first, so
    // that none is lost and no id held in added goes stale.
    Report(added);
    added = {};
    const std::unique_ptr<IVolume> volume = open();
    if (!volume) {
        Host_.MessageBox(failure, Host_.Title(), TMessageKind::Error);
        return;
    }
    Updater_.Update(disc, *volume);
}

void TDiscAdder::Report(const TAddedDiscs& added)
{
    if (added.Ids.empty())
        return;
    Host_.RebuildTree();
    std::string count = Ansi("Добавлено элементов: ") + std::to_string(added.Count);
    if (added.Ids.size() > 1)
        count += Ansi(" (дисков: ") + std::to_string(added.Ids.size()) + ")";
    if (added.Checksums.Read) {
        count += Ansi("\r\nФайлов с контрольными суммами: ") +
                 std::to_string(added.Checksums.Checksummed);
        if (added.Checksums.Unreadable > 0)
            count += Ansi("\r\nНе удалось прочитать файлов: ") +
                     std::to_string(added.Checksums.Unreadable) +
                     Ansi(" (записаны без контрольных сумм)");
    }
    Host_.MessageBox(count, Host_.Title(), TMessageKind::Information);
    Host_.Save(TCollectionChange::DiscsAppended(added.Ids));
}
