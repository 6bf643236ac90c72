// "Обновить диск...": a disc brought up to date from its medium with a report of the changes, and
// a medium added again.
#include "support/DiscTrees.h"
#include "support/WindowFixture.h"

#include "acquisition/ChangeReportWindow.h"
#include "acquisition/UpdateDisc.h"
#include "browse/CollectionTree.h"
#include "collection/DiscTreeDiff.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTreeView>
#include <QTreeWidget>

#include <gmock/gmock.h>

#include <filesystem>
#include <fstream>

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace fs = std::filesystem;

namespace {

constexpr int64_t kTime = 1600000000;

void Touch(const std::string& path, int64_t time)
{
    const timespec times[2] = {{time, 0}, {time, 0}};
    ::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW);
}

class UpdateDisc : public TWindowFixture {
protected:
    UpdateDisc()
    {
        MakeTree(Stick, {FolderEntry("Docs", kTime), FileEntry("Docs/a.txt", kTime, 10),
                         FileEntry("Docs/b.txt", kTime, 20), FolderEntry("Photos", kTime),
                         FileEntry("Photos/1.jpg", kTime, 30), FileEntry("gone.txt", kTime, 40),
                         FileEntry("grow.bin", kTime, 50), FileEntry("touch.txt", kTime, 60)});
        MakeWindow().CollectionFile = PathOf("discs.frl");
        Window->Updater->ReviewChanges = [this](const std::string& title,
                                                const TDiscTreeDiff& diff) {
            Reviewed.push_back(AnsiToUtf8(title));
            Diff = diff;
            return ApplyChanges;
        };
        Dialogs.Messages.clear(); // the warning that there is no drive
    }

    // Adds the folder as a disc titled title and returns its id.
    uint32_t AddFolder(const std::string& folder, const std::string& title)
    {
        Dialogs.FolderAnswers.push_back(folder);
        Dialogs.InputAnswers.push_back(Ansi(title));
        Window->Act_AddFolder->trigger();
        return Window->Collection().Discs.back();
    }
    void Select(uint32_t id)
    {
        SelectTreeItem(*Window->TreeView_Main, FindTreeItem(*Window->TreeView_Main, id));
    }
    // The changes made between the scan and the update.
    void ChangeStick()
    {
        fs::remove(Stick + "/gone.txt");
        fs::resize_file(Stick + "/grow.bin", 5000);
        Touch(Stick + "/grow.bin", kTime);
        Touch(Stick + "/touch.txt", kTime + 100);
        MakeTree(Stick, {FileEntry("Docs/new.txt", kTime, 7)});
        Touch(Stick + "/Docs", kTime + 200);
        fs::rename(Stick + "/Photos", Stick + "/Фото");
        Touch(Stick + "/Фото", kTime);
    }
    [[nodiscard]] std::string Tree(uint32_t disc) const
    {
        const TFendrel& c = Window->Collection();
        return DumpScanned(c, c.GetNode(disc), true);
    }

    TScratchFolder Scratch;
    std::string Stick = Scratch / "media/STICK";
    std::vector<std::string> Reviewed;
    TDiscTreeDiff Diff;
    bool ApplyChanges = true;
};

TEST_F(UpdateDisc, ChangedFolderGivesExactlyItsChangesAndApplyReplacesTheTree)
{
    TForm_Main& w = *Window;
    const uint32_t music = AddFolder(Scratch.Path, "Всё");
    const uint32_t disc = AddFolder(Stick, "Флешка");
    w.Collection().DiscRecords[disc].Notes = "shelf 3";
    ChangeStick();
    Dialogs.Messages.clear();
    // A folder item stands for its disc.
    Select(w.Collection().GetNode(disc).Children.at(0));
    const uint32_t lastId = w.Collection().LastId;
    w.Filters["old"] = {};
    w.Act_UpdateDisc->trigger();

    EXPECT_THAT(Reviewed, ElementsAre("Флешка"));
    EXPECT_THAT(ChangePaths(Diff.Added), ElementsAre("Docs\\new.txt", "Фото\\", "Фото\\1.jpg"));
    EXPECT_THAT(ChangePaths(Diff.Removed), ElementsAre("gone.txt", "Photos\\", "Photos\\1.jpg"));
    EXPECT_THAT(ChangePaths(Diff.Changed), ElementsAre("Docs\\", "grow.bin", "touch.txt"));
    EXPECT_EQ(Diff.BytesAdded, 7u + 30u + (5000u - 50u));
    EXPECT_EQ(Diff.BytesRemoved, 40u + 30u);
    EXPECT_THAT(Dialogs.MessageTexts(), IsEmpty());

    const TFendrel& c = w.Collection();
    EXPECT_THAT(c.Discs, ElementsAre(music, disc));
    EXPECT_EQ(c.GetNode(disc).Name.str(), Ansi("Флешка"));
    const std::string expected =
        DumpExpected({FolderEntry("Docs", kTime + 200), FileEntry("Docs/a.txt", kTime, 10),
                      FileEntry("Docs/b.txt", kTime, 20), FileEntry("Docs/new.txt", kTime, 7),
                      FileEntry("grow.bin", kTime, 5000), FileEntry("touch.txt", kTime + 100, 60),
                      FolderEntry("Фото", kTime), FileEntry("Фото/1.jpg", kTime, 30)});
    EXPECT_EQ(Tree(disc), expected);
    EXPECT_GT(c.GetNode(c.GetNode(disc).Children.at(0)).Id, lastId) << "new ids";
    const TDiscRecord& record = c.DiscRecords.at(disc);
    EXPECT_EQ(record.Notes, "shelf 3");
    EXPECT_EQ(record.Updated, Clock.Time);
    EXPECT_EQ(record.Facts.Source.Path, Stick);
    // Saved once, filters dropped, the disc selected.
    EXPECT_TRUE(w.Filters.empty());
    EXPECT_NE(FileContent(w.CollectionFile).find("new.txt"), std::string::npos);
    EXPECT_EQ(SelectedTreeItem(*w.TreeView_Main), FindTreeItem(*w.TreeView_Main, disc));

    // Nothing changed since: an information box, the tree as it is, the date set and saved.
    Clock.Time += 1000;
    Reviewed.clear();
    const uint32_t idsBefore = c.LastId;
    w.Act_UpdateDisc->trigger();
    EXPECT_THAT(Reviewed, IsEmpty());
    EXPECT_THAT(Dialogs.MessageTexts(), ElementsAre("Диск «Флешка» не изменился"));
    EXPECT_EQ(Dialogs.Messages[0].Kind, TMessageKind::Information);
    EXPECT_EQ(c.LastId, idsBefore);
    EXPECT_EQ(c.DiscRecords.at(disc).Updated, Clock.Time);
}

TEST_F(UpdateDisc, CancelLeavesCollectionAndFileAsTheyWere)
{
    TForm_Main& w = *Window;
    const uint32_t disc = AddFolder(Stick, "Флешка");
    const std::string file = FileContent(w.CollectionFile);
    const std::string before = w.Collection().SaveToText();
    ChangeStick();
    ApplyChanges = false;
    Select(disc);
    w.Act_UpdateDisc->trigger();
    EXPECT_THAT(Reviewed, ElementsAre("Флешка"));
    EXPECT_EQ(w.Collection().SaveToText(), before);
    EXPECT_EQ(FileContent(w.CollectionFile), file);
    EXPECT_EQ(w.Collection().DiscRecords.at(disc).Updated, 0u);

    // The root or nothing selected: nothing happens.
    Select(0);
    w.Act_UpdateDisc->trigger();
    w.TreeView_Main->selectionModel()->clear();
    w.Act_UpdateDisc->trigger();
    EXPECT_EQ(Reviewed.size(), 1u);
    EXPECT_TRUE(Dialogs.FolderDialogs.size() == 1u);
}

TEST_F(UpdateDisc, MissingFolderIsAskedForAndAnotherMediumIsQuestioned)
{
    TForm_Main& w = *Window;
    const uint32_t disc = AddFolder(Stick, "Флешка");
    const std::string moved = Scratch / "elsewhere";
    fs::rename(Stick, moved);
    Dialogs.Messages.clear();
    Select(disc);
    // The folder dialog is cancelled: nothing happens.
    w.Act_UpdateDisc->trigger();
    EXPECT_EQ(Dialogs.FolderDialogs.size(), 2u);
    EXPECT_THAT(Dialogs.MessageTexts(), IsEmpty());

    // Another folder is another medium: asked, No the default.
    Dialogs.FolderAnswers.push_back(moved);
    w.Act_UpdateDisc->trigger();
    ASSERT_THAT(Dialogs.MessageTexts(),
                ElementsAre("Выбранный носитель не похож на диск «Флешка». Всё равно обновить?"));
    EXPECT_EQ(Dialogs.Messages[0].Kind, TMessageKind::Question);
    EXPECT_EQ(Dialogs.Messages[0].Utf8Title(), "Fendrel v1.2");
    EXPECT_THAT(Reviewed, IsEmpty());

    // Yes: the update goes on from there and records the new path.
    fs::remove(moved + "/gone.txt");
    Dialogs.FolderAnswers.push_back(moved);
    Dialogs.QuestionAnswers.push_back(TMessageResult::Yes);
    w.Act_UpdateDisc->trigger();
    EXPECT_THAT(ChangePaths(Diff.Removed), ElementsAre("gone.txt"));
    EXPECT_EQ(w.Collection().DiscRecords.at(disc).Facts.Source.Path, moved);

    // A folder that cannot be read is named.
    fs::remove_all(moved);
    Dialogs.FolderAnswers.push_back(moved);
    Dialogs.Messages.clear();
    w.Act_UpdateDisc->trigger();
    EXPECT_THAT(Dialogs.MessageTexts(), ElementsAre("Невозможно прочитать папку elsewhere"));
}

TEST_F(UpdateDisc, FolderAddedAgainIsAskedAboutWithBothAnswers)
{
    TForm_Main& w = *Window;
    const uint32_t disc = AddFolder(Stick, "Флешка");
    fs::remove(Stick + "/gone.txt");
    Dialogs.Messages.clear();

    // No: added as a new disc, as before.
    AddFolder(Stick, "Ещё раз");
    ASSERT_GE(Dialogs.Messages.size(), 1u);
    EXPECT_EQ(Dialogs.Messages[0].Utf8Text(),
              "Этот носитель уже есть в коллекции: «Флешка». Обновить этот диск?");
    EXPECT_EQ(Dialogs.Messages[0].Kind, TMessageKind::Question);
    EXPECT_EQ(Dialogs.Messages[0].Utf8Title(), "Fendrel v1.2");
    ASSERT_EQ(w.Collection().Discs.size(), 2u);
    EXPECT_EQ(Dialogs.Inputs.size(), 2u);

    // Yes: no title asked, the first disc known is updated.
    Dialogs.Messages.clear();
    Dialogs.QuestionAnswers.push_back(TMessageResult::Yes);
    Dialogs.FolderAnswers.push_back(Stick);
    w.Act_AddFolder->trigger();
    EXPECT_EQ(Dialogs.Inputs.size(), 2u);
    EXPECT_THAT(Reviewed, ElementsAre("Флешка"));
    EXPECT_THAT(ChangePaths(Diff.Removed), ElementsAre("gone.txt"));
    EXPECT_EQ(w.Collection().Discs.size(), 2u);
    EXPECT_EQ(w.Collection().DiscRecords.at(disc).Updated, Clock.Time);
}

TEST_F(UpdateDisc, ImageMovedIsAskedForAndAnImageAddedAgainIsAskedAboutEachInTurn)
{
    TForm_Main& w = *Window;
    MakeIsoImage(Stick, Scratch / "a.iso", "-volid A");
    MakeIsoImage(Scratch / "media", Scratch / "b.iso", "-volid B");
    Dialogs.SeveralFileAnswers.push_back({Scratch / "a.iso", Scratch / "b.iso"});
    Dialogs.InputAnswers = {Ansi("A"), Ansi("B")};
    w.Act_AddImage->trigger();
    ASSERT_EQ(w.Collection().Discs.size(), 2u);
    const uint32_t a = w.Collection().Discs[0];
    const uint32_t b = w.Collection().Discs[1];

    // Both again: A is updated (Yes), B is added as a new disc (No); each asked in turn.
    Dialogs.Messages.clear();
    Dialogs.SeveralFileAnswers.push_back({Scratch / "a.iso", Scratch / "b.iso"});
    Dialogs.QuestionAnswers = {TMessageResult::Yes, TMessageResult::No};
    Dialogs.InputAnswers = {Ansi("B2")};
    w.Act_AddImage->trigger();
    const std::vector<std::string> texts = Dialogs.MessageTexts();
    ASSERT_EQ(texts.size(), 4u);
    EXPECT_EQ(texts[0], "Этот носитель уже есть в коллекции: «A». Обновить этот диск?");
    EXPECT_EQ(texts[1], "Диск «A» не изменился");
    EXPECT_EQ(texts[2], "Этот носитель уже есть в коллекции: «B». Обновить этот диск?");
    EXPECT_EQ(texts[3].rfind("Добавлено элементов: ", 0), 0u);
    ASSERT_EQ(w.Collection().Discs.size(), 3u);
    EXPECT_EQ(w.Collection().GetNode(w.Collection().Discs[2]).Name.str(), "B2");
    EXPECT_EQ(w.Collection().DiscRecords.at(a).Updated, Clock.Time);

    // The image moved: the image dialog asks for it; the moved image is the same medium.
    fs::rename(Scratch / "b.iso", Scratch / "moved.iso");
    Dialogs.Messages.clear();
    Dialogs.FileAnswers.push_back(Scratch / "moved.iso");
    Select(b);
    w.Act_UpdateDisc->trigger();
    ASSERT_EQ(Dialogs.FileDialogs.size(), 3u);
    EXPECT_EQ(AnsiToUtf8(Dialogs.FileDialogs[2].Options.Title), "Добавление образа диска");
    EXPECT_THAT(Dialogs.MessageTexts(), ElementsAre("Диск «B» не изменился"));
    EXPECT_EQ(w.Collection().DiscRecords.at(b).Facts.Source.Path, Scratch / "moved.iso");
}

TEST_F(UpdateDisc, UpdateInOneWindowAndAnAddInAnotherAreBothKept)
{
    TForm_Main& first = *Window;
    const uint32_t disc = AddFolder(Stick, "Флешка");
    MakeTree(Scratch / "other", {FileEntry("x.txt", kTime, 1)});

    TForm_Main second(Platform());
    Dialogs.FileAnswers.push_back(first.CollectionFile);
    second.Act_LoadCollection->trigger();
    Dialogs.FolderAnswers.push_back(Scratch / "other");
    Dialogs.InputAnswers.push_back(Ansi("Другой"));
    second.Act_AddFolder->trigger();

    ChangeStick();
    Dialogs.Messages.clear();
    Select(disc);
    first.Act_UpdateDisc->trigger();
    EXPECT_THAT(Dialogs.MessageTexts(),
                ElementsAre("Файл коллекции был изменен другой программой. Сохранены изменения "
                            "обеих программ."));

    TFendrel saved;
    ASSERT_TRUE(saved.LoadFromText(FileContent(first.CollectionFile)));
    ASSERT_EQ(saved.Discs.size(), 2u);
    EXPECT_EQ(saved.GetNode(saved.Discs[1]).Name.str(), Ansi("Другой"));
    const TCollectionNode& updated = saved.GetNode(saved.Discs[0]);
    EXPECT_EQ(updated.Name.str(), Ansi("Флешка"));
    EXPECT_NE(DumpScanned(saved, updated, true).find("new.txt"), std::string::npos);
    EXPECT_EQ(DumpScanned(saved, updated, true).find("gone.txt"), std::string::npos);
}

TEST(ChangeReportWindow, TitleHeaderGroupsAndButtons)
{
    TDiscTreeDiff diff;
    diff.Added.push_back({true, Ansi("Фото"), 0, 0, 0, 0});
    diff.Added.push_back({false, Ansi("Фото\\1.jpg"), 0, 0, 2048, 0});
    diff.Changed.push_back({false, "grow.bin", 50, 0, 5368709120, 0});
    diff.BytesAdded = 2048 + 5368709070;
    diff.BytesRemoved = 0;
    TChangeReportWindow window(Ansi("Флешка"), diff, 0);
    EXPECT_EQ(window.windowTitle().toStdString(), "Изменения на диске «Флешка»");
    EXPECT_EQ(window.Header->text().toStdString(),
              "Добавлено: 2, удалено: 0, изменено: 1\n"
              "Байт добавлено: 5120.0 M (5368711118 байт), удалено: 0 (0 байт)");
    ASSERT_EQ(window.Changes->topLevelItemCount(), 3);
    EXPECT_EQ(window.Changes->topLevelItem(0)->text(0).toStdString(), "Добавлено (2)");
    EXPECT_EQ(window.Changes->topLevelItem(0)->child(0)->text(0).toStdString(), "Фото\\");
    EXPECT_EQ(window.Changes->topLevelItem(0)->child(1)->text(1).toStdString(), "2.0 k");
    EXPECT_EQ(window.Changes->topLevelItem(1)->text(0).toStdString(), "Удалено (0)");
    EXPECT_EQ(window.Changes->topLevelItem(2)->child(0)->text(1).toStdString(), "50 → 5120.0 M");
    EXPECT_EQ(window.Apply->text().toStdString(), "Применить");
    EXPECT_EQ(window.Cancel->text().toStdString(), "Отмена");
    EXPECT_FALSE(window.Changes->accessibleName().isEmpty());
    window.show();
    window.Apply->click();
    EXPECT_EQ(window.result(), QDialog::Accepted);
}

} // namespace

TEST_F(TWindowFixture, UpdateDiscFollowsDiscPropertiesInTheDiscMenu)
{
    TForm_Main& w = MakeWindow();
    const QList<QAction*> items = w.MI_Disc->actions();
    const auto at = [&](QAction* action) {
        return items.indexOf(action);
    };
    EXPECT_EQ(at(w.Act_UpdateDisc), at(w.Act_DiscProperties) + 1);
    EXPECT_EQ(w.Act_UpdateDisc->text().toStdString(), "Обновить диск...");
}
