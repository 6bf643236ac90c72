#include "e2e/BoxDriver.h"
#include "e2e/HomeFolder.h"
#include "e2e/Window.h"

#include "support/RecordingHelpViewer.h"

#include "app/Application.h"
#include "app/Platform.h"
#include "app/uMain.h"
#include "discs/Drives.h"
#include "platform/AnsiText.h"
#include "platform/CollectionFileStore.h"
#include "platform/QtDialogs.h"
#include "platform/SettingsStore.h"
#include "platform/TickClock.h"

#include <QAction>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QTreeView>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

constexpr int64_t kTime = 1100000000; // November 2004

const QString kTitle = "Fendrel v1.2";

// A fresh account with two CD/DVD drives: D: holds a mounted disc of photos, E: an ISO 9660
// image of an archive disc. The program runs with the machine's own services but for the
// drives, which read these, and the help viewer, which is not wanted here.
class UserDay : public ::testing::Test {
protected:
    UserDay()
    {
        MakeTree(Home / "drive-d",
                 {FolderEntry("2004", kTime), FileEntry("2004/море.jpg", kTime, 4000),
                  FileEntry("2004/горы.jpg", kTime, 3000), FileEntry("readme.txt", kTime, 10)});
        MakeTree(Home / "archive",
                 {FolderEntry("docs", kTime), FileEntry("docs/report.doc", kTime, 500),
                  FileEntry("setup.exe", kTime, 9000)});
        MakeIsoImage(Home / "archive", Home / "archive.iso", "-volid ARCHIVE -joliet on");
        Drives.Add('D', {TDriveSource::TKind::Folder, Home / "drive-d", "PHOTOS"});
        Drives.Add('E', {TDriveSource::TKind::Image, Home / "archive.iso", {}});
    }

    // Starts the program as its entry does and lets the window open its first collection.
    TForm_Main& Start()
    {
        Boxes.Run([this] {
            Window = CreateMainWindow(TPlatform{Dialogs, Settings, Clock, Files, Help, Drives});
            if (!Window)
                return;
            Dialogs.SetOwner(Window.get());
            Window->show();
        });
        if (!Window)
            throw std::runtime_error("the window could not be made");
        // A start-up without boxes runs once the window is on the screen.
        if (Window->isVisible()) {
            EXPECT_TRUE(QTest::qWaitForWindowExposed(Window.get()));
            QCoreApplication::sendPostedEvents();
        }
        return *Window;
    }
    // Closes the window through the menu and ends the run, which stores the settings.
    void Finish()
    {
        Boxes.Run([this] { Window->Act_Exit->trigger(); });
        EXPECT_FALSE(Window->isVisible());
        Window.reset();
    }

    [[nodiscard]] std::string Read(const std::string& path) const
    {
        std::ostringstream text;
        text << std::ifstream(path, std::ios::binary).rdbuf();
        return text.str();
    }
    [[nodiscard]] QString CheckedDrive() const
    {
        for (const QAction* drive : Window->MI_SelectDefDrive->actions())
            if (drive->isChecked())
                return drive->text();
        return {};
    }

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

TEST_F(UserDay, FromTheFirstStartToTheNextDay)
{
    const QString collection = Home.Path() + "/Мои диски.frl";

    // First start: no settings, so the new-collection dialog asks for a file at home.
    Boxes.Expect("new collection", NewCollectionNamed(Home.Path(), "Мои диски"));
    TForm_Main& w = Start();
    ASSERT_TRUE(std::filesystem::exists(collection.toStdString()));
    EXPECT_EQ(std::filesystem::file_size(collection.toStdString()), 0u);
    EXPECT_EQ(w.windowTitle(), "Fendrel - " + collection);
    EXPECT_EQ(TreeLines(*w.TreeView_Main), QStringList{"Библиотека " + collection});
    EXPECT_EQ(CheckedDrive(), "D:");

    // A disc from D:, after a change of mind: Escape, then the box's close button, add nothing.
    const QString prompt = "Введите заголовок для сканируемого диска";
    Boxes.Expect("title, escaped",
                 InputAnswered("Добавление диска", prompt, " [PHOTOS]", "x", Qt::Key_Escape));
    Boxes.Run([&] { w.Act_AddDisc->trigger(); });
    Boxes.Expect("title, closed", [](QWidget& box) { CloseBox(box); });
    Boxes.Run([&] { w.Act_AddDisc->trigger(); });
    EXPECT_EQ(TreeLines(*w.TreeView_Main).size(), 1);
    EXPECT_EQ(std::filesystem::file_size(collection.toStdString()), 0u);

    Boxes.Expect("title", InputAnswered("Добавление диска", prompt, " [PHOTOS]", "Фото 2004"));
    Boxes.Expect("count",
                 MessageAnswered(QMessageBox::Information, kTitle, "Добавлено элементов: 4"));
    Boxes.Run([&] { w.Act_AddDisc->trigger(); });

    // The second disc from E:, chosen in the drive menu.
    w.MI_SelectDefDrive->actions().at(1)->trigger();
    EXPECT_EQ(CheckedDrive(), "E:");
    Boxes.Expect("title", InputAnswered("Добавление диска", prompt, " [ARCHIVE]", "Архив"));
    Boxes.Expect("count",
                 MessageAnswered(QMessageBox::Information, kTitle, "Добавлено элементов: 3"));
    Boxes.Run([&] { w.Act_AddDisc->trigger(); });
    const QString root = "Библиотека " + collection;
    EXPECT_EQ(TreeLines(*w.TreeView_Main),
              (QStringList{root, "  Фото 2004", "    2004", "  Архив", "    docs"}));
    const std::string saved = Read(collection.toStdString());
    EXPECT_NE(saved.find(Ansi(" Фото 2004\r\n")), std::string::npos) << saved;
    EXPECT_NE(saved.find(Ansi(" Архив\r\n")), std::string::npos) << saved;

    // Browsing: the disc's folders come before its files; a double click opens a folder, and on
    // a file shows where it is.
    ClickTreeItem(*w.TreeView_Main, {root, "Фото 2004"});
    EXPECT_EQ(ListNames(*w.ListView_Main), (QStringList{"2004", "readme.txt"}));
    DoubleClickRow(*w.ListView_Main, "2004");
    EXPECT_EQ(w.TreeView_Main->currentIndex().data().toString(), "2004");
    EXPECT_EQ(ListNames(*w.ListView_Main), (QStringList{"горы.jpg", "море.jpg"}));
    Boxes.Expect("file information",
                 MessageAnswered(QMessageBox::Information, "Информация о файле",
                                 "Файл: море.jpg\nПолное имя: \\2004\\море.jpg\n"
                                 "Находится на диске Фото 2004"));
    Boxes.Run([&] { DoubleClickRow(*w.ListView_Main, "море.jpg"); });

    // A filter: the tree keeps what leads to the hits, and the View menu keeps the search.
    const QString filterPrompt = "Введите строку поиска для фильтра";
    const QStringList wholeTree{root, "  Фото 2004", "    2004", "  Архив", "    docs"};
    const QStringList photosOnly{root, "  Фото 2004", "    2004"};
    Boxes.Expect("search", InputAnswered("Новый фильтр...", filterPrompt, "", "JPG"));
    Boxes.Run([&] { ChooseMenuItem(*w.MI_View, "Новый фильтр..."); });
    EXPECT_EQ(TreeLines(*w.TreeView_Main), photosOnly);
    Boxes.Expect("search", InputAnswered("Новый фильтр...", filterPrompt, "", "нет такого"));
    Boxes.Expect("no hits", MessageAnswered(QMessageBox::Warning, "Новый фильтр...",
                                            "По заданному условию ничего не найдено!"));
    Boxes.Run([&] { ChooseMenuItem(*w.MI_View, "Новый фильтр..."); });
    EXPECT_EQ(MenuLines(*w.MI_View),
              (QStringList{"Новый фильтр...", "Снять фильтр", "-", "[x] jpg"}));

    ChooseMenuItem(*w.MI_View, "Снять фильтр");
    EXPECT_EQ(TreeLines(*w.TreeView_Main), wholeTree);
    EXPECT_EQ(MenuLines(*w.MI_View).last(), "jpg");
    ChooseMenuItem(*w.MI_View, "jpg");
    EXPECT_EQ(TreeLines(*w.TreeView_Main), photosOnly);
    EXPECT_EQ(MenuLines(*w.MI_View).last(), "[x] jpg");
    ChooseMenuItem(*w.MI_View, "Снять фильтр");

    // Removal: only a disc can go; the question defaults to No.
    Boxes.Expect("not a disc",
                 MessageAnswered(QMessageBox::Critical, kTitle, "Необходимо выбрать корень диска"));
    Boxes.Run([&] { w.Act_DeleteDisc->trigger(); });

    ClickTreeItem(*w.TreeView_Main, {root, "Архив"});
    const QString question = "Вы действительно хотите удалить диск \"Архив\" из коллекции?";
    Boxes.Expect("removal, Enter", [&](QWidget& box) {
        const auto* no = qobject_cast<QPushButton*>(AsMessageBox(box)->defaultButton());
        ASSERT_NE(no, nullptr);
        EXPECT_EQ(no->text(), "Нет");
        MessageAnswered(QMessageBox::Question, kTitle, question)(box);
    });
    Boxes.Run([&] { w.Act_DeleteDisc->trigger(); });
    Boxes.Expect("removal, closed", [](QWidget& box) { CloseBox(box); });
    Boxes.Run([&] { w.Act_DeleteDisc->trigger(); });
    EXPECT_EQ(TreeLines(*w.TreeView_Main), wholeTree);
    EXPECT_NE(Read(collection.toStdString()).find(Ansi("Архив")), std::string::npos);

    Boxes.Expect("removal, Yes", [](QWidget& box) {
        for (QAbstractButton* button : AsMessageBox(box)->buttons())
            if (button->text() == "Да")
                QTest::mouseClick(button, Qt::LeftButton);
    });
    Boxes.Run([&] { w.Act_DeleteDisc->trigger(); });
    EXPECT_EQ(TreeLines(*w.TreeView_Main), photosOnly);
    EXPECT_EQ(Read(collection.toStdString()).find(Ansi("Архив")), std::string::npos);
    // The save that follows a removal forgets the filters.
    EXPECT_EQ(MenuLines(*w.MI_View), (QStringList{"Новый фильтр...", "Снять фильтр", "-"}));

    // Closing asks nothing; the next start opens the same collection with drive E: still chosen.
    Finish();
    TForm_Main& again = Start();
    EXPECT_EQ(again.windowTitle(), "Fendrel - " + collection);
    EXPECT_EQ(TreeLines(*again.TreeView_Main), photosOnly);
    EXPECT_EQ(CheckedDrive(), "E:");
}

// Without a drive: two images chosen at once, one count for both, then a USB stick by the folder
// it is mounted at.
TEST_F(UserDay, ImagesAndAFolderAddedWithoutADrive)
{
    Drives = TDriveTable();
    MakeTree(Home / "music", {FileEntry("song.mp3", kTime, 700)});
    std::filesystem::create_directory(Home / "Образы");
    MakeIsoImage(Home / "music", Home / "Образы/music.iso", "-volid MUSIC -joliet on");
    MakeTree(Home / "media/STICK", {FolderEntry("DCIM", kTime), FileEntry("DCIM/1.jpg", kTime, 9)});
    std::filesystem::rename(Home / "archive.iso", Home / "Образы/archive.iso");
    const QString noDrive =
        "В системе нет CD/DVD дисководов. Добавление новых дисков будет недоступно";
    Boxes.Expect("no drive", MessageAnswered(QMessageBox::Warning, kTitle, noDrive));
    Boxes.Expect("new collection", NewCollectionNamed(Home.Path(), "discs"));
    TForm_Main& w = Start();

    const QString prompt = "Введите заголовок для сканируемого диска";
    Boxes.Expect("images", ChosenInDialog("Добавление образа диска", Home.Path() + "/Образы",
                                          "\"music.iso\" \"archive.iso\""));
    Boxes.Expect("first title", InputAnswered("Добавление диска", prompt, " [MUSIC]", "Музыка"));
    Boxes.Expect("second title", InputAnswered("Добавление диска", prompt, " [ARCHIVE]", ""));
    Boxes.Expect("count", MessageAnswered(QMessageBox::Information, kTitle,
                                          "Добавлено элементов: 4 (дисков: 2)"));
    Boxes.Run([&] { ChooseMenuItem(*w.MI_Disc, "Добавить образ..."); });

    Boxes.Expect("folder", ChosenInDialog("Добавление папки", Home.Path() + "/media", "STICK"));
    Boxes.Expect("title", InputAnswered("Добавление диска", prompt, " [STICK]", "Флешка"));
    Boxes.Expect("count",
                 MessageAnswered(QMessageBox::Information, kTitle, "Добавлено элементов: 2"));
    Boxes.Run([&] { ChooseMenuItem(*w.MI_Disc, "Добавить папку..."); });

    const QString root = "Библиотека " + Home.Path() + "/discs.frl";
    EXPECT_EQ(TreeLines(*w.TreeView_Main),
              (QStringList{root, "  Музыка", "   [ARCHIVE]", "    docs", "  Флешка", "    DCIM"}));
    const std::string saved = Read(Home / "discs.frl");
    EXPECT_NE(saved.find(Ansi(" Флешка\r\n")), std::string::npos) << saved;
    EXPECT_NE(saved.find(Ansi(" Музыка\r\n")), std::string::npos) << saved;
}

TEST_F(UserDay, CancelledFirstStartEndsTheProgramAndTheNextStartAsksAgain)
{
    Drives = TDriveTable();
    const QString noDrive =
        "В системе нет CD/DVD дисководов. Добавление новых дисков будет недоступно";
    Boxes.Expect("no drive", MessageAnswered(QMessageBox::Warning, kTitle, noDrive));
    Boxes.Expect("new collection", [](QWidget& box) { PressKey(box, Qt::Key_Escape); });
    TForm_Main& w = Start();
    EXPECT_FALSE(w.isVisible());
    EXPECT_FALSE(w.Act_AddDisc->isEnabled());
    Window.reset();

    Boxes.Expect("no drive", MessageAnswered(QMessageBox::Warning, kTitle, noDrive));
    Boxes.Expect("new collection", NewCollectionNamed(Home.Path(), "discs"));
    TForm_Main& again = Start();
    EXPECT_TRUE(again.isVisible());
    EXPECT_EQ(again.windowTitle(), "Fendrel - " + Home.Path() + "/discs.frl");
}

} // namespace
