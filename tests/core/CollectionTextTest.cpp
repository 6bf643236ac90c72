#include "collection/Fendrel.h"
#include "collection/FendrelError.h"
#include "collection/ProgressLine.h"
#include "platform/AnsiText.h"
#include "support/SteppedClock.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <random>
#include <tuple>

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

const std::string kHeader = ";Fendrel File v1 begin\r\n";

// One node as the file sees it: its depth below the top level and its stored fields.
struct TFlatNode {
    size_t Depth;
    uint32_t Flags, High, Low, Size;
    std::string Name;
    bool operator==(const TFlatNode&) const = default;
    friend std::ostream& operator<<(std::ostream& out, const TFlatNode& n) {
        return out << n.Depth << ':' << n.Flags << ':' << n.High << ':' << n.Low << ':' << n.Size
                   << ":\"" << n.Name << '"';
    }
};

// The reachable collection in pre-order, checking on the way that every node's ParentId names
// the node whose list holds it. Iterative: the collections here may nest very deep.
std::vector<TFlatNode> Flatten(const TFendrel& c) {
    std::vector<TFlatNode> flat;
    struct TLevel {
        const TCollectionBranch* List;
        size_t Next;
        uint32_t Owner;
    };
    std::vector<TLevel> levels{{&c.Discs, 0, 0}};
    while (!levels.empty()) {
        TLevel& level = levels.back();
        if (level.Next == level.List->size()) {
            levels.pop_back();
            continue;
        }
        const TCollectionNode& n = c.GetNode((*level.List)[level.Next++]);
        EXPECT_EQ(n.ParentId, level.Owner);
        flat.push_back(
            {levels.size() - 1, n.Flags, n.WriteTimeHigh, n.WriteTimeLow, n.Size, n.Name.str()});
        levels.push_back({&n.Children, 0, n.Id});
    }
    return flat;
}

TCollectionNode& Add(TFendrel& c, TCollectionBranch& list, uint32_t kind, const std::string& name,
                     uint32_t parent = 0, uint32_t high = 0, uint32_t low = 0, uint32_t size = 0) {
    TCollectionNode value;
    value.Name = name;
    value.Flags = kind;
    value.ParentId = parent;
    value.WriteTimeHigh = high;
    value.WriteTimeLow = low;
    value.Size = size;
    return c.AddNode(list, value);
}

// A collection with a progress line whose displays are recorded.
struct TText : ::testing::Test {
    TSteppedClock Clock;
    std::vector<std::string> Shown;
    TProgressLine Line{Clock, [this](const std::string& text) {
                           Shown.push_back(AnsiToUtf8(text));
                       }};
    TFendrel C{&Line};

    // Loads text into C and returns what LoadFromText said.
    bool Load(const std::string& text) { return C.LoadFromText(text); }
    [[nodiscard]] std::string LastShown() const {
        return Shown.empty() ? "(nothing)" : Shown.back();
    }
};

// --- The writer ------------------------------------------------------------------------------

TEST_F(TText, WriterProducesTheFileByteForByte) {
    TCollectionNode& photos = Add(C, C.Discs, nfDisc, "Photos");
    TCollectionNode& summer =
        Add(C, photos.Children, nfFolder, "Summer", photos.Id, 0x01C5E0A1, 0x3B2C4D00);
    Add(C, summer.Children, nfFile, "img1.jpg", summer.Id, 0x01C5E0A1, 0x3B2C4D00, 0x4A3F2);
    Add(C, photos.Children, nfFile, "readme.txt", photos.Id, 0x01C5E0A2, 0, 0x1000);
    TCollectionNode& untitled = Add(C, C.Discs, nfDisc, "");
    Add(C, untitled.Children, nfFolder, Ansi("Пусто "), untitled.Id, 0xFFFFFFFF, 0xABCDEF01,
        0xFFFFFFFF);

    EXPECT_EQ(C.SaveToText(), kHeader +
                                  "D 00000000 00000000 00000000 Photos\r\n"
                                  "F 01C5E0A1 3B2C4D00 00000000 Summer\r\n"
                                  "E 01C5E0A1 3B2C4D00 0004A3F2 img1.jpg\r\n"
                                  "<\r\n"
                                  "E 01C5E0A2 00000000 00001000 readme.txt\r\n"
                                  "<\r\n"
                                  "D 00000000 00000000 00000000 \r\n"
                                  "F FFFFFFFF ABCDEF01 FFFFFFFF " +
                                  Ansi("Пусто ") +
                                  "\r\n"
                                  "<\r\n"
                                  "<\r\n");
    EXPECT_EQ(C.ProgressCount, 6);
    EXPECT_EQ(LastShown(), " Готово");
}

TEST_F(TText, EmptyCollectionIsTheHeaderAlone) {
    EXPECT_EQ(C.SaveToText(), kHeader);
    TFendrel reloaded;
    EXPECT_TRUE(reloaded.LoadFromText(kHeader));
    EXPECT_THAT(reloaded.Discs, IsEmpty());
}

TEST_F(TText, FilterMarksAreNotSavedAndUnreachableDiscsAreLeftOut) {
    TCollectionNode& kept = Add(C, C.Discs, nfDisc, "kept");
    Add(C, kept.Children, nfFile, "a", kept.Id);
    TCollectionNode& gone = Add(C, C.Discs, nfDisc, "gone");
    Add(C, gone.Children, nfFile, "b", gone.Id);
    C.SetFlagsDeep(C.Discs, 0xFFFFFFFF, nfFilteredOut);
    C.DeleteDisc(gone.Id);
    EXPECT_EQ(C.SaveToText(), kHeader + "D 00000000 00000000 00000000 kept\r\n"
                                        "E 00000000 00000000 00000000 a\r\n"
                                        "<\r\n");
}

// The message of the error that SaveToText raised, or "" when it succeeded.
std::string SaveError(TFendrel& c) {
    try {
        (void)c.SaveToText();
    } catch (const EFendrelError& error) {
        return error.what();
    }
    return {};
}

TEST_F(TText, BrokenCollectionFailsToSaveWithItsMessage) {
    TCollectionNode& disc = Add(C, C.Discs, nfDisc, "d");
    Add(C, disc.Children, nfFile | nfFolder, "odd", disc.Id);
    EXPECT_EQ(SaveError(C), "Unknown node type");
    EXPECT_EQ(LastShown(), " Запись коллекции: записано 0 элементов") << "no \" Готово\"";

    TFendrel dangling;
    Add(dangling, dangling.Discs, nfDisc, "d").Children.push_back(77);
    EXPECT_EQ(SaveError(dangling), "Node not found");
}

// --- Save and reload -------------------------------------------------------------------------

// Random collections of every shape the program itself makes: names of 0 to 255 bytes in code
// page 1251 (no CR, no leading blank), empty discs and folders, deep chains, numbers at the
// 32-bit limits.
class TRandomCollection {
public:
    explicit TRandomCollection(uint32_t seed)
        : Random_(seed) {}

    void Fill(TFendrel& c) {
        const int discs = Pick(0, 6);
        for (int d = 0; d < discs; ++d) {
            TCollectionNode& disc = Add(c, c.Discs, nfDisc, Name());
            FillFolder(c, disc, 0);
        }
    }

private:
    void FillFolder(TFendrel& c, TCollectionNode& folder, int depth) {
        if (Pick(0, 9) == 0 && depth < 3) { // a long chain of single folders
            TCollectionNode* at = &folder;
            for (int i = Pick(1, 300); i > 0; --i)
                at = &Add(c, at->Children, nfFolder, Name(), at->Id, Number(), Number(), Number());
            return;
        }
        const int children = depth > 4 ? 0 : Pick(0, 8);
        for (int i = 0; i < children; ++i) {
            const uint32_t id = folder.Id;
            if (Pick(0, 2) == 0) {
                TCollectionNode& sub =
                    Add(c, folder.Children, nfFolder, Name(), id, Number(), Number(), Number());
                FillFolder(c, sub, depth + 1);
            } else {
                Add(c, folder.Children, nfFile, Name(), id, Number(), Number(), Number());
            }
        }
    }

    std::string Name() {
        static const std::string kBytes = "abcXYZ019 .-_<>;\t\n" + Ansi("АБВЯабвяЁё№") + "\x98\xFF";
        std::string name;
        for (int length = Pick(0, 3) == 0 ? Pick(0, 255) : Pick(0, 12); length > 0; --length)
            name += kBytes[static_cast<size_t>(Pick(0, static_cast<int>(kBytes.size()) - 1))];
        while (!name.empty() && (name[0] == ' ' || name[0] == '\t'))
            name[0] = 'x';
        return name;
    }

    uint32_t Number() {
        switch (Pick(0, 3)) {
        case 0:
            return 0;
        case 1:
            return 0xFFFFFFFF;
        default:
            return static_cast<uint32_t>(Random_());
        }
    }

    int Pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(Random_); }

    std::mt19937 Random_;
};

TEST(CollectionText, RandomCollectionsSurviveSaveAndReload) {
    for (uint32_t seed = 1; seed <= 200; ++seed) {
        TFendrel original;
        TRandomCollection(seed).Fill(original);
        const std::string text = original.SaveToText();
        TFendrel reloaded;
        ASSERT_TRUE(reloaded.LoadFromText(text)) << "seed " << seed;
        ASSERT_EQ(Flatten(reloaded), Flatten(original)) << "seed " << seed;
        // Ids are given out 1 to N in record order.
        EXPECT_EQ(reloaded.LastId, original.LastId);
        EXPECT_EQ(reloaded.ProgressCount, static_cast<int32_t>(reloaded.LastId));
        uint32_t expected = 1;
        for (const uint32_t id : reloaded.Discs) {
            EXPECT_EQ(id, expected) << "seed " << seed;
            std::vector<uint32_t> pending{id};
            while (!pending.empty()) {
                const TCollectionNode& n = reloaded.GetNode(pending.back());
                pending.pop_back();
                EXPECT_EQ(n.Id, expected++);
                pending.insert(pending.end(), n.Children.rbegin(), n.Children.rend());
            }
        }
        EXPECT_EQ(reloaded.SaveToText(), text);
    }
}

TEST(CollectionText, NestingDeeperThanTheStackSavesAndLoads) {
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

// --- The reader: tolerance -------------------------------------------------------------------

TEST_F(TText, EmptyTextIsAnEmptyCollectionAndLeavesTheStatusLineAlone) {
    EXPECT_TRUE(Load(""));
    EXPECT_EQ(C.LastId, 0u);
    EXPECT_THAT(Shown, IsEmpty());
}

TEST_F(TText, TextEndingWithinTheHeadersLineEndIsEmpty) {
    for (const char* text :
         {";Fendrel File v1 begin", ";Fendrel File v1 begin\r", ";Fendrel File v1 beginXY"}) {
        TFendrel c;
        EXPECT_TRUE(c.LoadFromText(text)) << text;
        EXPECT_EQ(c.LastId, 0u);
    }
    // The two bytes after the header are skipped whatever they are.
    TFendrel c;
    EXPECT_TRUE(c.LoadFromText(";Fendrel File v1 beginXYD 0 0 0 a\r\n"));
    EXPECT_THAT(Flatten(c), ElementsAre(TFlatNode{0, nfDisc, 0, 0, 0, "a"}));
}

TEST_F(TText, MissingClosingLinesAtTheEndAreTolerated) {
    EXPECT_TRUE(Load(kHeader + "D 0 0 0 d\r\nF 0 0 0 f\r\nE 0 0 0 e\r\n"));
    EXPECT_THAT(Flatten(C), ElementsAre(TFlatNode{0, nfDisc, 0, 0, 0, "d"},
                                        TFlatNode{1, nfFolder, 0, 0, 0, "f"},
                                        TFlatNode{2, nfFile, 0, 0, 0, "e"}));
    EXPECT_EQ(LastShown(), " Готово");
}

TEST_F(TText, TopLevelClosingLineEndsTheLoad) {
    EXPECT_TRUE(Load(kHeader + "D 0 0 0 a\r\n<\r\n<ignored\r\nD 0 0 0 b\r\nnot even a record"));
    EXPECT_EQ(C.LastId, 1u);
    EXPECT_EQ(LastShown(), " Готово");
}

TEST_F(TText, NumbersAreReadAsScanfReadsHex) {
    EXPECT_TRUE(Load(kHeader + "E 1c5e0a1 3b2C4d00 4A3F2 a\r\n"         // lower case, short
                               "E\t0x1F  -1\t+10 b\r\n"                 // tabs, 0x, signs
                               "E 123456789 FFFFFFFFFFFFFFFFFF 0 c\r\n" // wider than 32 bits
                               "E 0 0 abc\r\n"));                       // the digits take "abc"
    EXPECT_THAT(Flatten(C), ElementsAre(TFlatNode{0, nfFile, 0x01C5E0A1, 0x3B2C4D00, 0x4A3F2, "a"},
                                        TFlatNode{0, nfFile, 0x1F, 0xFFFFFFFF, 0x10, "b"},
                                        TFlatNode{0, nfFile, 0x23456789, 0xFFFFFFFF, 0, "c"},
                                        TFlatNode{0, nfFile, 0, 0, 0xABC, ""}));
    // The writer always writes 8 upper-case digits.
    EXPECT_EQ(C.SaveToText().substr(kHeader.size(), 38),
              "E 01C5E0A1 3B2C4D00 0004A3F2 a\r\nE 0000");
}

TEST_F(TText, KindLettersOtherThanDAndFAreFilesAndLevelsAreNotChecked) {
    EXPECT_TRUE(Load(kHeader + "X 0 0 0 x\r\n"
                               "d 0 0 0 lower d\r\n"
                               "F 0 0 0 top folder\r\n"
                               "D 0 0 0 disc in folder\r\n"
                               "<\r\n"
                               "<\r\n"
                               "E 0 0 0 last\r\n"));
    EXPECT_THAT(Flatten(C), ElementsAre(TFlatNode{0, nfFile, 0, 0, 0, "x"},
                                        TFlatNode{0, nfFile, 0, 0, 0, "lower d"},
                                        TFlatNode{0, nfFolder, 0, 0, 0, "top folder"},
                                        TFlatNode{1, nfDisc, 0, 0, 0, "disc in folder"},
                                        TFlatNode{0, nfFile, 0, 0, 0, "last"}));
}

TEST_F(TText, NamesLoseLeadingBlanksAndEndAtTheirFirstCR) {
    EXPECT_TRUE(Load(kHeader + "D 0 0 0 \r\n"           // empty title: the next line is a child
                               "E 0 0 0  \t lead  \r\n" // leading blanks go, trailing stay
                               "E 0 0 0 a\rb\r\n"       // a lone CR cuts the name
                               "E 0 0 0 semi;colon<\n\r\n"
                               "E 1 2 3\r\n")); // no blank, no name
    EXPECT_THAT(Flatten(C), ElementsAre(TFlatNode{0, nfDisc, 0, 0, 0, ""},
                                        TFlatNode{1, nfFile, 0, 0, 0, "lead  "},
                                        TFlatNode{1, nfFile, 0, 0, 0, "a"},
                                        TFlatNode{1, nfFile, 0, 0, 0, "semi;colon<\n"},
                                        TFlatNode{1, nfFile, 1, 2, 3, ""}));
}

TEST_F(TText, NamesLongerThan255BytesAreCut) {
    const std::string longName(300, 'n');
    EXPECT_TRUE(Load(kHeader + "D 0 0 0 " + longName + "\r\nE 0 0 0 next\r\n"));
    EXPECT_THAT(Flatten(C), ElementsAre(TFlatNode{0, nfDisc, 0, 0, 0, std::string(255, 'n')},
                                        TFlatNode{1, nfFile, 0, 0, 0, "next"}));
}

TEST_F(TText, ZeroByteEndsTheText) {
    EXPECT_TRUE(Load(kHeader + "D 0 0 0 a\r\n" + std::string(1, '\0') + "D 0 0 0 b\r\n"));
    EXPECT_EQ(C.LastId, 1u);
    TFendrel cut;
    EXPECT_FALSE(cut.LoadFromText(kHeader + "D 0 0 0 a" + std::string(1, '\0') + "\r\n"));
    TFendrel inHeader;
    EXPECT_FALSE(inHeader.LoadFromText(std::string(";Fendrel\0File v1 begin\r\n", 24)));
}

// --- The reader: refusals --------------------------------------------------------------------

TEST_F(TText, ForeignTextIsRefusedWithoutTouchingTheStatusLine) {
    for (const std::string& text :
         {std::string("PK\x03\x04 zip"), std::string(";fendrel file v1 begin\r\n"),
          std::string(";Fendrel File v1 begi"), std::string(1, '\0') + kHeader}) {
        TFendrel c{&Line};
        EXPECT_FALSE(c.LoadFromText(text));
        EXPECT_EQ(c.LastId, 0u);
    }
    EXPECT_THAT(Shown, IsEmpty());
}

TEST_F(TText, LineWithoutCrLfFailsWithoutTheFinalStatus) {
    EXPECT_FALSE(Load(";Fendrel File v1 begin\nD 0 0 0 a\nE 0 0 0 b\n"));
    EXPECT_EQ(C.LastId, 0u);
    EXPECT_EQ(LastShown(), " Загрузка коллекции: загружено 0 элементов");

    Clock.Step(200);
    TFendrel cut{&Line};
    EXPECT_FALSE(cut.LoadFromText(kHeader + "D 0 0 0 a\r\nE 0 0 0 b\r\nE 0 0 0 c"));
    EXPECT_EQ(cut.LastId, 2u);
    EXPECT_NE(LastShown(), " Готово");
}

TEST_F(TText, RecordThatDoesNotParseKeepsTheNodesBeforeIt) {
    for (const char* bad : {"", " \t", "E", "E 1 2", "E 1 2 g", "E 1 - 3 x", " <"}) {
        Shown.clear();
        TFendrel c{&Line};
        EXPECT_FALSE(
            c.LoadFromText(kHeader + "D 0 0 0 a\r\nE 0 0 0 b\r\n" + bad + "\r\nE 0 0 0 c\r\n"))
            << '"' << bad << '"';
        EXPECT_EQ(c.LastId, 2u) << '"' << bad << '"';
        EXPECT_EQ(LastShown(), " Готово");
    }
}

TEST_F(TText, FailureAtTheThousandthRecordKeeps999Nodes) {
    std::string text = kHeader + "D 0 0 0 disc\r\n";
    for (int i = 2; i < 1000; ++i)
        text += "E 0 0 " + std::to_string(i) + " f\r\n";
    text += "broken\r\n";
    EXPECT_FALSE(Load(text));
    EXPECT_EQ(C.LastId, 999u);
    EXPECT_EQ(C.ProgressCount, 999);
}

} // namespace
