#include "search/FindQuery.h"
#include "collection/Fendrel.h"
#include "platform/AnsiText.h"
#include "search/FindSnapshot.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

namespace {

constexpr uint64_t kDay = 864'000'000'000ULL; // FILETIME ticks
// 1 February 2005, 00:00 UTC, as a FILETIME.
constexpr uint64_t kFeb2005 = (134'774ULL + 12'815) * kDay;

// A collection made by name (UTF-8 in, code page 1251 stored), searched through a snapshot.
class FindQuery : public ::testing::Test {
protected:
    void SetUp() override
    {
        const uint32_t docs = Disc("TXT archive");
        File(docs, "Readme.TXT", 100, kFeb2005);
        const uint32_t folder = Folder(docs, "txt files");
        File(folder, "ОТЧЁТ 2010.doc", 5000, kFeb2005 + kDay);
        File(folder, "Report.TXT", 4096, kFeb2005 + 2 * kDay);
        const uint32_t deep = Folder(folder, "Ёлка");
        File(deep, "ёлка.jpg", 0xFFFFFFFF, kFeb2005 - 1);
        File(deep, "Ёлка2.jpg", 0xFFFFFFFF, kFeb2005 + kDay - 1);
        const uint32_t photos = Disc("Photos");
        File(photos, "readme.txt.bak", 1, kFeb2005);
        File(photos, "a.b", 1024, kFeb2005);
    }

    uint32_t Add(uint32_t parent, uint32_t kind, const std::string& name, uint32_t size,
                 uint64_t time)
    {
        TCollectionNode value;
        value.Name = Ansi(name);
        value.Flags = kind;
        value.ParentId = parent;
        value.Size = size;
        value.WriteTimeHigh = static_cast<uint32_t>(time >> 32);
        value.WriteTimeLow = static_cast<uint32_t>(time);
        return C.AddNode(parent ? C.GetNode(parent).Children : C.Discs, value).Id;
    }
    uint32_t Disc(const std::string& name) { return Add(0, nfDisc, name, 0, 0); }
    uint32_t Folder(uint32_t parent, const std::string& name)
    {
        return Add(parent, nfFolder, name, 0, 0);
    }
    uint32_t File(uint32_t parent, const std::string& name, uint32_t size, uint64_t time)
    {
        return Add(parent, nfFile, name, size, time);
    }

    // The names (UTF-8) of the hits, in the order found.
    std::vector<std::string> Find(const TFindConditions& conditions)
    {
        std::string error;
        std::optional<TFindQuery> query = TFindQuery::Make(conditions, error);
        EXPECT_TRUE(query) << AnsiToUtf8(error);
        if (!query)
            return {};
        const TFindSnapshot snapshot(C);
        std::vector<uint32_t> hits;
        EXPECT_TRUE(FindInSnapshot(snapshot, *query, hits));
        std::vector<std::string> names;
        for (const uint32_t hit : hits)
            names.push_back(AnsiToUtf8(snapshot.Name(hit)));
        return names;
    }
    std::vector<std::string> Find(const std::string& pattern, TFindMatch match)
    {
        TFindConditions conditions;
        conditions.Pattern = pattern;
        conditions.Match = match;
        return Find(conditions);
    }
    // The message (UTF-8) of conditions that make no query.
    static std::string Error(const TFindConditions& conditions)
    {
        std::string error;
        EXPECT_FALSE(TFindQuery::Make(conditions, error));
        return AnsiToUtf8(error);
    }

    TFendrel C;
};

TEST_F(FindQuery, SubstringMatchesAsTheFilterDoes)
{
    const auto find = [&](const std::string& pattern) {
        return Find(pattern, TFindMatch::Substring);
    };
    // Names only, never a disc's title; letter case ignored in both alphabets; across the dot.
    EXPECT_THAT(find("txt"),
                ElementsAre("Readme.TXT", "txt files", "Report.TXT", "readme.txt.bak"));
    EXPECT_THAT(find("отчё"), ElementsAre("ОТЧЁТ 2010.doc"));
    EXPECT_THAT(find("ЁЛКА"), ElementsAre("Ёлка", "ёлка.jpg", "Ёлка2.jpg"));
    EXPECT_THAT(find("report.t"), ElementsAre("Report.TXT"));
    EXPECT_THAT(find("report txt"), IsEmpty());
    EXPECT_THAT(find("readme.txt.bak!"), IsEmpty());
    // Blanks and control bytes around the text are cut off, as the filter cuts them.
    EXPECT_THAT(find(" \tA.B  "), ElementsAre("a.b"));
    EXPECT_THAT(find("   ").size(), 9u) << "no text: every file and folder";
}

TEST_F(FindQuery, WildcardsFitTheWholeNameInAnyLetterCase)
{
    const auto find = [&](const std::string& pattern) {
        return Find(pattern, TFindMatch::Wildcard);
    };
    EXPECT_THAT(find("*.txt"), ElementsAre("Readme.TXT", "Report.TXT"));
    EXPECT_THAT(find("readme*"), ElementsAre("Readme.TXT", "readme.txt.bak"));
    EXPECT_THAT(find("ёлка?.JPG"), ElementsAre("Ёлка2.jpg")) << "'?' is one Cyrillic letter";
    EXPECT_THAT(find("*ёлка*"), ElementsAre("Ёлка", "ёлка.jpg", "Ёлка2.jpg"));
    EXPECT_THAT(find("?.?"), ElementsAre("a.b"));
    EXPECT_THAT(find("txt"), IsEmpty()) << "no part of a name";
    EXPECT_THAT(find(" a.b"), IsEmpty()) << "taken as typed";
    EXPECT_THAT(find("").size(), 9u);
    // A character outside the code page never turns into a '?' that fits any.
    EXPECT_THAT(find("日.b"), IsEmpty());
    EXPECT_THAT(Find("日", TFindMatch::Substring), IsEmpty());
}

// Names with characters outside code page 1251 are matched by their characters, letter case
// ignored, and '?' takes one such character whole.
TEST_F(FindQuery, CharactersOutsideTheCodePageAreMatchedWhole)
{
    const uint32_t music = Disc("Music");
    File(music, "Müller.mp3", 1, kFeb2005);
    File(music, "MÜLLER Ελληνικά.txt", 1, kFeb2005);
    File(music, "日本語.txt", 1, kFeb2005);
    File(music, "Mxller.mp3", 1, kFeb2005);
    EXPECT_THAT(Find("ü", TFindMatch::Substring), ElementsAre("Müller.mp3", "MÜLLER Ελληνικά.txt"));
    EXPECT_THAT(Find("ΕΛΛΗΝ", TFindMatch::Substring), ElementsAre("MÜLLER Ελληνικά.txt"));
    EXPECT_THAT(Find("m?ller*", TFindMatch::Wildcard),
                ElementsAre("Müller.mp3", "MÜLLER Ελληνικά.txt", "Mxller.mp3"));
    EXPECT_THAT(Find("???.txt", TFindMatch::Wildcard), ElementsAre("日本語.txt"))
        << "each '?' is one character, not one byte of its escape";
    EXPECT_THAT(Find("*ü*", TFindMatch::Wildcard),
                ElementsAre("Müller.mp3", "MÜLLER Ελληνικά.txt"));
    EXPECT_THAT(Find("^日本", TFindMatch::RegularExpression), ElementsAre("日本語.txt"));
    EXPECT_THAT(Find("müller\\.", TFindMatch::RegularExpression), ElementsAre("Müller.mp3"));
}

TEST(WildcardMatch, BacktracksOverStars)
{
    EXPECT_TRUE(WildcardMatch("abcbd", "a*bd"));
    EXPECT_TRUE(WildcardMatch("aaab", "*a*ab"));
    EXPECT_TRUE(WildcardMatch("", "*"));
    EXPECT_TRUE(WildcardMatch("abc", "***"));
    EXPECT_TRUE(WildcardMatch("a*c", "a?c"));
    EXPECT_FALSE(WildcardMatch("abc", "a*bd"));
    EXPECT_FALSE(WildcardMatch("ab", "ab?"));
    EXPECT_FALSE(WildcardMatch("", "?"));
    EXPECT_FALSE(WildcardMatch("abcd", "*c"));
    // Long names with many stars stay quick.
    EXPECT_FALSE(WildcardMatch(std::string(5000, 'a'), "*a*a*a*a*a*a*a*b"));
}

TEST_F(FindQuery, RegularExpressionsSearchTheNamesAsTheUserReadsThem)
{
    const auto find = [&](const std::string& pattern) {
        return Find(pattern, TFindMatch::RegularExpression);
    };
    EXPECT_THAT(find("^отч[её]т \\d{4}"), ElementsAre("ОТЧЁТ 2010.doc"));
    EXPECT_THAT(find("\\.txt$"), ElementsAre("Readme.TXT", "Report.TXT"));
    EXPECT_THAT(find("^\\w+\\.jpg$"), ElementsAre("ёлка.jpg", "Ёлка2.jpg")) << "\\w knows Cyrillic";
    EXPECT_THAT(find("ЁЛКА\\d"), ElementsAre("Ёлка2.jpg"));

    TFindConditions bad;
    bad.Match = TFindMatch::RegularExpression;
    bad.Pattern = "(ёлка";
    EXPECT_THAT(Error(bad), HasSubstr("Ошибка в регулярном выражении (позиция "));
    bad.Pattern = "a{2,1}";
    EXPECT_THAT(Error(bad), HasSubstr("Ошибка в регулярном выражении"));
}

// A pattern the matcher gives up on, or that takes too long over the collection, stops the search
// with a message naming it: its missing hits are never taken for names that did not match.
TEST_F(FindQuery, RegularExpressionThatTheMatcherGivesUpOnStopsTheSearch)
{
    const uint32_t disc = Disc("Hard");
    File(disc, "a.txt", 1, kFeb2005);
    File(disc, std::string(25, 'a') + "0000!", 1, kFeb2005);
    for (int i = 0; i < 100; ++i)
        File(disc, "after" + std::to_string(i) + ".txt", 1, kFeb2005);
    TFindConditions conditions;
    conditions.Match = TFindMatch::RegularExpression;
    conditions.Pattern = "((a+)+b|0000!)";
    std::string error;
    std::optional<TFindQuery> query = TFindQuery::Make(conditions, error);
    ASSERT_TRUE(query);
    const TFindSnapshot snapshot(C);
    std::vector<uint32_t> hits;
    EXPECT_FALSE(FindInSnapshot(snapshot, *query, hits));
    EXPECT_THAT(AnsiToUtf8(query->Trouble()),
                HasSubstr("Регулярное выражение «((a+)+b|0000!)» слишком сложно"));
    EXPECT_FALSE(query->Matches({"0000!", false, 1, kFeb2005})) << "given up for good";

    // Every name costs time; over the limit (the clock is read every few names) the search stops
    // too.
    conditions.Pattern = "t";
    query = TFindQuery::Make(conditions, error);
    ASSERT_TRUE(query);
    query->SetTimeLimit(std::chrono::steady_clock::duration::zero());
    hits.clear();
    EXPECT_FALSE(FindInSnapshot(snapshot, *query, hits));
    EXPECT_THAT(AnsiToUtf8(query->Trouble()), HasSubstr("«t» слишком сложно: поиск длился"));
    EXPECT_THAT(Find("t", TFindMatch::RegularExpression), Not(IsEmpty())) << "within the limit";
}

TEST_F(FindQuery, SizeBoundsAreInclusiveAndAFolderWeighsItsFiles)
{
    TFindConditions conditions;
    conditions.SizeMin = 4096;
    conditions.SizeMax = 5000;
    EXPECT_THAT(Find(conditions), ElementsAre("ОТЧЁТ 2010.doc", "Report.TXT"));

    // Ёлка holds two files of 4 GiB - 1: its size does not wrap at 32 bits.
    conditions.SizeMin = 2 * 0xFFFFFFFFULL;
    conditions.SizeMax.reset();
    EXPECT_THAT(Find(conditions), ElementsAre("txt files", "Ёлка"));
    conditions.Kinds = TFindKinds::FilesOnly;
    EXPECT_THAT(Find(conditions), IsEmpty());
    conditions.Kinds = TFindKinds::FoldersOnly;
    conditions.SizeMin.reset();
    EXPECT_THAT(Find(conditions), ElementsAre("txt files", "Ёлка"));

    conditions.SizeMin = 10;
    conditions.SizeMax = 9;
    EXPECT_EQ(Error(conditions), "Наименьший размер больше наибольшего");
}

TEST_F(FindQuery, DateBoundsTakeWholeLocalDays)
{
    // 1 February 2005 in a zone three hours east of UTC runs from 31 January 21:00 UTC.
    const int64_t offset = 3 * 3600;
    const std::optional<uint64_t> start = LocalDayStart(2005, 2, 1, offset);
    const std::optional<uint64_t> end = LocalDayEnd(2005, 2, 1, offset);
    ASSERT_TRUE(start && end);
    EXPECT_EQ(*start, kFeb2005 - 3 * 3600 * 10'000'000ULL);
    EXPECT_EQ(*end, *start + kDay - 1);

    TFindConditions conditions;
    conditions.Kinds = TFindKinds::FilesOnly;
    conditions.TimeMin = LocalDayStart(2005, 2, 1, 0);
    conditions.TimeMax = LocalDayEnd(2005, 2, 1, 0);
    EXPECT_THAT(Find(conditions), ElementsAre("Readme.TXT", "Ёлка2.jpg", "readme.txt.bak", "a.b"));
    conditions.TimeMin = LocalDayStart(2005, 2, 2, 0);
    conditions.TimeMax.reset();
    EXPECT_THAT(Find(conditions), ElementsAre("ОТЧЁТ 2010.doc", "Report.TXT"));

    EXPECT_FALSE(LocalDayStart(2005, 2, 30, 0));
    EXPECT_FALSE(LocalDayStart(1600, 12, 31, 0));
    EXPECT_EQ(LocalDayStart(1601, 1, 1, 3600), 0u) << "before the first tick: the first tick";

    conditions.TimeMax = LocalDayEnd(2005, 2, 1, 0);
    EXPECT_EQ(Error(conditions), "Начальная дата позже конечной");
}

TEST(ParseSize, NumbersWithUnits)
{
    EXPECT_EQ(ParseSize("0"), 0u);
    EXPECT_EQ(ParseSize(" 1024 "), 1024u);
    EXPECT_EQ(ParseSize("1k"), 1024u);
    EXPECT_EQ(ParseSize("1.5M"), 1572864u);
    EXPECT_EQ(ParseSize("1,5 М"), 1572864u);
    EXPECT_EQ(ParseSize("2G"), 2147483648u);
    EXPECT_EQ(ParseSize("700MB"), 734003200u);
    EXPECT_EQ(ParseSize("10 кб"), 10240u);
    EXPECT_EQ(ParseSize(".5k"), 512u);
    EXPECT_EQ(ParseSize("18446744073709551615"), UINT64_MAX);
    for (const char* bad : {"", " ", "k", "-1", "1.5", "1e3", "12 34", "5T", "1kk", "1 b",
                            "18446744073709551616", "17179869184G"})
        EXPECT_FALSE(ParseSize(bad)) << bad;
}

TEST_F(FindQuery, SnapshotHoldsWhatIsReachableWithPathsAndDiscs)
{
    const uint32_t gone = Disc("Gone");
    File(gone, "Readme.TXT", 1, 0);
    C.DeleteDisc(gone);

    const TFindSnapshot snapshot(C);
    ASSERT_EQ(snapshot.size(), 11u) << "the removed disc's nodes stay out";
    EXPECT_EQ(AnsiToUtf8(snapshot.Path(6)), "\\txt files\\Ёлка\\ёлка.jpg");
    EXPECT_EQ(AnsiToUtf8(snapshot.Path(6, '/')), "/txt files/Ёлка/ёлка.jpg");
    EXPECT_EQ(snapshot.Path(0), "") << "a disc has no path";
    EXPECT_EQ(snapshot.Name(snapshot.DiscOf(5)), "TXT archive");
    EXPECT_EQ(snapshot.Name(snapshot.DiscOf(9)), "Photos");
    EXPECT_EQ(snapshot.Entry(2).Size, 2 * 0xFFFFFFFFULL + 5000 + 4096);
    EXPECT_EQ(snapshot.Entry(0).Parent, TFindSnapshot::NoParent);

    // The search stops when its checkpoint says so, keeping what it found.
    TFindConditions all;
    std::string error;
    std::optional<TFindQuery> query = TFindQuery::Make(all, error);
    ASSERT_TRUE(query);
    std::vector<uint32_t> hits;
    int calls = 0;
    EXPECT_FALSE(FindInSnapshot(snapshot, *query, hits, [&](std::vector<uint32_t>&) {
        ++calls;
        return false;
    }));
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(hits.size(), 9u);
}

} // namespace
