// The search's regular expressions and UTF-8 check, compared with Qt's QRegularExpression and
// QStringDecoder, which the search used before and which the window's users know: every pattern
// must compile, fail, match and give up exactly as there.
#include "search/RegexMatcher.h"
#include "platform/AnsiText.h"
#include "search/FindQuery.h"

#include <QRegularExpression>
#include <QStringDecoder>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const std::vector<std::string> kPatterns = {
    // plain text, letter case, Cyrillic
    "abc", "readme", "ОТЧЁТ", "^отч[её]т \\d{4}", "ёлка", "[а-я]+", "[А-ЯЁ]", "Müller", "MÜLLER",
    // classes by Unicode properties, and case equivalences beyond one-to-one folding
    "^\\w+\\.jpg$", "\\bдом\\b", "[[:alpha:]]+$", "[[:upper:]]", "\\d", "\\p{Cyrillic}{3}",
    "\\p{Lu}", "\\P{L}", "\\X", "ß", "straße", "σίσυφος", "ΣΊΣΥΦΟΣ", "k", "\\x{212A}", "ǆ", "i",
    "İ", "😀", "\\x{1F600}", "(?-i)ABC", "(?i)abc",
    // anchors, escapes, quantifiers, lookaround
    "", ".", "^$", "\\.txt$", "\\Qa.b\\E", "\\t", "\\N", "\\R", "(?<!a)b", "(?=.*\\d)[a-z]",
    "x{2,}", "(a|b)*c", "\\x41", "\\101", "[^\\s]+\\s", "(?<n>\\w)\\k<n>", "(*UTF)a",
    // hard for the matcher
    "((a+)+b|0000!)", "(?:a|a)*b", "(*LIMIT_MATCH=50)a+b", "(?:(a)|b)*$", "(a|aa)*c",
    // invalid
    "(", ")", "[", "a{2,1}", "\\", "*a", "?", "(?<n>a)(?<n>b)", "\\p{Bogus}", "[z-a]", "ёлка(",
    "😀(", "ЁЁЁ[", "\\k<x>", "\\x{110000}", "(?C", "a)b", "(*LIMIT_MATCH=x)", "[[:foo:]]",
    "(?<=a+)b", "\\g{-5}", "(?", "\\c", "{,}x", "x{99999999}"};

const std::vector<std::string> kSubjects = {"Readme.TXT",
                                            "report.txt",
                                            "ОТЧЁТ 2010.doc",
                                            "отчет 1999",
                                            "ёлка.jpg",
                                            "Ёлка2.jpg",
                                            "Müller.mp3",
                                            "MÜLLER",
                                            "STRASSE",
                                            "straße",
                                            "ẞ",
                                            "ΣΊΣΥΦΟΣ",
                                            "σίσυφος",
                                            "KELVIN",
                                            "\u212A",
                                            "Ǆ",
                                            "ǅ",
                                            "İstanbul",
                                            "ı",
                                            "dom дом",
                                            "٣٤",
                                            "😀.png",
                                            "",
                                            "a\tb",
                                            "a\r\nb",
                                            "a.b",
                                            "ab",
                                            "abab",
                                            "xx",
                                            "ABC",
                                            "𝔘𝔫𝔦",
                                            "e\u0301",
                                            std::string(25, 'a') + "0000!",
                                            std::string(40, 'a'),
                                            std::string(30, 'a') + "c"};

// What Qt makes of the pattern and subject, as the search used to call it.
struct TQtOutcome {
    bool Valid = false;
    int ErrorOffset = -1;
    std::string ErrorText;
};

QRegularExpression QtExpression(const std::string& pattern)
{
    QRegularExpression expression(QString::fromStdString(pattern),
                                  QRegularExpression::CaseInsensitiveOption |
                                      QRegularExpression::UseUnicodePropertiesOption);
    expression.optimize();
    return expression;
}

TRegexMatcher::TResult QtSearch(const QRegularExpression& expression, const std::string& subject)
{
    const std::u16string text = QString::fromStdString(subject).toStdU16String();
    const QRegularExpressionMatch match =
        expression.match(QStringView(text), 0, QRegularExpression::NormalMatch,
                         QRegularExpression::DontCheckSubjectStringMatchOption);
    if (!match.isValid())
        return TRegexMatcher::TResult::GaveUp;
    return match.hasMatch() ? TRegexMatcher::TResult::Match : TRegexMatcher::TResult::NoMatch;
}

const char* Name(TRegexMatcher::TResult result)
{
    switch (result) {
    case TRegexMatcher::TResult::NoMatch:
        return "no match";
    case TRegexMatcher::TResult::Match:
        return "match";
    case TRegexMatcher::TResult::GaveUp:
        return "gave up";
    }
    return "?";
}

} // namespace

TEST(RegexMatcher, CompilesFailsAndMatchesAsQtsRegularExpressions)
{
    int gaveUp = 0;
    int invalid = 0;
    for (const std::string& pattern : kPatterns) {
        SCOPED_TRACE("pattern " + pattern);
        const QRegularExpression expected = QtExpression(pattern);
        TRegexMatcher::TError error;
        std::optional<TRegexMatcher> matcher = TRegexMatcher::Make(pattern, error);
        ASSERT_EQ(matcher.has_value(), expected.isValid());
        if (!matcher) {
            ++invalid;
            EXPECT_EQ(error.Text, expected.errorString().toStdString());
            EXPECT_EQ(static_cast<qsizetype>(error.Offset), expected.patternErrorOffset());
            continue;
        }
        for (const std::string& subject : kSubjects) {
            const TRegexMatcher::TResult result =
                matcher->Search(QString::fromStdString(subject).toStdU16String());
            const TRegexMatcher::TResult wanted = QtSearch(expected, subject);
            EXPECT_EQ(result, wanted) << "on " << subject.substr(0, 60) << ": " << Name(result)
                                      << " instead of " << Name(wanted);
            gaveUp += result == TRegexMatcher::TResult::GaveUp;
        }
    }
    // Too deep for the larger stack too.
    for (const std::string pattern : {"(?:(a)|b)*$", "a+$", "(a)+$"}) {
        TRegexMatcher::TError error;
        std::optional<TRegexMatcher> matcher = TRegexMatcher::Make(pattern, error);
        ASSERT_TRUE(matcher);
        const std::string subject(100000, 'a');
        EXPECT_EQ(matcher->Search(std::u16string(subject.begin(), subject.end())),
                  QtSearch(QtExpression(pattern), subject))
            << pattern;
    }
    EXPECT_GE(invalid, 20) << "the invalid patterns are refused";
    EXPECT_GE(gaveUp, 3) << "the hard patterns do make the matcher give up";
}

// The search's message for an invalid pattern, with its place (in UTF-16 units, from 1) and the
// engine's text; the window has that text translated.
TEST(RegexMatcher, InvalidPatternMessageNamesThePlaceAndTheEngineText)
{
    for (const std::string pattern : {"(", "ёлка(", "😀(", "a{2,1}", "\\p{Bogus}"}) {
        SCOPED_TRACE(pattern);
        const QRegularExpression expected = QtExpression(pattern);
        TFindConditions conditions;
        conditions.Match = TFindMatch::RegularExpression;
        conditions.Pattern = pattern;
        std::string error;
        EXPECT_FALSE(TFindQuery::Make(conditions, error));
        EXPECT_EQ(AnsiToUtf8(error),
                  QStringLiteral("Ошибка в регулярном выражении (позиция %1): %2")
                      .arg(expected.patternErrorOffset() + 1)
                      .arg(expected.errorString())
                      .toStdString());
    }

    SetRegexErrorTranslator([](const char* english) { return "«" + std::string(english) + "»"; });
    TRegexMatcher::TError error;
    EXPECT_FALSE(TRegexMatcher::Make("(", error));
    SetRegexErrorTranslator(nullptr);
    EXPECT_EQ(error.Text, "«missing closing parenthesis»");
}

// The pattern is quoted in the messages as it was written, whatever it holds.
TEST(RegexMatcher, MessagesQuoteThePatternAsWritten)
{
    TFindConditions conditions;
    conditions.Match = TFindMatch::RegularExpression;
    conditions.Pattern = "%1 %2";
    std::string error;
    std::optional<TFindQuery> query = TFindQuery::Make(conditions, error);
    ASSERT_TRUE(query);
    query->SetTimeLimit(std::chrono::steady_clock::duration::zero());
    for (int i = 0; i < 100 && query->Trouble().empty(); ++i)
        (void)query->Matches({"name", false, 1, 1});
    EXPECT_EQ(AnsiToUtf8(query->Trouble()),
              "Регулярное выражение «%1 %2» слишком сложно: поиск длился дольше 0 с и прерван");
}

// A name the matcher gives up on halfway through a search is no reason to give up on the next
// one, which gets the larger stack afresh.
TEST(RegexMatcher, GivingUpOnOneNameLeavesTheNextMatchable)
{
    TRegexMatcher::TError error;
    std::optional<TRegexMatcher> matcher = TRegexMatcher::Make("(?:(a)|b)*$", error);
    ASSERT_TRUE(matcher);
    EXPECT_EQ(matcher->Search(std::u16string(100000, u'a')), TRegexMatcher::TResult::GaveUp);
    EXPECT_EQ(matcher->Search(std::u16string(3000, u'a')), TRegexMatcher::TResult::Match);
    EXPECT_EQ(matcher->Search(u"ab1"), TRegexMatcher::TResult::Match) << "the empty end";
}

// The pattern's UTF-8 check refuses what Qt's decoder refused: overlong forms, surrogates, code
// points past U+10FFFF and cut sequences, and nothing else.
TEST(RegexMatcher, Utf8CheckAgreesWithQtsDecoder)
{
    const auto qtValid = [](const std::string& bytes) {
        QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        const QString decoded =
            decoder.decode(QByteArrayView(bytes.data(), qsizetype(bytes.size())));
        return !decoder.hasError();
    };
    int disagreements = 0;
    const auto check = [&](const std::string& bytes) {
        if (IsValidUtf8(bytes) != qtValid(bytes) && ++disagreements <= 5)
            ADD_FAILURE() << "disagree on " << testing::PrintToString(bytes);
    };
    std::string bytes;
    for (int a = 0x80; a < 0x100; ++a) {
        check(std::string(1, char(a)));
        for (int b = 0; b < 0x100; ++b) {
            check({char(a), char(b)});
            if (a < 0xE0)
                continue;
            for (int c = 0x70; c < 0xD0; ++c) {
                check({char(a), char(b), char(c)});
                if (a >= 0xF0 && (b & 0x0F) == 0)
                    for (const int d : {0x00, 0x7F, 0x80, 0xA5, 0xBF, 0xC0})
                        check({char(a), char(b), char(c), char(d)});
            }
        }
    }
    check("ok, ёлка 😀");
    check("ok \xEF\xBF\xBE \xEF\xBF\xBF \xF4\x8F\xBF\xBF"); // non-characters and the last one
    EXPECT_EQ(disagreements, 0);

    // Names turned to UTF-16 for the matcher read as Qt reads the same UTF-8.
    std::u16string text;
    for (char32_t c = 0; c <= 0x10FFFF; c += (c < 0x3000 ? 1 : 97)) {
        if (c >= 0xD800 && c < 0xE000)
            continue;
        std::string utf8 = "x";
        AppendUtf8(utf8, c);
        Utf16FromUtf8(utf8, text);
        ASSERT_EQ(text, QString::fromStdString(utf8).toStdU16String()) << uint32_t(c);
    }
}
