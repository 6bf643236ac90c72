#include "collection/Fendrel.h"
#include "collection/FendrelError.h"
#include "collection/ProgressLine.h"
#include "platform/AnsiText.h"
#include "support/SteppedClock.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <random>

namespace {

const std::string kHeader = ";Fendrel File v1 begin\r\n";

TCollectionNode& Add(TFendrel& c, TCollectionBranch& list, uint32_t kind, const std::string& name,
                     uint32_t parent = 0, uint32_t high = 0, uint32_t low = 0, uint32_t size = 0)
{
    TCollectionNode value;
    value.Name = name;
    value.Flags = kind;
    value.ParentId = parent;
    value.WriteTimeHigh = high;
    value.WriteTimeLow = low;
    value.Size = size;
    return c.AddNode(list, value);
}

// The ids met in a pre-order walk from Discs, checking on the way that each node's ParentId
// names the node whose list holds it. Iterative: some collections here nest very deep.
std::vector<uint32_t> PreOrderIds(const TFendrel& c)
{
    std::vector<uint32_t> ids;
    std::vector<std::pair<uint32_t, uint32_t>> pending; // id, expected ParentId
    for (auto id = c.Discs.rbegin(); id != c.Discs.rend(); ++id)
        pending.emplace_back(*id, 0);
    while (!pending.empty()) {
        const auto [id, parent] = pending.back();
        pending.pop_back();
        const TCollectionNode& node = c.GetNode(id);
        EXPECT_EQ(node.ParentId, parent) << id;
        ids.push_back(id);
        for (auto child = node.Children.rbegin(); child != node.Children.rend(); ++child)
            pending.emplace_back(*child, id);
    }
    return ids;
}

// A collection whose progress line records what it shows (in UTF-8).
struct TText : ::testing::Test {
    TSteppedClock Clock;
    std::vector<std::string> Shown;
    TProgressLine Line{Clock, [this](const std::string& text) {
                           Shown.push_back(AnsiToUtf8(text));
                       }};

    [[nodiscard]] std::string LastShown() const
    {
        return Shown.empty() ? "(nothing)" : Shown.back();
    }
};

// --- The writer ------------------------------------------------------------------------------

TEST_F(TText, WriterProducesTheFileByteForByte)
{
    TFendrel c{&Line};
    EXPECT_EQ(c.SaveToText(), kHeader);

    TCollectionNode& photos = Add(c, c.Discs, nfDisc, "Photos");
    TCollectionNode& summer =
        Add(c, photos.Children, nfFolder, "Summer", photos.Id, 0x01C5E0A1, 0x3B2C4D00);
    Add(c, summer.Children, nfFile, "img1.jpg", summer.Id, 0x01C5E0A1, 0x3B2C4D00, 0x4A3F2);
    Add(c, photos.Children, nfFile, "readme.txt", photos.Id, 0x01C5E0A2, 0, 0x1000);
    TCollectionNode& untitled = Add(c, c.Discs, nfDisc, "");
    Add(c, untitled.Children, nfFolder, Ansi("Пусто "), untitled.Id, 0xFFFFFFFF, 0xABCDEF01,
        0xFFFFFFFF);
    TCollectionNode& gone = Add(c, c.Discs, nfDisc, "gone");
    Add(c, gone.Children, nfFile, "b", gone.Id);
    c.SetFlagsDeep(c.Discs, 0xFFFFFFFF, nfFilteredOut); // never saved
    c.DeleteDisc(gone.Id);                              // unreachable, so not saved

    EXPECT_EQ(c.SaveToText(), kHeader +
                                  "D 00000000 00000000 00000000 Photos\r\n"
                                  "F 01C5E0A1 3B2C4D00 00000000 Summer\r\n"
                                  "E 01C5E0A1 3B2C4D00 0004A3F2 img1.jpg\r\n"
                                  "<\r\n"
                                  "E 01C5E0A2 00000000 00001000 readme.txt\r\n"
                                  "<\r\n"
                                  "D 00000000 00000000 00000000 \r\n"
                                  "F FFFFFFFF ABCDEF01 FFFFFFFF " +
                                  Ansi("Пусто ") + "\r\n<\r\n<\r\n");
    EXPECT_EQ(c.ProgressCount, 6);
    EXPECT_EQ(LastShown(), " Готово");
}

// The message of the error that SaveToText raised, or "" when it succeeded.
std::string SaveError(TFendrel& c)
{
    try {
        (void)c.SaveToText();
    } catch (const EFendrelError& error) {
        return error.what();
    }
    return {};
}

TEST_F(TText, BrokenCollectionFailsToSaveWithItsMessage)
{
    TFendrel c{&Line};
    TCollectionNode& disc = Add(c, c.Discs, nfDisc, "d");
    Add(c, disc.Children, nfFile | nfFolder, "odd", disc.Id);
    EXPECT_EQ(SaveError(c), "Unknown node type");
    EXPECT_EQ(LastShown(), " Запись коллекции: записано 0 элементов") << "no \" Готово\"";

    TFendrel dangling;
    Add(dangling, dangling.Discs, nfDisc, "d").Children.push_back(77);
    EXPECT_EQ(SaveError(dangling), "Node not found");
}

// --- Save and reload -------------------------------------------------------------------------

// Random collections of every shape the program itself makes: names of 0 to 255 bytes in code
// page 1251 without CR or leading blanks, empty discs and folders, long chains of folders,
// numbers at the 32-bit limits.
void FillRandomly(TFendrel& c, std::mt19937& random)
{
    const auto pick = [&](int low, int high) {
        return std::uniform_int_distribution<int>(low, high)(random);
    };
    const auto number = [&]() -> uint32_t {
        const int choice = pick(0, 3);
        return choice == 0 ? 0 : choice == 1 ? 0xFFFFFFFF : static_cast<uint32_t>(random());
    };
    const std::string bytes = "aZ09 .-_<>;\t\n\x98\xFF" + Ansi("АЯаяЁё№");
    const auto name = [&] {
        std::string text;
        for (int n = pick(0, 3) == 0 ? pick(0, 255) : pick(0, 12); n > 0; --n)
            text += bytes[static_cast<size_t>(pick(0, static_cast<int>(bytes.size()) - 1))];
        if (!text.empty() && (text[0] == ' ' || text[0] == '\t'))
            text[0] = 'x';
        return text;
    };
    std::vector<std::pair<uint32_t, int>> open; // folders to fill, with their depth
    for (int d = pick(0, 6); d > 0; --d)
        open.emplace_back(Add(c, c.Discs, nfDisc, name()).Id, 0);
    while (!open.empty()) {
        const auto [id, depth] = open.back();
        open.pop_back();
        if (pick(0, 9) == 0 && depth < 3) { // a chain of single folders
            uint32_t at = id;
            for (int i = pick(1, 300); i > 0; --i)
                at = Add(c, c.GetNode(at).Children, nfFolder, name(), at, number(), number(),
                         number())
                         .Id;
            continue;
        }
        for (int i = depth > 4 ? 0 : pick(0, 8); i > 0; --i) {
            const bool folder = pick(0, 2) == 0;
            const uint32_t child = Add(c, c.GetNode(id).Children, folder ? nfFolder : nfFile,
                                       name(), id, number(), number(), number())
                                       .Id;
            if (folder)
                open.emplace_back(child, depth + 1);
        }
    }
}

TEST(CollectionText, RandomCollectionsSurviveSaveAndReload)
{
    std::mt19937 random(20260101);
    for (int round = 0; round < 200; ++round) {
        TFendrel original;
        FillRandomly(original, random);
        const std::string text = original.SaveToText();
        TFendrel reloaded;
        ASSERT_TRUE(reloaded.LoadFromText(text)) << "round " << round;
        EXPECT_EQ(reloaded.SaveToText(), text) << "round " << round;
        // Ids are 1 to N in record order.
        const std::vector<uint32_t> ids = PreOrderIds(reloaded);
        ASSERT_EQ(ids.size(), original.LastId);
        for (size_t i = 0; i < ids.size(); ++i)
            ASSERT_EQ(ids[i], i + 1) << "round " << round;
        EXPECT_EQ(reloaded.ProgressCount, static_cast<int32_t>(reloaded.LastId));
    }
}

// The text in blocks is SaveToText's, cut anywhere, even inside a record, and never held whole:
// each block but the last is just over its size.
TEST(CollectionText, TextInBlocksIsTheSavedTextInPieces)
{
    std::mt19937 random(20260202);
    for (int round = 0; round < 60; ++round) {
        TFendrel c;
        FillRandomly(c, random);
        const std::string text = c.SaveToText();
        const int32_t count = c.ProgressCount;
        for (const size_t blockSize : {size_t{1}, size_t{50}, size_t{4096}}) {
            std::vector<std::string> blocks;
            ASSERT_TRUE(c.SaveInBlocks(
                [&](std::string_view block) {
                    blocks.emplace_back(block);
                    return true;
                },
                blockSize));
            std::string joined;
            for (size_t i = 0; i < blocks.size(); ++i) {
                if (i + 1 < blocks.size()) {
                    ASSERT_GE(blocks[i].size(), blockSize);
                    ASSERT_LT(blocks[i].size(), blockSize + 30 + 255 * 7 + 2);
                }
                ASSERT_FALSE(blocks[i].empty());
                joined += blocks[i];
            }
            ASSERT_EQ(joined, text) << "round " << round << ", blocks of " << blockSize;
            EXPECT_EQ(c.ProgressCount, count);
        }
    }
}

TEST_F(TText, TextInBlocksStopsAtTheFirstRefusedBlockAndRaisesTheSaveErrors)
{
    TFendrel c{&Line};
    TCollectionNode& disc = Add(c, c.Discs, nfDisc, "d");
    for (int i = 0; i < 100; ++i)
        Add(c, disc.Children, nfFile, "file " + std::to_string(i), disc.Id);
    int taken = 0;
    EXPECT_FALSE(c.SaveInBlocks([&](std::string_view) { return ++taken < 3; }, 100));
    EXPECT_EQ(taken, 3);
    EXPECT_EQ(LastShown(), " Готово");

    // A node of no kind half-way: the blocks before it have gone, then the error comes.
    const std::string before = c.SaveToText();
    Add(c, disc.Children, nfFile | nfFolder, "odd", disc.Id);
    Add(c, disc.Children, nfFile, "after", disc.Id);
    std::string given;
    try {
        (void)c.SaveInBlocks(
            [&](std::string_view block) {
                given += block;
                return true;
            },
            100);
        ADD_FAILURE() << "no error";
    } catch (const EFendrelError& error) {
        EXPECT_STREQ(error.what(), "Unknown node type");
    }
    EXPECT_FALSE(given.empty());
    EXPECT_TRUE(before.starts_with(given));
}

TEST(CollectionText, NestingDeeperThanTheStackSavesAndLoads)
{
    constexpr int kDepth = 200000;
    std::string text = kHeader + "D 0 0 0 deep\r\n";
    for (int i = 0; i < kDepth; ++i)
        text += "F 0 0 0 f\r\n";
    text += "E 0 0 7 leaf\r\n"; // no closing lines: the end of the text closes every level

    TFendrel c;
    ASSERT_TRUE(c.LoadFromText(text));
    EXPECT_EQ(c.LastId, static_cast<uint32_t>(kDepth + 2));
    EXPECT_EQ(c.GetNode(c.LastId).ParentId, c.LastId - 1);
    const std::string saved = c.SaveToText();
    EXPECT_EQ(std::count(saved.begin(), saved.end(), '<'), kDepth + 1);
    TFendrel again;
    ASSERT_TRUE(again.LoadFromText(saved));
    EXPECT_EQ(again.SaveToText(), saved);
}

// Names of characters from every plane of Unicode, each as long as the reader keeps: 255
// escapes, 1785 bytes. They come back byte for byte.
TEST(CollectionText, EscapedNamesOfEveryPlaneSurviveSaveAndReload)
{
    TFendrel c;
    TCollectionNode& disc = Add(c, c.Discs, nfDisc, Utf8ToAnsi("Диск für 日本"));
    std::vector<std::string> names;
    for (char32_t plane = 0; plane <= 16; ++plane) {
        std::string name;
        for (char32_t i = 0; i < kLongestName; ++i)
            AppendEscape(name, plane * 0x10000 + 0x2200 + i * 61);
        names.push_back(name);
        Add(c, disc.Children, plane % 2 ? nfFile : nfFolder, name, disc.Id);
    }
    const std::string text = c.SaveToText();
    TFendrel reloaded;
    ASSERT_TRUE(reloaded.LoadFromText(text));
    EXPECT_EQ(reloaded.SaveToText(), text);
    const TCollectionNode& again = reloaded.GetNode(reloaded.Discs.at(0));
    EXPECT_EQ(AnsiToUtf8(again.Name), "Диск für 日本");
    ASSERT_EQ(again.Children.size(), names.size());
    for (size_t i = 0; i < names.size(); ++i)
        EXPECT_EQ(reloaded.GetNode(again.Children[i]).Name.str(), names[i]) << "plane " << i;

    // One character more than the reader keeps: the last escape goes, whole.
    TFendrel longer;
    ASSERT_TRUE(longer.LoadFromText(kHeader + "E 0 0 0 " + names[1] + Utf8ToAnsi("ü") + "\r\n"));
    EXPECT_EQ(longer.GetNode(1).Name.str(), names[1]);
}

// A file written before escapes existed loads exactly as it always did, 0x98 bytes and all.
TEST(CollectionText, FilesWithoutEscapesLoadByteForByteAsBefore)
{
    const std::string e = "E 00000000 00000000 00000000 ";
    const std::string odd =
        std::string("\x98") + Ansi("Ёж") + "\x98" + "0000" + "\x98" + "0000fc\x98";
    const std::string text = kHeader + e + odd + "\r\n" + e + std::string(300, '\x98') + "\r\n" +
                             e + std::string(100, 'x') + "\x98" + std::string(199, '0') + "\r\n";
    TFendrel c;
    ASSERT_TRUE(c.LoadFromText(text));
    EXPECT_EQ(c.GetNode(1).Name.str(), odd);
    EXPECT_EQ(AnsiToUtf8(c.GetNode(1).Name), "\xEF\xBF\xBDЁж\xEF\xBF\xBD"
                                             "0000\xEF\xBF\xBD"
                                             "0000fc\xEF\xBF\xBD");
    EXPECT_EQ(c.GetNode(2).Name.str(), std::string(255, '\x98')) << "cut at 255 bytes, as before";
    // Only here, where 0x98 meets six digits, does a hand-made name read as an escape.
    EXPECT_EQ(c.GetNode(3).Name.size(), 100 + 7 + 154u);
}

// --- The reader ------------------------------------------------------------------------------

// Texts the reader accepts, and the collection it makes of each, as the writer puts it.
TEST_F(TText, ReaderToleratesWhatOtherWritersMightWrite)
{
    const std::string d = "D 00000000 00000000 00000000 ";
    const std::string e = "E 00000000 00000000 00000000 ";
    const struct {
        std::string Text, Saved;
    } cases[] = {
        {"", ""}, // an empty file is an empty collection
        {";Fendrel File v1 begin", ""},
        {";Fendrel File v1 begin\r", ""},
        {";Fendrel File v1 beginXYD 0 0 0 a\r\n", d + "a\r\n<\r\n"}, // two bytes skipped unchecked
        {kHeader + "D 0 0 0 d\r\nF 0 0 0 f\r\nE 0 0 0 e\r\n",        // closing lines missing
         d + "d\r\nF 00000000 00000000 00000000 f\r\n" + e + "e\r\n<\r\n<\r\n"},
        {kHeader + "D 0 0 0 a\r\n<\r\n<x\r\nD 0 0 0 b\r\nno record", d + "a\r\n<\r\n"},
        {kHeader + "E 1c5e0a1 3b2C4d00 4A3F2 a\r\n", "E 01C5E0A1 3B2C4D00 0004A3F2 a\r\n"},
        {kHeader + "E\t0x1F  -1\t+10 b\r\n", "E 0000001F FFFFFFFF 00000010 b\r\n"},
        {kHeader + "E 123456789 FFFFFFFFFFFFFFFFFF 0 c\r\n", "E 23456789 FFFFFFFF 00000000 c\r\n"},
        {kHeader + "E 0 0 abc\r\nE 1 2 3\r\n",
         "E 00000000 00000000 00000ABC \r\nE 00000001 00000002 00000003 \r\n"},
        {kHeader + "X 0 0 0 x\r\nd 0 0 0 d\r\nF 0 0 0 f\r\nD 0 0 0 in f\r\n",
         e + "x\r\n" + e + "d\r\nF 00000000 00000000 00000000 f\r\n" + d + "in f\r\n<\r\n<\r\n"},
        {kHeader + "D 0 0 0 \r\nE 0 0 0  \t lead  \r\nE 0 0 0 a\rb\r\nE 0 0 0 x<\n\r\n",
         d + "\r\n" + e + "lead  \r\n" + e + "a\r\n" + e + "x<\n\r\n<\r\n"},
        {kHeader + "E 0 0 0 " + std::string(300, 'n') + "\r\nE 0 0 0 z\r\n",
         e + std::string(255, 'n') + "\r\n" + e + "z\r\n"},
        {kHeader + "E 0 0 0 a\r\n" + std::string(1, '\0') + "E 0 0 0 b\r\n", e + "a\r\n"},
    };
    for (const auto& [text, saved] : cases) {
        TFendrel c;
        EXPECT_TRUE(c.LoadFromText(text)) << text;
        EXPECT_EQ(c.SaveToText(), kHeader + saved) << text;
    }

    TFendrel c{&Line};
    EXPECT_TRUE(c.LoadFromText(""));
    EXPECT_TRUE(Shown.empty()) << "an empty text leaves the status line alone";
    EXPECT_TRUE(c.LoadFromText(kHeader + "D 0 0 0 d\r\n"));
    EXPECT_EQ(LastShown(), " Готово");
}

TEST(CollectionText, ReaderTellsHowFarItRead)
{
    const std::string disc = "D 00000000 00000000 00000000 one\r\n<\r\n";
    // The whole text: nothing is left unread.
    for (const std::string& text :
         {std::string(), kHeader, kHeader + disc, kHeader + disc + "<\r\n",
          kHeader + "D 0 0 0 cut after a folder\r\n", kHeader.substr(0, kHeader.size() - 1)}) {
        TFendrel c;
        size_t readTo = 99;
        EXPECT_TRUE(c.LoadFromText(text, readTo)) << text;
        EXPECT_EQ(readTo, text.size()) << text;
    }
    // Loads that succeed but stop early: at a zero byte, at a closing line of the top level.
    const std::string zero = kHeader + disc + std::string(1, '\0') + disc;
    const std::string closed = kHeader + disc + "<\r\n" + disc;
    for (const std::string& text : {zero, closed}) {
        TFendrel c;
        size_t readTo = 0;
        EXPECT_TRUE(c.LoadFromText(text, readTo));
        EXPECT_EQ(readTo, kHeader.size() + disc.size() + (text == closed ? 3 : 0));
        EXPECT_EQ(c.Discs.size(), 1u);
    }
}

TEST_F(TText, ReaderRefusesForeignAndDamagedTexts)
{
    const struct {
        std::string Text;
        uint32_t NodesKept;
        const char* Status; // what the status line shows last
    } cases[] = {
        {"PK\x03\x04 zip", 0, "(nothing)"},
        {";fendrel file v1 begin\r\n", 0, "(nothing)"},
        {std::string(";Fendrel\0File v1 begin\r\n", 24), 0, "(nothing)"},
        {";Fendrel File v1 begin\nD 0 0 0 a\nE 0 0 0 b\n", 0, "(counting)"},     // LF only
        {kHeader + "D 0 0 0 a\r\nE 0 0 0 b\r\nE 0 0 0 c", 2, "(counting)"},      // last line cut
        {kHeader + "D 0 0 0 a\r\nE 0 0 0 b\r\n\r\nE 0 0 0 c\r\n", 2, " Готово"}, // blank line
        {kHeader + "D 0 0 0 a\r\n \t\r\n", 1, " Готово"},
        {kHeader + "D 0 0 0 a\r\nE 1 2\r\n", 1, " Готово"},
        {kHeader + "D 0 0 0 a\r\nE 1 2 g\r\n", 1, " Готово"},
        {kHeader + "D 0 0 0 a\r\nE 1 - 3 x\r\n", 1, " Готово"},
        {kHeader + "D 0 0 0 a\r\n <\r\n", 1, " Готово"},
    };
    for (const auto& [text, kept, status] : cases) {
        Shown.clear();
        Clock.Step(200);
        TFendrel c{&Line};
        EXPECT_FALSE(c.LoadFromText(text)) << text;
        EXPECT_EQ(c.LastId, kept) << text;
        const std::string expected = std::string(status) == "(counting)"
                                         ? " Загрузка коллекции: загружено 0 элементов"
                                         : status;
        EXPECT_EQ(LastShown(), expected) << text;
    }
}

TEST_F(TText, FailureAtTheThousandthRecordKeeps999Nodes)
{
    std::string text = kHeader + "D 0 0 0 disc\r\n";
    for (int i = 2; i < 1000; ++i)
        text += "E 0 0 " + std::to_string(i) + " f\r\n";
    TFendrel c;
    EXPECT_FALSE(c.LoadFromText(text + "broken\r\n"));
    EXPECT_EQ(c.LastId, 999u);
    EXPECT_EQ(c.ProgressCount, 999);
}

// The lists still open where the reader stops (at a damaged line, or at the end of the text,
// which closes them) hold every node read into them, below the right parent.
TEST(CollectionText, ListsOpenWhereTheReaderStopsKeepTheirNodes)
{
    using ::testing::ElementsAre;
    const std::string start = kHeader + "D 0 0 0 one\r\nF 0 0 0 a\r\nE 0 0 1 x\r\n<\r\n"
                                        "F 0 0 0 b\r\nE 0 0 2 y\r\nF 0 0 0 c\r\n";
    for (const std::string& end : {std::string("broken\r\n"), std::string()}) {
        TFendrel c;
        EXPECT_EQ(c.LoadFromText(start + end), end.empty()) << end;
        EXPECT_THAT(c.Discs, ElementsAre(1u));
        EXPECT_THAT(c.GetNode(1).Children, ElementsAre(2u, 4u));
        EXPECT_THAT(c.GetNode(2).Children, ElementsAre(3u));
        EXPECT_THAT(c.GetNode(4).Children, ElementsAre(5u, 6u));
        EXPECT_TRUE(c.GetNode(6).Children.empty());
        EXPECT_EQ(c.GetNode(6).ParentId, 4u);
    }
}

// A zero byte ends the text wherever it stands (in the header's line end, at a line's start, in
// a name, in a line's CR LF, far into the records, in the extension section): the load reads
// exactly what it reads of the text cut there.
TEST(CollectionText, ZeroByteAnywhereEndsTheTextAsACutThere)
{
    TFendrel made;
    for (int d = 0; d < 3; ++d) {
        TCollectionNode disc;
        disc.Flags = nfDisc;
        disc.Name = "disc " + std::to_string(d);
        TCollectionNode& added = made.AddNode(made.Discs, disc);
        for (int f = 0; f < 800; ++f) {
            TCollectionNode file;
            file.Flags = nfFile;
            file.Name = "a file of disc " + std::to_string(d) + " number " + std::to_string(f);
            file.ParentId = added.Id;
            TCollectionNode& stored = made.AddNode(added.Children, file);
            if (f == 500)
                stored.SetFullSize(uint64_t{5} << 32); // a line in the extension section
        }
    }
    const std::string text = made.SaveToText();
    ASSERT_GT(text.size(), size_t{100} << 10);
    const size_t record = text.find("number 17\r\n");
    // A text that starts with a zero byte is no collection file, where an empty one is.
    TFendrel first;
    EXPECT_FALSE(first.LoadFromText(std::string(1, '\0') + text));
    std::vector<size_t> places{1,
                               kHeader.size() - 2,
                               kHeader.size() - 1,
                               kHeader.size(),
                               record,
                               record + 3,
                               record + 9,
                               record + 10,
                               record + 11,
                               (size_t{64} << 10) - 1,
                               size_t{64} << 10,
                               text.size() - 20,
                               text.size() - 1};
    for (size_t at = 1000; at < text.size(); at += 9973)
        places.push_back(at);
    for (const size_t at : places) {
        std::string zeroed = text;
        zeroed[at] = '\0';
        TFendrel withZero;
        TFendrel cut;
        size_t readWithZero = 0;
        size_t readCut = 0;
        EXPECT_EQ(withZero.LoadFromText(zeroed, readWithZero),
                  cut.LoadFromText(text.substr(0, at), readCut))
            << at;
        EXPECT_EQ(readWithZero, readCut) << at;
        EXPECT_EQ(withZero.LastId, cut.LastId) << at;
        EXPECT_EQ(withZero.SaveToText(), cut.SaveToText()) << at;
    }
}

} // namespace
