#include "media/MediaCommands.h"

#include "acquisition/DiscAdder.h"
#include "acquisition/UpdateDisc.h"
#include "app/Platform.h"
#include "app/WindowHost.h"
#include "collection/DiscRecord.h"
#include "collection/Fendrel.h"
#include "discs/Drives.h"
#include "discs/Media.h"
#include "media/MediaBar.h"
#include "platform/AnsiText.h"
#include "platform/HelpViewer.h"
#include "platform/QtText.h"

#include <QMessageBox>
#include <QMetaMethod>
#include <QPushButton>

#include <algorithm>
#include <filesystem>

namespace {

QString Text(const char* utf8)
{
    return QString::fromUtf8(utf8);
}

} // namespace

TMediaCommands::TMediaCommands(IWindowHost& host, TDiscAdder& adder, TDiscUpdater& updater)
    : Host_(host)
    , Adder_(adder)
    , Updater_(updater)
{
}

void TMediaCommands::Watch(IMediaWatcher& watcher)
{
    Media_ = &watcher;
    if (!MediaBars) {
        MediaBars = new TMediaBars(nullptr);
        Host_.PlaceAboveList(MediaBars);
    }
    const auto guarded = [this](auto handler) {
        return [this, handler](const auto& what) {
            Host_.RunGuarded([&] { (this->*handler)(what); });
        };
    };
    connect(&watcher, &IMediaWatcher::MediumArrived, this, guarded(&TMediaCommands::MediumArrived));
    connect(&watcher, &IMediaWatcher::MediumChanged, this, guarded(&TMediaCommands::MediumChanged));
    connect(&watcher, &IMediaWatcher::MediumLeft, this, guarded(&TMediaCommands::MediumLeft));
    connect(&watcher, &IMediaWatcher::DrivePlugged, this, guarded(&TMediaCommands::DrivePlugged));
    connect(&watcher, &IMediaWatcher::DriveUnplugged, this,
            guarded(&TMediaCommands::DriveUnplugged));
    // The drives the watcher knew before the window did.
    for (const std::string& device : watcher.Drives())
        DrivePlugged(device);
}

uint32_t TMediaCommands::DiscOfMedium(const TMedium& medium)
{
    const std::vector<TVolumeFacts> read = ReadMedium(medium, Host_.Platform().Drives);
    const TFendrel& collection = Host_.Collection();
    for (const uint32_t disc : collection.Discs) {
        const auto record = collection.DiscRecords.find(disc);
        if (record != collection.DiscRecords.end() && Holds(medium, read, record->second))
            return disc;
    }
    return 0;
}

void TMediaCommands::OpenAwaitedFolder(uint32_t disc)
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

void TMediaCommands::MediumArrived(const TMedium& medium)
{
    const uint32_t disc = DiscOfMedium(medium);
    OpenAwaitedFolder(disc);

    const std::optional<char> letter = medium.Kind == TMediumKind::Disc
                                           ? Host_.Platform().Drives.LetterOfDevice(medium.Device)
                                           : std::nullopt;
    if (disc == 0) {
        auto* bar = new TMediaBar(
            Text("Новый носитель «") + QString::fromStdString(medium.Label) + Text("»"), MediaBars);
        connect(bar->AddButton(Text("Добавить")), &QPushButton::clicked, this,
                [this, medium, letter] {
                    Host_.RunGuarded([&] {
                        const size_t before = Host_.Collection().Discs.size();
                        // As "Добавить диск" does for the disc's own drive, or "Добавить папку..."
                        // for the mount point: the title is asked for first.
                        if (medium.Kind == TMediumKind::Disc && letter) {
                            const char drive = *letter;
                            Adder_.AddScanned(
                                [this, drive] { return Host_.Platform().Drives.OpenVolume(drive); },
                                Ansi("Невозможно получить информацию о диске в дисководе ") +
                                    std::string{drive, ':'});
                        } else {
                            const std::string path = medium.MountPoint;
                            Adder_.AddScanned(
                                [this, path] { return Host_.Platform().Drives.OpenFolder(path); },
                                Ansi("Невозможно прочитать папку ") + FileNameForMessage(path));
                        }
                        if (Host_.Collection().Discs.size() != before)
                            MediaBars->Remove(medium.Key);
                    });
                });
        MediaBars->Show(medium.Key, bar);
        return;
    }

    Host_.SelectDisc(disc);
    const QString title = Display(Host_.Collection().GetNode(disc).Name.view());
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
                (void)Host_.Platform().Help.OpenFolder(present.MountPoint);
        }
    });
    // Shown once a command takes it up.
    if (isSignalConnected(QMetaMethod::fromSignal(&TMediaCommands::UpdateDiscRequested))) {
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

void TMediaCommands::MediumChanged(const TMedium& medium)
{
    // A disc mounted after it came can now be opened.
    if (TMediaBar* bar = MediaBars ? MediaBars->Bar(medium.Key) : nullptr) {
        if (auto* open = bar->findChild<QPushButton*>("MediaBar_Open"))
            open->setEnabled(!medium.MountPoint.empty());
    }
    if (AwaitedDisc_ != 0)
        OpenAwaitedFolder(DiscOfMedium(medium));
}

void TMediaCommands::MediumLeft(const TMedium& medium)
{
    if (MediaBars)
        MediaBars->Remove(medium.Key);
}

void TMediaCommands::DrivePlugged(const std::string& device)
{
    IDrives& drives = Host_.Platform().Drives;
    if (drives.LetterOfDevice(device))
        return;
    if (drives.PlugDevice(device))
        Host_.DrivesChanged();
}

void TMediaCommands::DriveUnplugged(const std::string& device)
{
    if (Host_.Platform().Drives.UnplugDevice(device))
        Host_.DrivesChanged();
}

std::optional<std::string> TMediaCommands::PresentRootOf(uint32_t disc)
{
    if (!Media_)
        return std::nullopt;
    const TFendrel& collection = Host_.Collection();
    const auto record = collection.DiscRecords.find(disc);
    if (record == collection.DiscRecords.end())
        return std::nullopt;
    for (const TMedium& medium : Media_->Media()) {
        if (medium.MountPoint.empty())
            continue;
        if (Holds(medium, ReadMedium(medium, Host_.Platform().Drives), record->second)) {
            return RootOnMedium(medium, record->second);
        }
    }
    return std::nullopt;
}

void TMediaCommands::OpenFolderOf(uint32_t id, const std::string& root)
{
    AwaitedDisc_ = 0;
    AwaitedNode_ = 0;
    std::vector<std::string> names;
    for (uint32_t at = id; at != 0;) {
        const TCollectionNode& node = Host_.Collection().GetNode(at);
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
    (void)Host_.Platform().Help.OpenFolder(path);
}

void TMediaCommands::OpenFoundFolder(uint32_t id, QWidget* owner)
{
    const TFendrel& collection = Host_.Collection();
    if (id == 0 || id > collection.LastId)
        return;
    uint32_t disc = id;
    while (collection.GetNode(disc).ParentId != 0)
        disc = collection.GetNode(disc).ParentId;
    if (const std::optional<std::string> root = PresentRootOf(disc)) {
        OpenFolderOf(id, *root);
        return;
    }
    if (InsertDiscBox)
        InsertDiscBox->done(QMessageBox::Cancel);
    AwaitedDisc_ = disc;
    AwaitedNode_ = id;
    InsertDiscBox = new QMessageBox(QMessageBox::Information, Display(Host_.Title()),
                                    Text("Вставьте диск «") +
                                        Display(collection.GetNode(disc).Name.view()) + Text("»"),
                                    QMessageBox::NoButton, owner);
    InsertDiscBox->setObjectName("InsertDiscBox");
    InsertDiscBox->addButton(Text("Отмена"), QMessageBox::RejectRole);
    QMessageBox* box = InsertDiscBox;
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

void TMediaCommands::CollectionReplaced()
{
    if (InsertDiscBox)
        InsertDiscBox->done(QMessageBox::Cancel);
}

void TMediaCommands::OfferUpdates()
{
    connect(this, &TMediaCommands::UpdateDiscRequested, this,
            [this](uint32_t disc, const TMedium& medium) {
                Host_.RunGuarded([&] { UpdateFromMedium(disc, medium); });
            });
}

void TMediaCommands::UpdateFromMedium(uint32_t disc, const TMedium& medium)
{
    // The medium as it is here now: an image by its file, a disc from its own drive, a file
    // system at its mount point with the disc's folder below it.
    IDrives& drives = Host_.Platform().Drives;
    std::unique_ptr<IVolume> volume;
    if (!medium.ImageFile.empty()) {
        volume = drives.OpenImage(medium.ImageFile);
    } else if (medium.Kind == TMediumKind::Disc) {
        if (const std::optional<char> letter = drives.LetterOfDevice(medium.Device))
            volume = drives.OpenVolume(*letter);
    } else if (!medium.MountPoint.empty()) {
        const TFendrel& collection = Host_.Collection();
        const auto record = collection.DiscRecords.find(disc);
        const std::string_view below = record == collection.DiscRecords.end()
                                           ? std::string_view()
                                           : PathBelowMount(record->second.Facts.Source);
        volume = drives.OpenFolder(JoinPath(medium.MountPoint, below));
    }
    if (!volume)
        volume = Updater_.OpenRecordedSource(disc);
    if (volume)
        Updater_.Update(disc, *volume);
}
