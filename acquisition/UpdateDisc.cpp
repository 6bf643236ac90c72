#include "acquisition/UpdateDisc.h"

#include "acquisition/ChangeReportWindow.h"
#include "acquisition/ContentChecksums.h"
#include "app/Platform.h"
#include "app/WindowHost.h"
#include "collection/CollectionChange.h"
#include "collection/DiscTreeDiff.h"
#include "collection/DiscUpdate.h"
#include "collection/Fendrel.h"
#include "discs/Drives.h"
#include "discs/FileContents.h"
#include "platform/AnsiText.h"
#include "platform/LocalTime.h"
#include "platform/QtText.h"
#include "platform/TickClock.h"

namespace {

std::string Quoted(const std::string& title)
{
    return Ansi("«") + title + Ansi("»");
}

} // namespace

TDiscUpdater::TDiscUpdater(IWindowHost& host, TContentChecksums& checksums,
                           const TFileDialogOptions& imageDialog,
                           const TFolderDialogOptions& folderDialog)
    : Host_(host)
    , Checksums_(checksums)
    , ImageDialog_(imageDialog)
    , FolderDialog_(folderDialog)
{
}

void TDiscUpdater::UpdateSelected()
{
    uint32_t disc = Host_.SelectedNode();
    // A folder item stands for its disc.
    while (disc != 0 && !Host_.Collection().GetNode(disc).Is(nfDisc))
        disc = Host_.Collection().GetNode(disc).ParentId;
    if (disc == 0)
        return;

    std::unique_ptr<IVolume> volume = OpenRecordedSource(disc);
    if (!volume)
        return;
    const auto record = Host_.Collection().DiscRecords.find(disc);
    if (record != Host_.Collection().DiscRecords.end() &&
        CompareMedia(record->second.Facts, volume->Facts()) == TMediumMatch::Different) {
        const std::string question = Ansi("Выбранный носитель не похож на диск ") +
                                     Quoted(Host_.Collection().GetNode(disc).Name.str()) +
                                     Ansi(". Всё равно обновить?");
        if (Host_.MessageBox(question, Host_.Title(), TMessageKind::Question) !=
            TMessageResult::Yes)
            return;
    }
    Update(disc, *volume);
}

std::unique_ptr<IVolume> TDiscUpdater::OpenRecordedSource(uint32_t disc)
{
    TDiscSource source;
    if (const auto record = Host_.Collection().DiscRecords.find(disc);
        record != Host_.Collection().DiscRecords.end())
        source = record->second.Facts.Source;
    IDrives& drives = Host_.Platform().Drives;
    IDialogs& dialogs = Host_.Platform().Dialogs;
    switch (source.Kind) {
    case TSourceKind::Image: {
        if (auto volume = drives.OpenImage(source.Path))
            return volume;
        const std::optional<std::string> path = dialogs.OpenFileDialog(ImageDialog_);
        if (!path)
            return nullptr;
        auto volume = drives.OpenImage(*path);
        if (!volume)
            Host_.MessageBox(Ansi("Невозможно получить информацию о диске в образе ") +
                                 FileNameForMessage(*path),
                             Host_.Title(), TMessageKind::Error);
        return volume;
    }
    case TSourceKind::Folder: {
        // A mount point left empty by a disk that is not plugged in opens as an empty folder;
        // the identity question catches that where the file system tells itself apart.
        if (auto volume = drives.OpenFolder(source.Path))
            return volume;
        const std::optional<std::string> path = dialogs.FolderDialog(FolderDialog_);
        if (!path)
            return nullptr;
        auto volume = drives.OpenFolder(*path);
        if (!volume)
            Host_.MessageBox(Ansi("Невозможно прочитать папку ") + FileNameForMessage(*path),
                             Host_.Title(), TMessageKind::Error);
        return volume;
    }
    case TSourceKind::Drive:
    case TSourceKind::Unknown:
        break;
    }
    // A disc from a drive is looked for in the drive it was read in; one whose drive is not known
    // (added before discs remembered their source) in the default drive, as "Добавить..." reads.
    const std::string driveName = Host_.DefaultDriveName();
    if (source.Kind == TSourceKind::Drive)
        for (const std::string& caption : Host_.DriveNames()) {
            if (caption.empty())
                continue;
            if (auto volume = drives.OpenVolume(caption[0]);
                volume && volume->Facts().Source.Path == source.Path)
                return volume;
        }
    if (!driveName.empty())
        if (auto volume = drives.OpenVolume(driveName[0]))
            return volume;
    Host_.MessageBox(Ansi("Невозможно получить информацию о диске в дисководе ") + driveName,
                     Host_.Title(), TMessageKind::Error);
    return nullptr;
}

void TDiscUpdater::Update(uint32_t disc, IVolume& volume)
{
    const std::string title = Host_.Collection().GetNode(disc).Name.str();
    // The new scan goes into a collection of its own: nothing changes until it is applied.
    TFendrel scan(&Host_.Progress());
    std::vector<TFileToRead> files;
    const bool checksums = Checksums_.On();
    scan.ScanDisc(title, volume, checksums ? &files : nullptr);
    const uint32_t scanned = scan.Discs.back();
    if (checksums) {
        TChecksumTally read;
        if (!Checksums_.Read(title, volume, scan, files, read))
            return;
    }
    Apply(disc, scan, scanned, checksums);
}

void TDiscUpdater::Apply(uint32_t disc, TFendrel& scan, uint32_t scanned, bool checksumsRead)
{
    const std::string title = Host_.Collection().GetNode(disc).Name.str();
    const TDiscTreeDiff diff = CompareDiscTrees(
        Host_.Collection(), Host_.Collection().GetNode(disc), scan, scan.GetNode(scanned));
    if (diff.Empty()) {
        Host_.MessageBox(Ansi("Диск ") + Quoted(title) + Ansi(" не изменился"), Host_.Title(),
                         TMessageKind::Information);
    } else if (!Review(title, diff)) {
        return;
    }

    // Checksums just read are recorded even when the tree is as it was: the tree is replaced by
    // its copy that carries them. Without them, the files the update leaves as they were keep
    // the checksums they had.
    if (!checksumsRead)
        CarryChecksums(Host_.Collection(), disc, scan, scanned);
    const bool replace = !diff.Empty() || checksumsRead;
    const TCollectionChange change =
        TCollectionChange::DiscUpdated(Host_.Collection(), disc, replace);
    if (replace)
        ReplaceDiscTree(Host_.Collection(), disc, scan, scanned);
    TDiscRecord& record = Host_.Collection().DiscRecords[disc];
    record.Facts = scan.DiscRecords[scanned].Facts;
    record.Updated = Host_.Platform().Clock.FileTimeNow();

    // The disc is selected before the save, which keeps the selection: the folder selected
    // before may be gone with the old tree.
    Host_.RebuildTree();
    Host_.SelectDisc(disc);
    Host_.Save(change);
}

bool TDiscUpdater::Review(const std::string& title, const TDiscTreeDiff& diff)
{
    if (ReviewChanges)
        return ReviewChanges(title, diff);
    TChangeReportWindow window(title, diff, UtcOffsetNow(), &Host_.Window());
    return window.exec() == QDialog::Accepted;
}

uint32_t TDiscUpdater::DiscOfMedium(const TVolumeFacts& facts) const
{
    const TFendrel& collection = Host_.Collection();
    for (const uint32_t disc : collection.Discs)
        if (const auto record = collection.DiscRecords.find(disc);
            record != collection.DiscRecords.end() && SameMedium(record->second.Facts, facts))
            return disc;
    return 0;
}
