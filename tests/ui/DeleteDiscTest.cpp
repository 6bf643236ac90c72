#include "BrowseFixture.h"

#include "collection/CollectionChange.h"

#include <QAction>
#include <QDir>
#include <QFile>

#include <gmock/gmock.h>

using ::testing::ElementsAre;

namespace {

class DeleteDisc : public TBrowseFixture {
protected:
    void SetUp() override
    {
        TBrowseFixture::SetUp();
        backup = Disc("Backup");
        docs = Folder(backup, "Docs");
        File(docs, "a.txt", 10);
        other = Disc("Other");
        Folder(other, "Music");
        Fill();
    }
    [[nodiscard]] std::string FileText(const std::string& path) const
    {
        QFile file(QString::fromStdString(path));
        return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : std::string();
    }

    uint32_t backup = 0, docs = 0, other = 0;
};

TEST_F(DeleteDisc, NeedsADiscSelected)
{
    Window->Act_DeleteDisc->trigger(); // the root is selected
    Window->TreeView_Main->clearSelection();
    Window->Act_DeleteDisc->trigger();
    EXPECT_TRUE(Dialogs.Messages.empty()) << "root or nothing selected: silently nothing";

    SelectNode(docs);
    Window->Act_DeleteDisc->trigger();
    ASSERT_EQ(Dialogs.Messages.size(), 1u);
    EXPECT_EQ(Dialogs.Messages[0].Utf8Text(), "Необходимо выбрать корень диска");
    EXPECT_EQ(Dialogs.Messages[0].Utf8Title(), "Fendrel v1.2");
    EXPECT_EQ(Dialogs.Messages[0].Kind, TMessageKind::Error);
    EXPECT_THAT(C().Discs, ElementsAre(backup, other));
}

TEST_F(DeleteDisc, AnsweredNoChangesNothing)
{
    SelectNode(backup);
    const auto itemsBefore = TreeItems();
    Dialogs.QuestionAnswers = {TMessageResult::No};
    Window->Act_DeleteDisc->trigger();
    ASSERT_EQ(Dialogs.Messages.size(), 1u);
    EXPECT_EQ(Dialogs.Messages[0].Utf8Text(),
              "Вы действительно хотите удалить диск \"Backup\" из коллекции?");
    EXPECT_EQ(Dialogs.Messages[0].Utf8Title(), "Fendrel v1.2");
    EXPECT_EQ(Dialogs.Messages[0].Kind, TMessageKind::Question);
    EXPECT_THAT(C().Discs, ElementsAre(backup, other));
    EXPECT_EQ(TreeItems(), itemsBefore);
    EXPECT_EQ(SelectedData(), backup);
}

TEST_F(DeleteDisc, SavedRemovalSelectsTheRootAndDropsTheFilter)
{
    Window->CollectionFile = PathOf("discs.frl");
    const uint32_t music = C().GetNode(other).Children.at(0);
    Hide(music);
    Window->Filters["mus"] = {music};
    Fill();
    SelectNode(backup);
    Dialogs.QuestionAnswers = {TMessageResult::Yes};
    Window->Act_DeleteDisc->trigger();

    EXPECT_EQ(Dialogs.Messages.size(), 1u) << "only the question";
    EXPECT_THAT(C().Discs, ElementsAre(other));
    const std::string saved = FileText(Window->CollectionFile);
    EXPECT_NE(saved.find("Other"), std::string::npos);
    EXPECT_EQ(saved.find("Backup"), std::string::npos);
    EXPECT_TRUE(Window->Filters.empty());
    EXPECT_THAT(TreeItems(),
                ElementsAre("Библиотека " + Window->CollectionFile, "  Other", "    Music"));
    EXPECT_EQ(SelectedData(), 0);
    EXPECT_THAT(ListCaptions(), ElementsAre("Other"));
}

TEST_F(DeleteDisc, FailedSaveLeavesTheDiscRemovedAndNothingSelected)
{
    Window->CollectionFile = PathOf("no such folder/discs.frl");
    SelectNode(backup);
    Dialogs.QuestionAnswers = {TMessageResult::Yes};
    Window->Act_DeleteDisc->trigger();

    ASSERT_EQ(Dialogs.Messages.size(), 2u);
    EXPECT_EQ(Dialogs.Messages[1].Utf8Text(), "Ошибка при открытии файла коллекции");
    EXPECT_THAT(C().Discs, ElementsAre(other));
    EXPECT_THAT(TreeItems(),
                ElementsAre("Библиотека " + Window->CollectionFile, "  Other", "    Music"));
    EXPECT_EQ(SelectedData(), -1);
}

TEST_F(DeleteDisc, TreeStopsShowingTheDiscWhenTheSaveRaisesAnError)
{
    Window->CollectionFile = PathOf("discs.frl");
    ASSERT_TRUE(Window->SaveCollectionFile(TCollectionChange::DiscsAppended(C().Discs)));
    const std::string saved = FileText(Window->CollectionFile);
    Add(other, 0, "no kind"); // cannot be written: the save raises an error
    SelectNode(backup);
    Dialogs.QuestionAnswers = {TMessageResult::Yes};
    Window->Act_DeleteDisc->trigger();

    ASSERT_EQ(Dialogs.Messages.size(), 2u);
    EXPECT_EQ(Dialogs.Messages[1].Utf8Text(), "Unknown node type.");
    EXPECT_THAT(TreeItems(),
                ElementsAre("Библиотека " + Window->CollectionFile, "  Other", "    Music"));
    // The file is as the last save left it, and no temporary file stays beside it.
    EXPECT_EQ(FileText(Window->CollectionFile), saved);
    EXPECT_EQ(QDir(TWindowFixture::Folder.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);
}

// The tree is rebuilt while the disc takes the file; a flush that then fails still shows its
// message, leaves the file as it was and keeps the removal waiting for the next save.
TEST_F(DeleteDisc, FailedFlushShowsItsMessageAndKeepsTheRemovalForTheNextSave)
{
    Window->CollectionFile = PathOf("discs.frl");
    ASSERT_TRUE(Window->SaveCollectionFile(TCollectionChange::DiscsAppended(C().Discs)));
    const std::string saved = FileText(Window->CollectionFile);
    CollectionFiles.FailFlush = true;
    SelectNode(backup);
    Dialogs.QuestionAnswers = {TMessageResult::Yes};
    Window->Act_DeleteDisc->trigger();

    ASSERT_EQ(Dialogs.Messages.size(), 2u);
    EXPECT_EQ(Dialogs.Messages[1].Utf8Text(),
              "Ошибка при сохранении коллекции. Возможно, нет места на диске");
    EXPECT_EQ(FileText(Window->CollectionFile), saved);
    EXPECT_TRUE(Window->HasUnsavedChanges());
    EXPECT_TRUE(Window->windowTitle().endsWith(" *"));
    EXPECT_THAT(TreeItems(),
                ElementsAre("Библиотека " + Window->CollectionFile, "  Other", "    Music"));
    EXPECT_EQ(SelectedData(), -1);

    CollectionFiles.FailFlush = false;
    Dialogs.QuestionAnswers = {TMessageResult::Yes};
    EXPECT_TRUE(Window->MayCloseCollection());
    EXPECT_FALSE(Window->HasUnsavedChanges());
    EXPECT_EQ(FileText(Window->CollectionFile).find("Backup"), std::string::npos);
    EXPECT_NE(FileText(Window->CollectionFile).find("Other"), std::string::npos);
}

TEST_F(DeleteDisc, OpeningAFileSelectsTheRoot)
{
    Window->CollectionFile = PathOf("discs.frl");
    Window->SaveCollectionFile(TCollectionChange::DiscsAppended(C().Discs));
    Fill();
    SelectNode(docs); // ids are given again in file order, so this id exists after the load
    Window->OpenCollectionFile();
    ASSERT_EQ(C().Discs.size(), 2u);
    EXPECT_EQ(SelectedData(), 0);
    EXPECT_THAT(ListCaptions(), ElementsAre("Backup", "Other"));
}

} // namespace
