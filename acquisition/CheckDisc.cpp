#include "acquisition/CheckDisc.h"

#include "acquisition/CheckReportWindow.h"
#include "acquisition/DiscCheck.h"
#include "acquisition/UpdateDisc.h"
#include "app/Platform.h"
#include "app/WindowHost.h"
#include "collection/Fendrel.h"
#include "discs/FileContents.h"
#include "discs/Volume.h"
#include "platform/AnsiText.h"
#include "platform/LocalTime.h"

#include <exception>

namespace {

std::string Quoted(const std::string& title)
{
    return Ansi("«") + title + Ansi("»");
}

} // namespace

TDiscChecker::TDiscChecker(IWindowHost& host, TDiscUpdater& updater)
    : Host_(host)
    , Updater_(updater)
{
}

void TDiscChecker::CheckSelected()
{
    const uint32_t disc = Host_.SelectedDisc();
    if (disc == 0)
        return;
    std::unique_ptr<IVolume> volume = Updater_.OpenRecordedSource(disc);
    if (!volume)
        return;
    const std::string title = Host_.Collection().GetNode(disc).Name.str();
    // Another medium would read back as every file missing and every file new: asked as the
    // update asks.
    if (const auto record = Host_.Collection().DiscRecords.find(disc);
        record != Host_.Collection().DiscRecords.end() &&
        CompareMedia(record->second.Facts, volume->Facts()) == TMediumMatch::Different) {
        const std::string question = Ansi("Выбранный носитель не похож на диск ") + Quoted(title) +
                                     Ansi(". Всё равно проверить?");
        if (Host_.MessageBox(question, Host_.Title(), TMessageKind::Question) !=
            TMessageResult::Yes)
            return;
    }

    // The scan goes into a collection of its own: a check changes nothing.
    TFendrel scan(&Host_.Progress());
    std::vector<TFileToRead> files;
    TListingWatch watched(*volume, scan);
    scan.ScanDisc(title, watched, &files);
    const uint32_t scanned = scan.Discs.back();

    TReadingProgress progress;
    std::vector<TFileReading> readings;
    bool complete = false;
    std::exception_ptr failure;
    Host_.Platform().Dialogs.RunReading(
        Ansi("Проверка диска ") + Quoted(title), TotalSize(files), progress, [&] {
            // An error must not escape the reading thread: it is shown once the box is gone.
            try {
                complete = ReadFileContents(*volume, files, readings, progress);
            } catch (...) {
                failure = std::current_exception();
            }
        });
    if (failure)
        std::rethrow_exception(failure);
    if (!complete)
        return; // cancelled: a partial reading would report files as unread that are fine

    const TDiscCheck check = CheckDiscReadings(Host_.Collection(), disc, scan, scanned, files,
                                               readings, watched.Unlisted);
    const bool update = ReviewCheck ? ReviewCheck(title, check) : [&] {
        TCheckReportWindow window(title, check, UtcOffsetNow(), &Host_.Window());
        return window.exec() == QDialog::Accepted;
    }();
    if (!update)
        return;
    // The update is made from the check's own reading: the disc is not read a second time, and
    // a file whose content alone changed gets the checksum just read.
    for (size_t i = 0; i < files.size(); ++i)
        if (readings[i].Outcome == TFileReading::TOutcome::Read)
            scan.Checksums[files[i].Id] = readings[i].Checksum;
    Updater_.Apply(disc, scan, scanned, true);
}
