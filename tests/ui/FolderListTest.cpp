#include "BrowseFixture.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScrollBar>

#include <chrono>
#include <cstdlib>
#include <gmock/gmock.h>

using ::testing::ElementsAre;

namespace {

class FolderList : public TBrowseFixture {
protected:
    // Backup: folders Zeta, alpha, Docs (inner, a.txt); files b.txt, A.TXT, a.txt. Then Other.
    void MakeBackup()
    {
        backup = Disc("Backup");
        Folder(backup, "Zeta");
        File(backup, "b.txt", 1025);
        Folder(backup, "alpha");
        File(backup, "A.TXT", 1);
        lowerA = File(backup, "a.txt", 2);
        docs = Folder(backup, "Docs");
        File(docs, "a.txt", 10);
        Folder(docs, "inner");
        Disc("Other");
        Fill();
    }
    void DoubleClickRow(int row)
    {
        if (row >= 0)
            SelectRow(row);
        else
            Window->ListView_Main->clearSelection();
        QMouseEvent click(QEvent::MouseButtonDblClick, QPointF(5, 5), QPointF(5, 5), Qt::LeftButton,
                          Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(Window->ListView_Main->viewport(), &click);
    }
    // Sets TZ and makes the window list the node again.
    void ListIn(const char* zone, uint32_t id)
    {
        setenv("TZ", zone, 1);
        SelectNode(0);
        SelectNode(id);
    }
    void TearDown() override { unsetenv("TZ"); }
    void PressInList(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QKeyEvent press(QEvent::KeyPress, key, modifiers);
        QCoreApplication::sendEvent(Window->ListView_Main, &press);
    }
    void MakeCurrent(int row)
    {
        Window->ListView_Main->setCurrentIndex(Window->ListModel->index(row, 0));
    }

    uint32_t backup = 0, lowerA = 0, docs = 0;
};

TEST_F(FolderList, DiscsInOrderThenFoldersFirstWithCaseTwinsSideBySide)
{
    MakeBackup();
    Disc("Backup");
    Fill();
    EXPECT_THAT(ListCaptions(), ElementsAre("Backup", "Other", "Backup"));
    EXPECT_EQ(ListText(0, 1) + "|" + ListText(0, 2) + ListText(0, 3) + ListText(0, 4), "Диск|");

    SelectNode(backup);
    EXPECT_THAT(ListCaptions(), ElementsAre("alpha", "Docs", "Zeta", "A.TXT", "a.txt", "b.txt"));
    EXPECT_EQ(Window->ListModel->Rows()[4].Data, lowerA);
    EXPECT_EQ(ListText(0, 1), "Каталог");
    EXPECT_EQ(ListText(5, 1), "Файл");

    // Names equal byte for byte only come from a hand-made file: one row, the later node's.
    const uint32_t later = File(docs, "a.txt", 20);
    SelectNode(docs);
    EXPECT_THAT(ListCaptions(), ElementsAre("inner", "a.txt"));
    EXPECT_EQ(Window->ListModel->Rows()[1].Data, later);
}

TEST_F(FolderList, SizesCrossTheUnitBoundariesAndFolderTotalsPass4GiB)
{
    const uint32_t disc = Disc("d");
    const uint32_t big = Folder(disc, "big");
    for (int i = 0; i < 3; ++i)
        File(big, "gig" + std::to_string(i), 1U << 30);
    Hide(File(big, "hidden", 0xFFFFFFFF)); // counted all the same
    for (const uint32_t size : {0U, 1024U, 1025U, 1048576U, 1048577U})
        File(disc, std::to_string(size), size);
    Fill();
    SelectNode(disc);
    std::vector<std::string> sizes;
    for (int row = 0; row < Window->ListModel->rowCount(); ++row)
        sizes.push_back(ListText(row, 4));
    EXPECT_THAT(sizes, ElementsAre("7168.0 M", "0", "1024", "1.0 k", "1024.0 k", "1.0 M"));
}

TEST_F(FolderList, DateAndTimeInLocalTimeOfTheOffsetInForceNow)
{
    using namespace std::chrono;
    const int64_t seconds = (sys_days{2005y / 2 / 1} + 2h + 7min + 9s).time_since_epoch().count() +
                            134'774LL * 86'400; // 02:07:09 UTC, counted from 1601
    const uint32_t disc = Disc("d");
    File(disc, "a", 0, static_cast<uint64_t>(seconds) * 10'000'000);
    File(disc, "b", 0, 0); // the first moment a stored time can hold
    Fill();
    ListIn("MSK-3", disc);
    EXPECT_EQ(ListText(0, 2) + " " + ListText(0, 3), "1.02.2005 05:07:09");
    EXPECT_EQ(ListText(1, 2) + " " + ListText(1, 3), "1.01.1601 03:00:00");
    // Summer time is in force all year here: one hour west of UTC, whatever the stored date.
    ListIn("AAA+2BBB,J1/0,J365/25", disc);
    EXPECT_EQ(ListText(0, 2) + " " + ListText(0, 3), "1.02.2005 01:07:09");
    EXPECT_EQ(ListText(1, 2) + ListText(1, 3), "") << "before 1601: date and time left empty";
}

TEST_F(FolderList, DoubleClickOpensDiscsAndFoldersAndShowsWhereFilesLive)
{
    MakeBackup();
    DoubleClickRow(0); // the disc Backup in the root listing
    EXPECT_EQ(SelectedData(), backup);
    EXPECT_TRUE(Expanded(backup));
    DoubleClickRow(1); // Docs
    EXPECT_EQ(SelectedData(), docs);
    EXPECT_TRUE(Expanded(docs));
    EXPECT_THAT(ListCaptions(), ElementsAre("inner", "a.txt"));
    EXPECT_TRUE(Dialogs.Messages.empty());

    DoubleClickRow(1); // a.txt
    ASSERT_EQ(Dialogs.Messages.size(), 1u);
    EXPECT_EQ(Dialogs.Messages[0].Utf8Text(),
              "Файл: a.txt\r\nПолное имя: \\Docs\\a.txt\r\nНаходится на диске Backup");
    EXPECT_EQ(Dialogs.Messages[0].Utf8Title(), "Информация о файле");
    EXPECT_EQ(Dialogs.Messages[0].Kind, TMessageKind::Information);
    EXPECT_EQ(SelectedData(), docs);
    EXPECT_THAT(ListCaptions(), ElementsAre("inner", "a.txt"));

    DoubleClickRow(-1);
    EXPECT_EQ(Dialogs.Messages.size(), 1u);
    EXPECT_EQ(SelectedData(), docs);
}

TEST_F(FolderList, EveryListingStartsAtItsFirstRowWithNoCurrentRow)
{
    const uint32_t disc = Disc("d");
    const uint32_t first = Folder(disc, "first");
    const uint32_t second = Folder(disc, "second");
    for (int i = 0; i < 20000; ++i) {
        File(first, std::to_string(i) + ".a");
        File(second, std::to_string(i) + ".b");
    }
    Fill();
    QTreeView& list = *Window->ListView_Main;
    Window->show();
    SelectNode(first);
    ASSERT_TRUE(ProcessEventsUntil([&] { return list.verticalScrollBar()->maximum() > 0; }));
    list.scrollToBottom();
    MakeCurrent(19999);
    ASSERT_GT(list.verticalScrollBar()->value(), 0);

    for (const uint32_t folder : {second, first}) {
        SelectNode(folder);
        EXPECT_EQ(list.verticalScrollBar()->value(), 0);
        EXPECT_FALSE(list.currentIndex().isValid());
        QCoreApplication::processEvents();
        EXPECT_EQ(list.indexAt(QPoint(1, 1)).row(), 0) << "the first row is in sight";
    }
}

TEST_F(FolderList, EnterOnARowDoesWhatADoubleClickDoes)
{
    MakeBackup();
    MakeCurrent(0); // the disc Backup in the root listing
    PressInList(Qt::Key_Return);
    EXPECT_EQ(SelectedData(), backup);
    EXPECT_TRUE(Expanded(backup));
    MakeCurrent(1); // Docs
    PressInList(Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_EQ(SelectedData(), docs);
    EXPECT_THAT(ListCaptions(), ElementsAre("inner", "a.txt"));
    EXPECT_TRUE(Dialogs.Messages.empty());

    MakeCurrent(1); // a.txt
    PressInList(Qt::Key_Return);
    ASSERT_EQ(Dialogs.Messages.size(), 1u);
    EXPECT_EQ(Dialogs.Messages[0].Utf8Text(),
              "Файл: a.txt\r\nПолное имя: \\Docs\\a.txt\r\nНаходится на диске Backup");
    PressInList(Qt::Key_Space);
    EXPECT_EQ(Dialogs.Messages.size(), 1u) << "only Enter acts";
}

} // namespace
