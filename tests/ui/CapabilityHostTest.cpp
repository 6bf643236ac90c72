// The window's capabilities on a host double, without the window: what they ask of the host and in
// which order.
#include "support/DiscTrees.h"
#include "support/FakeWindowHost.h"

#include "acquisition/ContentChecksums.h"
#include "acquisition/DiscAdder.h"
#include "acquisition/UpdateDisc.h"
#include "collection/DiscTreeDiff.h"
#include "discs/Volume.h"
#include "print/PrintCommand.h"

#include <QAction>
#include <gmock/gmock.h>

using ::testing::ElementsAre;

namespace {

constexpr int64_t kTime = 1600000000;

class CapabilityHost : public ::testing::Test {
protected:
    CapabilityHost()
    {
        MakeTree(Scratch / "a", {FileEntry("one.txt", kTime, 3)});
        MakeTree(Scratch / "b", {FileEntry("two.txt", kTime, 5)});
        MakeIsoImage(Scratch / "a", Scratch / "a.iso", "-volid A");
        MakeIsoImage(Scratch / "b", Scratch / "b.iso", "-volid B");
    }
    [[nodiscard]] std::function<std::unique_ptr<IVolume>()> Image(const std::string& name)
    {
        return [this, path = Scratch / name] {
            return Host.Drives.OpenImage(path);
        };
    }

    TScratchFolder Scratch;
    TFakeWindowHost Host;
    QAction Toggle{nullptr};
    TContentChecksums Checksums{Host, Toggle};
    TFileDialogOptions ImageDialog;
    TFolderDialogOptions FolderDialog;
    TDiscUpdater Updater{Host, Checksums, ImageDialog, FolderDialog};
    TDiscAdder Adder{Host, Checksums, Updater};
};

TEST_F(CapabilityHost, DiscsAddedBeforeAKnownMediumAreSavedBeforeItIsUpdated)
{
    Host.Dialogs.InputAnswers = {std::string("A")};
    Adder.AddScanned(Image("a.iso"), "unreadable");
    ASSERT_EQ(Host.Collection().Discs.size(), 1u);
    const uint32_t a = Host.Collection().Discs[0];
    EXPECT_EQ(Host.Collection().DiscRecords.at(a).Added, Host.Clock.Time);
    ASSERT_EQ(Host.Saves.size(), 1u);

    // One command: b is new, then a again, which the user updates. b must be in the file before
    // the update saves, or a save that met another program's changes would lose it.
    std::vector<size_t> savesAtBoxes;
    Host.Dialogs.OnBox = [&] {
        savesAtBoxes.push_back(Host.Saves.size());
    };
    Host.Dialogs.Messages.clear();
    Host.Dialogs.InputAnswers = {std::string("B")};
    Host.Dialogs.QuestionAnswers = {TMessageResult::Yes};
    TAddedDiscs added;
    Adder.ScanNew(Image("b.iso"), "unreadable", added);
    Adder.ScanNew(Image("a.iso"), "unreadable", added);
    Adder.Report(added);

    EXPECT_THAT(Host.Dialogs.MessageTexts(),
                ElementsAre("Этот носитель уже есть в коллекции: «A». Обновить этот диск?",
                            "Добавлено элементов: 1", "Диск «A» не изменился"));
    // The title box, the question, b's count, then the update's box once b is saved.
    EXPECT_THAT(savesAtBoxes, ElementsAre(1u, 1u, 1u, 2u));
    EXPECT_EQ(Host.Saves.size(), 3u) << "b, then the update; nothing left to report after it";
    EXPECT_THAT(Host.SelectedDiscs, ElementsAre(a));
    EXPECT_EQ(Host.Collection().DiscRecords.at(a).Updated, Host.Clock.Time);
    EXPECT_EQ(Host.Collection().Discs.size(), 2u);
}

TEST_F(CapabilityHost, DiscFromADriveIsLookedForInItsOwnDriveThenTheDefaultOne)
{
    Host.Drives.Add('D', {TDriveSource::TKind::Device, Scratch / "b.iso"});
    Host.Drives.Add('E', {TDriveSource::TKind::Device, Scratch / "a.iso"});
    Host.DriveMenu = {"D:", "E:"};
    Host.DefaultDrive = "D:";
    Host.Dialogs.InputAnswers = {std::string("A")};
    Adder.AddScanned([this] { return Host.Drives.OpenVolume('E'); }, "unreadable", "E:");
    ASSERT_EQ(Host.Collection().Discs.size(), 1u);
    const uint32_t a = Host.Collection().Discs[0];
    const TDiscSource& source = Host.Collection().DiscRecords.at(a).Facts.Source;
    EXPECT_EQ(source.Kind, TSourceKind::Drive);
    EXPECT_EQ(source.Path, Scratch / "a.iso");
    EXPECT_EQ(source.DriveName, "E:");

    std::unique_ptr<IVolume> opened = Updater.OpenRecordedSource(a);
    ASSERT_TRUE(opened);
    EXPECT_EQ(opened->Label(), "A");

    // Its drive gone from the menu: the default drive is read instead.
    Host.DriveMenu = {"D:"};
    opened = Updater.OpenRecordedSource(a);
    ASSERT_TRUE(opened);
    EXPECT_EQ(opened->Label(), "B");

    // No drive at all: said, with the default drive's name as the menu has it (none).
    Host.DriveMenu.clear();
    Host.DefaultDrive.clear();
    Host.Dialogs.Messages.clear();
    EXPECT_FALSE(Updater.OpenRecordedSource(a));
    EXPECT_THAT(Host.Dialogs.MessageTexts(),
                ElementsAre("Невозможно получить информацию о диске в дисководе "));
}

TEST_F(CapabilityHost, PrintWithoutADiscSaysSoAndShowsNoDialog)
{
    TPrintCommand print(Host);
    bool dialogShown = false;
    print.PrintDialog = [&](QPrinter&) {
        return dialogShown = true;
    };
    print.PrintSelected();
    EXPECT_FALSE(dialogShown);
    ASSERT_EQ(Host.Dialogs.Messages.size(), 1u);
    EXPECT_EQ(Host.Dialogs.Messages[0].Utf8Text(), "Необходимо выбрать диск");
    EXPECT_EQ(Host.Dialogs.Messages[0].Kind, TMessageKind::Error);
}

} // namespace
