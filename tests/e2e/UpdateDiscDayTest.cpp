// A USB stick catalogued, changed, brought up to date through the change report, and plugged in
// again: the real window with the real boxes, answered by keys and buttons.
#include "e2e/BoxDriver.h"
#include "e2e/HomeFolder.h"
#include "e2e/Window.h"

#include "support/DiscTrees.h"
#include "support/RecordingHelpViewer.h"

#include "app/Application.h"
#include "app/Platform.h"
#include "app/uMain.h"
#include "discs/Drives.h"
#include "platform/CollectionFileStore.h"
#include "platform/QtDialogs.h"
#include "platform/SettingsStore.h"
#include "platform/TickClock.h"

#include <QAction>
#include <QDialog>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QTreeView>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include <filesystem>

namespace {

constexpr int64_t kTime = 1100000000;
const QString kTitle = "Fendrel v1.2";

void Touch(const std::string& path, int64_t time)
{
    const timespec times[2] = {{time, 0}, {time, 0}};
    ::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW);
}

class UpdateDiscDay : public ::testing::Test {
protected:
    THomeFolder Home;
    TQtDialogs Dialogs;
    TFileSettingsStore Settings{Home / ".config/fendrel/settings.reg"};
    TSystemTickClock Clock;
    TPosixCollectionFileStore Files;
    TRecordingHelpViewer Help;
    TDriveTable Drives;
    TBoxDriver Boxes;
    std::unique_ptr<TForm_Main> Window;
};

TEST_F(UpdateDiscDay, StickChangedIsUpdatedThroughTheReportAndKnownWhenAddedAgain)
{
    const std::string stick = Home / "media/STICK";
    MakeTree(stick, {FolderEntry("DCIM", kTime), FileEntry("DCIM/1.jpg", kTime, 9),
                     FileEntry("old.txt", kTime, 5)});
    Boxes.Expect("no drive", MessageAnswered(QMessageBox::Warning, kTitle,
                                             "В системе нет CD/DVD дисководов. Добавление новых "
                                             "дисков будет недоступно"));
    Boxes.Expect("new collection", NewCollectionNamed(Home.Path(), "discs"));
    Boxes.Run([this] {
        Window = CreateMainWindow(TPlatform{Dialogs, Settings, Clock, Files, Help, Drives});
        Dialogs.SetOwner(Window.get());
        Window->show();
    });
    ASSERT_TRUE(Window);
    TForm_Main& w = *Window;
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    QCoreApplication::sendPostedEvents();

    const QString prompt = "Введите заголовок для сканируемого диска";
    Boxes.Expect("folder", ChosenInDialog("Добавление папки", Home.Path() + "/media", "STICK"));
    Boxes.Expect("title", InputAnswered("Добавление диска", prompt, " [STICK]", "Флешка"));
    Boxes.Expect("count",
                 MessageAnswered(QMessageBox::Information, kTitle, "Добавлено элементов: 3"));
    Boxes.Run([&] { ChooseMenuItem(*w.MI_Disc, "Добавить папку..."); });

    std::filesystem::remove(stick + "/old.txt");
    MakeTree(stick, {FileEntry("DCIM/2.jpg", kTime, 11)});
    Touch(stick + "/DCIM", kTime);
    const QString root = "Библиотека " + Home.Path() + "/discs.frl";
    ClickTreeItem(*w.TreeView_Main, {root, "Флешка", "DCIM"});
    Boxes.Expect("report", [](QWidget& box) {
        EXPECT_EQ(box.windowTitle(), "Изменения на диске «Флешка»");
        const auto* header = box.findChild<QLabel*>("Header");
        ASSERT_NE(header, nullptr);
        EXPECT_TRUE(header->text().startsWith("Добавлено: 1, удалено: 1, изменено: 0"))
            << header->text().toStdString();
        const auto* changes = box.findChild<QTreeWidget*>("Changes");
        ASSERT_NE(changes, nullptr);
        EXPECT_EQ(changes->topLevelItem(0)->child(0)->text(0), "DCIM\\2.jpg");
        EXPECT_EQ(changes->topLevelItem(1)->child(0)->text(0), "old.txt");
        auto* apply = box.findChild<QPushButton*>("Apply");
        ASSERT_NE(apply, nullptr);
        QTest::mouseClick(apply, Qt::LeftButton);
    });
    Boxes.Run([&] { ChooseMenuItem(*w.MI_Disc, "Обновить диск..."); });
    ClickTreeItem(*w.TreeView_Main, {root, "Флешка", "DCIM"});
    EXPECT_EQ(ListNames(*w.ListView_Main), (QStringList{"1.jpg", "2.jpg"}));

    // Plugged in and added again: asked, Enter keeps the default No, and it is added anew.
    Boxes.Expect("folder", ChosenInDialog("Добавление папки", Home.Path() + "/media", "STICK"));
    Boxes.Expect("known", MessageAnswered(QMessageBox::Question, kTitle,
                                          "Этот носитель уже есть в коллекции: «Флешка». "
                                          "Обновить этот диск?"));
    Boxes.Expect("title", InputAnswered("Добавление диска", prompt, " [STICK]", "Копия"));
    Boxes.Expect("count",
                 MessageAnswered(QMessageBox::Information, kTitle, "Добавлено элементов: 3"));
    Boxes.Run([&] { ChooseMenuItem(*w.MI_Disc, "Добавить папку..."); });
    EXPECT_EQ(w.Collection().Discs.size(), 2u);
}

} // namespace
