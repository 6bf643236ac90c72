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
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sys/file.h>
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
        for (const int item : w.TreeModel->Item(0).Children)
            captions.push_back(w.TreeModel->Item(item).Caption);
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

TEST_F(SharedCollection, OpeningRemovesWhatKilledSavesLeftBehind)
{
    const std::string path = PathOf("discs.frl");
    Write(path, kHeader + kOld);
    for (const char* name : {".discs.frl.a1B2c3", ".discs.frl.Zz9Yy8"}) {
        Write(PathOf(name), kHeader);
        const timespec times[2] = {{0, UTIME_OMIT}, {1600000000, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, PathOf(name).c_str(), times, 0), 0);
    }
    const int live = ::open(PathOf(".discs.frl.Zz9Yy8").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::flock(live, LOCK_EX | LOCK_NB), 0);
    Open(Window, path);
    ::close(live);
    EXPECT_THAT(Hidden(), ElementsAre(".discs.frl.Zz9Yy8", "discs.frl"));
}

} // namespace
