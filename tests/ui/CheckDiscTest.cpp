// "Проверить диск...": a disc read back against its record, of a folder and of an image, reported
// in its window and leaving the collection as it was.
#include "support/DiscTrees.h"
#include "support/WindowFixture.h"

#include "acquisition/CheckDisc.h"
#include "acquisition/CheckReportWindow.h"
#include "acquisition/UpdateDisc.h"
#include "browse/CollectionTree.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>

#include <gmock/gmock.h>

#include <algorithm>
#include <optional>
#include <random>
#include <xxhash.h>

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace fs = std::filesystem;

namespace {

constexpr int64_t kTime = 1600000000;

// Bytes of their own for each seed, so that a file's bytes are found in an image by them.
std::string Pattern(size_t size, unsigned seed)
{
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& byte : bytes)
        byte = static_cast<char>(random() & 0xFF);
    return bytes;
}

void Write(const std::string& path, const std::string& bytes, int64_t time = kTime)
{
    WriteFileAt(path, bytes, time);
}

class CheckDisc : public TWindowFixture {
protected:
    CheckDisc()
    {
        MakeTree(Stick, {FolderEntry("Docs", kTime), FolderEntry("Фото", kTime)});
        Write(Stick + "/Docs/a.txt", Pattern(10000, 1));
        Write(Stick + "/Docs/b.txt", Pattern(5000, 2));
        Write(Stick + "/Фото/1.jpg", Pattern(3 * 2048 + 7, 3));
        Write(Stick + "/gone.txt", "gone");
        SettleFolders(Stick, kTime);
        MakeWindow().CollectionFile = PathOf("discs.frl");
        Window->Checker->ReviewCheck = [this](const std::string& title, const TDiscCheck& check) {
            Reviewed.push_back(AnsiToUtf8(title));
            Check = check;
            return UpdateAfterCheck;
        };
        Window->Updater->ReviewChanges = [](const std::string&, const TDiscTreeDiff&) {
            return true;
        };
        Dialogs.Messages.clear(); // the warning that there is no drive
    }

    uint32_t AddFolder(const std::string& folder, const std::string& title)
    {
        Dialogs.FolderAnswers.push_back(folder);
        Dialogs.InputAnswers.push_back(Ansi(title));
        Window->Act_AddFolder->trigger();
        return Window->Collection().Discs.back();
    }
    uint32_t AddImage(const std::string& image, const std::string& title)
    {
        Dialogs.FileAnswers.push_back(image);
        Dialogs.InputAnswers.push_back(Ansi(title));
        Window->Act_AddImage->trigger();
        return Window->Collection().Discs.back();
    }
    // Gives the disc's files the checksums of the files below root, as an add with checksums
    // would have recorded them.
    void RecordChecksums(uint32_t disc, const std::string& root)
    {
        TFendrel& c = Window->Collection();
        std::vector<std::pair<uint32_t, std::string>> pending{{disc, root}};
        while (!pending.empty()) {
            const auto [id, path] = pending.back();
            pending.pop_back();
            for (const uint32_t child : c.GetNode(id).Children) {
                const TCollectionNode& node = c.GetNode(child);
                const std::string childPath = path + "/" + AnsiToUtf8(node.Name.str());
                if (!node.Is(nfFile)) {
                    pending.emplace_back(child, childPath);
                    continue;
                }
                const std::string bytes = FileContent(childPath);
                const XXH128_hash_t hash = XXH3_128bits(bytes.data(), bytes.size());
                c.Checksums[child] = {hash.low64, hash.high64};
            }
        }
    }
    void Select(uint32_t id)
    {
        SelectTreeItem(*Window->TreeView_Main, FindTreeItem(*Window->TreeView_Main, id));
    }
    [[nodiscard]] std::string Tree(uint32_t disc) const
    {
        const TFendrel& c = Window->Collection();
        return DumpScanned(c, c.GetNode(disc), true);
    }
    // Where bytes begin in the file at path.
    static size_t OffsetOf(const std::string& path, const std::string& bytes)
    {
        const size_t at = FileContent(path).find(bytes);
        if (at == std::string::npos)
            throw std::runtime_error("bytes not found in " + path);
        return at;
    }

    TScratchFolder Scratch;
    std::string Stick = Scratch / "media/STICK";
    std::vector<std::string> Reviewed;
    TDiscCheck Check;
    bool UpdateAfterCheck = false;
};

TEST_F(CheckDisc, FolderWithFilesAddedRemovedAndRewrittenIsReportedAndLeftAsRecorded)
{
    TForm_Main& w = *Window;
    const uint32_t disc = AddFolder(Stick, "Флешка");
    RecordChecksums(disc, Stick);
    const auto checksums = w.Collection().Checksums;
    const std::string saved = FileContent(w.CollectionFile);
    const std::string tree = Tree(disc);

    fs::remove(Stick + "/gone.txt");
    Write(Stick + "/Фото/2.jpg", "new");
    // Rewritten with its size and time kept: only the checksum tells.
    Write(Stick + "/Docs/b.txt", Pattern(5000, 9));
    SettleFolders(Stick, kTime);
    Dialogs.Messages.clear();
    // A folder item stands for its disc.
    Select(w.Collection().GetNode(disc).Children.at(0));
    w.Act_CheckDisc->trigger();

    EXPECT_THAT(Reviewed, ElementsAre("Флешка"));
    ASSERT_EQ(Dialogs.ReadingBoxes.size(), 1u);
    EXPECT_EQ(AnsiToUtf8(Dialogs.ReadingBoxes[0].Title), "Проверка диска «Флешка»");
    EXPECT_EQ(Dialogs.ReadingBoxes[0].Total, 10000u + 5000u + 3 * 2048u + 7u + 3u);
    EXPECT_THAT(ChangePaths(Check.Missing), ElementsAre("gone.txt"));
    EXPECT_THAT(ChangePaths(Check.New), ElementsAre("Фото\\2.jpg"));
    EXPECT_THAT(ChangePaths(Check.Changed), IsEmpty());
    EXPECT_THAT(ChangePaths(Check.ContentChanged), ElementsAre("Docs\\b.txt"));
    EXPECT_THAT(Check.Unreadable, IsEmpty());
    EXPECT_EQ(Check.ChecksumsCompared, 3u);
    EXPECT_THAT(Dialogs.MessageTexts(), IsEmpty());

    // Nothing of the collection changes, in memory or in its file.
    EXPECT_EQ(Tree(disc), tree);
    EXPECT_EQ(w.Collection().Checksums, checksums);
    EXPECT_EQ(FileContent(w.CollectionFile), saved);
    EXPECT_FALSE(w.HasUnsavedChanges());
}

TEST_F(CheckDisc, CancelledReadingOrNoDiscSelectedShowsNothing)
{
    TForm_Main& w = *Window;
    const uint32_t disc = AddFolder(Stick, "Флешка");
    const std::string saved = FileContent(w.CollectionFile);
    Dialogs.Messages.clear();

    w.Act_CheckDisc->trigger(); // the root is selected
    EXPECT_TRUE(Dialogs.ReadingBoxes.empty());

    Select(disc);
    Dialogs.CancelReadings.push_back(true);
    w.Act_CheckDisc->trigger();
    EXPECT_EQ(Dialogs.ReadingBoxes.size(), 1u);
    EXPECT_THAT(Reviewed, IsEmpty());
    EXPECT_THAT(Dialogs.MessageTexts(), IsEmpty());
    EXPECT_EQ(FileContent(w.CollectionFile), saved);
}

TEST_F(CheckDisc, AnotherMediumIsQuestionedBeforeItIsRead)
{
    TForm_Main& w = *Window;
    const uint32_t disc = AddFolder(Stick, "Флешка");
    const std::string moved = Scratch / "elsewhere";
    fs::rename(Stick, moved);
    Dialogs.Messages.clear();
    Select(disc);
    Dialogs.FolderAnswers.push_back(moved);
    w.Act_CheckDisc->trigger();
    EXPECT_THAT(Dialogs.MessageTexts(),
                ElementsAre("Выбранный носитель не похож на диск «Флешка». Всё равно проверить?"));
    EXPECT_TRUE(Dialogs.ReadingBoxes.empty());

    Dialogs.FolderAnswers.push_back(moved);
    Dialogs.QuestionAnswers.push_back(TMessageResult::Yes);
    w.Act_CheckDisc->trigger();
    EXPECT_EQ(Dialogs.ReadingBoxes.size(), 1u);
    EXPECT_TRUE(Check.AllWell());
    EXPECT_NE(w.Collection().DiscRecords.at(disc).Facts.Source.Path, moved) << "not updated";
}

TEST_F(CheckDisc, ReportWindowOffersTheUpdateWhichThenTakesTheChangesIn)
{
    TForm_Main& w = *Window;
    w.Checker->ReviewCheck = nullptr; // the real window
    const uint32_t disc = AddFolder(Stick, "Флешка");
    fs::remove(Stick + "/gone.txt");
    SettleFolders(Stick, kTime);
    Dialogs.Messages.clear();
    Select(disc);

    std::string title, header;
    bool updateEnabled = false;
    QTimer::singleShot(0, [&] {
        auto* report = dynamic_cast<TCheckReportWindow*>(QApplication::activeModalWidget());
        ASSERT_NE(report, nullptr);
        title = report->windowTitle().toStdString();
        header = report->Header->text().toStdString();
        updateEnabled = report->Update->isEnabled();
        report->Update->click();
    });
    w.Act_CheckDisc->trigger();

    EXPECT_EQ(title, "Проверка диска «Флешка»");
    EXPECT_EQ(header, "Не читаются: 0, отсутствуют: 1, новые: 0, изменены: 0\n"
                      "Прочитано файлов: 3 (20.7 k), сверено по контрольным суммам: 0");
    EXPECT_TRUE(updateEnabled);
    EXPECT_EQ(Tree(disc).find("gone.txt"), std::string::npos) << "updated";
    EXPECT_EQ(FileContent(w.CollectionFile).find("gone.txt"), std::string::npos);
}

// The checksum the collection records for the file at path below the disc ("Docs/a.txt").
std::optional<TContentChecksum> RecordedChecksum(const TFendrel& c, uint32_t disc,
                                                 const std::string& path)
{
    uint32_t id = disc;
    for (const auto& part : fs::path(path)) {
        const TCollectionBranch& children = c.GetNode(id).Children;
        const auto child = std::find_if(children.begin(), children.end(), [&](uint32_t each) {
            return AnsiToUtf8(c.GetNode(each).Name.str()) == part.string();
        });
        if (child == children.end())
            return std::nullopt;
        id = *child;
    }
    const auto sum = c.Checksums.find(id);
    return sum == c.Checksums.end() ? std::nullopt : std::optional(sum->second);
}

TContentChecksum ChecksumOfFile(const std::string& path)
{
    const std::string bytes = FileContent(path);
    const XXH128_hash_t hash = XXH3_128bits(bytes.data(), bytes.size());
    return {hash.low64, hash.high64};
}

TEST_F(CheckDisc, UpdatesKeepTheChecksumsOfUnchangedFilesAndTakeTheCheckedContentIn)
{
    TForm_Main& w = *Window;
    const uint32_t disc = AddFolder(Stick, "Флешка");
    RecordChecksums(disc, Stick);
    const TContentChecksum a = ChecksumOfFile(Stick + "/Docs/a.txt");

    // An update without reading checksums: the files it finds as they were keep theirs.
    fs::remove(Stick + "/gone.txt");
    SettleFolders(Stick, kTime);
    Select(disc);
    w.Act_UpdateDisc->trigger();
    ASSERT_EQ(Tree(disc).find("gone.txt"), std::string::npos) << "updated";
    EXPECT_EQ(RecordedChecksum(w.Collection(), disc, "Docs/a.txt"), a);
    EXPECT_EQ(RecordedChecksum(w.Collection(), disc, "Фото/1.jpg"),
              ChecksumOfFile(Stick + "/Фото/1.jpg"));

    // A content change the check found is taken in by the update it offers, from its reading.
    Write(Stick + "/Docs/b.txt", Pattern(5000, 9));
    SettleFolders(Stick, kTime);
    UpdateAfterCheck = true;
    Dialogs.Messages.clear();
    Select(disc);
    w.Act_CheckDisc->trigger();
    EXPECT_THAT(ChangePaths(Check.ContentChanged), ElementsAre("Docs\\b.txt"));
    EXPECT_EQ(Dialogs.ReadingBoxes.size(), 1u) << "the disc is read once";
    EXPECT_EQ(RecordedChecksum(w.Collection(), disc, "Docs/b.txt"),
              ChecksumOfFile(Stick + "/Docs/b.txt"));
    EXPECT_EQ(RecordedChecksum(w.Collection(), disc, "Docs/a.txt"), a);
    TForm_Main second(Platform());
    Dialogs.FileAnswers.push_back(w.CollectionFile);
    second.Act_LoadCollection->trigger();
    EXPECT_EQ(RecordedChecksum(second.Collection(), second.Collection().Discs.back(), "Docs/b.txt"),
              ChecksumOfFile(Stick + "/Docs/b.txt"));
}

// An image of the stick's files, added with its checksums, then damaged.
class CheckImage : public CheckDisc {
protected:
    CheckImage()
    {
        MakeIsoImage(Stick, Image, "-joliet on");
        Window->Act_ChecksumsOnAdd->trigger();
        Disc = AddImage(Image, "Образ");
        Saved = FileContent(Window->CollectionFile);
        Dialogs.ReadingBoxes.clear();
        Dialogs.Messages.clear();
        Select(Disc);
    }
    // Checks the disc, accepting the question about another medium, and asserts that the
    // collection stayed as it was.
    void RunCheck()
    {
        Dialogs.QuestionAnswers.push_back(TMessageResult::Yes);
        Window->Act_CheckDisc->trigger();
        ASSERT_EQ(Reviewed.size(), 1u);
        EXPECT_EQ(FileContent(Window->CollectionFile), Saved);
    }

    std::string Image = Scratch / "disc.iso";
    uint32_t Disc = 0;
    std::string Saved;
};

TEST_F(CheckImage, AsRecordedReadsWholeAndFlippedBytesAreChanged)
{
    RunCheck();
    EXPECT_TRUE(Check.AllWell());
    EXPECT_EQ(Window->Collection().Checksums.size(), 4u);
    EXPECT_EQ(Check.ChecksumsCompared, 4u);

    const size_t at = OffsetOf(Image, Pattern(5000, 2).substr(0, 256)) + 1234;
    {
        std::fstream image(Image, std::ios::in | std::ios::out | std::ios::binary);
        image.seekg(static_cast<std::streamoff>(at));
        const char byte = static_cast<char>(image.get() ^ 0x20);
        image.seekp(static_cast<std::streamoff>(at));
        image.put(byte);
    }
    Reviewed.clear();
    RunCheck();
    EXPECT_THAT(ChangePaths(Check.ContentChanged), ElementsAre("Docs\\b.txt"));
    EXPECT_THAT(Check.Unreadable, IsEmpty());
    EXPECT_THAT(Check.Missing, IsEmpty());
    EXPECT_THAT(Check.Changed, IsEmpty());
}

TEST_F(CheckImage, CutImageLeavesItsLastFilesUnreadableFromTheCut)
{
    const size_t start = OffsetOf(Image, Pattern(10000, 1).substr(0, 256));
    fs::resize_file(Image, start + 4096);
    RunCheck();
    ASSERT_FALSE(Check.Unreadable.empty());
    const auto a = std::ranges::find_if(Check.Unreadable, [](const TUnreadableEntry& file) {
        return AnsiToUtf8(file.Path) == "Docs\\a.txt";
    });
    ASSERT_NE(a, Check.Unreadable.end());
    EXPECT_EQ(a->BadOffset, 4096u);
    EXPECT_EQ(a->Size, 10000u);
    EXPECT_THAT(Check.Missing, IsEmpty());
}

TEST(CheckReportWindow, GroupsTheirEntriesAndOffersTheUpdateOnlyForChanges)
{
    TDiscCheck check;
    check.Unreadable.push_back({Ansi("Фото\\1.jpg"), 6151, 4096});
    check.Unreadable.push_back({"Docs", 0, 0, true});
    check.FilesRead = 2;
    check.BytesRead = 2048;
    TCheckReportWindow unreadable(Ansi("Флешка"), check, 0);
    EXPECT_EQ(unreadable.windowTitle().toStdString(), "Проверка диска «Флешка»");
    ASSERT_EQ(unreadable.Results->topLevelItemCount(), 4);
    const QTreeWidgetItem* group = unreadable.Results->topLevelItem(0);
    EXPECT_EQ(group->text(0).toStdString(), "Не читаются (2)");
    EXPECT_EQ(group->child(0)->text(0).toStdString(), "Фото\\1.jpg");
    EXPECT_EQ(group->child(0)->text(3).toStdString(), "ошибка чтения с байта 4096");
    EXPECT_EQ(group->child(1)->text(0).toStdString(), "Docs\\");
    EXPECT_EQ(group->child(1)->text(3).toStdString(), "папка не открывается");
    EXPECT_FALSE(unreadable.Update->isEnabled()) << "an update cannot mend a disc";

    check.Unreadable.clear();
    check.Changed.push_back({false, "grow.bin", 50, 10, 2048, 20});
    check.ContentChanged.push_back({false, "same.bin", 7, 10, 7, 10});
    check.Missing.push_back({true, "Old", 0, 0, 0, 0});
    TCheckReportWindow changed(Ansi("Флешка"), check, 0);
    EXPECT_EQ(changed.Header->text().toStdString(),
              "Не читаются: 0, отсутствуют: 1, новые: 0, изменены: 2\n"
              "Прочитано файлов: 2 (2.0 k), сверено по контрольным суммам: 0");
    group = changed.Results->topLevelItem(3);
    EXPECT_EQ(group->text(0).toStdString(), "Изменены (2)");
    EXPECT_EQ(group->child(0)->text(1).toStdString(), "50 → 2.0 k");
    EXPECT_EQ(group->child(0)->text(3).toStdString(), "размер, дата");
    EXPECT_EQ(group->child(1)->text(3).toStdString(), "содержимое (контрольная сумма)");
    EXPECT_EQ(changed.Results->topLevelItem(1)->child(0)->text(0).toStdString(), "Old\\");
    EXPECT_TRUE(changed.Update->isEnabled());
    EXPECT_EQ(changed.Update->text().toStdString(), "Обновить диск");

    TCheckReportWindow well(Ansi("Флешка"), TDiscCheck{}, 0);
    EXPECT_EQ(well.Header->text().toStdString(),
              "Диск читается полностью, изменений нет\n"
              "Прочитано файлов: 0 (0), сверено по контрольным суммам: 0");
    EXPECT_TRUE(well.Results->isHidden());
    EXPECT_FALSE(well.Update->isEnabled());
}

} // namespace
