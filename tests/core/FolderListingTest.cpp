#include "browse/FolderListing.h"
#include "collection/Fendrel.h"
#include "collection/FendrelError.h"
#include "platform/AnsiText.h"
#include "platform/LocalTime.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

using ::testing::ElementsAre;

namespace {

TCollectionNode& Add(TFendrel& c, uint32_t parent, uint32_t kind, const std::string& name,
                     uint32_t size = 0) {
    TCollectionNode value;
    value.Name = name;
    value.Flags = kind;
    value.ParentId = parent;
    value.Size = size;
    return c.AddNode(parent ? c.GetNode(parent).Children : c.Discs, value);
}

// The stored form of a UTC calendar time.
uint64_t FileTimeOf(int y, unsigned m, unsigned d, int h, int mi, int s) {
    using namespace std::chrono;
    const int64_t days = sys_days{year{y} / month{m} / day{d}}.time_since_epoch().count() + 134'774;
    return static_cast<uint64_t>((days * 86'400 + h * 3600 + mi * 60 + s) * 10'000'000LL);
}

std::optional<std::string> Shown(uint64_t fileTime, int64_t offset) {
    const auto time = FileTimeToLocal(static_cast<uint32_t>(fileTime >> 32),
                                      static_cast<uint32_t>(fileTime), offset);
    if (!time)
        return std::nullopt;
    return FormatDate(*time) + " " + FormatTime(*time);
}

std::vector<std::string> Captions(const std::vector<TListRow>& rows) {
    std::vector<std::string> captions;
    for (const TListRow& row : rows)
        captions.push_back(AnsiToUtf8(row.Caption));
    return captions;
}

TEST(FormatSize, UnitsChangeAboveEachBoundaryAndRoundToEven) {
    EXPECT_EQ(FormatSize(0), "0");
    EXPECT_EQ(FormatSize(1024), "1024");
    EXPECT_EQ(FormatSize(1025), "1.0 k");
    EXPECT_EQ(FormatSize(1280), "1.2 k"); // 1.25: the tie goes to the even digit
    EXPECT_EQ(FormatSize(1792), "1.8 k"); // 1.75
    EXPECT_EQ(FormatSize(1048576), "1024.0 k");
    EXPECT_EQ(FormatSize(1048577), "1.0 M");
    EXPECT_EQ(FormatSize(5ULL << 30), "5120.0 M");
    EXPECT_EQ(FormatSize(UINT64_MAX), "17592186044416.0 M");
}

TEST(FormatSize, KeepsThePointUnderARussianLocale) {
    if (!std::setlocale(LC_ALL, "ru_RU.UTF-8"))
        GTEST_SKIP() << "the locale ru_RU.UTF-8 is not installed (bash dev.sh test makes it)";
    char printed[16];
    std::snprintf(printed, sizeof printed, "%.1f", 1.25);
    const std::string sizeText = FormatSize(1280);
    std::setlocale(LC_ALL, "C");
    EXPECT_STREQ(printed, "1,2") << "the locale is in force";
    EXPECT_EQ(sizeText, "1.2 k");
}

TEST(FileTime, ShownInLocalTimeWithTheGivenOffset) {
    const uint64_t utc = FileTimeOf(2005, 2, 1, 2, 7, 9);
    EXPECT_EQ(Shown(utc, 3 * 3600), "1.02.2005 05:07:09");
    EXPECT_EQ(Shown(utc, -3 * 3600), "31.01.2005 23:07:09");
    EXPECT_EQ(Shown(FileTimeOf(2004, 3, 7, 0, 0, 0) + 9'999'999, 0), "7.03.2004 00:00:00")
        << "fractions of a second are dropped";
    EXPECT_EQ(Shown(0, 0), "1.01.1601 00:00:00");
    EXPECT_EQ(Shown(0x7FFFFFFFFFFFFFFFULL, 0), "14.09.30828 02:48:05");
}

TEST(FileTime, RejectedBefore1601AndWithTheUpperBitSet) {
    EXPECT_EQ(Shown(0, -1), std::nullopt);
    EXPECT_EQ(Shown(0x7FFFFFFFFFFFFFFFULL, 1), std::nullopt);
    EXPECT_EQ(Shown(0x8000000000000000ULL, -3600), std::nullopt);
    EXPECT_EQ(Shown(UINT64_MAX, 0), std::nullopt);
}

TEST(FileTime, OffsetNowFollowsTheTimeZone) {
    const char* saved = std::getenv("TZ");
    const std::string previous = saved ? saved : "";
    setenv("TZ", "XYZ-3", 1); // POSIX: three hours east of UTC
    EXPECT_EQ(UtcOffsetNow(), 3 * 3600);
    setenv("TZ", "XYZ+5:30", 1);
    EXPECT_EQ(UtcOffsetNow(), -(5 * 3600 + 1800));
    if (saved)
        setenv("TZ", previous.c_str(), 1);
    else
        unsetenv("TZ");
}

TEST(MergeByName, SortsCaseInsensitivelyAndKeepsTheLastOfEqualNames) {
    TFendrel c;
    const uint32_t disc = Add(c, 0, nfDisc, "d").Id;
    std::vector<const TCollectionNode*> nodes;
    for (const char* name : {"b", "_x", "C", "Docs", "a", "DOCS", "Zeta", "docs"})
        nodes.push_back(&Add(c, disc, nfFolder, name));
    std::vector<std::string> names;
    std::vector<uint32_t> ids;
    for (const TCollectionNode* node : MergeByName(nodes)) {
        names.push_back(std::string(node->Name));
        ids.push_back(node->Id);
    }
    EXPECT_THAT(names, ElementsAre("a", "b", "C", "docs", "Zeta", "_x"));
    EXPECT_EQ(ids[3], nodes[7]->Id);
}

// A disc "Backup" with folders Zeta and alpha, files b.txt, A.TXT and a.txt (the last two equal
// but for case), a folder and a file both called Same, and a hidden file.
struct TBackupDisc {
    TFendrel c;
    uint32_t disc, zeta, alpha, bTxt, upperA, lowerA, sameFolder, sameFile, hidden, docs, aTxt;
    TBackupDisc() {
        disc = Add(c, 0, nfDisc, "Backup").Id;
        zeta = Add(c, disc, nfFolder, "Zeta").Id;
        bTxt = Add(c, disc, nfFile, "b.txt", 1025).Id;
        alpha = Add(c, disc, nfFolder, "alpha").Id;
        upperA = Add(c, disc, nfFile, "A.TXT", 1).Id;
        lowerA = Add(c, disc, nfFile, "a.txt", 2).Id;
        sameFile = Add(c, disc, nfFile, "Same", 7).Id;
        sameFolder = Add(c, disc, nfFolder, "Same").Id;
        hidden = Add(c, disc, nfFile, "0-hidden", 9).Id;
        c.GetNode(hidden).Flags |= nfFilteredOut;
        docs = Add(c, zeta, nfFolder, "Docs").Id;
        aTxt = Add(c, docs, nfFile, "a.txt", 0xFFFFFFFF).Id;
        const uint32_t hiddenBig = Add(c, docs, nfFile, "big", 0xFFFFFFFF).Id;
        c.GetNode(hiddenBig).Flags |= nfFilteredOut;
    }
};

TEST(ListRows, FoldersFirstThenFilesEachByNameWithEqualNamesMerged) {
    TBackupDisc b;
    const std::vector<TListRow> rows = ListRows(b.c, b.disc, 0);
    EXPECT_THAT(Captions(rows), ElementsAre("alpha", "Same", "Zeta", "a.txt", "b.txt", "Same"));
    EXPECT_EQ(rows[3].Data, b.lowerA) << "the later of two names equal but for case";
    EXPECT_EQ(rows[1].Data, b.sameFolder);
    EXPECT_EQ(rows[5].Data, b.sameFile);
    EXPECT_EQ(AnsiToUtf8(rows[0].SubItems[0]), "Каталог");
    EXPECT_EQ(rows[0].Image, 2);
    EXPECT_EQ(AnsiToUtf8(rows[4].SubItems[0]), "Файл");
    EXPECT_EQ(rows[4].Image, 3);
    EXPECT_EQ(rows[4].SubItems[3], "1.0 k");
    // Zeta's total counts the file the filter hides: 2 x (4 GiB - 1) is past 32 bits.
    EXPECT_EQ(rows[2].SubItems[3], "8192.0 M");
}

TEST(ListRows, RootListsVisibleDiscsInOrderWithoutSorting) {
    TFendrel c;
    const uint32_t zed = Add(c, 0, nfDisc, "Zed").Id;
    const uint32_t alpha = Add(c, 0, nfDisc, "Alpha").Id;
    c.GetNode(Add(c, 0, nfDisc, "Hidden").Id).Flags |= nfFilteredOut;
    const uint32_t zed2 = Add(c, 0, nfDisc, "Zed").Id;
    const std::vector<TListRow> rows = ListRows(c, 0, 0);
    EXPECT_THAT(Captions(rows), ElementsAre("Zed", "Alpha", "Zed"));
    EXPECT_EQ(rows[0].Data, zed);
    EXPECT_EQ(rows[1].Data, alpha);
    EXPECT_EQ(rows[2].Data, zed2);
    for (const TListRow& row : rows) {
        EXPECT_EQ(AnsiToUtf8(row.SubItems[0]), "Диск");
        EXPECT_EQ(row.SubItems[1] + row.SubItems[2] + row.SubItems[3], "");
        EXPECT_EQ(row.Image, 1);
    }
}

TEST(ListRows, NodeNotFoundIsRaised) {
    TBackupDisc b;
    b.c.GetNode(b.alpha).Children.push_back(999);
    EXPECT_THROW((void)ListRows(b.c, 999, 0), EFendrelError);
    EXPECT_THROW((void)ListRows(b.c, b.alpha, 0), EFendrelError);
}

TEST(FileInformation, PathFromBelowTheDiscAndTheDiscTitle) {
    TBackupDisc b;
    EXPECT_EQ(FullPath(b.c, b.c.GetNode(b.aTxt)), "\\Zeta\\Docs\\a.txt");
    EXPECT_EQ(AnsiToUtf8(FileInformationText(b.c, b.c.GetNode(b.bTxt))),
              "Файл: b.txt\r\nПолное имя: \\b.txt\r\nНаходится на диске Backup");
}

TEST(FileInformation, DeepNestingNeitherRecursesNorCopiesThePathPerLevel) {
    TFendrel c;
    uint32_t parent = Add(c, 0, nfDisc, "deep").Id;
    constexpr int kLevels = 300'000;
    for (int level = 0; level < kLevels; ++level)
        parent = Add(c, parent, nfFolder, "f").Id;
    const uint32_t file = Add(c, parent, nfFile, "x").Id;
    EXPECT_EQ(FullPath(c, c.GetNode(file)).size(), kLevels * 2 + 2u);
}

} // namespace
