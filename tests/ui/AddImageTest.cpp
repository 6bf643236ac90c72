#include "support/DiscTrees.h"
#include "support/RawSectors.h"
#include "support/WindowFixture.h"

#include "browse/CollectionTreeModel.h"

#include <QAction>
#include <QApplication>
#include <QFileDialog>
#include <QTimer>
#include <fstream>
#include <gmock/gmock.h>

using ::testing::ElementsAre;

namespace {

constexpr int64_t kTime = 1600000000;

// A machine without an optical drive, and an image of a disc with one folder of two files.
class AddImage : public TWindowFixture {
protected:
    AddImage()
    {
        MakeTree(Scratch / "disc", {FolderEntry("Docs", kTime), FileEntry("Docs/a.txt", kTime, 10),
                                    FileEntry("Docs/b.txt", kTime, 20)});
        MakeIsoImage(Scratch / "disc", ImagePath, "-volid 'Архив' -joliet on");
        MakeWindow().CollectionFile = PathOf("discs.frl");
        Dialogs.Messages.clear(); // the warning that there is no drive
    }
    [[nodiscard]] bool Saved() const { return std::filesystem::exists(Window->CollectionFile); }

    TScratchFolder Scratch;
    std::string ImagePath = Scratch / "Диск 1.iso";
};

TEST_F(AddImage, ImageIsScannedCountedShownAndSavedWithoutADrive)
{
    TForm_Main& w = *Window;
    w.Filters["old"] = {};
    EXPECT_FALSE(w.Act_AddDisc->isEnabled());
    ASSERT_TRUE(w.Act_AddImage->isEnabled());
    Dialogs.FileAnswers.push_back(ImagePath);
    Dialogs.InputAnswers.push_back(Ansi("Архив 2020"));
    w.Act_AddImage->trigger();

    ASSERT_EQ(Dialogs.FileDialogs.size(), 1u);
    const TFileDialogOptions& dialog = Dialogs.FileDialogs[0].Options;
    EXPECT_FALSE(Dialogs.FileDialogs[0].Save);
    EXPECT_EQ(AnsiToUtf8(dialog.Title), "Добавление образа диска");
    EXPECT_EQ(AnsiToUtf8(dialog.FilterText),
              "Образы дисков (*.iso *.bin *.cue *.img *.ccd *.nrg *.mdf *.mds)");
    EXPECT_EQ(dialog.Pattern, "*.iso *.bin *.cue *.img *.ccd *.nrg *.mdf *.mds");
    EXPECT_TRUE(dialog.MustExist);
    EXPECT_TRUE(dialog.AllFilesEntry);
    ASSERT_EQ(Dialogs.Inputs.size(), 1u);
    EXPECT_EQ(AnsiToUtf8(Dialogs.Inputs[0].Initial), " [Архив]");
    EXPECT_THAT(Dialogs.MessageTexts(), ElementsAre("Добавлено элементов: 3"));
    EXPECT_EQ(Dialogs.Messages[0].Kind, TMessageKind::Information);

    const TFendrel& c = w.Collection();
    ASSERT_EQ(c.Discs.size(), 1u);
    EXPECT_EQ(c.GetNode(c.Discs[0]).Name.str(), Ansi("Архив 2020"));
    const std::string t = std::to_string(FileTimeFromUnix(kTime));
    EXPECT_EQ(DumpScanned(c, c.GetNode(c.Discs[0])),
              "F Docs t=" + t + " s=0\n  E a.txt t=" + t + " s=10\n  E b.txt t=" + t + " s=20\n");
    EXPECT_EQ(w.TreeModel->ChildCountOf(0), 1);
    std::ostringstream saved;
    saved << std::ifstream(w.CollectionFile, std::ios::binary).rdbuf();
    EXPECT_NE(saved.str().find(Ansi("Архив 2020")), std::string::npos);
    EXPECT_TRUE(w.Filters.empty()) << "a successful save drops the filters";
}

TEST_F(AddImage, CancellingTheFileDialogOrTheTitleChangesNothing)
{
    TForm_Main& w = *Window;
    w.Act_AddImage->trigger(); // the file dialog is cancelled
    EXPECT_EQ(Dialogs.FileDialogs.size(), 1u);
    EXPECT_TRUE(Dialogs.Inputs.empty());

    Dialogs.FileAnswers.push_back(ImagePath);
    w.Act_AddImage->trigger(); // the title is cancelled
    EXPECT_EQ(Dialogs.Inputs.size(), 1u);
    EXPECT_TRUE(Dialogs.Messages.empty());
    EXPECT_EQ(w.Collection().LastId, 0u);
    EXPECT_FALSE(Saved());
}

TEST_F(AddImage, FileHoldingNoDiscIsNamedInTheErrorAndNothingIsAdded)
{
    TForm_Main& w = *Window;
    const std::string notImage = Scratch / "Заметки\n日本.iso"; // 日本 is not in code page 1251
    std::ofstream(notImage) << "just text, not a disc";
    Dialogs.FileAnswers = {notImage, Scratch / "gone.iso"};
    w.Act_AddImage->trigger();
    w.Act_AddImage->trigger();

    EXPECT_THAT(Dialogs.MessageTexts(),
                ElementsAre("Невозможно получить информацию о диске в образе Заметки␊日本.iso",
                            "Невозможно получить информацию о диске в образе gone.iso"));
    EXPECT_EQ(Dialogs.Messages[0].Kind, TMessageKind::Error);
    EXPECT_EQ(Dialogs.Messages[0].Utf8Title(), "Fendrel v1.2");
    EXPECT_TRUE(Dialogs.Inputs.empty());
    EXPECT_EQ(w.Collection().LastId, 0u);
    EXPECT_FALSE(Saved());
}

// Three images and a file that is not one, chosen at once: each image gets its own title box in
// the order chosen, the bad file its message; the second title is cancelled, so that image is
// left out. One count for the two discs added, and the collection is saved once, at the end.
TEST_F(AddImage, SeveralImagesAreAddedInTheirOrderWithOneCountAndOneSave)
{
    TForm_Main& w = *Window;
    const std::string other = Scratch / "other.iso";
    const std::string third = Scratch / "third.iso";
    MakeTree(Scratch / "small", {FileEntry("one.txt", kTime, 1)});
    MakeIsoImage(Scratch / "small", other, "-volid OTHER");
    MakeIsoImage(Scratch / "small", third, "-volid THIRD");
    const std::string notImage = Scratch / "notes.iso";
    std::ofstream(notImage) << "not a disc";
    std::vector<bool> savedBeforeTitle;
    Dialogs.WhileInput = [&](const TScriptedDialogs::TInput&) {
        savedBeforeTitle.push_back(Saved());
    };
    Dialogs.SeveralFileAnswers.push_back({ImagePath, notImage, other, third});
    Dialogs.InputAnswers = {Ansi("Архив"), std::nullopt, std::string("Third")};
    w.Act_AddImage->trigger();

    ASSERT_EQ(Dialogs.FileDialogs.size(), 1u);
    EXPECT_TRUE(Dialogs.FileDialogs[0].Several);
    ASSERT_EQ(Dialogs.Inputs.size(), 3u);
    EXPECT_EQ(AnsiToUtf8(Dialogs.Inputs[0].Initial), " [Архив]");
    EXPECT_EQ(Dialogs.Inputs[1].Initial, " [OTHER]");
    EXPECT_EQ(Dialogs.Inputs[2].Initial, " [THIRD]");
    EXPECT_THAT(Dialogs.MessageTexts(),
                ElementsAre("Невозможно получить информацию о диске в образе notes.iso",
                            "Добавлено элементов: 4 (дисков: 2)"));
    EXPECT_EQ(Dialogs.Messages[1].Kind, TMessageKind::Information);
    EXPECT_THAT(savedBeforeTitle, ElementsAre(false, false, false));

    const TFendrel& c = w.Collection();
    ASSERT_EQ(c.Discs.size(), 2u);
    EXPECT_EQ(c.GetNode(c.Discs[0]).Name.str(), Ansi("Архив"));
    EXPECT_EQ(c.GetNode(c.Discs[1]).Name.str(), "Third");
    EXPECT_EQ(w.TreeModel->ChildCountOf(0), 2);
    TFendrel reloaded;
    std::ostringstream saved;
    saved << std::ifstream(w.CollectionFile, std::ios::binary).rdbuf();
    ASSERT_TRUE(reloaded.LoadFromText(saved.str()));
    EXPECT_EQ(reloaded.Discs.size(), 2u);
}

TEST_F(AddImage, SeveralImagesOfWhichNoneIsAddedChangeNothing)
{
    TForm_Main& w = *Window;
    Dialogs.SeveralFileAnswers.push_back({ImagePath, Scratch / "gone.iso", ImagePath});
    w.Act_AddImage->trigger(); // both titles are cancelled
    EXPECT_EQ(Dialogs.Inputs.size(), 2u);
    EXPECT_THAT(Dialogs.MessageTexts(),
                ElementsAre("Невозможно получить информацию о диске в образе gone.iso"));
    EXPECT_EQ(w.Collection().LastId, 0u);
    EXPECT_FALSE(Saved());
}

using AddImageContainers = AddImage;

// Containers take the same road as .iso files: a .bin chosen through its .cue and an audio CD's
// sheet, among several images; the audio CD, which holds no files, is named in the error and the
// others go on.
TEST_F(AddImageContainers, SheetsAndRawImagesAmongSeveralAndAnAudioDiscIsNamed)
{
    TForm_Main& w = *Window;
    std::string blocks = FileBytes(ImagePath);
    blocks.resize((blocks.size() + 2047) / 2048 * 2048, '\0');
    WriteFileBytes(Scratch / "data.bin", RawSectors(blocks, 0, TRawMode::Mode2Form1));
    WriteFileBytes(Scratch / "data.cue",
                   "FILE \"data.bin\" BINARY\n TRACK 01 MODE2/2352\n  INDEX 01 00:00:00\n");
    WriteFileBytes(Scratch / "music.bin", std::string(2352 * 100, '\x11'));
    WriteFileBytes(Scratch / "Музыка.cue",
                   "FILE \"music.bin\" WAVE\n TRACK 01 AUDIO\n  INDEX 01 00:00:00\n");
    WriteFileBytes(Scratch / "raw.img", RawSectors(blocks, 0, TRawMode::Mode1));
    Dialogs.SeveralFileAnswers.push_back(
        {Scratch / "data.cue", Scratch / "Музыка.cue", Scratch / "raw.img"});
    Dialogs.InputAnswers = {std::string("Sheet"), std::string("Raw")};
    w.Act_AddImage->trigger();

    // The raw image holds the same disc as the sheet: asked about, and added again as the
    // scripted No answers.
    EXPECT_THAT(Dialogs.MessageTexts(),
                ElementsAre("Невозможно получить информацию о диске в образе Музыка.cue",
                            "Этот носитель уже есть в коллекции: «Sheet». Обновить этот диск?",
                            "Добавлено элементов: 6 (дисков: 2)"));
    const TFendrel& c = w.Collection();
    ASSERT_EQ(c.Discs.size(), 2u);
    EXPECT_EQ(DumpScanned(c, c.GetNode(c.Discs[0])), DumpScanned(c, c.GetNode(c.Discs[1])));
    EXPECT_TRUE(Saved());
}

} // namespace
