// The lines fendrel-find prints and the exports write: exact names, CSV quoting.
#include "export/HitOutput.h"
#include "platform/AnsiText.h"

#include <QByteArray>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <set>

using ::testing::HasSubstr;
using ::testing::Not;

namespace {

// The value of "field":"..." in a JSON line made by JsonLine (strings only; no escaped quotes
// in the names used here).
std::string Field(const std::string& line, const std::string& field)
{
    const std::string key = "\"" + field + "\":\"";
    const size_t start = line.find(key);
    if (start == std::string::npos)
        return "(none)";
    const size_t from = start + key.size();
    return line.substr(from, line.find('"', from) - from);
}

std::string FromBase64(const std::string& text)
{
    return QByteArray::fromBase64(QByteArray::fromStdString(text)).toStdString();
}

TPrintedHit Hit(std::string_view name)
{
    TPrintedHit hit;
    hit.Collection = "/c.frl";
    hit.Disc = "Disc";
    hit.Path = name;
    hit.Name = name;
    return hit;
}

} // namespace

TEST(HitOutput, JsonNamesWithBytesThatAreNotUtf8AreExactAndReversible)
{
    // Every name of one byte that is not UTF-8 (read from a disc), and the same between letters:
    // 256 different names, which once all printed as U+FFFD.
    std::set<std::string> lines;
    std::vector<std::string> names;
    for (int byte = 0x80; byte < 0x100; ++byte) {
        names.push_back(Utf8ToAnsi(std::string(1, static_cast<char>(byte))));
        names.push_back(Utf8ToAnsi(std::string("a") + static_cast<char>(byte) + "Ж"));
    }
    for (const std::string& name : names) {
        const std::string line = JsonLine(Hit(name));
        EXPECT_EQ(Utf8ToAnsi(FromBase64(Field(line, "name_bytes"))), name) << line;
        EXPECT_EQ(Utf8ToAnsi(FromBase64(Field(line, "path_bytes"))), name) << line;
        EXPECT_THAT(Field(line, "name"), HasSubstr("\uFFFD"));
        EXPECT_EQ(Field(line, "disc_bytes"), "(none)");
        lines.insert(line);
    }
    EXPECT_EQ(lines.size(), names.size());

    // A name that is UTF-8 throughout has no bytes field, whatever its characters.
    const std::string plain = JsonLine(Hit(Ansi("Ёлка 日本 \xF0\x9F\x98\x80 \x01")));
    EXPECT_THAT(plain, Not(HasSubstr("_bytes")));
    EXPECT_THAT(plain, HasSubstr("\"name\":\"Ёлка 日本 \xF0\x9F\x98\x80 \\u0001\""));
    // A C1 control character is a character like any other.
    std::string c1;
    AppendEscape(c1, 0x85);
    EXPECT_THAT(JsonLine(Hit(c1)), HasSubstr("\"name\":\"\xC2\x85\""));
    // The collection's own path, in the file system's bytes.
    TPrintedHit hit = Hit("x");
    hit.Collection = "/m\xFF.frl";
    const std::string line = JsonLine(hit);
    EXPECT_EQ(Field(line, "collection"), "/m\uFFFD.frl");
    EXPECT_EQ(FromBase64(Field(line, "collection_bytes")), "/m\xFF.frl");
}

TEST(HitOutput, CsvQuotesWhatWouldBreakAFieldOrARecord)
{
    EXPECT_EQ(CsvHeader(), "Диск,Путь,Имя,Тип,Размер,Дата\r\n");
    const std::string name = Ansi("a,b \"c\"\nd");
    const std::string disc = Ansi("Фото");
    TPrintedHit hit = Hit(name);
    hit.Disc = disc;
    hit.Path = "\\x";
    hit.Size = 5'000'000'000;
    hit.Time = TCalendarTime{2005, 2, 1, 5, 7, 9};
    EXPECT_EQ(CsvLine(hit),
              "Фото,\\x,\"a,b \"\"c\"\"\nd\",Файл,5000000000,2005-02-01 05:07:09\r\n");
    hit.Folder = true;
    hit.Time.reset();
    hit.Name = "plain";
    EXPECT_EQ(CsvLine(hit), "Фото,\\x,plain,Папка,5000000000,\r\n");
}

TEST(HitOutput, Base64)
{
    EXPECT_EQ(Base64(""), "");
    EXPECT_EQ(Base64("f"), "Zg==");
    EXPECT_EQ(Base64("fo"), "Zm8=");
    EXPECT_EQ(Base64("foo"), "Zm9v");
    EXPECT_EQ(Base64("\xFF\xFE\xFD\xFC"), "//79/A==");
}

// The text line is made piece by piece for speed; it must read as the plain conversion does.
TEST(HitOutput, TextLineShowsNamesAsTheyAreAndControlsAsQuestionMarks)
{
    TPrintedHit hit = Hit("");
    const std::string disc = Utf8ToAnsi("Диск\r1");
    std::string path = "\\";
    path += Utf8ToAnsi("Папка");
    path += "\\a\tb\x7F";
    path += Utf8ToAnsi("Müller.txt");
    hit.Disc = disc;
    hit.Path = path;
    hit.Size = 18446744073709551615ULL;
    hit.Time = TCalendarTime{2005, 2, 1, 5, 7, 9};
    EXPECT_EQ(TextLine(hit), "Диск?1\t\\Папка\\a?b?Müller.txt\t18446744073709551615\t"
                             "2005-02-01 05:07:09\n");
    // A byte 0x98 that starts no escape, a time without a date, and a year beyond four digits.
    const std::string odd = "x\x98y";
    hit.Path = odd;
    hit.Size = 0;
    hit.Time.reset();
    EXPECT_EQ(TextLine(hit), "Диск?1\t" + AnsiToUtf8(odd) + "\t0\t\n");
    hit.Time = TCalendarTime{30828, 9, 14, 2, 48, 5};
    EXPECT_THAT(TextLine(hit), HasSubstr("\t30828-09-14 02:48:05\n"));
    std::string csv;
    AppendCsvLine(csv, hit);
    EXPECT_THAT(csv, HasSubstr(",0,30828-09-14 02:48:05\r\n"));
}
