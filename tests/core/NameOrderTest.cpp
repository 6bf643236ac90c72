#include "collection/NameOrder.h"
#include "platform/AnsiText.h"

#include <gtest/gtest.h>

namespace {

bool Before(const std::string& a, const std::string& b)
{
    return StrCompareIC(Ansi(a), Ansi(b));
}

TEST(NameOrder, IgnoresLetterCaseInBothAlphabets)
{
    EXPECT_FALSE(Before("Readme.TXT", "README.txt"));
    EXPECT_FALSE(Before("README.txt", "Readme.TXT"));
    EXPECT_FALSE(Before("Ёлка", "ёлка"));
    EXPECT_FALSE(Before("ПАПКА", "папка"));
}

TEST(NameOrder, LatinLettersCompareByUpperCaseCodes)
{
    EXPECT_TRUE(Before("Zeta", "_under"));
    EXPECT_TRUE(Before("z", "["));
    EXPECT_TRUE(Before("9lives", "alpha"));
    EXPECT_TRUE(Before("alpha", "Zeta"));
}

TEST(NameOrder, PrefixComesFirst)
{
    EXPECT_TRUE(Before("abc", "abcd"));
    EXPECT_FALSE(Before("abcd", "abc"));
    EXPECT_TRUE(Before("", "a"));
    EXPECT_FALSE(Before("", ""));
}

TEST(NameOrder, CyrillicAfterAsciiAndYoBeforeA)
{
    EXPECT_TRUE(Before("ёж", "арбуз"));
    EXPECT_TRUE(Before("Ёж", "Арбуз"));
    EXPECT_TRUE(Before("~tilde", "арбуз"));
    EXPECT_TRUE(Before("zzz", "а"));
    EXPECT_TRUE(Before("а", "б"));
    EXPECT_TRUE(Before("Я", "яя"));
}

TEST(NameOrder, OrderIsStrictAndConsistent)
{
    const std::string names[] = {"a", "B", "c", "_", "1", "ё", "Я", "", "ab", "AB"};
    for (const auto& a : names)
        for (const auto& b : names) {
            EXPECT_FALSE(Before(a, b) && Before(b, a)) << a << " " << b;
        }
}

} // namespace
