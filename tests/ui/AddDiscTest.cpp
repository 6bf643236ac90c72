#include "support/DiscTrees.h"
#include "support/WindowFixture.h"

#include "browse/CollectionTreeModel.h"

#include <QAction>
#include <QLabel>
#include <fstream>
#include <gmock/gmock.h>

using ::testing::ElementsAre;

namespace {

constexpr int64_t kTime = 1600000000;

// Drive D: holds a disc with one folder of two files, as an image or as a mounted folder.
class AddDisc : public TWindowFixture {
protected:
    TForm_Main& Start(bool image, const std::string& label = "DATA",
                      const std::string& file = "discs.frl")
    {
        MakeTree(Scratch / "disc", {FolderEntry("Docs", kTime), FileEntry("Docs/a.txt", kTime, 10),
                                    FileEntry("Docs/b.txt", kTime, 20)});
        if (image)
            MakeIsoImage(Scratch / "disc", Scratch / "disc.iso",
                         "-volid '" + label + "' -joliet on");
        Drives.Add('D', {image ? TDriveSource::TKind::Image : TDriveSource::TKind::Folder,
                         Scratch / (image ? "disc.iso" : "disc"), label});
        TForm_Main& w = MakeWindow();
        w.CollectionFile = PathOf(file);
        return w;
    }
    [[nodiscard]] std::string Disc(size_t position) const
    {
        const TFendrel& c = Window->Collection();
        return DumpScanned(c, c.GetNode(c.Discs.at(position)), true);
    }

    TScratchFolder Scratch;
};

TEST_F(AddDisc, DiscIsScannedCountedShownAndSaved)
{
    TForm_Main& w = Start(true);
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

    ASSERT_EQ(w.Collection().Discs.size(), 1u);
    EXPECT_EQ(w.Collection().GetNode(w.Collection().Discs[0]).Name.str(), Ansi("Архив 2020"));
    const std::string t = std::to_string(FileTimeFromUnix(kTime));
    EXPECT_EQ(Disc(0),
              "F Docs t=" + t + " s=0\n  E a.txt t=" + t + " s=10\n  E b.txt t=" + t + " s=20\n");
    EXPECT_EQ(w.Panel_Status->text(), " Готово");
    EXPECT_EQ(w.TreeModel->ChildCountOf(0), 1) << "the tree shows the new disc";
    std::ostringstream saved;
    saved << std::ifstream(w.CollectionFile, std::ios::binary).rdbuf();
    EXPECT_NE(saved.str().find(Ansi("Архив 2020")), std::string::npos);
    EXPECT_TRUE(w.Filters.empty()) << "a successful save drops the filters";
}

TEST_F(AddDisc, NoDiscInTheDriveNamesTheDriveAndCancellingTheTitleChangesNothing)
{
    TForm_Main& w = Start(false);
    Dialogs.Messages.clear();
    std::filesystem::rename(Scratch / "disc", Scratch / "elsewhere");
    w.Act_AddDisc->trigger();
    ASSERT_EQ(Dialogs.Messages.size(), 1u);
    EXPECT_EQ(Dialogs.Messages[0].Utf8Text(),
              "Невозможно получить информацию о диске в дисководе D:");
    EXPECT_EQ(Dialogs.Messages[0].Utf8Title(), "Fendrel v1.2");
    EXPECT_EQ(Dialogs.Messages[0].Kind, TMessageKind::Error);
    EXPECT_TRUE(Dialogs.Inputs.empty());

    std::filesystem::rename(Scratch / "elsewhere", Scratch / "disc");
    w.Act_AddDisc->trigger(); // the input box is cancelled
    EXPECT_EQ(Dialogs.Inputs.size(), 1u);
    EXPECT_EQ(Dialogs.Messages.size(), 1u);
    EXPECT_EQ(w.Collection().LastId, 0u);
    EXPECT_FALSE(std::filesystem::exists(w.CollectionFile));
}

TEST_F(AddDisc, SameDiscTwiceUnderAnEmptyTitleAndATitleWithALineBreak)
{
    TForm_Main& w = Start(false, "");
    Dialogs.InputAnswers = {std::string(), std::string("a\r\nb")};
    w.Act_AddDisc->trigger();
    w.Act_AddDisc->trigger();
    EXPECT_EQ(Dialogs.Inputs.at(0).Initial, " []");
    EXPECT_THAT(Dialogs.MessageTexts(),
                ElementsAre("Добавлено элементов: 3", "Добавлено элементов: 3"));
    const TFendrel& c = w.Collection();
    ASSERT_EQ(c.Discs.size(), 2u);
    EXPECT_EQ(c.GetNode(c.Discs[0]).Name.str(), "");
    // A line break would split its record: it is kept as escapes, shown as its pictures.
    EXPECT_EQ(c.GetNode(c.Discs[1]).Name.str(), "a\x98"
                                                "00000D\x98"
                                                "00000Ab");
    EXPECT_EQ(AnsiToUtf8(c.GetNode(c.Discs[1]).Name), "a␍␊b");
    EXPECT_EQ(Disc(0), Disc(1));
    EXPECT_EQ(c.Discs[1], c.Discs[0] + 4) << "each disc has nodes of its own";
    EXPECT_EQ(w.TreeModel->ChildCountOf(0), 2);
}

TEST_F(AddDisc, FailedSaveKeepsTheDiscInMemory)
{
    TForm_Main& w = Start(false, "DATA", "no such folder/discs.frl");
    Dialogs.InputAnswers.push_back(std::string("kept"));
    w.Act_AddDisc->trigger();
    EXPECT_THAT(Dialogs.MessageTexts(),
                ElementsAre("Добавлено элементов: 3", "Ошибка при открытии файла коллекции"));
    ASSERT_EQ(w.Collection().Discs.size(), 1u);
    EXPECT_EQ(w.Collection().GetNode(w.Collection().Discs[0]).Name.str(), "kept");
}

} // namespace
