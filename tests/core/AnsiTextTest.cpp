#include "platform/AnsiText.h"

#include <clocale>
#include <gtest/gtest.h>
#include <iconv.h>

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

// The program's own table of the code page gives each byte the character glibc's converter does.
TEST(AnsiText, CodePageIsGlibcs)
{
    const iconv_t cd = iconv_open("UTF-8", "CP1251");
    ASSERT_NE(cd, reinterpret_cast<iconv_t>(-1));
    for (int byte = 0x20; byte < 256; ++byte) {
        if (byte == 0x98 || byte == 0x7F)
            continue; // the escapes' lead byte; DEL shows as its picture
        char in = static_cast<char>(byte);
        char out[8] = {};
        char* src = &in;
        char* dst = out;
        size_t srcLeft = 1;
        size_t dstLeft = sizeof out;
        ASSERT_NE(iconv(cd, &src, &srcLeft, &dst, &dstLeft), static_cast<size_t>(-1)) << byte;
        EXPECT_EQ(AnsiToUtf8(std::string(1, in)), std::string(out, dst)) << byte;
    }
    iconv_close(cd);
}

// The UTF-8 of one code point.
std::string Utf8Of(char32_t c)
{
    std::string out;
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
    return out;
}

TEST(AnsiText, ForeignCharactersBecomeEscapesAndShowAsThemselves)
{
    EXPECT_EQ(Utf8ToAnsi("Müller"), "M\x98"
                                    "0000FCller");
    EXPECT_EQ(Utf8ToAnsi("x😀y"), "x\x98"
                                 "01F600y");
    EXPECT_EQ(Utf8ToAnsi("Я中"), "\xDF\x98"
                                 "004E2D");
    for (const char* text : {"Müller", "x😀y", "Ελληνικά 日本語 Привет"})
        EXPECT_EQ(AnsiToUtf8(Utf8ToAnsi(text)), text);
    EXPECT_EQ(Utf8ToAnsi("\xC2\x98"), "\x98"
                                      "000098")
        << "U+0098 too, which the byte 0x98 does not stand for";
}

TEST(AnsiText, EveryCharacterOfEveryPlaneSurvivesTheRoundTrip)
{
    size_t escaped = 0;
    for (char32_t c = 0xA0; c <= 0x10FFFF; ++c) {
        if (c >= 0xD800 && c < 0xE000)
            continue; // UTF-8 holds no surrogates
        const std::string utf8 = Utf8Of(c);
        const std::string ansi = Utf8ToAnsi(utf8);
        ASSERT_EQ(AnsiToUtf8(ansi), utf8) << std::hex << uint32_t{c};
        ASSERT_TRUE(ansi.size() == 1 || ansi.size() == 7) << std::hex << uint32_t{c};
        escaped += ansi.size() == 7 ? 1 : 0;
    }
    EXPECT_EQ(escaped, 0x10FFFF - 0xA0 + 1 - 0x800 - 127)
        << "all but the 127 characters of the code page's upper half";
}

TEST(AnsiText, BytesThatAreNotUtf8AreKeptEachOnItsOwnAndShowAsReplacements)
{
    EXPECT_EQ(Utf8ToAnsi("a\xFF\xFE"
                         "b"),
              "a\x98"
              "00DCFF\x98"
              "00DCFEb");
    EXPECT_EQ(Utf8ToAnsi("Я\xD0"), "\xDF\x98"
                                   "00DCD0")
        << "a sequence cut short";
    // An overlong slash and an encoded surrogate are no characters: never read as U+002F or as
    // the escape of the byte 0x80, which would make two different names one.
    EXPECT_EQ(Utf8ToAnsi("\xC0\xAF"), "\x98"
                                      "00DCC0\x98"
                                      "00DCAF");
    EXPECT_EQ(Utf8ToAnsi("\xED\xB2\x80").size(), 21u);
    EXPECT_NE(Utf8ToAnsi("\xED\xB2\x80"), Utf8ToAnsi("\x80"));
    EXPECT_EQ(AnsiToUtf8(Utf8ToAnsi("a\xFF"
                                    "b")),
              "a\xEF\xBF\xBD"
              "b");
}

TEST(AnsiText, ControlBytesBecomeEscapesShownAsTheirPictures)
{
    std::string name = "line\r\nbreak\t\x01";
    EscapeControlBytes(name);
    EXPECT_EQ(name, "line\x98"
                    "00000D\x98"
                    "00000Abreak\x98"
                    "000009\x98"
                    "000001");
    EXPECT_EQ(AnsiToUtf8(name), "line␍␊break␉␁");
    std::string plain = Ansi("Без них");
    EscapeControlBytes(plain);
    EXPECT_EQ(plain, Ansi("Без них"));
}

TEST(AnsiText, AnUnassignedByteThatStartsNoEscapeShowsAsBefore)
{
    EXPECT_EQ(AnsiToUtf8("a\x98z"), "a\xEF\xBF\xBDz");
    // Too few digits, lower-case digits, past U+10FFFF: the 0x98 is a byte, the rest text.
    EXPECT_EQ(AnsiToUtf8("\x98"
                         "0000F"),
              "\xEF\xBF\xBD"
              "0000F");
    EXPECT_EQ(AnsiToUtf8("\x98"
                         "0000fc"),
              "\xEF\xBF\xBD"
              "0000fc");
    EXPECT_EQ(AnsiToUtf8("\x98"
                         "110000"),
              "\xEF\xBF\xBD"
              "110000");
    EXPECT_EQ(AnsiToUtf8("\x98\x98"
                         "0000FC"),
              "\xEF\xBF\xBD"
              "ü");
}

TEST(AnsiText, NamesAreCutByCharactersNeverInsideAnEscape)
{
    const std::string u = Utf8ToAnsi("ü");
    EXPECT_EQ(FirstCharacters(std::string(300, 'a'), 255), std::string(255, 'a'));
    const std::string mixed = std::string(250, 'a') + u + u + u + u + u + u + "b";
    EXPECT_EQ(FirstCharacters(mixed, 255), std::string(250, 'a') + u + u + u + u + u);
    EXPECT_EQ(FirstCharacters(std::string(254, 'a') + "\x98" + "0000", 255),
              std::string(254, 'a') + "\x98")
        << "an 0x98 that starts no escape is one byte";
    std::string longest; // 254 bytes of UTF-8, as long as a Linux name gets
    for (int i = 0; i < 127; ++i)
        longest += "é";
    EXPECT_EQ(FirstCharacters(Utf8ToAnsi(longest), 255), Utf8ToAnsi(longest));
}

TEST(AnsiText, LowerCasingCoversTheCodePagesCapitalsOnly)
{
    std::string text = Ansi("ABC xyz АБВЯ ЁЇІЎЂ 123 [_] Ü");
    CharLowerA(text);
    EXPECT_EQ(AnsiToUtf8(text), "abc xyz абвя ёїіўђ 123 [_] Ü") << "the escape left whole";
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
