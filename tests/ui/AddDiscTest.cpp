#include "support/DiscTrees.h"
#include "support/WindowFixture.h"

#include "browse/CollectionTreeModel.h"

#include <QAction>
#include <QLabel>
#include <fstream>
#include <gmock/gmock.h>
#include <sstream>

using ::testing::ElementsAre;

namespace {

constexpr int64_t kTime = 1600000000;

// A disc with one folder holding two files, in drive D:.
class AddDisc : public TWindowFixture {
protected:
    void SetUp() override
    {
        MakeTree(Scratch / "disc", {FolderEntry("Docs", kTime), FileEntry("Docs/a.txt", kTime, 10),
                                    FileEntry("Docs/b.txt", kTime, 20)});
    }
    void UseImage(const std::string& options)
    {
        MakeIsoImage(Scratch / "disc", Scratch / "disc.iso", options);
        Drives.Add('D', {TDriveSource::TKind::Image, Scratch / "disc.iso", {}});
    }
    void UseFolder(const std::string& folder, const std::string& label = "DATA")
    {
        Drives.Add('D', {TDriveSource::TKind::Folder, folder, label});
    }
    // Builds the window over a collection file in the temporary folder and empties the boxes
    // shown so far.
    TForm_Main& Start(const std::string& file = "discs.frl")
    {
        TForm_Main& w = MakeWindow();
        w.CollectionFile = PathOf(file);
        Dialogs.Messages.clear();
        return w;
    }
    [[nodiscard]] std::string SavedFile() const
    {
        std::ifstream in(Window->CollectionFile, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }
    [[nodiscard]] std::string Disc(size_t position)
    {
        TFendrel& c = Window->Collection();
        return DumpScanned(c, c.GetNode(c.Discs.at(position)), true);
    }

    TScratchFolder Scratch;
};

TEST_F(AddDisc, DiscIsScannedCountedShownAndSaved)
{
    UseImage("-volid DATA -joliet on");
    TForm_Main& w = Start();
    w.Filters["old"] = {};
    Dialogs.InputAnswers.push_back(Ansi("Архив 2020"));
    w.Act_AddDisc->trigger();

    ASSERT_EQ(Dialogs.Inputs.size(), 1u);
    EXPECT_EQ(AnsiToUtf8(Dialogs.Inputs[0].Caption), "Добавление диска");
    EXPECT_EQ(AnsiToUtf8(Dialogs.Inputs[0].Prompt), "Введите заголовок для сканируемого диска");
    EXPECT_EQ(Dialogs.Inputs[0].Initial, " [DATA]");
    ASSERT_EQ(Dialogs.Messages.size(), 1u);
    EXPECT_EQ(Dialogs.Messages[0].Utf8Text(), "Добавлено элементов: 3");
    EXPECT_EQ(Dialogs.Messages[0].Utf8Title(), "Fendrel v1.2");
    EXPECT_EQ(Dialogs.Messages[0].Kind, TMessageKind::Information);

    TFendrel& c = w.Collection();
    ASSERT_EQ(c.Discs.size(), 1u);
    const TCollectionNode& disc = c.GetNode(c.Discs[0]);
    EXPECT_EQ(disc.Name.str(), Ansi("Архив 2020"));
    const std::string t = std::to_string(FileTimeFromUnix(kTime));
    EXPECT_EQ(Disc(0),
              "F Docs t=" + t + " s=0\n  E a.txt t=" + t + " s=10\n  E b.txt t=" + t + " s=20\n");
    EXPECT_EQ(w.Panel_Status->text(), " Готово");
    EXPECT_EQ(w.TreeModel->Item(0).Children.size(), 1u) << "the tree shows the new disc";
    EXPECT_NE(SavedFile().find(Ansi("Архив 2020")), std::string::npos);
    EXPECT_TRUE(w.Filters.empty()) << "a successful save drops the filters";
}

TEST_F(AddDisc, NoDiscInTheDriveNamesTheDrive)
{
    Drives.Add('E', {TDriveSource::TKind::Folder, Scratch / "absent", {}});
    TForm_Main& w = Start();
    w.Act_AddDisc->trigger();
    ASSERT_EQ(Dialogs.Messages.size(), 1u);
    EXPECT_EQ(Dialogs.Messages[0].Utf8Text(),
              "Невозможно получить информацию о диске в дисководе E:");
    EXPECT_EQ(Dialogs.Messages[0].Utf8Title(), "Fendrel v1.2");
    EXPECT_EQ(Dialogs.Messages[0].Kind, TMessageKind::Error);
    EXPECT_TRUE(Dialogs.Inputs.empty());
    EXPECT_TRUE(w.Collection().Discs.empty());
    EXPECT_FALSE(std::filesystem::exists(w.CollectionFile));
}

TEST_F(AddDisc, CancelledTitleChangesNothing)
{
    UseFolder(Scratch / "disc");
    TForm_Main& w = Start();
    w.Act_AddDisc->trigger(); // the input box is cancelled
    EXPECT_EQ(Dialogs.Inputs.size(), 1u);
    EXPECT_TRUE(Dialogs.Messages.empty());
    EXPECT_TRUE(w.Collection().Discs.empty());
    EXPECT_EQ(w.Collection().LastId, 0u);
    EXPECT_FALSE(std::filesystem::exists(w.CollectionFile));
}

TEST_F(AddDisc, SameDiscTwiceUnderAnEmptyTitleAndATitleWithLineBreaks)
{
    UseFolder(Scratch / "disc", "");
    TForm_Main& w = Start();
    Dialogs.InputAnswers = {std::string(), std::string("a\r\nb")};
    w.Act_AddDisc->trigger();
    w.Act_AddDisc->trigger();
    EXPECT_EQ(Dialogs.Inputs.at(0).Initial, " []");
    EXPECT_THAT(Dialogs.MessageTexts(),
                ElementsAre("Добавлено элементов: 3", "Добавлено элементов: 3"));

    TFendrel& c = w.Collection();
    ASSERT_EQ(c.Discs.size(), 2u);
    EXPECT_EQ(c.GetNode(c.Discs[0]).Name.str(), "");
    // A line break would split the disc's record in the collection file.
    EXPECT_EQ(c.GetNode(c.Discs[1]).Name.str(), "a??b");
    EXPECT_EQ(Disc(0), Disc(1));
    EXPECT_EQ(c.Discs[1], c.Discs[0] + 4) << "each disc has its own nodes";
    EXPECT_EQ(w.TreeModel->Item(0).Children.size(), 2u);
}

TEST_F(AddDisc, FailedSaveKeepsTheDiscInMemory)
{
    UseFolder(Scratch / "disc");
    TForm_Main& w = Start("no such folder/discs.frl");
    Dialogs.InputAnswers.push_back(std::string("kept"));
    w.Act_AddDisc->trigger();
    EXPECT_THAT(Dialogs.MessageTexts(),
                ElementsAre("Добавлено элементов: 3", "Ошибка при открытии файла коллекции"));
    ASSERT_EQ(w.Collection().Discs.size(), 1u);
    EXPECT_EQ(w.Collection().GetNode(w.Collection().Discs[0]).Name.str(), "kept");
}

} // namespace
