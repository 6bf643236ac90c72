#include "collection/NameOrder.h"
#include "platform/AnsiText.h"

#include "platform/CaseFolding.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

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

TEST(NameOrder, EscapedCharactersComeAfterTheCodePageByFoldedCodePoint)
{
    EXPECT_TRUE(Before("яяя", "ü")) << "after every letter of the code page";
    EXPECT_TRUE(Before("M\xC2\xA0", "Mü")) << "after its no-break space, 0xA0, too";
    EXPECT_TRUE(Before("Mü", "Mÿ"));
    EXPECT_TRUE(Before("ü", "😀"));
    EXPECT_TRUE(Before("Mü", "Müller")) << "a prefix first, counted in characters";
    EXPECT_FALSE(Before("Müller", "MÜLLER"));
    EXPECT_FALSE(Before("MÜLLER", "Müller"));
    EXPECT_EQ(CompareNamesIC(Ansi("ΕΛΛΗΝΙΚΆ"), Ansi("ελληνικά")), 0);
    EXPECT_EQ(CompareNamesIC(Ansi("ΣΟΦΟΣ"), Ansi("σοφος")), 0);
    EXPECT_EQ(CompareNamesIC(Ansi("5 \u212A"), Ansi("5 k")), 0) << "the Kelvin sign is a K";
    // An 0x98 that starts no escape is the byte it always was: before а (0xE0).
    EXPECT_TRUE(StrCompareIC("a\x98", "a\xE0"));
    EXPECT_TRUE(StrCompareIC("a\x98"
                             "0000F",
                             "a\xE0"));
}

TEST(NameOrder, OrderIsStrictAndConsistent)
{
    const std::string names[] = {"a",  "B",  "c",      "_",      "1", "ё", "Я",    "",
                                 "ab", "AB", "Müller", "MÜLLER", "ü", "Ü", "日本", "😀",
                                 "aü", "a",  "Σ",      "σ",      "ς", "K"};
    for (const auto& a : names)
        for (const auto& b : names) {
            EXPECT_FALSE(Before(a, b) && Before(b, a)) << a << " " << b;
            for (const auto& c : names)
                if (Before(a, b) && Before(b, c)) {
                    EXPECT_TRUE(Before(a, c)) << a << " " << b << " " << c;
                }
        }
}

TEST(NameFolding, BytesFoldByTheCodePageAndEscapesByUnicode)
{
    for (int byte = 0; byte < 256; ++byte) {
        const std::string one(1, static_cast<char>(byte));
        EXPECT_EQ(FoldName(one), std::string(1, CharLowerA(static_cast<char>(byte)))) << byte;
    }
    EXPECT_EQ(FoldName(Ansi("MÜLLER")), Ansi("müller"));
    EXPECT_EQ(FoldName(Ansi("Straße ẞ")), Ansi("straße ß"));
    EXPECT_EQ(FoldName(Ansi("ΟΔΟΣ")), Ansi("οδοσ"));
    EXPECT_EQ(FoldName(Ansi("\u212A")), "k") << "folded into the code page";
    EXPECT_EQ(FoldName("\x98"
                       "0000C0"),
              Ansi("à"));
    EXPECT_EQ(FoldName("\x98"
                       "000041"),
              "a")
        << "an escape of a letter that the code page holds is that letter";
}

TEST(NameFolding, FoldedSearchMatchesWholeCharactersOnly)
{
    const auto contains = [](const std::string& name, const std::string& filter) {
        return FoldedNameContains(Ansi(name), FoldName(Ansi(filter)));
    };
    EXPECT_TRUE(contains("Müller.mp3", "ü"));
    EXPECT_TRUE(contains("MÜLLER.MP3", "ü"));
    EXPECT_TRUE(contains("Müller.mp3", "MÜLLER.MP3"));
    EXPECT_TRUE(contains("Ελληνικά", "ΛΛΗ"));
    EXPECT_TRUE(contains("日本語.txt", "本語"));
    EXPECT_TRUE(contains("Привет, Müller", "вет, m"));
    EXPECT_FALSE(contains("Müller", "u"));
    EXPECT_FALSE(contains("Mu?ller", "ü"));
    EXPECT_FALSE(contains("Müller", "?")) << "no question marks any more";
    // The digits of an escape are not text of the name.
    EXPECT_FALSE(contains("Müller", "000"));
    EXPECT_FALSE(contains("Müller", "0fc"));
    EXPECT_FALSE(contains("Müller", "FCl"));
    EXPECT_TRUE(contains("ab\u212A", "bk")) << "an escape among the last bytes";
    EXPECT_TRUE(contains("\u212A", "k"));
    EXPECT_TRUE(contains("abc ü", "abc")) << "a match before the first escape";
    EXPECT_TRUE(contains("", ""));
    EXPECT_FALSE(contains("ü", "üü"));
    // Names without escapes: lowered byte for byte, the filter taken as it is.
    EXPECT_TRUE(FoldedNameContains(Ansi("Отчет.TXT"), Ansi("отчет.txt")));
    EXPECT_FALSE(FoldedNameContains(Ansi("Отчет.TXT"), Ansi("ОТЧЕТ"))) << "a filter not lowered";
    EXPECT_FALSE(FoldedNameContains(Ansi("Mueller"), FoldName(Ansi("ü"))));
}

// The folded search taken plainly: both texts as lists of characters, the name's folded.
bool ContainsByCharacter(std::string_view name, std::string_view folded)
{
    const auto characters = [](std::string_view text, bool fold) {
        std::vector<uint32_t> out;
        while (!text.empty()) {
            const std::optional<char32_t> escaped = EscapeAt(text);
            if (!escaped) {
                out.push_back(static_cast<unsigned char>(fold ? CharLowerA(text[0]) : text[0]));
                text.remove_prefix(1);
                continue;
            }
            const char32_t c = fold && !AnsiByteOf(*escaped) ? SimpleCaseFold(*escaped) : *escaped;
            const std::optional<unsigned char> byte = AnsiByteOf(c);
            out.push_back(!byte ? 0x100 + c
                                : static_cast<unsigned char>(
                                      fold ? CharLowerA(static_cast<char>(*byte)) : *byte));
            text.remove_prefix(kEscapeLength);
        }
        return out;
    };
    const std::vector<uint32_t> in = characters(name, true);
    const std::vector<uint32_t> wanted = characters(folded, false);
    return wanted.empty() ||
           std::search(in.begin(), in.end(), wanted.begin(), wanted.end()) != in.end();
}

TEST(NameFolding, FoldedSearchFindsWhatAPlainSearchByCharacterFinds)
{
    const std::string pieces[] = {"a",
                                  "A",
                                  "x",
                                  "X",
                                  "-",
                                  "0",
                                  "F",
                                  "c",
                                  ".",
                                  " ",
                                  Ansi("ж"),
                                  Ansi("Ж"),
                                  Ansi("ё"),
                                  Ansi("Ё"),
                                  Ansi("ü"),
                                  Ansi("Ü"),
                                  Ansi("Σ"),
                                  Ansi("ς"),
                                  Ansi("\u212A"),
                                  Ansi("日"),
                                  "\x98",
                                  "\x98"
                                  "00",
                                  "\x98"
                                  "0000E0"};
    std::mt19937 random(20260315);
    const auto pick = [&](size_t high) {
        return std::uniform_int_distribution<size_t>(0, high)(random);
    };
    const auto text = [&](size_t most) {
        std::string made;
        for (size_t n = pick(most); n > 0; --n)
            made += pieces[pick(std::size(pieces) - 1)];
        return made;
    };
    int found = 0;
    for (int round = 0; round < 200000; ++round) {
        const std::string name = text(pick(3) == 0 ? 40 : 12);
        std::string filter;
        if (pick(1) == 0 && !name.empty()) {
            const size_t from = pick(name.size() - 1);
            filter = FoldName(name.substr(from, 1 + pick(std::min<size_t>(name.size() - from, 9))));
        } else {
            filter = FoldName(text(3));
        }
        const bool expected = ContainsByCharacter(name, filter);
        found += expected;
        ASSERT_EQ(FoldedNameContains(name, filter), expected)
            << "name \"" << name << "\", filter \"" << filter << "\"";
        // A short node name is read in whole blocks: here the bytes after it repeat the filter.
        std::string before;
        while (before.size() < TNodeName::InlineCapacity)
            before += filter.empty() ? "x" : filter;
        TNodeName nodeName(before.substr(0, TNodeName::InlineCapacity));
        nodeName = name;
        ASSERT_EQ(FoldedNodeNameContains(nodeName, filter), expected)
            << "node name \"" << name << "\", filter \"" << filter << "\"";
    }
    EXPECT_GT(found, 50000);
}

} // namespace
