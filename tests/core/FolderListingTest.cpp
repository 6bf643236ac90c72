#include "browse/FolderListing.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <optional>
#include <string>

namespace {

std::optional<std::string> Shown(uint64_t fileTime, int64_t offset)
{
    const auto time = FileTimeToLocal(static_cast<uint32_t>(fileTime >> 32),
                                      static_cast<uint32_t>(fileTime), offset);
    if (!time)
        return std::nullopt;
    return FormatDate(*time) + " " + FormatTime(*time);
}

TEST(FormatSize, TiesRoundToEvenAndNoUnitAboveM)
{
    EXPECT_EQ(FormatSize(1280), "1.2 k"); // 1.25
    EXPECT_EQ(FormatSize(1792), "1.8 k"); // 1.75
    EXPECT_EQ(FormatSize(5ULL << 30), "5120.0 M");
    EXPECT_EQ(FormatSize(UINT64_MAX), "17592186044416.0 M");
}

TEST(FormatSize, KeepsThePointUnderARussianLocale)
{
    if (!std::setlocale(LC_ALL, "ru_RU.UTF-8"))
        GTEST_SKIP() << "the locale ru_RU.UTF-8 is not installed (bash dev.sh test makes it)";
    char printed[16];
    std::snprintf(printed, sizeof printed, "%.1f", 1.25);
    const std::string sizeText = FormatSize(1280);
    std::setlocale(LC_ALL, "C");
    EXPECT_STREQ(printed, "1,2") << "the locale is in force";
    EXPECT_EQ(sizeText, "1.2 k");
}

TEST(FileTime, WholeRangeIsShownAndTimesOutsideItAreRejected)
{
    EXPECT_EQ(Shown(0, 0), "1.01.1601 00:00:00");
    EXPECT_EQ(Shown(9'999'999, 3600), "1.01.1601 01:00:00") << "fractions of a second dropped";
    EXPECT_EQ(Shown(0x7FFFFFFFFFFFFFFFULL, 0), "14.09.30828 02:48:05");
    EXPECT_EQ(Shown(0, -1), std::nullopt);
    EXPECT_EQ(Shown(0x7FFFFFFFFFFFFFFFULL, 1), std::nullopt);
    EXPECT_EQ(Shown(0x8000000000000000ULL, -3600), std::nullopt);
    EXPECT_EQ(Shown(UINT64_MAX, 0), std::nullopt);
}

} // namespace
