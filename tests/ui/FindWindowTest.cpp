#include "BrowseFixture.h"

#include "find/FindResultsModel.h"
#include "find/FindWindow.h"
#include "platform/QtTranslation.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDateEdit>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTranslator>
#include <QTreeView>

#include <cstdlib>
#include <fstream>
#include <gmock/gmock.h>

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::StartsWith;

namespace {

constexpr uint64_t kFeb2005 = 0x01C5081BE17AFC80ULL; // 1.02.2005 05:07:09 UTC
constexpr uint64_t kDay = 864'000'000'000ULL;

// The window over two discs, with the find window open. Dates are shown in UTC.
class FindWindow : public TBrowseFixture {
protected:
    void SetUp() override
    {
        setenv("TZ", "UTC", 1);
        TBrowseFixture::SetUp();
        Window->CollectionFile = PathOf("discs.frl");
        Docs = Disc("Docs disc");
        Readme = File(Docs, "Readme.TXT", 100, kFeb2005);
        Reports = Folder(Docs, "Reports");
        Report = File(Reports, "ОТЧЁТ 2010.doc", 5000, kFeb2005 + kDay);
        File(Reports, "report.txt", 2048, kFeb2005 + 40 * kDay);
        Photos = Disc("Photos");
        Sea = File(Photos, "sea.jpg", 3 << 20, kFeb2005);
        const uint32_t summer = Folder(Photos, "Лето");
        Sea2 = File(summer, "море.JPG", 1 << 20, kFeb2005 + 2 * kDay);
        File(summer, "readme.jpg", 10, kFeb2005);
        Fill();
        Window->Act_Find->trigger();
        W = Window->FindWindow;
        ASSERT_NE(W, nullptr);
    }
    void TearDown() override { unsetenv("TZ"); }

    // Types the pattern, chooses the match, clicks "Найти" and waits for the search to end.
    void Search(const std::string& pattern, QRadioButton* match = nullptr)
    {
        W->Edit_Pattern->setText(QString::fromStdString(pattern));
        (match ? match : W->Radio_Substring)->setChecked(true);
        W->Button_Find->click();
        WaitForSearch();
    }
    // Also a search that the window has only planned to run.
    void WaitForSearch()
    {
        QCoreApplication::processEvents();
        QElapsedTimer timer;
        timer.start();
        while (W->Searching() && timer.elapsed() < 20000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QCoreApplication::processEvents(); // the events that ended the search
        EXPECT_FALSE(W->Searching());
    }
    // Each row's columns joined by " | " (up to the group of copies, shown when asked for).
    std::vector<std::string> Rows(int columns = TFindResultsModel::GroupColumn)
    {
        std::vector<std::string> rows;
        for (int row = 0; row < W->Results->rowCount(); ++row) {
            std::string text;
            for (int column = 0; column < columns; ++column)
                text += (column ? " | " : "") +
                        W->Results->index(row, column).data().toString().toStdString();
            rows.push_back(text);
        }
        return rows;
    }
    std::vector<std::string> Names()
    {
        std::vector<std::string> names;
        for (int row = 0; row < W->Results->rowCount(); ++row)
            names.push_back(W->Results->index(row, 0).data().toString().toStdString());
        return names;
    }
    std::string Status() { return W->Panel_FindStatus->text().toStdString(); }
    void DoubleClick(int row) { W->ListView_FoundDblClick(W->Results->index(row, 0)); }
    std::string SelectedListRow()
    {
        const QModelIndexList rows = Window->ListView_Main->selectionModel()->selectedRows();
        return rows.isEmpty() ? std::string() : ListText(rows[0].row(), 0);
    }

    TFindWindow* W = nullptr;
    uint32_t Docs = 0, Readme = 0, Reports = 0, Report = 0, Photos = 0, Sea = 0, Sea2 = 0;
};

TEST_F(FindWindow, SizeBoundsAndColumnUseWholeSizesPast4GiB)
{
    C().GetNode(Report).SetFullSize(5ULL << 30);
    W->Edit_SizeMin->setText("4G");
    Search("");
    EXPECT_THAT(Rows(), ElementsAre(StartsWith("Reports | \\Reports | Docs disc | 5120.0 M |"),
                                    StartsWith("ОТЧЁТ 2010.doc | \\Reports\\ОТЧЁТ 2010.doc | "
                                               "Docs disc | 5120.0 M |")));
}

TEST_F(FindWindow, OpensOneNonModalWindow)
{
    EXPECT_TRUE(W->isVisible());
    EXPECT_TRUE(W->isWindow());
    EXPECT_EQ(W->windowModality(), Qt::NonModal);
    EXPECT_EQ(W->windowTitle(), "Поиск");

    W->close();
    Window->Act_Find->trigger();
    EXPECT_EQ(Window->FindWindow, W) << "the same window, with its fields, comes back";
    EXPECT_TRUE(W->isVisible());
}

TEST_F(FindWindow, HitsShowNamePathDiscSizeAndDateWithTheirCount)
{
    Search(" readme ");
    EXPECT_THAT(Rows(),
                ElementsAre("Readme.TXT | \\Readme.TXT | Docs disc | 100 | 1.02.2005 05:07:09",
                            "readme.jpg | \\Лето\\readme.jpg | Photos | 10 | 1.02.2005 05:07:09"));
    EXPECT_EQ(Status(), "Найдено: 2");

    // A folder weighs what its files weigh, as in the main list.
    W->Radio_FoldersOnly->setChecked(true);
    Search("");
    EXPECT_THAT(Rows(), ElementsAre("Reports | \\Reports | Docs disc | 6.9 k | 1.01.1601 00:00:00",
                                    "Лето | \\Лето | Photos | 1.0 M | 1.01.1601 00:00:00"));

    W->Radio_FilesAndFolders->setChecked(true);
    Search("nothing like it");
    EXPECT_THAT(Rows(), IsEmpty());
    EXPECT_EQ(Status(), "Найдено: 0");
    EXPECT_THAT(Dialogs.Messages, IsEmpty()) << "no box for a search without hits";
}

TEST_F(FindWindow, WildcardsExpressionsAndConditions)
{
    Search("*.jpg", W->Radio_Wildcard);
    EXPECT_THAT(Names(), ElementsAre("sea.jpg", "море.JPG", "readme.jpg"));
    Search("^отч", W->Radio_RegularExpression);
    EXPECT_THAT(Names(), ElementsAre("ОТЧЁТ 2010.doc"));

    W->Edit_SizeMin->setText("1k");
    W->Edit_SizeMax->setText("1 M");
    W->Radio_FilesOnly->setChecked(true);
    Search("", W->Radio_Wildcard);
    EXPECT_THAT(Names(), ElementsAre("ОТЧЁТ 2010.doc", "report.txt", "море.JPG"));

    W->Edit_SizeMin->clear();
    W->Edit_SizeMax->clear();
    W->Check_DateMin->setChecked(true);
    W->Date_Min->setDate(QDate(2005, 2, 2));
    W->Check_DateMax->setChecked(true);
    W->Date_Max->setDate(QDate(2005, 2, 3));
    Search("");
    EXPECT_THAT(Names(), ElementsAre("ОТЧЁТ 2010.doc", "море.JPG"));
    EXPECT_THAT(Dialogs.Messages, IsEmpty());
}

TEST_F(FindWindow, WrongFieldsAreShownInABoxAndKeepTheResults)
{
    Search("readme");
    W->Edit_SizeMin->setText("много");
    W->Button_Find->click();
    W->Edit_SizeMin->clear();
    Search("(", W->Radio_RegularExpression);
    W->Check_DateMin->setChecked(true);
    W->Date_Min->setDate(QDate(2010, 1, 2));
    W->Check_DateMax->setChecked(true);
    W->Date_Max->setDate(QDate(2010, 1, 1));
    Search("a");

    ASSERT_EQ(Dialogs.Messages.size(), 3u);
    EXPECT_EQ(Dialogs.Messages[0].Utf8Text(),
              "Неверный размер: «много». Укажите число байтов, можно "
              "с буквой k, M или G, например 700M");
    EXPECT_THAT(Dialogs.Messages[1].Utf8Text(),
                StartsWith("Ошибка в регулярном выражении (позиция 2): "));
    EXPECT_EQ(Dialogs.Messages[2].Utf8Text(), "Начальная дата позже конечной");
    for (const auto& message : Dialogs.Messages) {
        EXPECT_EQ(message.Utf8Title(), "Fendrel v1.2");
        EXPECT_EQ(message.Kind, TMessageKind::Error);
    }
    EXPECT_EQ(Names().size(), 2u) << "the hits of the last search that ran stay";
}

// The engine's text in the message is in Russian where Qt's catalogue has it, as Qt's own regular
// expressions give it.
TEST_F(FindWindow, InvalidPatternMessageIsInTheInterfacesLanguage)
{
    if (!InstallQtRussian(*QCoreApplication::instance()))
        GTEST_SKIP() << "Qt's Russian catalogue is not installed";
    Search("(", W->Radio_RegularExpression);
    const QString english = QStringLiteral("missing closing parenthesis");
    const QString russian =
        QCoreApplication::translate("QRegularExpression", "missing closing parenthesis");
    for (QTranslator* translator : QCoreApplication::instance()->findChildren<QTranslator*>()) {
        QCoreApplication::removeTranslator(translator);
        delete translator;
    }
    ASSERT_EQ(Dialogs.Messages.size(), 1u);
    EXPECT_NE(russian, english);
    EXPECT_EQ(Dialogs.Messages[0].Utf8Text(),
              "Ошибка в регулярном выражении (позиция 2): " + russian.toStdString());
}

TEST_F(FindWindow, PatternTheMatcherGivesUpOnIsReportedNotTakenForNoHits)
{
    File(Photos, std::string(25, 'a') + "0000!", 1, kFeb2005);
    Fill();
    Search("((a+)+b|0000!)", W->Radio_RegularExpression);
    ASSERT_EQ(Dialogs.Messages.size(), 1u);
    EXPECT_THAT(Dialogs.Messages[0].Utf8Text(),
                StartsWith("Регулярное выражение «((a+)+b|0000!)» слишком сложно"));
    EXPECT_EQ(Dialogs.Messages[0].Kind, TMessageKind::Error);
    EXPECT_EQ(Status(), "Поиск прерван. Найдено: 0");
}

TEST_F(FindWindow, AnyColumnSortsAndTheSelectionFollows)
{
    Search("");
    ASSERT_EQ(Names().size(), 8u);
    QHeaderView* header = W->ListView_Found->header();
    header->setSortIndicator(TFindResultsModel::SizeColumn, Qt::DescendingOrder);
    EXPECT_THAT(Names(), ElementsAre("sea.jpg", "Лето", "море.JPG", "Reports", "ОТЧЁТ 2010.doc",
                                     "report.txt", "Readme.TXT", "readme.jpg"));
    W->ListView_Found->setCurrentIndex(W->Results->index(4, 0));
    header->setSortIndicator(TFindResultsModel::NameColumn, Qt::AscendingOrder);
    EXPECT_THAT(Names(), ElementsAre("readme.jpg", "Readme.TXT", "report.txt", "Reports", "sea.jpg",
                                     "Лето", "море.JPG", "ОТЧЁТ 2010.doc"))
        << "letter case ignored; equal names keep the order of the sort before";
    EXPECT_EQ(W->ListView_Found->currentIndex().data().toString(), "ОТЧЁТ 2010.doc");
    header->setSortIndicator(TFindResultsModel::PathColumn, Qt::AscendingOrder);
    EXPECT_EQ(Names().front(), "Readme.TXT");
    header->setSortIndicator(TFindResultsModel::DiscColumn, Qt::AscendingOrder);
    EXPECT_EQ(Names().front(), "Readme.TXT") << "Docs disc before Photos, the path order kept";
    header->setSortIndicator(TFindResultsModel::DateColumn, Qt::DescendingOrder);
    EXPECT_EQ(Names().front(), "report.txt");

    // A new search keeps the column it is sorted by.
    header->setSortIndicator(TFindResultsModel::NameColumn, Qt::DescendingOrder);
    Search("re");
    EXPECT_THAT(Names(), ElementsAre("Reports", "report.txt", "Readme.TXT", "readme.jpg"));
    header->setSortIndicator(-1, Qt::AscendingOrder);
    EXPECT_THAT(Names(), ElementsAre("Readme.TXT", "Reports", "report.txt", "readme.jpg"))
        << "the order found comes back";
}

TEST_F(FindWindow, DoubleClickShowsTheFolderAndRowRemovingAFilterThatHidesIt)
{
    Dialogs.InputAnswers.push_back(Ansi("sea"));
    Window->Act_NewFilter->trigger();
    ASSERT_EQ(Window->MI_View->actions().size(), 4);

    // Visible under the filter: it stays.
    Search("sea");
    DoubleClick(0);
    EXPECT_EQ(SelectedData(), Photos);
    EXPECT_EQ(SelectedListRow(), "sea.jpg");
    EXPECT_TRUE(Window->MI_View->actions()[3]->isChecked());

    // Hidden by it: the filter goes as "Снять фильтр" removes it, its entry stays.
    Search("отчёт");
    DoubleClick(0);
    EXPECT_EQ(SelectedData(), Reports);
    EXPECT_TRUE(Expanded(Docs));
    EXPECT_EQ(SelectedListRow(), "ОТЧЁТ 2010.doc");
    EXPECT_EQ(Window->MI_View->actions().size(), 4);
    EXPECT_FALSE(Window->MI_View->actions()[3]->isChecked());
    EXPECT_FALSE(C().GetNode(Report).Is(nfFilteredOut));

    // A folder: its own folder, and its row there.
    W->Radio_FoldersOnly->setChecked(true);
    Search("Лето");
    DoubleClick(0);
    EXPECT_EQ(SelectedData(), Photos);
    EXPECT_EQ(SelectedListRow(), "Лето");
    EXPECT_EQ(Status(), "Найдено: 1");
    EXPECT_THAT(Dialogs.Messages, IsEmpty());
}

TEST_F(FindWindow, AFolderThatTheTreeMergesWithItsTwinIsSaidSo)
{
    // Names that differ only in case each have their item; of two folders whose names are equal
    // byte for byte (only a hand-made file holds them) the tree shows the later one.
    const uint32_t caseTwin = Folder(Docs, "REPORTS");
    File(caseTwin, "upper.txt");
    const uint32_t sameName = Folder(Docs, "Reports");
    File(sameName, "other.txt");
    Fill();
    Search("upper");
    DoubleClick(0);
    EXPECT_EQ(SelectedData(), caseTwin) << "a case twin is shown and selected";
    Search("ОТЧЁТ");
    DoubleClick(0);
    EXPECT_EQ(SelectedData(), Docs) << "the nearest folder above that the tree shows";
    EXPECT_THAT(Status(), StartsWith("В главном окне этот элемент не показан"));
}

TEST_F(FindWindow, ResultsFollowChangesAndReplacementsOfTheCollection)
{
    Search("readme");
    ASSERT_EQ(Names().size(), 2u);

    // Removing a disc (saved): the search runs again without it.
    SelectNode(Photos);
    Dialogs.QuestionAnswers = {TMessageResult::Yes};
    Window->Act_DeleteDisc->trigger();
    WaitForSearch();
    EXPECT_THAT(Rows(), ElementsAre(StartsWith("Readme.TXT | \\Readme.TXT | Docs disc")));

    // Another collection reuses the ids: the old rows go at once, the new ones come from it.
    const std::string other = PathOf("other.frl");
    std::ofstream(other, std::ios::binary) << ";Fendrel File v1 begin\r\n"
                                              "D 00000000 00000000 00000000 Music\r\n"
                                              "E 00000000 00000000 00000001 README.md\r\n"
                                              "<\r\n";
    Dialogs.FileAnswers.push_back(other);
    Window->Act_LoadCollection->trigger();
    WaitForSearch();
    EXPECT_THAT(Rows(), ElementsAre(StartsWith("README.md | \\README.md | Music")));
    DoubleClick(0);
    EXPECT_EQ(SelectedListRow(), "README.md");

    // While the window is closed, a change drops the rows; showing it searches again.
    W->close();
    Dialogs.FileAnswers.push_back(Window->CollectionFile);
    TCollectionNode added;
    added.Name = Ansi("readme.2");
    added.Flags = nfFile;
    added.ParentId = C().Discs[0];
    C().AddNode(C().GetNode(C().Discs[0]).Children, added);
    Fill();
    EXPECT_EQ(W->Results->rowCount(), 0);
    Window->Act_Find->trigger();
    QCoreApplication::processEvents();
    WaitForSearch();
    EXPECT_THAT(Names(), ElementsAre("README.md", "readme.2"));
}

TEST_F(FindWindow, CancelStopsTheSearchAndKeepsWhatItFound)
{
    // Enough names that a regular expression takes a while over them.
    const uint32_t big = Disc("Big");
    for (int i = 0; i < 300000; ++i)
        File(big, "file " + std::to_string(i) + ".txt");
    W->Edit_Pattern->setText("\\d+5\\.txt$");
    W->Radio_RegularExpression->setChecked(true);
    W->Button_Find->click();
    EXPECT_TRUE(W->Searching());
    EXPECT_TRUE(W->Button_Cancel->isEnabled());
    W->Button_Cancel->click();
    EXPECT_FALSE(W->Searching());
    EXPECT_FALSE(W->Button_Cancel->isEnabled());
    EXPECT_THAT(Status(), StartsWith("Поиск остановлен. Найдено: "));
    EXPECT_EQ(Status(), "Поиск остановлен. Найдено: " + std::to_string(W->Results->rowCount()));
    EXPECT_LT(W->Results->rowCount(), 30000);

    // Closing the window stops a search as well.
    W->Button_Find->click();
    W->close();
    EXPECT_FALSE(W->Searching());
}

// The collection: Docs disc (Readme.TXT 100, Reports\ОТЧЁТ 2010.doc 5000, report.txt 2048) and
// Photos (sea.jpg 3 M, Лето\море.JPG 1 M, Лето\readme.jpg 10), with a backup disc added here.
TEST_F(FindWindow, DuplicatesInGroupsAndFilesOnOneDiscOnly)
{
    const uint32_t backup = Disc("Backup");
    const uint32_t seaBackup = File(backup, "SEA.JPG", 3 << 20, kFeb2005 + kDay);
    const uint32_t renamed = File(backup, "sea copy.jpg", 1 << 20, kFeb2005);
    File(backup, "readme.txt", 100, kFeb2005);
    Fill();
    W->CollectionShown();

    // The lower size bound of 1 M is filled in; folders are out of the question.
    W->Radio_Duplicates->setChecked(true);
    EXPECT_EQ(W->Edit_SizeMin->text(), "1M");
    EXPECT_FALSE(W->Radio_FoldersOnly->isEnabled());
    EXPECT_FALSE(W->Combo_UniqueDisc->isEnabled());
    Search("");
    EXPECT_THAT(Rows(TFindResultsModel::ColumnCount),
                ElementsAre("sea.jpg | \\sea.jpg | Photos | 3.0 M | 1.02.2005 05:07:09 | 1",
                            "SEA.JPG | \\SEA.JPG | Backup | 3.0 M | 2.02.2005 05:07:09 | 1"));
    EXPECT_FALSE(W->ListView_Found->header()->isSectionHidden(TFindResultsModel::GroupColumn));
    EXPECT_EQ(Status(), "Найдено: 2");

    // With checksums, the renamed copy of море.JPG is found and SEA.JPG, now different, is not.
    C().Checksums[Sea] = {1, 1};
    C().Checksums[seaBackup] = {2, 2};
    C().Checksums[Sea2] = {7, 7};
    C().Checksums[renamed] = {7, 7};
    W->Edit_SizeMin->clear(); // an empty bound is 1 M all the same
    Search("");
    EXPECT_THAT(Names(), ElementsAre("море.JPG", "sea copy.jpg"));
    // The name pattern and the bounds choose the files.
    W->Edit_SizeMin->setText("0");
    Search("readme");
    EXPECT_THAT(Names(), ElementsAre("Readme.TXT", "readme.txt"));

    // Files on one disc only: of the disc chosen, or of every disc.
    W->Edit_SizeMin->clear();
    W->Radio_Unique->setChecked(true);
    EXPECT_TRUE(W->Combo_UniqueDisc->isEnabled());
    ASSERT_EQ(W->Combo_UniqueDisc->count(), 4);
    EXPECT_EQ(W->Combo_UniqueDisc->itemText(0), "Все диски");
    EXPECT_EQ(W->Combo_UniqueDisc->itemText(3), "Backup");
    W->Combo_UniqueDisc->setCurrentIndex(3);
    Search("");
    EXPECT_THAT(Names(), ElementsAre("SEA.JPG"));
    EXPECT_TRUE(W->ListView_Found->header()->isSectionHidden(TFindResultsModel::GroupColumn));
    W->Combo_UniqueDisc->setCurrentIndex(0);
    Search("");
    EXPECT_THAT(Names(),
                ElementsAre("ОТЧЁТ 2010.doc", "report.txt", "sea.jpg", "readme.jpg", "SEA.JPG"));
}

} // namespace
