// Two windows on one collection file, other programs writing it meanwhile, and files that cannot
// be read whole: no save loses what another save or the file itself held.
#include "support/DiscTrees.h"
#include "support/WindowFixture.h"

#include "browse/CollectionTree.h"
#include "browse/CollectionTreeModel.h"

#include <QAction>
#include <QTreeView>

#include <gmock/gmock.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sys/file.h>
#include <thread>
#include <unistd.h>

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace fs = std::filesystem;

namespace {

const std::string kHeader = ";Fendrel File v1 begin\r\n";
const std::string kOld = "D 00000000 00000000 00000000 old\r\n"
                         "E 01C5E0A1 3B2C4D00 00000010 a.txt\r\n"
                         "<\r\n";
// Texts that cannot be read whole as a collection: not one at all, LF line ends, a line that is
// no record, a cut line, and texts that end early at a zero byte or a closing line.
const std::string kDamaged[] = {
    "a letter to a friend\r\n",
    ";Fendrel File v1 begin\nD 0 0 0 old\n<\n",
    kHeader + kOld + "not a record\r\nD 0 0 0 lost\r\n<\r\n",
    kHeader + kOld + "D 0 0 0 cut",
    kHeader + kOld + std::string(1, '\0') + "D 0 0 0 after a zero byte\r\n<\r\n",
    kHeader + kOld + "<\r\nD 0 0 0 after a closing line\r\n<\r\n",
    kHeader + kOld + "<\r\n;Fendrel extensions v2\r\nD 1 notes=a%20disc%20that%20is%20not\r\n",
};
const char* const kMerged =
    "Файл коллекции был изменен другой программой. Сохранены изменения обеих программ.";
const char* const kLocked = "Ошибка при открытии файла коллекции";
const char* const kFull = "Ошибка при сохранении коллекции. Возможно, нет места на диске";
const char* const kRetry =
    "Последние изменения коллекции не сохранены в ее файле. Попробовать сохранить их снова?\r\n"
    "\r\nДа - сохранить; если не получится, коллекция останется открытой.\r\n"
    "Нет - отказаться от этих изменений.";

// A lock on a file held by another program (another Fendrel saving, fendrel-find reading) for
// the life of this object, or until Release.
class TForeignLock {
public:
    TForeignLock(const std::string& path, int kind)
        : Fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC))
    {
        EXPECT_EQ(::flock(Fd_, kind | LOCK_NB), 0);
    }
    TForeignLock(const TForeignLock&) = delete;
    TForeignLock& operator=(const TForeignLock&) = delete;
    ~TForeignLock()
    {
        if (Releaser_.joinable())
            Releaser_.join();
        Release();
    }
    void Release()
    {
        if (Fd_ >= 0)
            ::close(Fd_);
        Fd_ = -1;
    }
    // Releases the lock after delay, from another thread, while this one waits for it.
    void ReleaseAfter(std::chrono::milliseconds delay)
    {
        Releaser_ = std::jthread([this, delay] {
            std::this_thread::sleep_for(delay);
            Release();
        });
    }

private:
    int Fd_;
    std::jthread Releaser_;
};

class SharedCollection : public TWindowFixture {
protected:
    void SetUp() override
    {
        MakeTree(Scratch / "disc", {FileEntry("b.txt", 1600000000, 20)});
        Drives.Add('D', {TDriveSource::TKind::Folder, Scratch / "disc", "DATA"});
    }

    // A window that has opened path.
    TForm_Main& Open(std::unique_ptr<TForm_Main>& window, const std::string& path)
    {
        window = std::make_unique<TForm_Main>(Platform());
        Dialogs.FileAnswers.push_back(path);
        window->Act_LoadCollection->trigger();
        return *window;
    }
    void AddDisc(TForm_Main& w, const std::string& title)
    {
        Dialogs.InputAnswers.push_back(title);
        w.Act_AddDisc->trigger();
    }
    void RemoveDisc(TForm_Main& w, const std::string& title)
    {
        const TFendrel& c = w.Collection();
        for (const uint32_t disc : c.Discs)
            if (c.GetNode(disc).Name.view() == title)
                SelectTreeItem(*w.TreeView_Main, FindTreeItem(*w.TreeView_Main, disc));
        Dialogs.QuestionAnswers.push_back(TMessageResult::Yes);
        w.Act_DeleteDisc->trigger();
    }
    static void Write(const std::string& path, const std::string& content)
    {
        std::ofstream(path, std::ios::binary) << content;
    }
    [[nodiscard]] static std::string Content(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    static std::vector<std::string> Titles(const TFendrel& c)
    {
        std::vector<std::string> titles;
        for (const uint32_t disc : c.Discs)
            titles.push_back(c.GetNode(disc).Name.str());
        return titles;
    }
    // The titles of the discs the file holds; the file must read whole.
    static std::vector<std::string> FileTitles(const std::string& path)
    {
        TFendrel c;
        const std::string text = Content(path);
        size_t readTo = 0;
        EXPECT_TRUE(c.LoadFromText(text, readTo));
        EXPECT_EQ(readTo, text.size());
        return Titles(c);
    }
    // The captions of the disc items of the window's tree.
    static std::vector<std::string> TreeDiscs(TForm_Main& w)
    {
        std::vector<std::string> captions;
        for (int row = 0; row < w.TreeModel->ChildCountOf(0); ++row)
            captions.push_back(w.TreeModel->Item(w.TreeModel->ChildAt(0, row)).Caption.str());
        return captions;
    }
    [[nodiscard]] std::vector<std::string> Hidden() const
    {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(Folder.path().toStdString()))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    TScratchFolder Scratch;
    std::unique_ptr<TForm_Main> Other;
};

TEST_F(SharedCollection, DiscsAddedInTwoWindowsAreBothKept)
{
    const std::string path = PathOf("discs.frl");
    Write(path, kHeader + kOld);
    TForm_Main& a = Open(Window, path);
    TForm_Main& b = Open(Other, path);
    AddDisc(a, "from A");
    EXPECT_THAT(FileTitles(path), ElementsAre("old", "from A"));
    EXPECT_THAT(Dialogs.MessageTexts(), ElementsAre("Добавлено элементов: 1"));

    b.Filters["a"] = {2};
    AddDisc(b, "from B");
    EXPECT_THAT(FileTitles(path), ElementsAre("old", "from A", "from B"));
    EXPECT_THAT(Titles(b.Collection()), ElementsAre("old", "from A", "from B"));
    EXPECT_THAT(TreeDiscs(b), ElementsAre("old", "from A", "from B"));
    EXPECT_EQ(SelectedTreeItem(*b.TreeView_Main), 0) << "the root item";
    EXPECT_TRUE(b.Filters.empty());
    ASSERT_EQ(Dialogs.Messages.size(), 3u);
    EXPECT_EQ(Dialogs.Messages[2].Utf8Text(), kMerged);
    EXPECT_EQ(Dialogs.Messages[2].Utf8Title(), "Fendrel v1.2");
    EXPECT_EQ(Dialogs.Messages[2].Kind, TMessageKind::Information);
    // B's disc came whole, with its file.
    const std::string saved = Content(path);
    EXPECT_NE(saved.find("D 00000000 00000000 00000000 from B\r\nE "), std::string::npos);
    EXPECT_NE(saved.find(" b.txt\r\n<\r\n"), std::string::npos);

    // A in its turn takes B's disc in; B's next save is an ordinary one.
    AddDisc(a, "again A");
    EXPECT_THAT(FileTitles(path), ElementsAre("old", "from A", "from B", "again A"));
    EXPECT_THAT(TreeDiscs(a), ElementsAre("old", "from A", "from B", "again A"));
    Dialogs.Messages.clear();
    RemoveDisc(b, "old");
    EXPECT_THAT(FileTitles(path), ElementsAre("from A", "from B", "again A"));
    EXPECT_THAT(Dialogs.MessageTexts(),
                ElementsAre(testing::StartsWith("Вы действительно"), kMerged));
}

TEST_F(SharedCollection, DiscRemovedInOneWindowStaysRemovedWhenTheOtherSaves)
{
    const std::string path = PathOf("discs.frl");
    const std::string keep = "D 00000000 00000000 00000000 keep\r\n<\r\n";
    Write(path, kHeader + kOld + keep);
    TForm_Main& a = Open(Window, path);
    TForm_Main& b = Open(Other, path);
    RemoveDisc(a, "old");
    EXPECT_THAT(FileTitles(path), ElementsAre("keep"));
    EXPECT_THAT(TreeDiscs(b), ElementsAre("old", "keep")) << "B has not looked yet";

    AddDisc(b, "new");
    EXPECT_THAT(FileTitles(path), ElementsAre("keep", "new"));
    EXPECT_THAT(TreeDiscs(b), ElementsAre("keep", "new"));

    // A removes a disc that is still as A saw it: it goes, whatever else changed.
    Write(path, kHeader + keep + "D 00000000 00000000 00000000 new\r\n<\r\n");
    RemoveDisc(a, "keep");
    EXPECT_THAT(FileTitles(path), ElementsAre("new"));
    // Removing a disc that another program has changed meanwhile removes nothing.
    TForm_Main& c = Open(Window, path);
    Write(path, kHeader + "D 00000000 00000000 00000000 new\r\nE 0 0 5 added by B\r\n<\r\n");
    RemoveDisc(c, "new");
    EXPECT_THAT(FileTitles(path), ElementsAre("new"));
    EXPECT_THAT(TreeDiscs(c), ElementsAre("new"));
    EXPECT_EQ(Dialogs.MessageTexts().back(), kMerged);
}

// Saves refused by a lock or a full disc: every change waits, in order, for the next save, which
// makes them all on what the file holds then.
TEST_F(SharedCollection, RefusedSavesAreMadeAgainOnWhatAnotherWindowSaved)
{
    const std::string path = PathOf("discs.frl");
    Write(path, kHeader + kOld);
    TForm_Main& a = Open(Window, path);
    TForm_Main& b = Open(Other, path);
    const QString caption = "Fendrel - " + QString::fromStdString(path);
    {
        const TForeignLock saving(path, LOCK_EX);
        AddDisc(a, "A1");
    }
    EXPECT_EQ(Dialogs.MessageTexts().back(), kLocked);
    EXPECT_EQ(a.windowTitle(), caption + " *");
    EXPECT_TRUE(a.HasUnsavedChanges());
    CollectionFiles.DiscSpace = 0;
    AddDisc(a, "A2");
    RemoveDisc(a, "A2"); // added and removed again, both unsaved
    EXPECT_EQ(Dialogs.MessageTexts().back(), kFull);
    CollectionFiles.DiscSpace.reset();
    EXPECT_THAT(FileTitles(path), ElementsAre("old"));

    AddDisc(b, "B1");
    EXPECT_THAT(FileTitles(path), ElementsAre("old", "B1"));
    EXPECT_EQ(b.windowTitle(), caption);

    // A's next change brings A1 along; A2 stays away.
    Dialogs.Messages.clear();
    RemoveDisc(a, "old");
    EXPECT_THAT(FileTitles(path), ElementsAre("B1", "A1"));
    EXPECT_THAT(Titles(a.Collection()), ElementsAre("B1", "A1"));
    EXPECT_THAT(TreeDiscs(a), ElementsAre("B1", "A1"));
    EXPECT_EQ(a.windowTitle(), caption);
    EXPECT_FALSE(a.HasUnsavedChanges());
    EXPECT_EQ(Dialogs.MessageTexts().back(), kMerged);

    // A removal refused by a full disc is not undone by the save that follows another window's.
    CollectionFiles.DiscSpace = 10;
    RemoveDisc(a, "B1");
    CollectionFiles.DiscSpace.reset();
    EXPECT_EQ(Dialogs.MessageTexts().back(), kFull);
    AddDisc(b, "B2");
    EXPECT_THAT(FileTitles(path), ElementsAre("B1", "A1", "B2"));
    AddDisc(a, "A3");
    EXPECT_THAT(FileTitles(path), ElementsAre("A1", "B2", "A3"));
    EXPECT_THAT(Titles(a.Collection()), ElementsAre("A1", "B2", "A3"));
}

TEST_F(SharedCollection, ClosingWithUnsavedChangesAsksToTrySavingAgain)
{
    const std::string path = PathOf("discs.frl");
    Write(path, kHeader + kOld);
    TForm_Main& a = Open(Window, path);
    // Everything saved: no question.
    AddDisc(a, "saved");
    Dialogs.Messages.clear();
    EXPECT_TRUE(a.close());
    EXPECT_THAT(Dialogs.Messages, IsEmpty());

    auto saving = std::make_unique<TForeignLock>(path, LOCK_EX);
    AddDisc(a, "mine");
    // Saving again fails as long as the file stays locked: the window stays open.
    Dialogs.Messages.clear();
    Dialogs.QuestionAnswers = {TMessageResult::Yes};
    EXPECT_FALSE(a.close());
    EXPECT_THAT(Dialogs.MessageTexts(), ElementsAre(kRetry, kLocked));
    EXPECT_EQ(Dialogs.Messages[0].Kind, TMessageKind::Question);
    EXPECT_EQ(Dialogs.Messages[0].Utf8Title(), "Fendrel v1.2");
    // Once the lock has gone, the same answer saves and closes.
    saving.reset();
    Dialogs.QuestionAnswers = {TMessageResult::Yes};
    EXPECT_TRUE(a.close());
    EXPECT_THAT(FileTitles(path), ElementsAre("old", "saved", "mine"));

    // No gives the changes up.
    saving = std::make_unique<TForeignLock>(path, LOCK_EX);
    AddDisc(a, "given up");
    saving.reset();
    Dialogs.Messages.clear();
    Dialogs.QuestionAnswers = {TMessageResult::No};
    EXPECT_TRUE(a.close());
    EXPECT_THAT(Dialogs.MessageTexts(), ElementsAre(kRetry));
    EXPECT_THAT(FileTitles(path), ElementsAre("old", "saved", "mine"));

    // Choosing another collection asks too.
    TForm_Main& b = Open(Other, path);
    saving = std::make_unique<TForeignLock>(path, LOCK_EX);
    RemoveDisc(b, "old");
    saving.reset();
    Write(PathOf("other.frl"), kHeader);
    Dialogs.QuestionAnswers = {TMessageResult::Yes};
    Dialogs.FileAnswers.push_back(PathOf("other.frl"));
    b.Act_LoadCollection->trigger();
    EXPECT_THAT(FileTitles(path), ElementsAre("saved", "mine"));
    EXPECT_EQ(b.CollectionFile, PathOf("other.frl"));
    EXPECT_FALSE(b.HasUnsavedChanges());
}

// Another Fendrel's save or fendrel-find's read holds the file for a moment: a save or an open
// waits for it, and two windows open one file side by side.
TEST_F(SharedCollection, SaveAndOpenWaitForALockHeldBriefly)
{
    CollectionFiles.SetLockWait(std::chrono::seconds(3));
    const std::string path = PathOf("discs.frl");
    Write(path, kHeader + kOld);
    TForm_Main& a = Open(Window, path);
    {
        TForeignLock saving(path, LOCK_EX);
        saving.ReleaseAfter(std::chrono::milliseconds(200));
        AddDisc(a, "mine");
    }
    EXPECT_THAT(Dialogs.MessageTexts(), ElementsAre("Добавлено элементов: 1"));
    EXPECT_THAT(FileTitles(path), ElementsAre("old", "mine"));
    {
        // Another window (or fendrel-find) is reading the file just now.
        const TForeignLock reading(path, LOCK_SH);
        TForm_Main& b = Open(Other, path);
        EXPECT_THAT(Titles(b.Collection()), ElementsAre("old", "mine"));
    }
    {
        TForeignLock saving(path, LOCK_EX);
        saving.ReleaseAfter(std::chrono::milliseconds(200));
        TForm_Main& b = Open(Other, path);
        EXPECT_THAT(Titles(b.Collection()), ElementsAre("old", "mine"));
    }
    EXPECT_EQ(Dialogs.Messages.size(), 1u);
}

TEST_F(SharedCollection, FileThatIsNoLongerACollectionIsNotSavedOver)
{
    const std::string path = PathOf("discs.frl");
    for (const std::string& other : kDamaged) {
        Write(path, kHeader + kOld);
        TForm_Main& a = Open(Window, path);
        Dialogs.Messages.clear();
        a.Filters["a"] = {2};
        Write(path, other);
        AddDisc(a, "mine");
        EXPECT_THAT(Dialogs.MessageTexts(),
                    ElementsAre("Добавлено элементов: 1", "Ошибка при открытии файла коллекции"));
        EXPECT_EQ(Content(path), other);
        EXPECT_THAT(Titles(a.Collection()), ElementsAre("old", "mine"));
        EXPECT_EQ(a.Filters.size(), 1u);
    }
    EXPECT_THAT(Hidden(), ElementsAre("discs.frl"));
}

TEST_F(SharedCollection, FileDeletedBehindTheWindowIsWrittenAnew)
{
    const std::string path = PathOf("discs.frl");
    Write(path, kHeader + kOld);
    TForm_Main& a = Open(Window, path);
    Dialogs.Messages.clear();
    fs::remove(path);
    AddDisc(a, "mine");
    EXPECT_THAT(FileTitles(path), ElementsAre("old", "mine"));
    EXPECT_THAT(Dialogs.MessageTexts(), ElementsAre("Добавлено элементов: 1"));
}

// Files that load only in part: the load says so, and the first save keeps the file as it was.
TEST_F(SharedCollection, DamagedFileIsKeptBesideTheCollectionByTheFirstSave)
{
    const std::string path = PathOf("discs.frl");
    std::vector<std::string> damaged(std::begin(kDamaged), std::end(kDamaged));
    damaged.push_back(";fendrel file v1 begin\r\n" + kOld);
    for (const std::string& content : damaged) {
        Write(path, content);
        Dialogs.Messages.clear();
        TForm_Main& a = Open(Window, path);
        EXPECT_THAT(Dialogs.MessageTexts(),
                    ElementsAre("Файл коллекции поврежден или имеет неверный формат"))
            << content;
        AddDisc(a, "mine");
        EXPECT_EQ(Content(path + ".damaged"), content);
        const std::vector<std::string> titles = FileTitles(path);
        EXPECT_EQ(titles.back(), "mine");
        // Only the first save keeps a copy.
        AddDisc(a, "more");
        EXPECT_THAT(Hidden(), ElementsAre("discs.frl", "discs.frl.damaged"));
        fs::remove(path + ".damaged");
    }

    // A file read whole keeps no copy, and neither does a collection opened anew.
    Write(path, kHeader + kOld);
    AddDisc(Open(Window, path), "mine");
    EXPECT_THAT(Hidden(), ElementsAre("discs.frl"));
}

TEST_F(SharedCollection, LinkToAFileThatIsNoCollectionIsNeverReplaced)
{
    const std::string notes = PathOf("notes.txt");
    Write(notes, "my notes\n");
    fs::create_symlink(notes, PathOf("discs.frl"));
    TForm_Main& a = Open(Window, PathOf("discs.frl"));
    AddDisc(a, "mine");
    EXPECT_EQ(Dialogs.MessageTexts().back(), "Ошибка при открытии файла коллекции");
    EXPECT_EQ(Content(notes), "my notes\n");
    EXPECT_TRUE(fs::is_symlink(PathOf("discs.frl")));
    EXPECT_THAT(Hidden(), ElementsAre("discs.frl", "notes.txt"));
}

TEST_F(SharedCollection, OpeningRemovesWhatKilledSavesLeftBehindAndNeverTheUsersFiles)
{
    const std::string path = PathOf("discs.frl");
    Write(path, kHeader + kOld);
    const char* const names[] = {".discs.frl.fendrel-save-a1B2c3", ".discs.frl.fendrel-save-Zz9Yy8",
                                 ".discs.frl.backup", ".discs.frl.2025v1"};
    for (const char* name : names) {
        Write(PathOf(name), kHeader + kOld);
        const timespec times[2] = {{0, UTIME_OMIT}, {1600000000, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, PathOf(name).c_str(), times, 0), 0);
    }
    const int live = ::open(PathOf(names[1]).c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::flock(live, LOCK_EX | LOCK_NB), 0);
    Open(Window, path);
    ::close(live);
    EXPECT_THAT(Hidden(), ElementsAre(".discs.frl.2025v1", ".discs.frl.backup",
                                      ".discs.frl.fendrel-save-Zz9Yy8", "discs.frl"));
}

} // namespace
