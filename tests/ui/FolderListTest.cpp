#include "BrowseFixture.h"

#include <QCoreApplication>
#include <QMouseEvent>

#include <chrono>
#include <cstdlib>
#include <gmock/gmock.h>

using ::testing::ElementsAre;

namespace {

// The stored form of a UTC calendar time.
uint64_t FileTimeOf(int y, unsigned m, unsigned d, int h, int mi, int s) {
    using namespace std::chrono;
    const int64_t days = sys_days{year{y} / month{m} / day{d}}.time_since_epoch().count() + 134'774;
    return static_cast<uint64_t>((days * 86'400 + h * 3600 + mi * 60 + s) * 10'000'000LL);
}

// Sets TZ for the test and puts the old value back afterwards.
class TTimeZone {
public:
    explicit TTimeZone(const char* zone) {
        if (const char* old = std::getenv("TZ"))
            Old_ = old;
        setenv("TZ", zone, 1);
    }
    ~TTimeZone() {
        if (Old_.empty())
            unsetenv("TZ");
        else
            setenv("TZ", Old_.c_str(), 1);
    }
    TTimeZone(const TTimeZone&) = delete;
    TTimeZone& operator=(const TTimeZone&) = delete;

private:
    std::string Old_;
};

class FolderList : public TBrowseFixture {
protected:
    // A disc "Backup" holding folders Zeta and alpha, files b.txt and A.TXT, then a.txt (equal
    // to A.TXT but for case), and a folder Docs with the file a.txt.
    void MakeBackup() {
        backup = Disc("Backup");
        zeta = Folder(backup, "Zeta");
        File(backup, "b.txt", 1025);
        Folder(backup, "alpha");
        File(backup, "A.TXT", 1);
        lowerA = File(backup, "a.txt", 2);
        docs = Folder(backup, "Docs");
        aTxt = File(docs, "a.txt", 10);
        Folder(docs, "inner");
        other = Disc("Other");
        Fill();
    }
    void DoubleClickList() {
        QMouseEvent click(QEvent::MouseButtonDblClick, QPointF(5, 5), QPointF(5, 5), Qt::LeftButton,
                          Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(Window->ListView_Main->viewport(), &click);
    }

    uint32_t backup = 0, zeta = 0, lowerA = 0, docs = 0, aTxt = 0, other = 0;
};

TEST_F(FolderList, SelectingTreeItemsListsDiscsThenFoldersFirst) {
    MakeBackup();
    Disc("Backup");
    Fill();
    EXPECT_THAT(ListCaptions(), ElementsAre("Backup", "Other", "Backup"))
        << "root selected: every disc in order, same titles not merged";
    EXPECT_EQ(ListText(0, 1), "Диск");
    EXPECT_EQ(ListText(0, 2) + ListText(0, 3) + ListText(0, 4), "");

    SelectNode(backup);
    EXPECT_THAT(ListCaptions(), ElementsAre("alpha", "Docs", "Zeta", "a.txt", "b.txt"));
    EXPECT_EQ(Window->ListModel->Rows()[3].Data, lowerA);
    EXPECT_EQ(ListText(0, 1), "Каталог");
    EXPECT_EQ(ListText(4, 1), "Файл");
    EXPECT_EQ(Window->ListModel->Rows()[4].Image, 3);
}

TEST_F(FolderList, SizesCrossTheUnitBoundariesAndFolderTotalsPass4GiB) {
    const uint32_t disc = Disc("d");
    const uint32_t big = Folder(disc, "big");
    for (int i = 0; i < 3; ++i)
        File(big, "gig" + std::to_string(i), 1U << 30);
    Hide(File(big, "hidden", 0xFFFFFFFF));
    File(disc, "0 bytes", 0);
    File(disc, "1024 bytes", 1024);
    File(disc, "1025 bytes", 1025);
    File(disc, "1048576 bytes", 1048576);
    File(disc, "1048577 bytes", 1048577);
    Fill();
    SelectNode(disc);
    std::vector<std::string> sizes;
    for (int row = 0; row < Window->ListModel->rowCount(); ++row)
        sizes.push_back(ListText(row, 0) + ": " + ListText(row, 4));
    EXPECT_THAT(sizes,
                ElementsAre("big: 7168.0 M", "0 bytes: 0", "1024 bytes: 1024", "1025 bytes: 1.0 k",
                            "1048576 bytes: 1024.0 k", "1048577 bytes: 1.0 M"))
        << "a folder counts every file below it, also those the filter hides";
}

TEST_F(FolderList, DateAndTimeInLocalTimeOfTheOffsetInForceNow) {
    const uint32_t disc = Disc("d");
    File(disc, "a", 0, FileTimeOf(2005, 2, 1, 2, 7, 9));
    File(disc, "b", 0, 0); // the very first stored moment
    Fill();
    {
        const TTimeZone moscow("MSK-3");
        SelectNode(disc);
        EXPECT_EQ(ListText(0, 2), "1.02.2005");
        EXPECT_EQ(ListText(0, 3), "05:07:09");
        EXPECT_EQ(ListText(1, 2), "1.01.1601");
        EXPECT_EQ(ListText(1, 3), "03:00:00");
    }
    {
        // Summer time is in force all year here, so the offset now is always 1 hour west.
        const TTimeZone west("AAA+2BBB,J1/0,J365/25");
        SelectNode(0);
        SelectNode(disc);
        EXPECT_EQ(ListText(0, 2), "1.02.2005");
        EXPECT_EQ(ListText(0, 3), "01:07:09");
        EXPECT_EQ(ListText(1, 2), "") << "a time before 1601 leaves date and time empty";
        EXPECT_EQ(ListText(1, 3), "");
    }
}

TEST_F(FolderList, DoubleClickOpensFoldersAndDiscsInTheTree) {
    MakeBackup();
    SelectRow(ListRowOf(backup)); // the root listing
    DoubleClickList();
    EXPECT_EQ(SelectedData(), backup);
    EXPECT_TRUE(Expanded(backup));
    EXPECT_THAT(ListCaptions(), ElementsAre("alpha", "Docs", "Zeta", "a.txt", "b.txt"));
    EXPECT_TRUE(Window->ListView_Main->selectionModel()->selectedRows().isEmpty());

    SelectRow(ListRowOf(docs));
    DoubleClickList();
    EXPECT_EQ(SelectedData(), docs);
    EXPECT_TRUE(Expanded(docs));
    EXPECT_THAT(ListCaptions(), ElementsAre("inner", "a.txt"));
    EXPECT_TRUE(Dialogs.Messages.empty());
}

TEST_F(FolderList, DoubleClickOnAFileShowsWhereItLives) {
    MakeBackup();
    SelectNode(docs);
    SelectRow(ListRowOf(aTxt));
    DoubleClickList();
    ASSERT_EQ(Dialogs.Messages.size(), 1u);
    EXPECT_EQ(Dialogs.Messages[0].Utf8Text(),
              "Файл: a.txt\r\nПолное имя: \\Docs\\a.txt\r\nНаходится на диске Backup");
    EXPECT_EQ(Dialogs.Messages[0].Utf8Title(), "Информация о файле");
    EXPECT_EQ(Dialogs.Messages[0].Kind, TMessageKind::Information);
    EXPECT_EQ(SelectedData(), docs);
    EXPECT_THAT(ListCaptions(), ElementsAre("inner", "a.txt")) << "the list stays as it was";
}

TEST_F(FolderList, DoubleClickWithNoRowSelectedDoesNothing) {
    MakeBackup();
    SelectNode(backup);
    Window->ListView_Main->clearSelection();
    DoubleClickList();
    EXPECT_EQ(SelectedData(), backup);
    EXPECT_EQ(Window->ListModel->rowCount(), 5);
    EXPECT_TRUE(Dialogs.Messages.empty());
}

} // namespace
