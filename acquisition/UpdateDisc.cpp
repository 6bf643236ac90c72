#include "app/uMain.h"

#include "acquisition/ChangeReportWindow.h"
#include "browse/CollectionTree.h"
#include "browse/CollectionTreeModel.h"
#include "collection/CollectionChange.h"
#include "collection/DiscTreeDiff.h"
#include "collection/DiscUpdate.h"
#include "discs/Drives.h"
#include "discs/FileContents.h"
#include "platform/AnsiText.h"
#include "platform/LocalTime.h"
#include "platform/QtText.h"

#include <QAction>
#include <QMenu>
#include <QTreeView>

namespace {

std::string Quoted(const std::string& title)
{
    return Ansi("«") + title + Ansi("»");
}

} // namespace

bool TForm_Main::ShowChangeReport(const std::string& title, const TDiscTreeDiff& diff)
{
    TChangeReportWindow window(title, diff, UtcOffsetNow(), this);
    return window.exec() == QDialog::Accepted;
}

void TForm_Main::Act_UpdateDiscExecute(QObject*)
{
    const int selected = SelectedTreeItem(*TreeView_Main);
    if (selected < 0)
        return;
    uint32_t disc = TreeModel->Item(selected).Data;
    // A folder item stands for its disc.
    while (disc != 0 && !Collection().GetNode(disc).Is(nfDisc))
        disc = Collection().GetNode(disc).ParentId;
    if (disc == 0)
        return;

    std::unique_ptr<IVolume> volume = OpenRecordedSource(disc);
    if (!volume)
        return;
    const auto record = Collection().DiscRecords.find(disc);
    if (record != Collection().DiscRecords.end() &&
        CompareMedia(record->second.Facts, volume->Facts()) == TMediumMatch::Different) {
        const std::string question = Ansi("Выбранный носитель не похож на диск ") +
                                     Quoted(Collection().GetNode(disc).Name.str()) +
                                     Ansi(". Всё равно обновить?");
        if (MessageBox(question, ApplicationTitle, TMessageKind::Question) != TMessageResult::Yes)
            return;
    }
    UpdateDisc(disc, *volume);
}

std::unique_ptr<IVolume> TForm_Main::OpenRecordedSource(uint32_t disc)
{
    TDiscSource source;
    if (const auto record = Collection().DiscRecords.find(disc);
        record != Collection().DiscRecords.end())
        source = record->second.Facts.Source;
    IDrives& drives = Platform_.Drives;
    switch (source.Kind) {
    case TSourceKind::Image: {
        if (auto volume = drives.OpenImage(source.Path))
            return volume;
        const std::optional<std::string> path = Platform_.Dialogs.OpenFileDialog(OpenDlg_Image);
        if (!path)
            return nullptr;
        auto volume = drives.OpenImage(*path);
        if (!volume)
            MessageBox(Ansi("Невозможно получить информацию о диске в образе ") +
                           FileNameForMessage(*path),
                       ApplicationTitle, TMessageKind::Error);
        return volume;
    }
    case TSourceKind::Folder: {
        // A mount point left empty by a disk that is not plugged in opens as an empty folder;
        // the identity question catches that where the file system tells itself apart.
        if (auto volume = drives.OpenFolder(source.Path))
            return volume;
        const std::optional<std::string> path = Platform_.Dialogs.FolderDialog(OpenDlg_Folder);
        if (!path)
            return nullptr;
        auto volume = drives.OpenFolder(*path);
        if (!volume)
            MessageBox(Ansi("Невозможно прочитать папку ") + FileNameForMessage(*path),
                       ApplicationTitle, TMessageKind::Error);
        return volume;
    }
    case TSourceKind::Drive:
    case TSourceKind::Unknown:
        break;
    }
    // A disc from a drive is looked for in the drive it was read in; one whose drive is not known
    // (added before discs remembered their source) in the default drive, as "Добавить..." reads.
    const QList<QAction*> items = MI_SelectDefDrive->actions();
    std::string driveName;
    if (DefDriveIndex >= 0 && DefDriveIndex < items.size())
        driveName = LiteralCaption(items[DefDriveIndex]);
    if (source.Kind == TSourceKind::Drive)
        for (const QAction* item : items) {
            const std::string caption = LiteralCaption(item);
            if (caption.empty())
                continue;
            if (auto volume = drives.OpenVolume(caption[0]);
                volume && volume->Facts().Source.Path == source.Path)
                return volume;
        }
    if (!driveName.empty())
        if (auto volume = drives.OpenVolume(driveName[0]))
            return volume;
    MessageBox(Ansi("Невозможно получить информацию о диске в дисководе ") + driveName,
               ApplicationTitle, TMessageKind::Error);
    return nullptr;
}

void TForm_Main::UpdateDisc(uint32_t disc, IVolume& volume)
{
    const std::string title = Collection().GetNode(disc).Name.str();
    // The new scan goes into a collection of its own: nothing changes until it is applied.
    TFendrel scan(&Progress_);
    std::vector<TFileToRead> files;
    const bool checksums = ChecksumsOnAdd();
    scan.ScanDisc(title, volume, checksums ? &files : nullptr);
    const uint32_t scanned = scan.Discs.back();
    if (checksums) {
        TAddedDiscs read;
        if (!ReadChecksums(title, volume, scan, files, read))
            return;
    }
    ApplyUpdate(disc, scan, scanned, checksums);
}

void TForm_Main::ApplyUpdate(uint32_t disc, TFendrel& scan, uint32_t scanned, bool checksumsRead)
{
    const std::string title = Collection().GetNode(disc).Name.str();
    const TDiscTreeDiff diff =
        CompareDiscTrees(Collection(), Collection().GetNode(disc), scan, scan.GetNode(scanned));
    if (diff.Empty()) {
        MessageBox(Ansi("Диск ") + Quoted(title) + Ansi(" не изменился"), ApplicationTitle,
                   TMessageKind::Information);
    } else if (!ReviewChanges(title, diff)) {
        return;
    }

    // Checksums just read are recorded even when the tree is as it was: the tree is replaced by
    // its copy that carries them. Without them, the files the update leaves as they were keep
    // the checksums they had.
    if (!checksumsRead)
        CarryChecksums(Collection(), disc, scan, scanned);
    const bool replace = !diff.Empty() || checksumsRead;
    const TCollectionChange change = TCollectionChange::DiscUpdated(Collection(), disc, replace);
    if (replace)
        ReplaceDiscTree(Collection(), disc, scan, scanned);
    TDiscRecord& record = Collection().DiscRecords[disc];
    record.Facts = scan.DiscRecords[scanned].Facts;
    record.Updated = Platform_.Clock.FileTimeNow();

    // The disc is selected before the save, which keeps the selection: the folder selected
    // before may be gone with the old tree.
    FillTree(Collection(), *TreeView_Main, DisplayPath(CollectionFile));
    if (const int item = FindTreeItem(*TreeView_Main, disc); item >= 0)
        SelectTreeItem(*TreeView_Main, item);
    SaveCollectionFile(change);
}

uint32_t TForm_Main::DiscOfMedium(const TVolumeFacts& facts) const
{
    for (const uint32_t disc : Collection_->Discs)
        if (const auto record = Collection_->DiscRecords.find(disc);
            record != Collection_->DiscRecords.end() && SameMedium(record->second.Facts, facts))
            return disc;
    return 0;
}
