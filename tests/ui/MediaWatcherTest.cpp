#include "BrowseFixture.h"

#include "support/DiscTrees.h"
#include "support/FakeUDisks2.h"

#include "find/FindResultsModel.h"
#include "find/FindWindow.h"
#include "media/MediaBar.h"
#include "media/MediaCommands.h"
#include "media/UDisks2Watcher.h"

#include <QAction>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QToolButton>
#include <gmock/gmock.h>

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

const QString kFilesystem = "org.freedesktop.UDisks2.Filesystem";

// A volume that tells the identity the test gives it, for a disc in a drive.
class TIdentifiedVolume final : public IVolume {
public:
    TIdentifiedVolume(std::unique_ptr<IVolume> volume, TMediumIdentity identity)
        : Volume_(std::move(volume))
        , Identity_(std::move(identity))
    {
    }
    [[nodiscard]] std::string Label() const override { return Volume_->Label(); }
    [[nodiscard]] TVolumeFacts Facts() const override
    {
        TVolumeFacts facts = Volume_->Facts();
        facts.Identity = Identity_;
        return facts;
    }
    [[nodiscard]] std::unique_ptr<IFolderListing> OpenFolder(const std::string& path) override
    {
        return Volume_->OpenFolder(path);
    }

private:
    std::unique_ptr<IVolume> Volume_;
    TMediumIdentity Identity_;
};

// The fixture's drive table, with the disc in every drive telling DiscIdentity.
class TIdentifiedDrives final : public IDrives {
public:
    explicit TIdentifiedDrives(TDriveTable& drives)
        : Drives_(drives)
    {
    }
    TMediumIdentity DiscIdentity;
    // The image file that tells ImageIdentity; other images are opened as they are.
    std::string ImagePath;
    TMediumIdentity ImageIdentity;

    [[nodiscard]] std::vector<char> DriveLetters() const override { return Drives_.DriveLetters(); }
    [[nodiscard]] std::unique_ptr<IVolume> OpenVolume(char letter) override
    {
        std::unique_ptr<IVolume> volume = Drives_.OpenVolume(letter);
        if (!volume)
            return nullptr;
        return std::make_unique<TIdentifiedVolume>(std::move(volume), DiscIdentity);
    }
    [[nodiscard]] std::unique_ptr<IVolume> OpenImage(const std::string& path) override
    {
        if (path == ImagePath)
            return std::make_unique<TIdentifiedVolume>(std::make_unique<TUnreadableVolume>(),
                                                       ImageIdentity);
        return Drives_.OpenImage(path);
    }
    [[nodiscard]] std::unique_ptr<IVolume> OpenFolder(const std::string& path) override
    {
        return Drives_.OpenFolder(path);
    }
    [[nodiscard]] std::optional<char> LetterOfDevice(const std::string& device) const override
    {
        return Drives_.LetterOfDevice(device);
    }
    std::optional<char> PlugDevice(const std::string& device) override
    {
        return Drives_.PlugDevice(device);
    }
    std::optional<char> UnplugDevice(const std::string& device) override
    {
        return Drives_.UnplugDevice(device);
    }

private:
    TDriveTable& Drives_;
};

TMediumIdentity DiscId(const std::string& volumeSet)
{
    TMediumIdentity identity;
    identity.VolumeSetId = volumeSet;
    identity.CreationTime = 0x01D5000000000000ULL;
    identity.VolumeBlocks = 1000;
    return identity;
}

// The real window and the real watcher, with a stand-in UDisks2 on a bus of the test's own. An
// optical drive E: (/dev/sr0, a folder standing for its disc) is there from the start.
class Media : public TBrowseFixture {
protected:
    void SetUp() override
    {
        if (Bus.Address().isEmpty())
            GTEST_SKIP() << "dbus-daemon could not be started";
        Fake = std::make_unique<TFakeUDisks2>(Bus.Connect());
        ASSERT_TRUE(Fake->Registered());
        Fake->AddDrive("DVD", true, true);
        Fake->AddBlock("sr0", "DVD");
        MakeTree(DiscFolder,
                 {FolderEntry("Docs", 1600000000), FileEntry("Docs/readme.txt", 1600000000, 5)});
        MakeTree(Stick, {FolderEntry("DCIM", 1600000000),
                         FileEntry("DCIM/IMG_0001.JPG", 1600000000, 4096)});
        Drives.Add('E', {TDriveSource::TKind::Folder, DiscFolder, "NEWDISC", "/dev/sr0"});
        Window = std::make_unique<TForm_Main>(
            TPlatform{Dialogs, Settings, Clock, CollectionFiles, Help, Identified});
        Window->CollectionFile = PathOf("discs.frl");
    }
    void TearDown() override { Window.reset(); }

    // Starts watching; returns when the service has answered.
    void Watch(bool answers = true)
    {
        Watcher = std::make_unique<TUDisks2Watcher>(Bus.Connect());
        Window->Media->Watch(*Watcher);
        if (answers) {
            ASSERT_TRUE(ProcessEventsUntil([this] { return Watcher->Answered(); }));
        }
    }
    // A collection disc with the record the medium is recognised by.
    uint32_t KnownDisc(const std::string& title, const TVolumeFacts& facts)
    {
        const uint32_t disc = Disc(title);
        C().DiscRecords[disc].Facts = facts;
        return disc;
    }
    [[nodiscard]] static TVolumeFacts StickFacts(const std::string& mount)
    {
        TVolumeFacts facts;
        facts.Source.Kind = TSourceKind::Folder;
        facts.Source.Path = mount;
        facts.Source.MountPoint = mount;
        facts.Identity.Uuid = "1234-ABCD";
        return facts;
    }
    // A USB stick's drive and file system (not mounted).
    void PlugStick(const QString& name, const QVariantMap& more = {}, bool removable = true)
    {
        Fake->AddDrive(name, false, removable);
        QVariantMap block{{"IdUsage", "filesystem"},
                          {"IdType", "vfat"},
                          {"IdLabel", "STICK"},
                          {"IdUUID", "1234-ABCD"}};
        for (auto it = more.cbegin(); it != more.cend(); ++it)
            block[it.key()] = it.value();
        Fake->AddBlock(name + "1", name, block);
        Fake->Add(TFakeUDisks2::BlockPath(name + "1"), kFilesystem,
                  {{"MountPoints", QVariant::fromValue(QList<QByteArray>{})}});
    }
    // Each bar's text.
    [[nodiscard]] std::vector<std::string> Bars() const
    {
        std::vector<std::string> bars;
        for (const TMediaBar* bar : Window->Media->MediaBars->findChildren<TMediaBar*>()) {
            if (!bar->isHidden())
                bars.push_back(bar->Label_Text->text().toStdString());
        }
        return bars;
    }
    [[nodiscard]] TMediaBar* OnlyBar() const
    {
        TMediaBar* shown = nullptr;
        for (TMediaBar* bar : Window->Media->MediaBars->findChildren<TMediaBar*>()) {
            if (!bar->isHidden())
                shown = bar;
        }
        return shown;
    }
    [[nodiscard]] static QPushButton* Button(TMediaBar* bar, const char* caption)
    {
        for (QPushButton* button : bar->findChildren<QPushButton*>()) {
            if (button->text() == QString::fromUtf8(caption))
                return button;
        }
        return nullptr;
    }
    bool WaitForBars(size_t count)
    {
        return ProcessEventsUntil([&] { return Bars().size() == count; });
    }
    // Lets whatever the bus still carries arrive, for a check that something did not happen.
    static void Settle()
    {
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < 300)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }

    TPrivateBus Bus;
    std::unique_ptr<TFakeUDisks2> Fake;
    std::unique_ptr<TUDisks2Watcher> Watcher;
    TIdentifiedDrives Identified{Drives};
    TScratchFolder Scratch;
    std::string DiscFolder = Scratch / "disc";
    std::string Stick = Scratch / "media/STICK";
};

TEST_F(Media, KnownDiscInsertedIsSelectedAndItsBarOpensItOnceMounted)
{
    Disc("Docs disc");
    TVolumeFacts facts;
    facts.Source.Kind = TSourceKind::Drive;
    facts.Source.Path = "/dev/sr0";
    facts.Identity = DiscId("PHOTOS_2005");
    const uint32_t photos = KnownDisc("Фото 2005", facts);
    Fill();
    Identified.DiscIdentity = DiscId("PHOTOS_2005");
    std::vector<uint32_t> updates;
    QObject::connect(Window->Media.get(), &TMediaCommands::UpdateDiscRequested,
                     [&](uint32_t disc, const TMedium&) { updates.push_back(disc); });
    Watch();
    EXPECT_THAT(Bars(), IsEmpty());
    EXPECT_TRUE(Window->Media->MediaBars->isHidden());

    Fake->InsertDisc("sr0", "DVD", "PHOTOS", "2005-01-01-00-00-00-00");
    ASSERT_TRUE(WaitForBars(1));
    EXPECT_THAT(Bars(), ElementsAre("В дисководе E: диск «Фото 2005»"));
    EXPECT_EQ(SelectedData(), photos);
    TMediaBar* bar = OnlyBar();
    QPushButton* open = Button(bar, "Открыть");
    ASSERT_NE(open, nullptr);
    EXPECT_FALSE(open->isEnabled()); // not mounted: read from the drive, nothing to show

    Fake->Mount("sr0", QString::fromStdString(DiscFolder));
    ASSERT_TRUE(ProcessEventsUntil([&] { return open->isEnabled(); }));
    open->click();
    EXPECT_THAT(Help.OpenedFolders, ElementsAre(DiscFolder));
    Button(bar, "Обновить")->click();
    EXPECT_THAT(updates, ElementsAre(photos));
    EXPECT_TRUE(Dialogs.Messages.empty());

    Fake->Mount("sr0", "");
    Fake->Eject("sr0", "DVD");
    ASSERT_TRUE(WaitForBars(0));
    EXPECT_TRUE(Window->Media->MediaBars->isHidden());
}

TEST_F(Media, UnknownDiscOffersToAddItFromItsDriveWithTheTitleAskedFirst)
{
    Drives.Add('D', {TDriveSource::TKind::Folder, Scratch / "other", {}, "/dev/sr9"});
    Identified.DiscIdentity = DiscId("SOMETHING_ELSE");
    TVolumeFacts other;
    other.Identity = DiscId("PHOTOS_2005");
    KnownDisc("Другой", other);
    Fill();
    Watch();
    Fake->InsertDisc("sr0", "DVD", "NEWDISC", "");
    ASSERT_TRUE(WaitForBars(1));
    EXPECT_THAT(Bars(), ElementsAre("Новый носитель «NEWDISC»"));
    EXPECT_EQ(Button(OnlyBar(), "Открыть"), nullptr);

    // Cancelling the title adds nothing and keeps the bar.
    Button(OnlyBar(), "Добавить")->click();
    ASSERT_EQ(Dialogs.Inputs.size(), 1u);
    EXPECT_EQ(Dialogs.Inputs[0].Initial, " [NEWDISC]");
    EXPECT_EQ(C().Discs.size(), 1u);
    EXPECT_EQ(Bars().size(), 1u);

    // The disc of E: is read, though D: is the default drive.
    Dialogs.InputAnswers.push_back(Ansi("Новый диск"));
    Button(OnlyBar(), "Добавить")->click();
    ASSERT_EQ(C().Discs.size(), 2u);
    EXPECT_EQ(AnsiToUtf8(C().GetNode(C().Discs[1]).Name.view()), "Новый диск");
    EXPECT_THAT(Dialogs.MessageTexts(), ElementsAre("Добавлено элементов: 2"));
    EXPECT_EQ(Window->DefDriveIndex, 0);
    EXPECT_TRUE(ProcessEventsUntil([&] { return Bars().empty(); }));
}

TEST_F(Media, UsbFileSystemsOfRemovableDevicesComeWithTheirMountAndGoWithIt)
{
    const uint32_t stick = KnownDisc("Флешка", StickFacts(Stick));
    Fill();
    Watch();

    // Neither a system disk, nor what UDisks2 says to ignore, nor a fixed disk gets a bar.
    PlugStick("sda", {{"HintSystem", true}});
    Fake->Mount("sda1", "/");
    PlugStick("sdc", {{"HintIgnore", true}});
    Fake->Mount("sdc1", "/boot");
    PlugStick("sdd", {}, false);
    Fake->Mount("sdd1", "/home");
    // A file system that is not mounted is not there yet.
    PlugStick("sdb");
    Settle();
    EXPECT_THAT(Bars(), IsEmpty());

    Fake->Mount("sdb1", QString::fromStdString(Stick));
    ASSERT_TRUE(WaitForBars(1));
    EXPECT_THAT(Bars(), ElementsAre("Подключен носитель «Флешка»"));
    EXPECT_EQ(SelectedData(), stick);
    Button(OnlyBar(), "Открыть")->click();
    EXPECT_THAT(Help.OpenedFolders, ElementsAre(Stick));
    // No update command has been connected: no button for it.
    EXPECT_EQ(Button(OnlyBar(), "Обновить"), nullptr);

    Fake->Mount("sdb1", "");
    ASSERT_TRUE(WaitForBars(0));

    // The bar's close button closes it while the medium stays.
    Fake->Mount("sdb1", QString::fromStdString(Stick));
    ASSERT_TRUE(WaitForBars(1));
    OnlyBar()->Button_Close->click();
    EXPECT_TRUE(ProcessEventsUntil([&] { return Bars().empty(); }));
    EXPECT_TRUE(Dialogs.Messages.empty());
}

TEST_F(Media, UnknownUsbFileSystemIsAddedAsAFolderAtItsMountPoint)
{
    Watch();
    PlugStick("sdb");
    Fake->Mount("sdb1", QString::fromStdString(Stick));
    ASSERT_TRUE(WaitForBars(1));
    EXPECT_THAT(Bars(), ElementsAre("Новый носитель «STICK»"));
    Dialogs.InputAnswers.push_back(Ansi("Флешка"));
    Button(OnlyBar(), "Добавить")->click();
    ASSERT_EQ(Dialogs.Inputs.size(), 1u);
    EXPECT_EQ(AnsiToUtf8(Dialogs.Inputs[0].Caption), "Добавление диска");
    EXPECT_EQ(Dialogs.Inputs[0].Initial, " [STICK]");
    ASSERT_EQ(C().Discs.size(), 1u);
    EXPECT_THAT(Dialogs.MessageTexts(), ElementsAre("Добавлено элементов: 2"));
    EXPECT_TRUE(Dialogs.FolderDialogs.empty());
}

class DriveMenuItems : public Media {
protected:
    [[nodiscard]] std::vector<std::string> Items() const
    {
        std::vector<std::string> items;
        for (const QAction* item : Window->MI_SelectDefDrive->actions()) {
            EXPECT_EQ(item->property("Tag").toInt(), static_cast<int>(items.size()));
            items.push_back(LiteralCaption(item) + (item->isChecked() ? "*" : ""));
        }
        return items;
    }
    bool WaitForItems(size_t count)
    {
        return ProcessEventsUntil([&] { return Items().size() == count; });
    }
};

TEST_F(DriveMenuItems, DrivesPluggedAndRemovedKeepTheMenuAndTheDefaultDrive)
{
    Watch();
    EXPECT_THAT(Items(), ElementsAre("E:*"));

    Fake->AddDrive("USB", true, true);
    Fake->AddBlock("sr1", "USB");
    ASSERT_TRUE(WaitForItems(2));
    // The new drive takes the first free letter; the drive present keeps its letter and its mark.
    EXPECT_THAT(Items(), ElementsAre("D:", "E:*"));
    EXPECT_EQ(Window->DefDriveIndex, 1);
    Window->MI_SelectDefDrive->actions()[0]->trigger();
    EXPECT_THAT(Items(), ElementsAre("D:*", "E:"));

    // A USB disk is no optical drive.
    PlugStick("sdb");
    // The default drive goes: the first one left becomes the default.
    Fake->Remove(TFakeUDisks2::BlockPath("sr1"), {"org.freedesktop.UDisks2.Block"});
    Fake->Remove(TFakeUDisks2::DrivePath("USB"), {"org.freedesktop.UDisks2.Drive"});
    ASSERT_TRUE(WaitForItems(1));
    EXPECT_THAT(Items(), ElementsAre("E:*"));
    EXPECT_EQ(Window->DefDriveIndex, 0);

    // The last one goes: adding discs is off, without a word, until a drive comes back.
    Fake->Remove(TFakeUDisks2::BlockPath("sr0"), {"org.freedesktop.UDisks2.Block"});
    ASSERT_TRUE(WaitForItems(0));
    EXPECT_EQ(Window->DefDriveIndex, -1);
    EXPECT_FALSE(Window->Act_AddDisc->isEnabled());
    Window->Act_AddDisc->trigger();
    EXPECT_TRUE(Dialogs.Inputs.empty());
    Fake->AddBlock("sr0", "DVD");
    ASSERT_TRUE(WaitForItems(1));
    EXPECT_THAT(Items(), ElementsAre("D:*"));
    EXPECT_TRUE(Window->Act_AddDisc->isEnabled());
    EXPECT_TRUE(Dialogs.Messages.empty());
}

TEST(MediaWithoutService, NoBusOrNoUDisks2ShowsNothingAndWaitsForNothing)
{
    TPrivateBus bus;
    if (bus.Address().isEmpty())
        GTEST_SKIP() << "dbus-daemon could not be started";
    QElapsedTimer timer;
    timer.start();
    TUDisks2Watcher nobody(bus.Connect());
    TUDisks2Watcher noBus(QDBusConnection::connectToBus("unix:path=/nonexistent/bus", "no-bus"));
    // A blocking call would wait for D-Bus's timeout of 25 s.
    EXPECT_LT(timer.elapsed(), 2000);
    const QDeadlineTimer deadline(300);
    while (!deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_FALSE(nobody.Answered());
    EXPECT_FALSE(noBus.Answered());
    EXPECT_TRUE(nobody.Media().empty());
    EXPECT_TRUE(nobody.Drives().empty());
    QDBusConnection::disconnectFromBus("no-bus");
}

TEST_F(Media, WindowWithoutServiceKeepsItsDrivesAndShowsNoBar)
{
    Fake.reset();
    Watch(false);
    Settle();
    EXPECT_FALSE(Watcher->Answered());
    EXPECT_THAT(Bars(), IsEmpty());
    ASSERT_EQ(Window->MI_SelectDefDrive->actions().size(), 1);
    EXPECT_TRUE(Window->Act_AddDisc->isEnabled());
    EXPECT_TRUE(Dialogs.Messages.empty());
}

// "Открыть папку" of the find window, for a hit on a stick.
class OpenFolder : public Media {
protected:
    void SetUp() override
    {
        Media::SetUp();
        if (IsSkipped())
            return;
        const uint32_t stick = KnownDisc("Флешка", StickFacts(Stick));
        File(Folder(stick, "DCIM"), "IMG_0001.JPG", 4096);
        Fill();
        Watch();
        Window->Act_Find->trigger();
        W = Window->FindWindow;
        W->Edit_Pattern->setText("IMG_0001");
        W->Button_Find->click();
        ASSERT_TRUE(
            ProcessEventsUntil([this] { return !W->Searching() && W->Results->rowCount() == 1; }));
        EXPECT_FALSE(W->Button_OpenFolder->isEnabled());
        W->ListView_Found->setCurrentIndex(W->Results->index(0, 0));
        EXPECT_TRUE(W->Button_OpenFolder->isEnabled());
    }
    void MountStick()
    {
        PlugStick("sdb");
        Fake->Mount("sdb1", QString::fromStdString(Stick));
    }
    TFindWindow* W = nullptr;
};

TEST_F(OpenFolder, PresentDiscOpensTheHitsFolderUnderTheMount)
{
    MountStick();
    ASSERT_TRUE(WaitForBars(1));
    W->Button_OpenFolder->click();
    EXPECT_THAT(Help.OpenedFolders, ElementsAre(Stick + "/DCIM"));
    // The context menu's item does the same.
    ASSERT_EQ(W->PopupMenu_Found->actions().size(), 1);
    EXPECT_EQ(W->PopupMenu_Found->actions()[0]->text().toStdString(), "Открыть папку");
    W->PopupMenu_Found->actions()[0]->trigger();
    EXPECT_EQ(Help.OpenedFolders.size(), 2u);
    EXPECT_EQ(Window->Media->InsertDiscBox, nullptr);
}

TEST_F(OpenFolder, AbsentDiscIsAskedForAndItsFolderOpensWhenItArrives)
{
    W->Button_OpenFolder->click();
    QMessageBox* box = Window->Media->InsertDiscBox;
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->text().toStdString(), "Вставьте диск «Флешка»");
    EXPECT_EQ(box->windowTitle().toStdString(), "Fendrel v1.2");
    EXPECT_TRUE(Help.OpenedFolders.empty());

    MountStick();
    ASSERT_TRUE(ProcessEventsUntil([&] { return Window->Media->InsertDiscBox == nullptr; }));
    EXPECT_THAT(Help.OpenedFolders, ElementsAre(Stick + "/DCIM"));
}

TEST_F(Media, MountedImageIsKnownByTheImageItHoldsAndItsFolderOpens)
{
    TVolumeFacts facts;
    facts.Source.Kind = TSourceKind::Image;
    facts.Source.Path = "/srv/old.iso";
    facts.Identity = DiscId("IMAGE");
    const uint32_t image = KnownDisc("Образ", facts);
    File(Folder(image, "Docs"), "readme.txt", 5);
    Fill();
    Identified.ImagePath = "/srv/copy of old.iso";
    Identified.ImageIdentity = DiscId("IMAGE");
    Watch();
    Fake->AddBlock("loop0", "none", {{"IdUsage", "filesystem"}, {"IdType", "iso9660"}});
    Fake->Add(TFakeUDisks2::BlockPath("loop0"), "org.freedesktop.UDisks2.Loop",
              {{"BackingFile", QByteArray("/srv/copy of old.iso\0", 21)}});
    Fake->Add(TFakeUDisks2::BlockPath("loop0"), kFilesystem,
              {{"MountPoints", QVariant::fromValue(QList<QByteArray>{})}});
    Fake->Mount("loop0", QString::fromStdString(DiscFolder));
    ASSERT_TRUE(WaitForBars(1));
    EXPECT_THAT(Bars(), ElementsAre("Подключен носитель «Образ»"));

    Window->Act_Find->trigger();
    TFindWindow* w = Window->FindWindow;
    w->Edit_Pattern->setText("readme");
    w->Button_Find->click();
    ASSERT_TRUE(ProcessEventsUntil([&] { return !w->Searching() && w->Results->rowCount() == 1; }));
    w->ListView_Found->setCurrentIndex(w->Results->index(0, 0));
    w->Button_OpenFolder->click();
    EXPECT_THAT(Help.OpenedFolders, ElementsAre(DiscFolder + "/Docs"));
}

TEST_F(OpenFolder, CancelledBoxOpensNothingWhenTheDiscComes)
{
    W->Button_OpenFolder->click();
    QMessageBox* box = Window->Media->InsertDiscBox;
    ASSERT_NE(box, nullptr);
    ASSERT_EQ(box->buttons().size(), 1);
    EXPECT_EQ(box->buttons()[0]->text().toStdString(), "Отмена");
    box->buttons()[0]->click();
    EXPECT_EQ(Window->Media->InsertDiscBox, nullptr);
    MountStick();
    ASSERT_TRUE(WaitForBars(1));
    EXPECT_TRUE(Help.OpenedFolders.empty());
}

} // namespace
