// A disc whose names code page 1251 cannot hold, added from an image, then browsed, filtered,
// saved and opened again through the window.

#include "BrowseFixture.h"
#include "support/DiscTrees.h"

#include <QAction>
#include <QCoreApplication>
#include <QMenu>
#include <QMouseEvent>
#include <fstream>
#include <gmock/gmock.h>
#include <sstream>

using ::testing::ElementsAre;

namespace {

constexpr int64_t kTime = 1600000000;

class ForeignNames : public TBrowseFixture {
protected:
    void SetUp() override
    {
        MakeTree(Scratch / "disc",
                 {FolderEntry("Müller", kTime), FileEntry("Müller/Ελληνικά.txt", kTime, 10),
                  FileEntry("MÜLLER.mp3", kTime, 20), FileEntry("Twin.txt", kTime, 1),
                  FileEntry("TWIN.TXT", kTime, 2)});
        MakeIsoImage(Scratch / "disc", Scratch / "disc.iso",
                     "-volid 'Jürgen' -joliet off -rockridge on");
        Drives.Add('D', {TDriveSource::TKind::Image, Scratch / "disc.iso", {}});
        TBrowseFixture::SetUp();
        Window->CollectionFile = PathOf("Jürgen 日本.frl");
    }
    void DoubleClickRow(int row)
    {
        SelectRow(row);
        QMouseEvent click(QEvent::MouseButtonDblClick, QPointF(5, 5), QPointF(5, 5), Qt::LeftButton,
                          Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(Window->ListView_Main->viewport(), &click);
    }

    TScratchFolder Scratch;
};

TEST_F(ForeignNames, AreShownFilteredSavedAndOpenedAgainAsTheyAre)
{
    TForm_Main& w = *Window;
    Dialogs.InputAnswers.push_back(Utf8ToAnsi("Диск für Jürgen 😀"));
    w.Act_AddDisc->trigger();
    ASSERT_EQ(Dialogs.Inputs.size(), 1u);
    EXPECT_EQ(AnsiToUtf8(Dialogs.Inputs[0].Initial), " [Jürgen]");
    const std::vector<std::string> tree = {"Библиотека " + w.CollectionFile, "  Диск für Jürgen 😀",
                                           "    Müller"};
    EXPECT_EQ(TreeItems(), tree);
    EXPECT_EQ(Tree().data(Tree().IndexAt(1), Qt::DisplayRole).toString(),
              QString::fromUtf8("Диск für Jürgen 😀"));

    const uint32_t disc = w.Collection().Discs.at(0);
    SelectNode(disc);
    EXPECT_THAT(ListCaptions(), ElementsAre("Müller", "MÜLLER.mp3", "TWIN.TXT", "Twin.txt"));
    DoubleClickRow(0);
    DoubleClickRow(0);
    ASSERT_EQ(Dialogs.Messages.size(), 2u);
    EXPECT_EQ(Dialogs.Messages[1].Utf8Text(), "Файл: Ελληνικά.txt\r\nПолное имя: "
                                              "\\Müller\\Ελληνικά.txt\r\nНаходится на диске "
                                              "Диск für Jürgen 😀");

    // Typed in upper case, the filter is kept and shown lower-cased, and finds both cases.
    Dialogs.InputAnswers.push_back(Utf8ToAnsi("ÜLLER"));
    w.Act_NewFilter->trigger();
    const QList<QAction*> entries = w.MI_View->actions().mid(3);
    ASSERT_EQ(entries.size(), 1);
    EXPECT_EQ(entries[0]->text(), QString::fromUtf8("üller"));
    SelectNode(disc);
    EXPECT_THAT(ListCaptions(), ElementsAre("Müller", "MÜLLER.mp3"));

    // The file holds every name whole; opened again, the window shows the same.
    std::ostringstream saved;
    saved << std::ifstream(w.CollectionFile, std::ios::binary).rdbuf();
    EXPECT_NE(saved.str().find("M\x98"
                               "0000FCller\r\n"),
              std::string::npos);
    EXPECT_EQ(saved.str().find('?'), std::string::npos);
    Dialogs.FileAnswers.push_back(w.CollectionFile);
    w.Act_LoadCollection->trigger();
    EXPECT_EQ(TreeItems(), tree);
    EXPECT_EQ(w.Collection().SaveToText(), saved.str());
    EXPECT_EQ(w.windowTitle(),
              QString::fromUtf8("Fendrel - ") + QString::fromStdString(w.CollectionFile));
}

} // namespace
