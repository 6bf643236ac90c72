// What a disc record remembers, shown and changed in the window: whole sizes of a scanned
// folder, its source and dates, "Переименовать диск..." and "Свойства диска...".
#include "BrowseFixture.h"
#include "support/DiscTrees.h"

#include <QAction>

#include <filesystem>
#include <fstream>
#include <gmock/gmock.h>
#include <sstream>
#include <string>

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

constexpr int64_t kTime = 1600000000;

class DiscRecordWindow : public TBrowseFixture {
protected:
    void SetUp() override
    {
        setenv("TZ", "UTC", 1);
        TBrowseFixture::SetUp();
        Window->CollectionFile = PathOf("discs.frl");
    }
    void TearDown() override { unsetenv("TZ"); }

    // Adds the folder as a disc titled title, the way the user does.
    uint32_t AddFolder(TForm_Main& w, const std::string& folder, const std::string& title)
    {
        Dialogs.FolderAnswers.push_back(folder);
        Dialogs.InputAnswers.push_back(Ansi(title));
        w.Act_AddFolder->trigger();
        EXPECT_FALSE(w.Collection().Discs.empty())
            << ::testing::PrintToString(Dialogs.MessageTexts());
        return w.Collection().Discs.empty() ? 0 : w.Collection().Discs.back();
    }
    // The folder Video of the disc: a folder's entries come in the order the file system lists
    // them.
    static uint32_t VideoOf(const TFendrel& c, uint32_t disc)
    {
        for (const uint32_t id : c.GetNode(disc).Children)
            if (c.GetNode(id).Name.view() == "Video")
                return id;
        throw std::runtime_error("no folder Video");
    }
    // The window that opens the collection file anew.
    TForm_Main& Reopen(std::unique_ptr<TForm_Main>& window)
    {
        window = std::make_unique<TForm_Main>(Platform());
        Dialogs.FileAnswers.push_back(Window->CollectionFile);
        window->Act_LoadCollection->trigger();
        return *window;
    }
    [[nodiscard]] std::string FileText() const
    {
        std::ifstream in(Window->CollectionFile, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    // The value of the row of the last properties box shown.
    std::string Row(const std::string& name)
    {
        for (const TDiscProperties::TRow& row : Dialogs.PropertiesBoxes.back().Rows)
            if (row.Name == name)
                return row.Value;
        return "(no row)";
    }

    TScratchFolder Scratch;
    std::unique_ptr<TForm_Main> Other;
};

// Whether this process sees the mount that holds its root folder: a chroot does not, and then no
// folder's file system can be told.
bool RootIsMounted()
{
    std::ifstream in("/proc/self/mountinfo");
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string id, parent, number, root, mountPoint;
        if (fields >> id >> parent >> number >> root >> mountPoint && mountPoint == "/")
            return true;
    }
    return false;
}

TEST_F(DiscRecordWindow, FolderOver4GiBShowsWholeSizesAndRemembersWhereAndWhen)
{
    MakeTree(Scratch / "stick",
             {FolderEntry("Video", kTime), FileEntry("Video/film.mkv", kTime, 5ULL << 30),
              FileEntry("small.txt", kTime, 10)});
    const uint32_t disc = AddFolder(*Window, Scratch / "stick", "Флешка");
    for (TForm_Main* w : {Window.get(), &Reopen(Other)}) {
        const TFendrel& c = w->Collection();
        ASSERT_EQ(c.Discs.size(), 1u) << ::testing::PrintToString(Dialogs.MessageTexts());
        const uint32_t id = c.Discs.at(0);
        ASSERT_EQ(c.GetNode(id).Children.size(), 2u);
        const TCollectionNode& video = c.GetNode(VideoOf(c, id));
        EXPECT_EQ(c.GetNode(video.Children.at(0)).FullSize(), 5ULL << 30);
        EXPECT_EQ(c.SumFileSizes(c.GetNode(id)), (5ULL << 30) + 10);
        const TDiscRecord& record = c.DiscRecords.at(id);
        EXPECT_EQ(record.Facts.Source.Kind, TSourceKind::Folder);
        EXPECT_EQ(record.Facts.Source.Path, Scratch / "stick");
        if (RootIsMounted()) {
            EXPECT_FALSE(record.Facts.Source.MountPoint.empty());
            EXPECT_FALSE(record.Facts.Source.FsType.empty());
        }
        EXPECT_GT(record.Facts.Capacity, 0u);
        EXPECT_EQ(record.Added, Clock.Time);
        EXPECT_EQ(record.Updated, 0u);
    }
    SelectNode(disc);
    EXPECT_THAT(ListCaptions(), ElementsAre("Video", "small.txt"));
    EXPECT_EQ(ListText(0, 4), "5120.0 M") << "the folder's total";
    SelectNode(VideoOf(C(), disc));
    EXPECT_EQ(ListText(0, 4), "5120.0 M");
    EXPECT_NE(FileText().find("\r\n<\r\n;Fendrel extensions v2\r\nD 0 source=folder path="),
              std::string::npos);
}

TEST_F(DiscRecordWindow, RenameAsksForTheTitleOfTheSelectedItemsDiscAndSaves)
{
    const uint32_t backup = Disc("Backup");
    const uint32_t docs = Folder(backup, "Docs");
    Disc("Other");
    Fill();
    Window->Act_RenameDisc->trigger(); // the root: nothing
    Window->TreeView_Main->clearSelection();
    Window->Act_RenameDisc->trigger(); // nothing selected: nothing
    EXPECT_THAT(Dialogs.Inputs, IsEmpty());

    SelectNode(docs);
    Window->Act_RenameDisc->trigger(); // cancelled
    ASSERT_EQ(Dialogs.Inputs.size(), 1u);
    EXPECT_EQ(AnsiToUtf8(Dialogs.Inputs[0].Caption), "Переименование диска");
    EXPECT_EQ(AnsiToUtf8(Dialogs.Inputs[0].Prompt), "Введите новый заголовок диска");
    EXPECT_EQ(Dialogs.Inputs[0].Initial, "Backup");
    EXPECT_EQ(C().GetNode(backup).Name.str(), "Backup");
    EXPECT_FALSE(std::filesystem::exists(Window->CollectionFile));

    Window->Filters["x"] = {};
    SelectNode(backup);
    Dialogs.InputAnswers.push_back(Ansi("Архив \xE6\x97\xA5")); // a character outside 1251
    Window->Act_RenameDisc->trigger();
    EXPECT_EQ(AnsiToUtf8(C().GetNode(backup).Name), "Архив \xE6\x97\xA5");
    EXPECT_THAT(TreeItems(), Contains("  Архив \xE6\x97\xA5"));
    EXPECT_EQ(SelectedData(), backup) << "the renamed disc stays selected";
    EXPECT_TRUE(Window->Filters.empty());
    EXPECT_NE(FileText().find(C().GetNode(backup).Name.str()), std::string::npos);
    EXPECT_THAT(Dialogs.Messages, IsEmpty());
}

TEST_F(DiscRecordWindow, PropertiesShowTheRecordAndStatisticsAndSaveEditedNotes)
{
    const uint32_t disc = Disc("Фото");
    const uint32_t summer = Folder(disc, "Лето");
    File(summer, "big.mkv", 0, 0x01D5F15B'00000000);
    C().GetNode(C().LastId).SetFullSize(5ULL << 30);
    File(disc, "readme.txt", 1024, 0x01D6F15B'00000000);
    TDiscRecord& record = C().DiscRecords[disc];
    record.Facts.Source = {TSourceKind::Image, "/home/u/фото.iso", "", 4'700'000'000, 0, "", ""};
    record.Facts.Identity.Label = "PHOTOS";
    record.Facts.Identity.FileSystem = "ISO 9660 + Joliet";
    record.Added = FileTimeFromUnix(1700000000); // 14.11.2023 22:13:20 UTC
    record.Notes = "Коробка 3\nполка 2";
    Fill();

    SelectNode(summer);
    Dialogs.PropertiesAnswers.push_back(std::nullopt); // Cancel
    Window->Act_DiscProperties->trigger();
    ASSERT_EQ(Dialogs.PropertiesBoxes.size(), 1u);
    EXPECT_EQ(Row("Заголовок"), "Фото");
    EXPECT_EQ(Row("Источник"), "образ диска");
    EXPECT_EQ(Row("Путь"), "/home/u/фото.iso");
    EXPECT_EQ(Row("Размер образа"), "4482.3 M (4 700 000 000 байт)");
    EXPECT_EQ(Row("Файловая система"), "ISO 9660 + Joliet");
    EXPECT_EQ(Row("Метка тома"), "PHOTOS");
    EXPECT_EQ(Row("Добавлен"), "14.11.2023 22:13:20");
    EXPECT_EQ(Row("Обновлен"), "не обновлялся");
    EXPECT_EQ(Row("Папок"), "1");
    EXPECT_EQ(Row("Файлов"), "2");
    EXPECT_EQ(Row("Общий размер"), "5120.0 M (5 368 710 144 байт)");
    EXPECT_EQ(Row("Самый большой файл"), "\\Лето\\big.mkv, 5120.0 M (5 368 709 120 байт)");
    EXPECT_EQ(Row("Самый новый файл").substr(0, 12), "\\readme.txt,");
    EXPECT_EQ(Row("UUID"), "(no row)") << "what is not known is left out";
    EXPECT_EQ(Dialogs.PropertiesBoxes[0].Notes, "Коробка 3\nполка 2");
    EXPECT_FALSE(std::filesystem::exists(Window->CollectionFile)) << "Cancel saves nothing";

    Dialogs.PropertiesAnswers.push_back("Коробка 4\r\n% = все");
    Window->Act_DiscProperties->trigger();
    EXPECT_EQ(C().DiscRecords.at(disc).Notes, "Коробка 4\r\n% = все");
    EXPECT_EQ(SelectedData(), summer);
    TForm_Main& reopened = Reopen(Other);
    EXPECT_EQ(reopened.Collection().DiscRecords.at(reopened.Collection().Discs[0]).Notes,
              "Коробка 4\r\n% = все");
}

// Another window saved the file meanwhile: the rename and the notes are made on its collection,
// which keeps its own disc, and the sizes and notes of both.
TEST_F(DiscRecordWindow, RenameAndNotesAreMadeAgainOnAnotherWindowsNewerFile)
{
    MakeTree(Scratch / "a", {FileEntry("huge.bin", kTime, 6ULL << 30)});
    MakeTree(Scratch / "b", {FileEntry("small.bin", kTime, 1)});
    const uint32_t first = AddFolder(*Window, Scratch / "a", "first");
    TForm_Main& other = Reopen(Other);
    AddFolder(other, Scratch / "b", "second");
    Dialogs.Messages.clear();

    SelectNode(first);
    Dialogs.PropertiesAnswers.push_back("на полке");
    Window->Act_DiscProperties->trigger();
    EXPECT_EQ(Dialogs.Messages.size(), 1u) << "the merge is reported";
    const TFendrel& merged = Window->Collection();
    ASSERT_EQ(merged.Discs.size(), 2u);
    EXPECT_EQ(merged.DiscRecords.at(merged.Discs[0]).Notes, "на полке");
    EXPECT_EQ(merged.GetNode(merged.GetNode(merged.Discs[0]).Children.at(0)).FullSize(),
              6ULL << 30);

    SelectTreeItem(*other.TreeView_Main,
                   FindTreeItem(*other.TreeView_Main, other.Collection().Discs[0]));
    Dialogs.InputAnswers.push_back("renamed");
    other.Act_RenameDisc->trigger();
    TFendrel saved;
    std::ifstream in(Window->CollectionFile, std::ios::binary);
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    ASSERT_TRUE(saved.LoadFromText(text));
    ASSERT_EQ(saved.Discs.size(), 2u);
    EXPECT_EQ(saved.GetNode(saved.Discs[0]).Name.str(), "renamed");
    EXPECT_EQ(saved.DiscRecords.at(saved.Discs[0]).Notes, "на полке");
    EXPECT_EQ(saved.GetNode(saved.Discs[1]).Name.str(), "second");
}

} // namespace
