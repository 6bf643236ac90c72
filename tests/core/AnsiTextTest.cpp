#include "platform/AnsiText.h"

#include <clocale>
#include <gtest/gtest.h>

namespace {

TEST(AnsiText, EveryAssignedByteSurvivesTheRoundTrip)
{
    for (int byte = 1; byte < 256; ++byte) {
        if (byte == 0x98)
            continue;
        const std::string ansi(1, static_cast<char>(byte));
        EXPECT_EQ(Utf8ToAnsi(AnsiToUtf8(ansi)), ansi) << byte;
    }
    EXPECT_EQ(AnsiToUtf8("\xC0\xE1\xE2"), "Абв");
    EXPECT_EQ(AnsiToUtf8("\xA8\xB8"), "Ёё");
}

TEST(AnsiText, UnassignedByteAndForeignCharactersAreReplaced)
{
    EXPECT_EQ(AnsiToUtf8("a\x98z"), "a\xEF\xBF\xBDz");
    EXPECT_EQ(Utf8ToAnsi("a中b"), "a?b");
    EXPECT_EQ(Utf8ToAnsi("x😀y"), "x?y");
    // Bytes that are not UTF-8 at all: one '?' each, the rest kept.
    EXPECT_EQ(Utf8ToAnsi("a\xFF\xFE"
                         "b"),
              "a??b");
    EXPECT_EQ(Utf8ToAnsi("Я\xD0"), "\xDF?");
}

TEST(AnsiText, LowerCasingCoversTheCodePagesCapitalsOnly)
{
    std::string text = Ansi("ABC xyz АБВЯ ЁЇІЎЂ 123 [_]");
    CharLowerA(text);
    EXPECT_EQ(AnsiToUtf8(text), "abc xyz абвя ёїіўђ 123 [_]");
    for (int byte = 0; byte < 256; ++byte) {
        const char lowered = CharLowerA(static_cast<char>(byte));
        EXPECT_EQ(CharLowerA(lowered), lowered) << byte; // idempotent
    }
}

TEST(AnsiText, UpperCasingOfTheCLocaleTouchesOnlyAsciiLetters)
{
    EXPECT_EQ(CUpper('a'), 'A');
    EXPECT_EQ(CUpper('z'), 'Z');
    EXPECT_EQ(CUpper('_'), '_');
    EXPECT_EQ(CUpper(0xE0), 0xE0);
}

TEST(AnsiText, DoesNotDependOnTheProcessLocale)
{
    const std::string before = Utf8ToAnsi("Привет, мир");
    std::setlocale(LC_ALL, "C.UTF-8");
    EXPECT_EQ(Utf8ToAnsi("Привет, мир"), before);
    std::setlocale(LC_ALL, "C");
    EXPECT_EQ(Utf8ToAnsi("Привет, мир"), before);
}

} // namespace
