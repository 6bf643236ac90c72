#include "support/WindowFixture.h"

#include "app/Settings.h"
#include "collection/CollectionChange.h"
#include "platform/QtText.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QLabel>

#include <gmock/gmock.h>

#include <fcntl.h>
#include <fstream>
#include <sys/file.h>
#include <unistd.h>

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

const std::string kHeader = ";Fendrel File v1 begin\r\n";
const std::string kTwoDiscs = kHeader + "D 00000000 00000000 00000000 one\r\n"
                                        "E 01C5E0A1 3B2C4D00 00000010 a.txt\r\n"
                                        "<\r\n"
                                        "D 00000000 00000000 00000000 two\r\n"
                                        "<\r\n";

class CollectionCommands : public TWindowFixture {
protected:
    static void Write(const std::string& path, const std::string& content)
    {
        std::ofstream(path, std::ios::binary) << content;
    }
    [[nodiscard]] static std::string Content(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    [[nodiscard]] static QString CaptionFor(const std::string& path)
    {
        return "Fendrel - " + DisplayPath(path);
    }
    // The window, without the boxes that its construction showed (such as a missing drive).
    TForm_Main& Make()
    {
        TForm_Main& w = MakeWindow();
        Dialogs.Messages.clear();
        return w;
    }
    // A window whose collection was read from path (written with content first).
    TForm_Main& WindowWith(const std::string& path, const std::string& content)
    {
        Write(path, content);
        TForm_Main& w = Make();
        Dialogs.FileAnswers.push_back(path);
        w.Act_LoadCollection->trigger();
        EXPECT_THAT(Dialogs.Messages, IsEmpty());
        return w;
    }
    [[nodiscard]] std::string Status() const { return FromDisplay(Window->Panel_Status->text()); }
};

TEST_F(CollectionCommands, NewCreatesAMissingFileEmptyAndOpensAnExistingOneUnchanged)
{
    const std::string path = PathOf("новая.frl");
    TForm_Main& w = Make();
    Dialogs.FileAnswers.push_back(path);
    w.Act_NewCollection->trigger();
    ASSERT_EQ(Dialogs.FileDialogs.size(), 1u);
    EXPECT_TRUE(Dialogs.FileDialogs[0].Save);
    EXPECT_TRUE(QFileInfo::exists(QString::fromStdString(path)));
    EXPECT_EQ(Content(path), "");
    EXPECT_EQ(w.CollectionFile, path);
    EXPECT_EQ(w.Collection().LastId, 0u);
    EXPECT_EQ(w.windowTitle(), CaptionFor(path));

    const std::string old = PathOf("old.frl");
    Write(old, kTwoDiscs);
    Dialogs.FileAnswers.push_back(old);
    w.Act_NewCollection->trigger();
    EXPECT_EQ(Content(old), kTwoDiscs);
    EXPECT_EQ(w.Collection().Discs.size(), 2u);
    EXPECT_EQ(w.Collection().GetNode(2).Name, "a.txt");
    EXPECT_EQ(w.windowTitle(), CaptionFor(old));
    EXPECT_EQ(Status(), Ansi(" Готово"));
    EXPECT_THAT(Dialogs.Messages, IsEmpty());
}

TEST_F(CollectionCommands, CancelledDialogsChangeNothing)
{
    const std::string path = PathOf("c.frl");
    TForm_Main& w = WindowWith(path, kTwoDiscs);
    w.show();
    w.Act_NewCollection->trigger();
    w.Act_LoadCollection->trigger();
    EXPECT_EQ(Dialogs.FileDialogs.size(), 3u);
    EXPECT_TRUE(w.isVisible());
    EXPECT_EQ(w.CollectionFile, path);
    EXPECT_EQ(w.Collection().LastId, 3u);
    EXPECT_EQ(w.windowTitle(), CaptionFor(path));
    EXPECT_THAT(Dialogs.Messages, IsEmpty());
}

TEST_F(CollectionCommands, NewCancelledAtStartUpEndsTheProgramAndCreatesNothing)
{
    TForm_Main& w = Make();
    ShowAndStart();
    EXPECT_FALSE(w.isVisible());
    EXPECT_TRUE(QDir(Folder.path()).isEmpty());
    EXPECT_EQ(w.windowTitle(), "Fendrel v1.2");
}

TEST_F(CollectionCommands, StartUpOpensTheLastCollection)
{
    const std::string path = PathOf("last.frl");
    Write(path, kTwoDiscs);
    Settings.Keys[kCurrentSettingsKey] = {{kLastCollectionValue, TSettingsValue::OfString(path)}};
    TForm_Main& w = Make();
    ShowAndStart();
    EXPECT_TRUE(w.isVisible());
    EXPECT_TRUE(Dialogs.FileDialogs.empty());
    EXPECT_EQ(w.Collection().LastId, 3u);
    EXPECT_EQ(w.windowTitle(), CaptionFor(path));
}

TEST_F(CollectionCommands, LoadingADamagedFileKeepsWhatWasReadAndNamesTheFile)
{
    const std::string path = PathOf("damaged.frl");
    Write(path, kHeader + "D 0 0 0 one\r\nE 0 0 0 a\r\nnot a record\r\nE 0 0 0 b\r\n");
    TForm_Main& w = Make();
    Dialogs.FileAnswers.push_back(path);
    w.Act_LoadCollection->trigger();

    ASSERT_EQ(Dialogs.FileDialogs.size(), 1u);
    EXPECT_FALSE(Dialogs.FileDialogs[0].Save);
    ASSERT_EQ(Dialogs.Messages.size(), 1u);
    EXPECT_EQ(Dialogs.Messages[0].Utf8Text(), "Файл коллекции поврежден или имеет неверный формат");
    EXPECT_EQ(Dialogs.Messages[0].Utf8Title(), "Fendrel v1.2");
    EXPECT_EQ(Dialogs.Messages[0].Kind, TMessageKind::Error);
    EXPECT_EQ(w.Collection().LastId, 2u);
    EXPECT_EQ(w.windowTitle(), CaptionFor(path));
    EXPECT_EQ(w.CollectionFile, path);
}

TEST_F(CollectionCommands, FileThatCannotBeReadLeavesEverythingAndIsNeverSavedOver)
{
    const std::string first = PathOf("first.frl");
    TForm_Main& w = WindowWith(first, kTwoDiscs);
    const std::string locked = PathOf("locked.frl");
    const std::string lockedContent = kHeader + "D 0 0 0 precious\r\n<\r\n";
    Write(locked, lockedContent);

    {
        // Another Fendrel is reading or writing it just now.
        const int other = ::open(locked.c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
        Dialogs.FileAnswers.push_back(locked);
        w.Act_LoadCollection->trigger();
        ::close(other);
    }
    CollectionFiles.FailReads = true;
    Dialogs.FileAnswers.push_back(locked);
    w.Act_LoadCollection->trigger();
    CollectionFiles.FailReads = false;

    EXPECT_THAT(Dialogs.MessageTexts(), ElementsAre("Ошибка при открытии файла коллекции",
                                                    "Ошибка при загрузке коллекции"));
    EXPECT_EQ(w.Collection().LastId, 3u);
    EXPECT_EQ(w.windowTitle(), CaptionFor(first));

    // Deleting a disc saves the collection: into the file it came from, not the one that failed.
    const uint32_t one = w.Collection().Discs.front();
    const TCollectionChange removed = TCollectionChange::DiscRemoved(w.Collection(), one);
    w.Collection().DeleteDisc(one);
    w.SaveCollectionFile(removed);
    EXPECT_EQ(Content(locked), lockedContent);
    EXPECT_EQ(Content(first), kHeader + "D 00000000 00000000 00000000 two\r\n<\r\n");
}

TEST_F(CollectionCommands, LastCollectionThatCannotBeReadAtStartUpIsNeverSavedOver)
{
    const std::string path = PathOf("last.frl");
    Write(path, kTwoDiscs);
    Settings.Keys[kCurrentSettingsKey] = {{kLastCollectionValue, TSettingsValue::OfString(path)}};
    CollectionFiles.FailReads = true;
    TForm_Main& w = Make();
    ShowAndStart();
    CollectionFiles.FailReads = false;
    EXPECT_THAT(Dialogs.MessageTexts(), ElementsAre("Ошибка при загрузке коллекции"));
    EXPECT_TRUE(w.isVisible());
    EXPECT_EQ(w.windowTitle(), "Fendrel v1.2");

    TCollectionNode disc;
    disc.Flags = nfDisc;
    disc.Name = "scanned";
    const uint32_t scanned = w.Collection().AddNode(w.Collection().Discs, disc).Id;
    w.SaveCollectionFile(TCollectionChange::DiscsAppended({scanned}));
    EXPECT_EQ(Dialogs.MessageTexts().back(), "Ошибка при открытии файла коллекции");
    EXPECT_EQ(Content(path), kTwoDiscs);

    // The next start tries the stored collection again.
    Window.reset();
    EXPECT_EQ(Settings.Keys[kCurrentSettingsKey].at(kLastCollectionValue),
              TSettingsValue::OfString(path));
}

TEST_F(CollectionCommands, FailedSaveKeepsTheOldFileTheCollectionAndTheFilters)
{
    const std::string path = PathOf("c.frl");
    TForm_Main& w = WindowWith(path, kTwoDiscs);
    w.Filters["a"] = {2};
    const TCollectionChange removed = TCollectionChange::DiscRemoved(w.Collection(), 3);
    w.Collection().DeleteDisc(3);

    CollectionFiles.DiscSpace = 20; // the disc fills up part-way through the text
    w.SaveCollectionFile(removed);
    EXPECT_THAT(Dialogs.MessageTexts(),
                ElementsAre("Ошибка при сохранении коллекции. Возможно, нет места на диске"));
    EXPECT_EQ(Dialogs.Messages[0].Utf8Title(), "Fendrel v1.2");
    EXPECT_EQ(Content(path), kTwoDiscs);
    EXPECT_EQ(w.Collection().Discs.size(), 1u);
    EXPECT_EQ(w.Filters.size(), 1u);
    EXPECT_THAT(QDir(Folder.path()).entryList(QDir::Files | QDir::Hidden), ElementsAre("c.frl"));

    // Another Fendrel is reading the file.
    CollectionFiles.DiscSpace.reset();
    const int other = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
    w.SaveCollectionFile(removed);
    ::close(other);
    EXPECT_EQ(Dialogs.MessageTexts().back(), "Ошибка при открытии файла коллекции");
    EXPECT_EQ(Content(path), kTwoDiscs);

    // Once the file can be written again, the next change is saved.
    w.SaveCollectionFile(removed);
    EXPECT_EQ(Dialogs.Messages.size(), 2u);
    EXPECT_EQ(Content(path), kHeader + "D 00000000 00000000 00000000 one\r\n"
                                       "E 01C5E0A1 3B2C4D00 00000010 a.txt\r\n"
                                       "<\r\n");
    EXPECT_THAT(w.Filters, IsEmpty());
}

TEST_F(CollectionCommands, HelpOpensTheHelpFileOrSaysItIsMissing)
{
    TForm_Main& w = Make();
    w.Act_HelpContents->trigger();
    EXPECT_THAT(Help.Opened, ElementsAre("Fendrel.chm"));
    EXPECT_THAT(Dialogs.Messages, IsEmpty());

    Help.Opens = false;
    w.Act_HelpContents->trigger();
    ASSERT_EQ(Dialogs.Messages.size(), 1u);
    EXPECT_EQ(Dialogs.Messages[0].Utf8Text(),
              "Ошибка вызова справки - проверьте наличие файла Fendrel.chm");
    EXPECT_EQ(Dialogs.Messages[0].Utf8Title(), "Fendrel v1.2");
    EXPECT_EQ(Dialogs.Messages[0].Kind, TMessageKind::Error);
}

TEST_F(CollectionCommands, AboutBoxHasThreeLines)
{
    Make().Act_HelpAbout->trigger();
    ASSERT_EQ(Dialogs.Messages.size(), 1u);
    const std::string text = Dialogs.Messages[0].Utf8Text();
    EXPECT_EQ(Dialogs.Messages[0].Utf8Title(), "О программе");
    EXPECT_EQ(Dialogs.Messages[0].Kind, TMessageKind::Information);
    EXPECT_TRUE(text.starts_with("Fendrel v1.2\r\n")) << text;
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2) << text;
    EXPECT_EQ(std::count(text.begin(), text.end(), '\r'), 2) << text;
}

} // namespace
