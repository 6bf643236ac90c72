#include "support/DiscTrees.h"
#include "support/WindowFixture.h"

#include "browse/CollectionTreeModel.h"

#include <QAction>
#include <fstream>
#include <gmock/gmock.h>

using ::testing::ElementsAre;

namespace {

constexpr int64_t kTime = 1600000000;

// A machine without an optical drive, and a folder standing for a USB stick where the desktop
// mounts it.
class AddFolder : public TWindowFixture {
protected:
    AddFolder()
    {
        MakeTree(Stick, {FolderEntry("DCIM", kTime), FileEntry("DCIM/IMG_0001.JPG", kTime, 4096),
                         LinkEntry("DCIM/latest", kTime, "IMG_0001.JPG"),
                         LinkEntry("outside", kTime, "/etc"), FileEntry("Заметки.txt", kTime, 7)});
        MakeWindow().CollectionFile = PathOf("discs.frl");
        Dialogs.Messages.clear(); // the warning that there is no drive
    }
    [[nodiscard]] bool Saved() const { return std::filesystem::exists(Window->CollectionFile); }

    TScratchFolder Scratch;
    std::string Stick = Scratch / "media/USB STICK";
};

TEST_F(AddFolder, FolderIsScannedAsADiscUnderItsNameAndSaved)
{
    TForm_Main& w = *Window;
    w.Filters["old"] = {};
    EXPECT_FALSE(w.Act_AddDisc->isEnabled());
    ASSERT_TRUE(w.Act_AddFolder->isEnabled());
    Dialogs.FolderAnswers.push_back(Stick);
    Dialogs.InputAnswers.push_back(Ansi("Флешка"));
    w.Act_AddFolder->trigger();

    ASSERT_EQ(Dialogs.FolderDialogs.size(), 1u);
    EXPECT_EQ(AnsiToUtf8(Dialogs.FolderDialogs[0].Title), "Добавление папки");
    ASSERT_EQ(Dialogs.Inputs.size(), 1u);
    EXPECT_EQ(AnsiToUtf8(Dialogs.Inputs[0].Caption), "Добавление диска");
    EXPECT_EQ(Dialogs.Inputs[0].Initial, " [USB STICK]");
    EXPECT_THAT(Dialogs.MessageTexts(), ElementsAre("Добавлено элементов: 5"));

    const TFendrel& c = w.Collection();
    ASSERT_EQ(c.Discs.size(), 1u);
    const TCollectionNode& disc = c.GetNode(c.Discs[0]);
    EXPECT_EQ(disc.Name.str(), Ansi("Флешка"));
    const std::string t = " t=" + std::to_string(FileTimeFromUnix(kTime));
    // Links are files, never followed: "outside" does not bring in /etc.
    EXPECT_EQ(DumpScanned(c, disc, true), "F DCIM" + t + " s=0\n  E IMG_0001.JPG" + t +
                                              " s=4096\n  E latest" + t + " s=0\nE outside" + t +
                                              " s=0\nE Заметки.txt" + t + " s=7\n");
    EXPECT_EQ(w.TreeModel->ChildCountOf(0), 1);
    std::ostringstream saved;
    saved << std::ifstream(w.CollectionFile, std::ios::binary).rdbuf();
    EXPECT_NE(saved.str().find(Ansi("Флешка")), std::string::npos);
    EXPECT_TRUE(w.Filters.empty()) << "a successful save drops the filters";
}

TEST_F(AddFolder, CancelledDialogOrTitleAndAFolderGoneChangeNothing)
{
    TForm_Main& w = *Window;
    w.Act_AddFolder->trigger(); // the folder dialog is cancelled
    Dialogs.FolderAnswers.push_back(Stick);
    w.Act_AddFolder->trigger(); // the title is cancelled
    EXPECT_EQ(Dialogs.FolderDialogs.size(), 2u);
    EXPECT_EQ(Dialogs.Inputs.size(), 1u);
    EXPECT_TRUE(Dialogs.Messages.empty());

    Dialogs.FolderAnswers.push_back(Scratch / "media/Флешка");
    w.Act_AddFolder->trigger();
    EXPECT_THAT(Dialogs.MessageTexts(), ElementsAre("Невозможно прочитать папку Флешка"));
    EXPECT_EQ(Dialogs.Messages[0].Kind, TMessageKind::Error);
    EXPECT_EQ(Dialogs.Inputs.size(), 1u);
    EXPECT_EQ(w.Collection().LastId, 0u);
    EXPECT_FALSE(Saved());
}

} // namespace
