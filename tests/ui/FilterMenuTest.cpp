#include "BrowseFixture.h"
#include "support/DiscTrees.h"

#include "platform/QtText.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <fstream>
#include <gmock/gmock.h>

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

// The window over a collection made in the test: disc "Docs disc" holds Readme.TXT and a folder
// "Reports" with two reports; disc "Photos" holds two pictures. Drive D: reads the folder "disc"
// of the test's temporary folder.
class FilterMenu : public TBrowseFixture {
protected:
    void SetUp() override
    {
        Drives.Add('D', {TDriveSource::TKind::Folder, PathOf("disc"), "NEW"});
        TBrowseFixture::SetUp();
        Window->CollectionFile = PathOf("discs.frl");
        Docs = Disc("Docs disc");
        Readme = File(Docs, "Readme.TXT");
        const uint32_t reports = Folder(Docs, "Reports");
        File(reports, "ОТЧЁТ 2010.doc");
        File(reports, "a&b\tc.txt");
        Photos = Disc("Photos");
        File(Photos, "sea.jpg");
        File(Photos, "readme.jpg");
        Fill();
    }

    // Runs "Новый фильтр..." as the menu does, with the user typing input (UTF-8).
    void NewFilter(const std::string& input)
    {
        Dialogs.InputAnswers.push_back(Ansi(input));
        Window->Act_NewFilter->trigger();
    }

    [[nodiscard]] QList<QAction*> Entries() const { return Window->MI_View->actions().mid(3); }
    // The entries' keys in UTF-8, a checked one followed by " *".
    [[nodiscard]] std::vector<std::string> Menu() const
    {
        std::vector<std::string> shown;
        for (const QAction* entry : Entries())
            shown.push_back(AnsiToUtf8(LiteralCaption(entry)) + (entry->isChecked() ? " *" : ""));
        return shown;
    }
    // The names of the reachable nodes without or with the mark, in depth-first pre-order.
    [[nodiscard]] std::vector<std::string> Unmarked() const { return Names(false); }
    [[nodiscard]] std::vector<std::string> Marked() const { return Names(true); }
    [[nodiscard]] std::vector<std::string> Names(bool marked) const
    {
        std::vector<std::string> names;
        const TFendrel& c = Window->Collection();
        std::vector<uint32_t> pending(c.Discs.rbegin(), c.Discs.rend());
        while (!pending.empty()) {
            const TCollectionNode& node = c.GetNode(pending.back());
            pending.pop_back();
            if (node.Is(nfFilteredOut) == marked)
                names.push_back(AnsiToUtf8(node.Name));
            pending.insert(pending.end(), node.Children.rbegin(), node.Children.rend());
        }
        return names;
    }
    [[nodiscard]] std::string Root() const { return "Библиотека " + Window->CollectionFile; }
    [[nodiscard]] std::string Status() const { return Window->Panel_Status->text().toStdString(); }

    uint32_t Docs = 0;
    uint32_t Readme = 0;
    uint32_t Photos = 0;
};

TEST_F(FilterMenu, PaddedInputBecomesALowerCaseCheckedEntry)
{
    NewFilter("  Readme.TXT  ");
    ASSERT_EQ(Dialogs.Inputs.size(), 1u);
    EXPECT_EQ(AnsiToUtf8(Dialogs.Inputs[0].Caption), "Новый фильтр...");
    EXPECT_EQ(AnsiToUtf8(Dialogs.Inputs[0].Prompt), "Введите строку поиска для фильтра");
    EXPECT_EQ(Dialogs.Inputs[0].Initial, "");

    EXPECT_THAT(Menu(), ElementsAre("readme.txt *"));
    EXPECT_EQ(Entries()[0]->text(), "readme.txt");
    ASSERT_EQ(Window->Filters.count("readme.txt"), 1u);
    EXPECT_THAT(Window->Filters.at("readme.txt"), ElementsAre(Readme));
    EXPECT_THAT(Unmarked(), ElementsAre("Docs disc", "Readme.TXT"));
    EXPECT_EQ(Status(), " Готово");
    EXPECT_THAT(Dialogs.Messages, IsEmpty());
}

TEST_F(FilterMenu, KnownStringChoosesItsEntryWithoutSearching)
{
    NewFilter("readme");
    EXPECT_THAT(Unmarked(), ElementsAre("Docs disc", "Readme.TXT", "Photos", "readme.jpg"));
    Window->Act_NoFilter->trigger();

    // A node added since would be found by a new search; the kept hits do not hold it.
    File(Photos, "README.md");
    Window->Panel_Status->setText("untouched");
    NewFilter("README");
    EXPECT_THAT(Menu(), ElementsAre("readme *"));
    EXPECT_THAT(Unmarked(), ElementsAre("Docs disc", "Readme.TXT", "Photos", "readme.jpg"));
    EXPECT_EQ(Status(), "untouched");
}

TEST_F(FilterMenu, TwelveFiltersKeepTheNewestEleven)
{
    for (int i = 1; i <= 12; ++i)
        File(Photos, "img" + std::to_string(i) + "x.jpg");
    for (int i = 1; i <= 12; ++i)
        NewFilter("img" + std::to_string(i) + "x");

    EXPECT_THAT(Menu(), ElementsAre("img2x", "img3x", "img4x", "img5x", "img6x", "img7x", "img8x",
                                    "img9x", "img10x", "img11x", "img12x *"));
    EXPECT_EQ(Window->MI_View->actions().size(), 14);
    EXPECT_EQ(Window->Filters.size(), 11u) << "the dropped entry's filter is forgotten with it";
    EXPECT_EQ(Window->Filters.count("img1x"), 0u);
    EXPECT_THAT(Unmarked(), ElementsAre("Photos", "img12x.jpg"));

    // The dropped string is searched again and comes back as the newest entry.
    NewFilter("IMG1X");
    EXPECT_EQ(Menu().back(), "img1x *");
    EXPECT_EQ(Menu().front(), "img3x");
    EXPECT_THAT(Unmarked(), ElementsAre("Photos", "img1x.jpg"));
}

TEST_F(FilterMenu, NoFilterShowsAllAndTheEntryShowsItsHitsAgain)
{
    NewFilter("отчёт");
    NewFilter("sea");
    EXPECT_THAT(Menu(), ElementsAre("отчёт", "sea *"));

    Window->Act_NoFilter->trigger();
    EXPECT_THAT(Menu(), ElementsAre("отчёт", "sea"));
    EXPECT_THAT(Marked(), IsEmpty());

    Window->Panel_Status->setText("untouched");
    Entries()[0]->trigger();
    EXPECT_THAT(Menu(), ElementsAre("отчёт *", "sea"));
    EXPECT_THAT(Unmarked(), ElementsAre("Docs disc", "Reports", "ОТЧЁТ 2010.doc"));
    EXPECT_THAT(TreeItems(), ElementsAre(Root(), "  Docs disc", "    Reports"));
    // Choosing the checked entry again keeps it checked.
    Entries()[0]->trigger();
    EXPECT_THAT(Menu(), ElementsAre("отчёт *", "sea"));
    EXPECT_EQ(Status(), "untouched");
}

TEST_F(FilterMenu, SearchWithoutHitsKeepsTheFilterShown)
{
    NewFilter("sea");
    const std::vector<std::string> shown = Unmarked();
    NewFilter("nothing like it");
    ASSERT_EQ(Dialogs.Messages.size(), 1u);
    EXPECT_EQ(Dialogs.Messages[0].Utf8Text(), "По заданному условию ничего не найдено!");
    EXPECT_EQ(Dialogs.Messages[0].Utf8Title(), "Новый фильтр...");
    EXPECT_EQ(Dialogs.Messages[0].Kind, TMessageKind::Warning);
    EXPECT_THAT(Menu(), ElementsAre("sea *"));
    EXPECT_EQ(Unmarked(), shown);
    EXPECT_EQ(Window->Filters.count("nothing like it"), 0u);
    EXPECT_EQ(Status(), " Готово");

    // A search also covers what the filter shown hides.
    NewFilter("readme");
    EXPECT_THAT(Unmarked(), ElementsAre("Docs disc", "Readme.TXT", "Photos", "readme.jpg"));
}

TEST_F(FilterMenu, BlankInputOrCancelDoesNothing)
{
    NewFilter(" \t  \t ");
    Dialogs.InputAnswers.push_back(std::nullopt);
    Window->Act_NewFilter->trigger();
    EXPECT_EQ(Dialogs.Inputs.size(), 2u);
    EXPECT_THAT(Dialogs.Messages, IsEmpty());
    EXPECT_THAT(Menu(), IsEmpty());
    EXPECT_THAT(Marked(), IsEmpty());
}

TEST_F(FilterMenu, CaptionIsShownLiterallyAndComparedByteForByte)
{
    // An inner tab and '&' stay in the filter string; only the ends are trimmed.
    NewFilter("\tA&B\tC ");
    EXPECT_THAT(Menu(), ElementsAre("a&b\tc *"));
    EXPECT_EQ(Entries()[0]->text(), "a&&b c") << "no access key, no shortcut text";
    EXPECT_THAT(Unmarked(), ElementsAre("Docs disc", "Reports", "a&b\tc.txt"));

    NewFilter("ОТЧЁТ");
    EXPECT_EQ(Entries()[1]->text(), "отчёт");
    NewFilter("a&b\tc");
    NewFilter("a&b c"); // what the menu shows, but not the same string
    EXPECT_THAT(Menu(), ElementsAre("a&b\tc *", "отчёт"));
    EXPECT_EQ(Dialogs.Messages.size(), 1u);
}

TEST_F(FilterMenu, ResetFiltersForgetsEveryFilter)
{
    NewFilter("sea");
    NewFilter("readme");
    Window->ResetFilters();
    EXPECT_THAT(Menu(), IsEmpty());
    EXPECT_EQ(Window->MI_View->actions().size(), 3);
    EXPECT_EQ(Window->MI_View->actions().at(2), Window->MI_ViewSeparator);
    EXPECT_TRUE(Window->Filters.empty());
    EXPECT_THAT(Marked(), IsEmpty());

    NewFilter("sea");
    EXPECT_THAT(Menu(), ElementsAre("sea *")) << "searched anew";
}

TEST_F(FilterMenu, OpeningACollectionDropsTheEntriesUnlessTheFileCannotBeRead)
{
    const std::string other = PathOf("other.frl");
    std::ofstream(other, std::ios::binary) << ";Fendrel File v1 begin\r\n"
                                              "D 00000000 00000000 00000000 Music\r\n"
                                              "F 00000000 00000000 00000000 sea songs\r\n"
                                              "<\r\n"
                                              "<\r\n";
    NewFilter("sea");
    NewFilter("readme");

    CollectionFiles.FailReads = true;
    Dialogs.FileAnswers.push_back(other);
    Window->Act_LoadCollection->trigger();
    EXPECT_EQ(Dialogs.Messages.size(), 1u);
    EXPECT_THAT(Menu(), ElementsAre("sea", "readme *"));
    EXPECT_EQ(Window->Filters.size(), 2u);

    CollectionFiles.FailReads = false;
    Dialogs.FileAnswers.push_back(other);
    Window->Act_LoadCollection->trigger();
    EXPECT_THAT(Menu(), IsEmpty());
    EXPECT_TRUE(Window->Filters.empty());
    EXPECT_THAT(TreeItems(), ElementsAre(Root(), "  Music", "    sea songs"));
}

TEST_F(FilterMenu, ChangingTheCollectionDropsTheEntriesOnceItIsSaved)
{
    NewFilter("отчёт");
    NewFilter("sea");

    // Removing a disc whose save fails keeps the filters and the one shown.
    CollectionFiles.DiscSpace = 0;
    SelectNode(Photos);
    Dialogs.QuestionAnswers = {TMessageResult::Yes};
    Window->Act_DeleteDisc->trigger();
    ASSERT_EQ(Dialogs.Messages.size(), 2u);
    EXPECT_EQ(Dialogs.Messages[1].Kind, TMessageKind::Error);
    EXPECT_THAT(C().Discs, ElementsAre(Docs));
    EXPECT_THAT(Menu(), ElementsAre("отчёт", "sea *"));
    EXPECT_EQ(Window->Filters.size(), 2u);
    Entries()[0]->trigger();
    EXPECT_THAT(Unmarked(), ElementsAre("Docs disc", "Reports", "ОТЧЁТ 2010.doc"));

    // Adding a disc saves the collection; the save drops every filter.
    CollectionFiles.DiscSpace.reset();
    MakeTree(PathOf("disc"), {FileEntry("sea shells.txt", 1600000000, 5)});
    Dialogs.InputAnswers.push_back(Ansi("Shells"));
    Window->Act_AddDisc->trigger();
    EXPECT_EQ(Dialogs.MessageTexts().back(), "Добавлено элементов: 1");
    EXPECT_THAT(Menu(), IsEmpty());
    EXPECT_TRUE(Window->Filters.empty());
    EXPECT_THAT(Marked(), IsEmpty());
    EXPECT_THAT(TreeItems(), ElementsAre(Root(), "  Docs disc", "    Reports", "  Shells"));
}

} // namespace
