#include "e2e/BoxDriver.h"
#include "e2e/HomeFolder.h"

#include "platform/AnsiText.h"
#include "platform/QtDialogs.h"

#include <QAbstractButton>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <gtest/gtest.h>

#include <fstream>

namespace {

QStringList ButtonTexts(const QMessageBox& box)
{
    QStringList texts;
    for (const QAbstractButton* button : box.buttons())
        texts << button->text();
    texts.sort();
    return texts;
}

QPushButton* ButtonNamed(QMessageBox& box, const QString& text)
{
    for (QAbstractButton* button : box.buttons())
        if (button->text() == text)
            return qobject_cast<QPushButton*>(button);
    ADD_FAILURE() << "no button " << text.toStdString() << " in " << DescribeBox(box);
    return nullptr;
}

TEST(RealMessageBox, EachKindShowsItsIconButtonsTitleAndLines)
{
    struct TCase {
        TMessageKind Kind;
        QMessageBox::Icon Icon;
        QStringList Buttons;
        TMessageResult OnEnter;
    } const cases[] = {
        {TMessageKind::Error, QMessageBox::Critical, {"OK"}, TMessageResult::Ok},
        {TMessageKind::Warning, QMessageBox::Warning, {"OK"}, TMessageResult::Ok},
        {TMessageKind::Information, QMessageBox::Information, {"OK"}, TMessageResult::Ok},
        // No is the default: Enter must not confirm a removal.
        {TMessageKind::Question, QMessageBox::Question, {"Да", "Нет"}, TMessageResult::No},
    };
    TQtDialogs dialogs;
    TBoxDriver driver;
    for (const TCase& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.Kind));
        driver.Expect("message box", [&](QWidget& widget) {
            QMessageBox* box = AsMessageBox(widget);
            if (!box)
                return;
            EXPECT_EQ(box->windowTitle(), "Информация о файле");
            EXPECT_EQ(box->icon(), c.Icon);
            EXPECT_EQ(ButtonTexts(*box), c.Buttons);
            // CR LF breaks the text into lines, and the label is tall enough to show them all.
            const auto* label = box->findChild<QLabel*>("qt_msgbox_label");
            ASSERT_NE(label, nullptr);
            EXPECT_EQ(
                label->text(),
                "Файл: Müller 日本.txt\nПолное имя: \\Müller 日本.txt\nНаходится на диске Ελλάδα");
            EXPECT_GE(label->height(), 3 * QFontMetrics(label->font()).lineSpacing());
            PressKey(*box, Qt::Key_Return);
        });
        TMessageResult result = TMessageResult::Ok;
        driver.Run([&] {
            result =
                dialogs.MessageBox(Ansi("Файл: Müller 日本.txt\r\nПолное имя: \\Müller 日本.txt\r\n"
                                        "Находится на диске Ελλάδα"),
                                   Ansi("Информация о файле"), c.Kind);
        });
        EXPECT_EQ(result, c.OnEnter);
    }
}

TEST(RealMessageBox, QuestionIsConfirmedOnlyByYes)
{
    using TAnswer = std::function<void(QMessageBox&)>;
    const std::pair<const char*, TAnswer> answers[] = {
        {"Enter",
         [](QMessageBox& box) {
             PressKey(box, Qt::Key_Return);
         }},
        {"Escape",
         [](QMessageBox& box) {
             PressKey(box, Qt::Key_Escape);
         }},
        {"closing the box",
         [](QMessageBox& box) {
             CloseBox(box);
         }},
        {"No",
         [](QMessageBox& box) {
             QTest::mouseClick(ButtonNamed(box, "Нет"), Qt::LeftButton);
         }},
        {"Yes",
         [](QMessageBox& box) {
             QTest::mouseClick(ButtonNamed(box, "Да"), Qt::LeftButton);
         }},
    };
    TQtDialogs dialogs;
    TBoxDriver driver;
    for (const auto& [how, answer] : answers) {
        SCOPED_TRACE(how);
        driver.Expect("the question", [&answer](QWidget& widget) {
            if (QMessageBox* box = AsMessageBox(widget))
                answer(*box);
        });
        TMessageResult result = TMessageResult::Ok;
        driver.Run([&] {
            result = dialogs.MessageBox(Ansi("Удалить?"), "Fendrel v1.2", TMessageKind::Question);
        });
        EXPECT_EQ(result, std::string(how) == "Yes" ? TMessageResult::Yes : TMessageResult::No);
    }
}

QLineEdit* EditOf(QWidget& box)
{
    auto* edit = box.findChild<QLineEdit*>();
    if (!edit)
        ADD_FAILURE() << "no edit field in " << DescribeBox(box);
    return edit;
}

TEST(RealInputBox, ShowsPromptAndSelectedTextCentredAndTypingReplacesIt)
{
    TQtDialogs dialogs;
    TBoxDriver driver;
    driver.Expect("the input box", [](QWidget& box) {
        EXPECT_EQ(box.windowTitle(), "Добавление диска");
        const auto* prompt = box.findChild<QLabel*>();
        ASSERT_NE(prompt, nullptr);
        EXPECT_EQ(prompt->text(), "Введите заголовок");
        QLineEdit* edit = EditOf(box);
        ASSERT_NE(edit, nullptr);
        EXPECT_EQ(edit->text(), " [PHOTOS]");
        EXPECT_EQ(edit->selectedText(), " [PHOTOS]");
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        EXPECT_LE((box.geometry().center() - screen.center()).manhattanLength(), 8);

        TypeText(box, "Фото «2004»");
        EXPECT_EQ(edit->text(), "Фото «2004»");
        PressKey(box, Qt::Key_Return);
    });
    std::optional<std::string> title;
    driver.Run([&] {
        title = dialogs.InputBox(Ansi("Добавление диска"), Ansi("Введите заголовок"), " [PHOTOS]");
    });
    EXPECT_EQ(title, Ansi("Фото «2004»"));
}

TEST(RealInputBox, CharactersOutsideTheCodePageAreShownAndTypedWhole)
{
    TQtDialogs dialogs;
    TBoxDriver driver;
    driver.Expect("the input box", [](QWidget& box) {
        QLineEdit* edit = EditOf(box);
        ASSERT_NE(edit, nullptr);
        EXPECT_EQ(edit->text(), " [Müller]");
        TypeText(box, "Ελληνικά 日本 ü");
        PressKey(box, Qt::Key_Return);
    });
    std::optional<std::string> text;
    driver.Run([&] { text = dialogs.InputBox("Caption", "Prompt", Ansi(" [Müller]")); });
    EXPECT_EQ(text, Ansi("Ελληνικά 日本 ü"));
    EXPECT_EQ(text->find('?'), std::string::npos);
}

TEST(RealInputBox, TypingStopsAt255Characters)
{
    TQtDialogs dialogs;
    TBoxDriver driver;
    driver.Expect("the input box", [](QWidget& box) {
        TypeText(box, QString(200, 'a') + QString(100, QChar(0x0416))); // Ж
        PressKey(box, Qt::Key_Return);
    });
    std::optional<std::string> text;
    driver.Run([&] { text = dialogs.InputBox("Caption", "Prompt", "initial"); });
    EXPECT_EQ(text, std::string(200, 'a') + std::string(55, '\xC6'));
}

TEST(RealInputBox, OkAndEnterConfirmWhileCancelEscapeAndClosingCancel)
{
    const std::pair<const char*, std::function<void(QWidget&)>> answers[] = {
        {"Enter",
         [](QWidget& box) {
             PressKey(box, Qt::Key_Return);
         }},
        {"OK",
         [](QWidget& box) {
             QTest::mouseClick(box.findChild<QPushButton*>("InputBox_OK"), Qt::LeftButton);
         }},
        {"Escape",
         [](QWidget& box) {
             PressKey(box, Qt::Key_Escape);
         }},
        {"Cancel",
         [](QWidget& box) {
             QTest::mouseClick(box.findChild<QPushButton*>("InputBox_Cancel"), Qt::LeftButton);
         }},
        {"closing the box",
         [](QWidget& box) {
             CloseBox(box);
         }},
    };
    TQtDialogs dialogs;
    TBoxDriver driver;
    for (const auto& [how, answer] : answers) {
        SCOPED_TRACE(how);
        driver.Expect("the input box", [&answer](QWidget& box) {
            TypeText(box, "typed");
            answer(box);
        });
        std::optional<std::string> text;
        driver.Run([&] { text = dialogs.InputBox("Caption", "Prompt", "initial"); });
        const bool confirmed = how == std::string("Enter") || how == std::string("OK");
        EXPECT_EQ(text, confirmed ? std::optional<std::string>("typed") : std::nullopt);
    }
}

QFileDialog* AsFileDialog(QWidget& box)
{
    auto* dialog = qobject_cast<QFileDialog*>(&box);
    if (!dialog)
        ADD_FAILURE() << "not a file dialog: " << DescribeBox(box);
    return dialog;
}

// Types a name into the dialog's name field and presses Enter.
void ChooseName(QWidget& box, const QString& name)
{
    QLineEdit* edit = EditOf(box);
    if (!edit)
        return;
    edit->selectAll();
    TypeText(box, name);
    PressKey(box, Qt::Key_Return);
}

const TFileDialogOptions SaveOptions{
    Ansi("Новая коллекция"), Ansi("Коллекции (*.frl)"), "*.frl", "frl", false, false};
const TFileDialogOptions OpenOptions{
    Ansi("Загрзука коллекции"), Ansi("Коллекции (*.frl)"), "*.frl", "frl", true, false};

TEST(RealFileDialog, NewNameGetsTheExtensionAndAnExistingOneIsTakenWithoutAsking)
{
    THomeFolder home;
    std::filesystem::create_directory(home / "Архив");
    std::ofstream(home / "Архив/old.frl") << "keep";
    TQtDialogs dialogs;
    TBoxDriver driver;

    // No collection in the current folder: the dialog starts at home.
    driver.Expect("the save dialog", [&](QWidget& box) {
        QFileDialog* dialog = AsFileDialog(box);
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->windowTitle(), "Новая коллекция");
        EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptSave);
        EXPECT_EQ(dialog->nameFilters(), QStringList{"Коллекции (*.frl *.FRL)"});
        EXPECT_EQ(dialog->directory().absolutePath(), home.Path());
        ChooseName(box, home.Path() + "/Архив/Мои диски");
    });
    std::optional<std::string> path;
    driver.Run([&] { path = dialogs.SaveFileDialog(SaveOptions); });
    EXPECT_EQ(path, home / "Архив/Мои диски.frl");

    // The next one starts where the last name was chosen; no question about replacing.
    driver.Expect("the save dialog again", [&](QWidget& box) {
        QFileDialog* dialog = AsFileDialog(box);
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->directory().absolutePath(), home.Path() + "/Архив");
        ChooseName(box, "old");
    });
    driver.Run([&] { path = dialogs.SaveFileDialog(SaveOptions); });
    EXPECT_EQ(path, home / "Архив/old.frl");

    // A dialog for files of another type keeps to its own folder; each of its several patterns is
    // offered in both cases.
    driver.Expect("a dialog for images", [&](QWidget& box) {
        if (QFileDialog* dialog = AsFileDialog(box)) {
            EXPECT_EQ(dialog->directory().absolutePath(), home.Path());
            EXPECT_EQ(dialog->nameFilters(),
                      (QStringList{"Images (*.iso *.ISO *.cue *.CUE)", "Все файлы (*)"}));
        }
        PressKey(box, Qt::Key_Escape);
    });
    driver.Run([&] {
        path = dialogs.OpenFileDialog(
            {"Images", "Images (*.iso *.cue)", "*.iso *.cue", "", true, true});
    });

    driver.Expect("the save dialog, cancelled",
                  [](QWidget& box) { PressKey(box, Qt::Key_Escape); });
    driver.Run([&] { path = dialogs.SaveFileDialog(SaveOptions); });
    EXPECT_EQ(path, std::nullopt);
}

TEST(RealFileDialog, OpensInTheCurrentFolderWhenItHoldsCollections)
{
    THomeFolder home;
    std::filesystem::create_directory(home / "work");
    std::ofstream(home / "work/ДИСКИ.FRL") << "";
    QDir::setCurrent(home.Path() + "/work");
    TQtDialogs dialogs;
    TBoxDriver driver;
    driver.Expect("the open dialog", [&](QWidget& box) {
        QFileDialog* dialog = AsFileDialog(box);
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->windowTitle(), "Загрзука коллекции");
        EXPECT_EQ(dialog->fileMode(), QFileDialog::ExistingFile);
        EXPECT_EQ(dialog->directory().absolutePath(), home.Path() + "/work");
        ChooseName(box, "ДИСКИ.FRL");
    });
    std::optional<std::string> path;
    driver.Run([&] { path = dialogs.OpenFileDialog(OpenOptions); });
    EXPECT_EQ(path, home / "work/ДИСКИ.FRL");
}

// Qt's own texts in the dialog are Russian too, though the tests run under a locale that is not.
TEST(RealFileDialog, SpeaksRussianWhateverTheLocale)
{
    ASSERT_FALSE(QLocale::system().name().startsWith("ru"));
    THomeFolder home;
    TQtDialogs dialogs;
    TBoxDriver driver;
    driver.Expect("the open dialog", [&](QWidget& box) {
        QFileDialog* dialog = AsFileDialog(box);
        ASSERT_NE(dialog, nullptr);
        const auto* buttons = dialog->findChild<QDialogButtonBox*>();
        ASSERT_NE(buttons, nullptr);
        QStringList texts;
        for (const QAbstractButton* button : buttons->buttons())
            texts << button->text().remove('&');
        texts.sort();
        EXPECT_EQ(texts, (QStringList{"Открыть", "Отмена"}));
        QStringList labels;
        for (const QLabel* label : dialog->findChildren<QLabel*>())
            if (!label->text().isEmpty())
                labels << label->text().remove('&');
        EXPECT_TRUE(labels.contains("Имя файла:")) << labels.join(" | ").toStdString();
        PressKey(box, Qt::Key_Escape);
    });
    driver.Run([&] { (void)dialogs.OpenFileDialog(OpenOptions); });
}

const TFileDialogOptions ImageOptions{
    Ansi("Добавление образа диска"), Ansi("Образы дисков (*.iso)"), "*.iso", "", true, true};

// Several names typed at once, as the dialog takes them (each in quotes), come back in the order
// typed; the next dialog for images opens where they were.
TEST(RealFileDialog, SeveralImagesAreChosenAtOnce)
{
    THomeFolder home;
    std::filesystem::create_directory(home / "Образы");
    for (const char* name : {"a.iso", "b.iso", "c.iso"})
        std::ofstream(home / "Образы/" + name) << "image";
    TQtDialogs dialogs;
    TBoxDriver driver;
    driver.Expect("the image dialog", [&](QWidget& box) {
        QFileDialog* dialog = AsFileDialog(box);
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->windowTitle(), "Добавление образа диска");
        EXPECT_EQ(dialog->fileMode(), QFileDialog::ExistingFiles);
        EXPECT_EQ(dialog->directory().absolutePath(), home.Path());
        ChooseName(box, home.Path() + "/Образы"); // a folder typed opens it
        EXPECT_EQ(dialog->directory().absolutePath(), home.Path() + "/Образы");
        ChooseName(box, "\"c.iso\" \"a.iso\"");
    });
    std::vector<std::string> paths;
    driver.Run([&] { paths = dialogs.OpenFilesDialog(ImageOptions); });
    EXPECT_EQ(paths, (std::vector<std::string>{home / "Образы/c.iso", home / "Образы/a.iso"}));

    driver.Expect("the image dialog again", [&](QWidget& box) {
        if (QFileDialog* dialog = AsFileDialog(box)) {
            EXPECT_EQ(dialog->directory().absolutePath(), home.Path() + "/Образы");
        }
        PressKey(box, Qt::Key_Escape);
    });
    driver.Run([&] { paths = dialogs.OpenFilesDialog(ImageOptions); });
    EXPECT_TRUE(paths.empty());
}

// The folder dialog shows folders only, gives the folder chosen, and opens the next time beside
// it, where the next medium or copied disc is likely to be.
TEST(RealFolderDialog, FolderIsChosenAndTheNextDialogOpensBesideIt)
{
    THomeFolder home;
    // No removable media of this user: the first dialog opens at home.
    struct TUserName {
        QByteArray Saved = qgetenv("USER");
        TUserName() { qputenv("USER", "fendrel-nobody"); }
        ~TUserName() { qputenv("USER", Saved); }
    } const user;
    MakeTree(home / "media", {FolderEntry("STICK", 0), FolderEntry("CARD", 0)});
    std::ofstream(home / "media/file.txt") << "not a folder";
    const TFolderDialogOptions options{Ansi("Добавление папки")};
    TQtDialogs dialogs;
    TBoxDriver driver;
    driver.Expect("the folder dialog", [&](QWidget& box) {
        QFileDialog* dialog = AsFileDialog(box);
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->windowTitle(), "Добавление папки");
        EXPECT_EQ(dialog->fileMode(), QFileDialog::Directory);
        EXPECT_TRUE(dialog->testOption(QFileDialog::ShowDirsOnly));
        EXPECT_EQ(dialog->directory().absolutePath(), home.Path());
        ChooseName(box, home.Path() + "/media/STICK");
    });
    std::optional<std::string> folder;
    driver.Run([&] { folder = dialogs.FolderDialog(options); });
    EXPECT_EQ(folder, home / "media/STICK");

    driver.Expect("the folder dialog again", [&](QWidget& box) {
        if (QFileDialog* dialog = AsFileDialog(box)) {
            EXPECT_EQ(dialog->directory().absolutePath(), home.Path() + "/media");
        }
        ChooseName(box, "CARD");
    });
    driver.Run([&] { folder = dialogs.FolderDialog(options); });
    EXPECT_EQ(folder, home / "media/CARD");

    driver.Expect("the folder dialog, cancelled",
                  [](QWidget& box) { PressKey(box, Qt::Key_Escape); });
    driver.Run([&] { folder = dialogs.FolderDialog(options); });
    EXPECT_EQ(folder, std::nullopt);
}

} // namespace
