#include "app/uMain.h"

#include "browse/CollectionTree.h"
#include "collection/DiscRecord.h"
#include "discs/Drives.h"
#include "find/FindWindow.h"
#include "media/MediaBar.h"
#include "platform/AnsiText.h"
#include "platform/HelpViewer.h"
#include "platform/QtText.h"

#include <QMessageBox>
#include <QMetaMethod>
#include <QPushButton>
#include <QSplitter>
#include <QTreeView>
#include <QVBoxLayout>

#include <algorithm>
#include <filesystem>

namespace {

QString Text(const char* utf8)
{
    return QString::fromUtf8(utf8);
}

std::string JoinPath(std::string folder, std::string_view name)
{
    if (name.empty())
        return folder;
    if (folder.empty() || folder.back() != '/')
        folder += '/';
    folder += name;
    return folder;
}

// What a disc or an image tells of itself, read once for all the records it is compared with.
std::vector<TVolumeFacts> ReadMedium(const TMedium& medium, IDrives& drives)
{
    std::vector<TVolumeFacts> facts;
    if (!medium.ImageFile.empty()) {
        if (const std::unique_ptr<IVolume> volume = drives.OpenImage(medium.ImageFile))
            facts.push_back(volume->Facts());
    }
    if (medium.Kind == TMediumKind::Disc) {
        if (const std::optional<char> letter = drives.LetterOfDevice(medium.Device)) {
            if (const std::unique_ptr<IVolume> volume = drives.OpenVolume(*letter))
                facts.push_back(volume->Facts());
        }
    }
    return facts;
}

// Whether the medium holds the recorded disc, by what the medium tells of itself: a mounted file
// system by its UUID, as a scan at the record's folder on it would tell it (a folder disc below
// the mount point is on the medium too); a disc or an image by what it says itself (read).
bool Holds(const TMedium& medium, const std::vector<TVolumeFacts>& read, const TDiscRecord& record)
{
    if (!medium.MountPoint.empty() && !medium.Uuid.empty()) {
        TVolumeFacts mounted;
        mounted.Source.Kind = TSourceKind::Folder;
        mounted.Source.MountPoint = medium.MountPoint;
        mounted.Source.Path = JoinPath(medium.MountPoint, PathBelowMount(record.Facts.Source));
        mounted.Source.FsType = medium.FsType;
        mounted.Identity.Label = medium.Label;
        mounted.Identity.FileSystem = medium.FsType;
        mounted.Identity.Uuid = medium.Uuid;
        if (SameMedium(record.Facts, mounted))
            return true;
    }
    return std::any_of(read.begin(), read.end(),
                       [&](const TVolumeFacts& facts) { return SameMedium(record.Facts, facts); });
}

} // namespace

void TForm_Main::WatchMedia(IMediaWatcher& watcher)
{
    Media_ = &watcher;
    if (!MediaBars) {
        // The bars go above the list, in the splitter's right pane.
        auto* pane = new QWidget;
        auto* layout = new QVBoxLayout(pane);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(0);
        MediaBars = new TMediaBars(pane);
        layout->addWidget(MediaBars);
        Splitter1->replaceWidget(Splitter1->indexOf(ListView_Main), pane); // takes the pane
        layout->addWidget(ListView_Main, 1);
        ListView_Main->show();
    }
    const auto guarded = [this](auto handler) {
        return [this, handler](const auto& what) {
            RunGuarded([&] { (this->*handler)(what); });
        };
    };
    connect(&watcher, &IMediaWatcher::MediumArrived, this, guarded(&TForm_Main::MediumArrived));
    connect(&watcher, &IMediaWatcher::MediumChanged, this, guarded(&TForm_Main::MediumChanged));
    connect(&watcher, &IMediaWatcher::MediumLeft, this, guarded(&TForm_Main::MediumLeft));
    connect(&watcher, &IMediaWatcher::DrivePlugged, this, guarded(&TForm_Main::DrivePlugged));
    connect(&watcher, &IMediaWatcher::DriveUnplugged, this, guarded(&TForm_Main::DriveUnplugged));
    // The drives the watcher knew before the window did.
    for (const std::string& device : watcher.Drives())
        DrivePlugged(device);
}

uint32_t TForm_Main::DiscOfMedium(const TMedium& medium)
{
    const std::vector<TVolumeFacts> read = ReadMedium(medium, Platform_.Drives);
    for (const uint32_t disc : Collection().Discs) {
        const auto record = Collection().DiscRecords.find(disc);
        if (record != Collection().DiscRecords.end() && Holds(medium, read, record->second))
            return disc;
    }
    return 0;
}

void TForm_Main::OpenAwaitedFolder(uint32_t disc)
{
    if (disc == 0 || disc != AwaitedDisc_)
        return;
    if (const std::optional<std::string> root = PresentRootOf(disc)) {
        const uint32_t node = AwaitedNode_;
        if (InsertDiscBox)
            InsertDiscBox->done(QMessageBox::Ok);
        OpenFolderOf(node, *root);
    }
}

void TForm_Main::MediumArrived(const TMedium& medium)
{
    const uint32_t disc = DiscOfMedium(medium);
    OpenAwaitedFolder(disc);

    const std::optional<char> letter = medium.Kind == TMediumKind::Disc
                                           ? Platform_.Drives.LetterOfDevice(medium.Device)
                                           : std::nullopt;
    if (disc == 0) {
        auto* bar = new TMediaBar(
            Text("Новый носитель «") + QString::fromStdString(medium.Label) + Text("»"), MediaBars);
        connect(
            bar->AddButton(Text("Добавить")), &QPushButton::clicked, this, [this, medium, letter] {
                RunGuarded([&] {
                    const size_t before = Collection().Discs.size();
                    // As "Добавить диск" does for the disc's own drive, or "Добавить папку..."
                    // for the mount point: the title is asked for first.
                    if (medium.Kind == TMediumKind::Disc && letter) {
                        const char drive = *letter;
                        AddScannedDisc([this, drive] { return Platform_.Drives.OpenVolume(drive); },
                                       Ansi("Невозможно получить информацию о диске в дисководе ") +
                                           std::string{drive, ':'});
                    } else {
                        const std::string path = medium.MountPoint;
                        AddScannedDisc([this, path] { return Platform_.Drives.OpenFolder(path); },
                                       Ansi("Невозможно прочитать папку ") +
                                           FileNameForMessage(path));
                    }
                    if (Collection().Discs.size() != before)
                        MediaBars->Remove(medium.Key);
                });
            });
        MediaBars->Show(medium.Key, bar);
        return;
    }

    if (const int item = FindTreeItem(*TreeView_Main, disc); item >= 0)
        SelectTreeItem(*TreeView_Main, item);
    const QString title = Display(Collection().GetNode(disc).Name.view());
    const QString text =
        letter ? Text("В дисководе ") + QChar(*letter) + Text(": диск «") + title + Text("»")
               : Text("Подключен носитель «") + title + Text("»");
    auto* bar = new TMediaBar(text, MediaBars);
    QPushButton* open = bar->AddButton(Text("Открыть"));
    open->setObjectName("MediaBar_Open");
    open->setEnabled(!medium.MountPoint.empty());
    connect(open, &QPushButton::clicked, this, [this, key = medium.Key] {
        for (const TMedium& present : Media_->Media()) {
            if (present.Key == key && !present.MountPoint.empty())
                (void)Platform_.Help.OpenFolder(present.MountPoint);
        }
    });
    // Shown once a command takes it up.
    if (isSignalConnected(QMetaMethod::fromSignal(&TForm_Main::UpdateDiscRequested))) {
        connect(bar->AddButton(Text("Обновить")), &QPushButton::clicked, this,
                [this, key = medium.Key] {
                    // The disc as the collection has it now, which may have been reloaded.
                    for (const TMedium& present : Media_->Media()) {
                        if (present.Key != key)
                            continue;
                        if (const uint32_t disc = DiscOfMedium(present))
                            emit UpdateDiscRequested(disc, present);
                    }
                });
    }
    MediaBars->Show(medium.Key, bar);
}

void TForm_Main::MediumChanged(const TMedium& medium)
{
    // A disc mounted after it came can now be opened.
    if (TMediaBar* bar = MediaBars ? MediaBars->Bar(medium.Key) : nullptr) {
        if (auto* open = bar->findChild<QPushButton*>("MediaBar_Open"))
            open->setEnabled(!medium.MountPoint.empty());
    }
    if (AwaitedDisc_ != 0)
        OpenAwaitedFolder(DiscOfMedium(medium));
}

void TForm_Main::MediumLeft(const TMedium& medium)
{
    if (MediaBars)
        MediaBars->Remove(medium.Key);
}

void TForm_Main::DrivePlugged(const std::string& device)
{
    if (Platform_.Drives.LetterOfDevice(device))
        return;
    if (Platform_.Drives.PlugDevice(device))
        DrivesChanged();
}

void TForm_Main::DriveUnplugged(const std::string& device)
{
    if (Platform_.Drives.UnplugDevice(device))
        DrivesChanged();
}

std::optional<std::string> TForm_Main::PresentRootOf(uint32_t disc)
{
    if (!Media_)
        return std::nullopt;
    const auto record = Collection().DiscRecords.find(disc);
    if (record == Collection().DiscRecords.end())
        return std::nullopt;
    for (const TMedium& medium : Media_->Media()) {
        if (medium.MountPoint.empty())
            continue;
        if (Holds(medium, ReadMedium(medium, Platform_.Drives), record->second)) {
            // A disc read from the drive was read from its root; a folder from its place below
            // the mount point.
            const bool folder = record->second.Facts.Source.Kind == TSourceKind::Folder;
            return JoinPath(medium.MountPoint,
                            folder ? PathBelowMount(record->second.Facts.Source) : "");
        }
    }
    return std::nullopt;
}

void TForm_Main::OpenFolderOf(uint32_t id, const std::string& root)
{
    AwaitedDisc_ = 0;
    AwaitedNode_ = 0;
    std::vector<std::string> names;
    for (uint32_t at = id; at != 0;) {
        const TCollectionNode& node = Collection().GetNode(at);
        if (node.ParentId == 0)
            break;
        if (node.Is(nfFolder))
            names.push_back(AnsiToUtf8(node.Name.view()));
        at = node.ParentId;
    }
    // The deepest folder that is there: a name the collection had to shorten or change leads to
    // the folder above it.
    std::string path = root;
    for (auto name = names.rbegin(); name != names.rend(); ++name) {
        std::error_code error;
        const std::string deeper = JoinPath(path, *name);
        if (!std::filesystem::is_directory(deeper, error))
            break;
        path = deeper;
    }
    (void)Platform_.Help.OpenFolder(path);
}

void TForm_Main::OpenFoundFolder(uint32_t id)
{
    if (id == 0 || id > Collection().LastId)
        return;
    uint32_t disc = id;
    while (Collection().GetNode(disc).ParentId != 0)
        disc = Collection().GetNode(disc).ParentId;
    if (const std::optional<std::string> root = PresentRootOf(disc)) {
        OpenFolderOf(id, *root);
        return;
    }
    if (InsertDiscBox)
        InsertDiscBox->done(QMessageBox::Cancel);
    AwaitedDisc_ = disc;
    AwaitedNode_ = id;
    QWidget* owner =
        FindWindow && FindWindow->isVisible() ? static_cast<QWidget*>(FindWindow) : this;
    InsertDiscBox = new QMessageBox(QMessageBox::Information, Display(ApplicationTitle),
                                    Text("Вставьте диск «") +
                                        Display(Collection().GetNode(disc).Name.view()) + Text("»"),
                                    QMessageBox::NoButton, owner);
    InsertDiscBox->setObjectName("InsertDiscBox");
    InsertDiscBox->addButton(Text("Отмена"), QMessageBox::RejectRole);
    QMessageBox* box = InsertDiscBox;
    // Ids of another collection name other nodes.
    connect(this, &TForm_Main::CollectionReplaced, box, [box] { box->done(QMessageBox::Cancel); });
    connect(box, &QMessageBox::finished, this, [this, box](int result) {
        if (InsertDiscBox == box)
            InsertDiscBox = nullptr;
        if (result != QMessageBox::Ok) {
            AwaitedDisc_ = 0;
            AwaitedNode_ = 0;
        }
        box->deleteLater();
    });
    box->open();
}

void TForm_Main::OfferUpdatesOfMedia()
{
    connect(this, &TForm_Main::UpdateDiscRequested, this,
            [this](uint32_t disc, const TMedium& medium) {
                RunGuarded([&] { UpdateDiscFromMedium(disc, medium); });
            });
}

void TForm_Main::UpdateDiscFromMedium(uint32_t disc, const TMedium& medium)
{
    // The medium as it is here now: an image by its file, a disc from its own drive, a file
    // system at its mount point with the disc's folder below it.
    IDrives& drives = Platform_.Drives;
    std::unique_ptr<IVolume> volume;
    if (!medium.ImageFile.empty()) {
        volume = drives.OpenImage(medium.ImageFile);
    } else if (medium.Kind == TMediumKind::Disc) {
        if (const std::optional<char> letter = drives.LetterOfDevice(medium.Device))
            volume = drives.OpenVolume(*letter);
    } else if (!medium.MountPoint.empty()) {
        const auto record = Collection().DiscRecords.find(disc);
        const std::string_view below = record == Collection().DiscRecords.end()
                                           ? std::string_view()
                                           : PathBelowMount(record->second.Facts.Source);
        volume = drives.OpenFolder(JoinPath(medium.MountPoint, below));
    }
    if (!volume)
        volume = OpenRecordedSource(disc);
    if (volume)
        UpdateDisc(disc, *volume);
}
