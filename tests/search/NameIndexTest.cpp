// The name index: the same answers as the search over the collection, in the same order, and
// never an answer from an index that does not fit the collection file as it is now.
#include "search/NameIndex.h"
#include "browse/FolderListing.h"
#include "collection/Fendrel.h"
#include "export/IndexedHits.h"
#include "platform/AnsiText.h"
#include "search/FindSnapshot.h"
#include "search/NameIndexStore.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

extern char** environ;

namespace {

// Every test of this program, fendrel-find's among them, keeps its indexes in a folder of its
// own, never in the user's cache.
class TCacheInTemporaryFolder : public ::testing::Environment {
public:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "fendrel-cache-XXXXXX").string();
        Folder_ = ::mkdtemp(pattern.data());
        ::setenv("XDG_CACHE_HOME", Folder_.c_str(), 1);
    }
    void TearDown() override { fs::remove_all(Folder_); }

private:
    std::string Folder_;
};
const auto* const kCacheEnvironment =
    ::testing::AddGlobalTestEnvironment(new TCacheInTemporaryFolder);

// Pieces of names: letters with their other case, letters the code page lacks (kept as escapes)
// and their twins under case folding (the Kelvin sign, the long s), signs, and an 0x98 that
// starts no escape.
const std::vector<std::string> kPieces = {
    "a",    "B", "x", "K", "k",  "s",  "S",   "ſ",   "K", "ü", "Ü", "ж",
    "Ж",    "ё", "Ё", ".", "-",  " ",  "mp3", "TXT", "1", "0", "_", "☃",
    "日本", "i", "I", "İ", "ab", "AB", "Ab",  "raw", "(", "*", "?",
};

std::string RandomName(std::mt19937& random)
{
    std::uniform_int_distribution<int> length(1, 7);
    std::uniform_int_distribution<size_t> piece(0, kPieces.size() - 1);
    std::string name;
    for (int i = length(random); i > 0; --i) {
        const std::string& p = kPieces[piece(random)];
        name += p == "raw" ? std::string("\x98"
                                         "00a",
                                         4)
                           : Utf8ToAnsi(p);
    }
    return name;
}

// A collection of discs, folders and files with such names, as a loaded file holds it.
struct TMade {
    std::string Text;
    std::unique_ptr<TFendrel> Collection;
    std::unique_ptr<TFindSnapshot> Snapshot;
};

// rename, when given, may change the name of each file or folder made (d: its disc, i: its
// number on the disc).
TMade MakeCollection(uint32_t seed, int discs,
                     const std::function<void(int d, int i, std::string& name)>& rename = {})
{
    std::mt19937 random(seed);
    TFendrel made;
    std::uniform_int_distribution<uint32_t> size(0, 5000);
    std::uniform_int_distribution<uint32_t> day(0, 60);
    for (int d = 0; d < discs; ++d) {
        TCollectionNode disc;
        disc.Name = "Disc " + RandomName(random);
        disc.Flags = nfDisc;
        const uint32_t discId = made.AddNode(made.Discs, disc).Id;
        std::vector<uint32_t> folders{discId};
        for (int i = 0; i < 60; ++i) {
            const bool folder = i % 7 == 0;
            const uint32_t parent = folders[random() % folders.size()];
            TCollectionNode node;
            std::string name = RandomName(random);
            if (rename)
                rename(d, i, name);
            node.Name = name;
            node.Flags = folder ? nfFolder : nfFile;
            node.ParentId = parent;
            node.Size = folder ? 0 : size(random);
            node.WriteTimeHigh = 0x01C50000 + day(random);
            node.WriteTimeLow = static_cast<uint32_t>(random());
            const uint32_t id = made.AddNode(made.GetNode(parent).Children, node).Id;
            if (folder)
                folders.push_back(id);
        }
    }
    TMade result;
    result.Text = made.SaveToText();
    result.Collection = std::make_unique<TFendrel>();
    EXPECT_TRUE(result.Collection->LoadFromText(result.Text));
    result.Snapshot = std::make_unique<TFindSnapshot>(*result.Collection);
    return result;
}

const TCollectionIdentity kIdentity{1, 2, 3, 4, 5};

std::string IndexOf(const TMade& made, const TCollectionIdentity& identity = kIdentity,
                    std::string_view path = "/shelf/c.frl")
{
    std::string bytes;
    EXPECT_TRUE(
        WriteNameIndex(made.Text, *made.Collection, identity, path, [&](std::string_view piece) {
            bytes += piece;
            return true;
        }));
    return bytes;
}

// A query made from a random name: a piece of it for a substring, the whole with jokers for a
// wildcard, a piece with some of an expression's forms around it.
TFindConditions RandomConditions(std::mt19937& random, const TMade& made)
{
    const TFindSnapshot& snapshot = *made.Snapshot;
    const std::string name = AnsiToUtf8(snapshot.Name(random() % snapshot.size()));
    std::u32string characters;
    for (size_t at = 0; at < name.size();) { // by whole UTF-8 characters
        size_t length = 1;
        while (at + length < name.size() && (name[at + length] & 0xC0) == 0x80)
            ++length;
        characters += static_cast<char32_t>(at);
        at += length;
    }
    const auto piece = [&](size_t from, size_t count) {
        const size_t start =
            characters.empty() ? 0 : characters[std::min(from, characters.size() - 1)];
        const size_t endIndex = from + count;
        const size_t end = endIndex >= characters.size() ? name.size() : characters[endIndex];
        return name.substr(start, end > start ? end - start : 0);
    };
    const size_t from = characters.empty() ? 0 : random() % characters.size();
    const size_t count = 1 + random() % 5;
    std::string text = piece(from, count);
    for (char& c : text) // the other case now and then
        if (random() % 3 == 0 && c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');

    TFindConditions c;
    switch (random() % 3) {
    case 0:
        c.Match = TFindMatch::Substring;
        c.Pattern = text;
        break;
    case 1: {
        c.Match = TFindMatch::Wildcard;
        std::string pattern = piece(0, from) + (random() % 2 ? "*" : "?") + piece(from + 1, 99);
        if (random() % 2)
            pattern = "*" + text + "*";
        c.Pattern = pattern;
        break;
    }
    default: {
        c.Match = TFindMatch::RegularExpression;
        static const std::vector<std::string> forms = {
            "%",     "^%",     "%$",    "%.*", "(?:ab|x)%", "%+",   "%?b",
            "[ab]%", "%{2}",   "\\.?%", "(%)", "%|xyz",     "\\b%", "%\\d*",
            "(?i)%", "(?=a)%", "%?",    "%*",  "%{0,1}",
        };
        const std::string& form = forms[random() % forms.size()];
        std::string escaped;
        for (const char ch : text) {
            if (std::string_view("\\.^$|?*+()[]{}").find(ch) != std::string_view::npos)
                escaped += '\\';
            escaped += ch;
        }
        std::string pattern = form;
        pattern.replace(pattern.find('%'), 1, escaped);
        c.Pattern = pattern;
        break;
    }
    }
    switch (random() % 6) {
    case 0:
        c.Kinds = TFindKinds::FilesOnly;
        break;
    case 1:
        c.Kinds = TFindKinds::FoldersOnly;
        break;
    case 2:
        c.SizeMin = 1000;
        c.TimeMax = (uint64_t{0x01C50000 + 30} << 32);
        break;
    default:
        break;
    }
    return c;
}

TEST(NameIndex, AnswersAsTheSearchOverTheCollectionDoes)
{
    for (const uint32_t seed : {7U, 1234U}) {
        const TMade made = MakeCollection(seed, 12);
        const std::string bytes = IndexOf(made);
        const auto index = TNameIndex::Open(bytes, made.Text, kIdentity, "/shelf/c.frl");
        ASSERT_TRUE(index);
        ASSERT_EQ(index->size(), made.Snapshot->size());
        for (uint32_t i = 0; i < made.Snapshot->size(); ++i) {
            const TNameIndex::TItem item = index->Item(i);
            const TFindSnapshot::TEntry& entry = made.Snapshot->Entry(i);
            ASSERT_EQ(item.Name, made.Snapshot->Name(i));
            ASSERT_EQ(item.Flags, entry.Flags);
            ASSERT_EQ(item.Size, entry.Size);
            ASSERT_EQ(item.Time, entry.Time);
            ASSERT_EQ(index->Path(i, '/'), made.Snapshot->Path(i, '/'));
            ASSERT_EQ(index->DiscOf(i), made.Snapshot->DiscOf(i));
        }

        std::mt19937 random(seed);
        size_t hitsSeen = 0;
        for (int round = 0; round < 1500; ++round) {
            const TFindConditions conditions = RandomConditions(random, made);
            std::string error;
            std::optional<TFindQuery> query = TFindQuery::Make(conditions, error);
            if (!query)
                continue;
            std::vector<uint32_t> expected;
            FindInSnapshot(*made.Snapshot, *query, expected);
            std::vector<uint32_t> found;
            index->Find(*query, found);
            ASSERT_EQ(found, expected) << "pattern " << conditions.Pattern << ", kind "
                                       << static_cast<int>(conditions.Match);
            hitsSeen += found.size();
            // The same search shared between two threads.
            index->SetEntriesForTwoThreads(1 + round % 3);
            found.clear();
            index->Find(*query, found);
            index->SetEntriesForTwoThreads(UINT64_MAX);
            ASSERT_EQ(found, expected) << "on two threads: pattern " << conditions.Pattern;
        }
        EXPECT_GT(hitsSeen, 1000U); // the queries do find names
    }
}

// Every entry of the index of the collection loaded from text (or of collection, when given) as
// the search's snapshot of that collection has it.
void ExpectEntriesAsTheSnapshotHasThem(const std::string& text,
                                       const TFendrel* collection = nullptr)
{
    TFendrel loaded;
    if (!collection) {
        ASSERT_TRUE(loaded.LoadFromText(text));
        collection = &loaded;
    }
    std::string bytes;
    ASSERT_TRUE(WriteNameIndex(text, *collection, kIdentity, "/c.frl", [&](std::string_view piece) {
        bytes += piece;
        return true;
    }));
    const auto index = TNameIndex::Open(bytes, text, kIdentity, "/c.frl");
    ASSERT_TRUE(index);
    const TFindSnapshot snapshot(*collection);
    ASSERT_EQ(index->size(), snapshot.size());
    for (uint32_t i = 0; i < snapshot.size(); ++i) {
        const TNameIndex::TItem item = index->Item(i);
        const TFindSnapshot::TEntry& entry = snapshot.Entry(i);
        EXPECT_EQ(item.Name, snapshot.Name(i)) << i;
        EXPECT_EQ(item.Flags, entry.Flags) << i;
        EXPECT_EQ(item.Size, entry.Size) << i;
        EXPECT_EQ(item.Time, entry.Time) << i;
        EXPECT_EQ(index->Path(i, '/'), snapshot.Path(i, '/')) << i;
        EXPECT_EQ(index->DiscOf(i), snapshot.DiscOf(i)) << i;
    }
}

// The index is made from the collection in memory, whatever order its ids are in: a collection
// read from its file has them in the order of the walk, one changed in the window does not (nor
// one broken, with a node in two lists). Its
// sizes are those of the snapshot: a file of 5 GiB (whose line holds only the low half), folder
// totals, none added into a file that holds nodes, a folder whose hand-made line gives its total
// already, a line the strict reading of the index does not take.
TEST(NameIndex, EveryEntryAsTheSnapshotHasItWhateverTheOrderOfIds)
{
    TFendrel made;
    const auto add = [&](TCollectionBranch& list, uint32_t parent, const char* name, uint32_t flags,
                         uint64_t size) -> TCollectionNode& {
        TCollectionNode node;
        node.Name = name;
        node.Flags = flags;
        node.ParentId = parent;
        node.WriteTimeHigh = 0x01C5081B;
        node.WriteTimeLow = 0xE17AFC80 + static_cast<uint32_t>(made.LastId);
        node.SetFullSize(size);
        return made.AddNode(list, node);
    };
    const uint32_t first = add(made.Discs, 0, "First", nfDisc, 0).Id;
    const uint32_t second = add(made.Discs, 0, "Second", nfDisc, 0).Id;
    const uint32_t films = add(made.GetNode(first).Children, first, "Films", nfFolder, 0).Id;
    add(made.GetNode(films).Children, films, "big.mkv", nfFile, uint64_t{5} << 30);
    const uint32_t deep = add(made.GetNode(films).Children, films, "Deep", nfFolder, 0).Id;
    add(made.GetNode(deep).Children, deep, "a.txt", nfFile, 1000);
    add(made.GetNode(second).Children, second, "Empty", nfFolder, 0);
    const uint32_t notes = add(made.GetNode(second).Children, second, "notes", nfFile, 70).Id;
    add(made.GetNode(notes).Children, notes, "inside", nfFile, 5);
    const uint32_t last = add(made.GetNode(first).Children, first, "b.txt", nfFile, 24).Id;
    const std::string text = made.SaveToText();

    ExpectEntriesAsTheSnapshotHasThem(text, &made);
    // A node in two lists is two entries, as the snapshot has it.
    made.GetNode(deep).Children.push_back(last);
    ExpectEntriesAsTheSnapshotHasThem(made.SaveToText(), &made);
    ExpectEntriesAsTheSnapshotHasThem(text);
    std::string handMade = text;
    const auto replace = [&](std::string_view from, std::string_view to) {
        const size_t at = handMade.find(from);
        ASSERT_NE(at, std::string::npos) << from;
        handMade.replace(at, from.size(), to);
    };
    replace(" 00000000 Deep\r\n", " 000003E8 Deep\r\n"); // its total
    replace(" 00000018 b.txt", " 00000018  b.txt");      // the reader skips the second blank
    replace("E 01C5081B", "E 01c5081b");
    ExpectEntriesAsTheSnapshotHasThem(handMade);
}

// A query that gives up stops where one thread would have stopped: on two threads the hits of
// the second half never follow a first half that gave up, and trouble met only in the second
// half is the query's trouble.
TEST(NameIndex, TroubleOnTwoThreadsEndsTheSearchAsOnOne)
{
    const TMade made = MakeCollection(99, 12);
    const std::string bytes = IndexOf(made);
    const auto index = TNameIndex::Open(bytes, made.Text, kIdentity, "/shelf/c.frl");
    ASSERT_TRUE(index);
    TFindConditions conditions;
    conditions.Match = TFindMatch::RegularExpression;
    conditions.Pattern = ".";
    const auto search = [&](uint64_t entriesForTwoThreads, std::vector<uint32_t>& hits) {
        std::string error;
        std::optional<TFindQuery> query = TFindQuery::Make(conditions, error);
        query->SetTimeLimit(std::chrono::steady_clock::duration::zero());
        index->SetEntriesForTwoThreads(entriesForTwoThreads);
        index->Find(*query, hits);
        return query->Trouble();
    };
    std::vector<uint32_t> alone;
    std::vector<uint32_t> shared;
    EXPECT_FALSE(search(UINT64_MAX, alone).empty());
    EXPECT_FALSE(search(1, shared).empty());
    EXPECT_EQ(shared, alone);
    EXPECT_LT(alone.size(), index->size() / 2) << "the search stopped early";
}

// A large collection's index is made on two threads, each taking half the entries, and the
// halves joined: the index is the same, byte for byte, as one thread's. The collection is large
// enough for lists of blocks that run over both halves, with gaps of more than 127 blocks (longer
// differences) and longer than a chunk of the builder.
TEST(NameIndex, MadeOnTwoThreadsAsOnOne)
{
    const TMade made = MakeCollection(2024, 300);
    const auto indexOf = [&](uint64_t entriesForTwoThreads) {
        std::string bytes;
        EXPECT_TRUE(WriteNameIndex(
            made.Text, *made.Collection, kIdentity, "/shelf/c.frl",
            [&](std::string_view piece) {
                bytes += piece;
                return true;
            },
            entriesForTwoThreads));
        return bytes;
    };
    const std::string one = indexOf(UINT64_MAX);
    EXPECT_TRUE(one == indexOf(1)) << "the index made on two threads differs";
    EXPECT_TRUE(one == IndexOf(made));
}

TEST(NameIndex, NarrowsTheSearchToTheTrigramsOfThePattern)
{
    const auto keys = [](TFindMatch match, const char* pattern) {
        TFindConditions c;
        c.Match = match;
        c.Pattern = pattern;
        std::string error;
        return RequiredTrigrams(*TFindQuery::Make(c, error)).size();
    };
    EXPECT_EQ(keys(TFindMatch::Substring, "report"), 4U);
    EXPECT_EQ(keys(TFindMatch::Substring, "ab"), 0U);
    EXPECT_EQ(keys(TFindMatch::Wildcard, "*.mp3"), 2U);
    EXPECT_EQ(keys(TFindMatch::Wildcard, "a?c*"), 0U);
    EXPECT_EQ(keys(TFindMatch::RegularExpression, "^hello\\.mp3$"), 7U);
    // An alternative at the top, or options, leave nothing that every match holds.
    EXPECT_EQ(keys(TFindMatch::RegularExpression, "hello|world"), 0U);
    EXPECT_EQ(keys(TFindMatch::RegularExpression, "(?x)hel lo"), 0U);
    // What a repetition may leave out is not required: "hel" stays of "hello?".
    EXPECT_EQ(keys(TFindMatch::RegularExpression, "hell?o"), 1U);
}

TEST(NameIndex, OpensOnlyForTheSameFileInTheSameState)
{
    const TMade made = MakeCollection(3, 2);
    const std::string bytes = IndexOf(made);
    EXPECT_TRUE(TNameIndex::Open(bytes, made.Text, kIdentity, "/shelf/c.frl"));
    for (int field = 0; field < 5; ++field) {
        TCollectionIdentity other = kIdentity;
        uint64_t* fields[] = {&other.Device, &other.Inode, &other.Size, &other.ModifiedNs,
                              &other.ChangedNs};
        ++*fields[field];
        EXPECT_FALSE(TNameIndex::Open(bytes, made.Text, other, "/shelf/c.frl")) << field;
    }
    EXPECT_FALSE(TNameIndex::Open(bytes, made.Text, kIdentity, "/shelf/other.frl"));
    EXPECT_FALSE(
        TNameIndex::Open(bytes.substr(0, bytes.size() - 1), made.Text, kIdentity, "/shelf/c.frl"));
    EXPECT_FALSE(TNameIndex::Open("", made.Text, kIdentity, "/shelf/c.frl"));
}

// A name the matcher gives up on ends the search there, with that name in the message: shared
// between two threads that take pieces of the candidates in turn, the search ends at the first
// such name in order, whichever thread met another one first, with the hits before it.
TEST(NameIndex, GivingUpOnTwoThreadsEndsAtTheFirstNameInOrder)
{
    const std::string hard = std::string(25, 'a') + "0000!";
    // Names the pattern gives up on on several discs, so in several pieces.
    const TMade made = MakeCollection(41, 40, [&](int d, int i, std::string& name) {
        if (d % 9 == 4 && i == 30)
            name = hard + std::to_string(d);
    });
    const std::string bytes = IndexOf(made);
    const auto index = TNameIndex::Open(bytes, made.Text, kIdentity, "/shelf/c.frl");
    ASSERT_TRUE(index);
    TFindConditions conditions;
    conditions.Match = TFindMatch::RegularExpression;
    conditions.Pattern = "((a+)+b|[xk])";
    const auto search = [&](uint64_t entriesForTwoThreads, std::vector<uint32_t>& hits) {
        std::string error;
        std::optional<TFindQuery> query = TFindQuery::Make(conditions, error);
        index->SetEntriesForTwoThreads(entriesForTwoThreads);
        index->Find(*query, hits);
        return query->Trouble();
    };
    std::vector<uint32_t> alone;
    const std::string trouble = search(UINT64_MAX, alone);
    ASSERT_NE(trouble.find(hard + "4"), std::string::npos) << trouble;
    ASSERT_GT(alone.size(), 20U);
    for (int round = 0; round < 5; ++round) {
        std::vector<uint32_t> shared;
        EXPECT_EQ(search(1, shared), trouble);
        EXPECT_EQ(shared, alone);
    }
}

// Every third byte of the index changed in turn, the search on one thread or shared between two
// (each checking what it reads as it goes): the index either does not open, or the search over it
// reports the damage, or it still answers right (a byte nothing reads); it never answers wrong.
void ExpectDamageFoundNeverAnswered(bool twoThreads)
{
    const TMade made = MakeCollection(11, 2);
    const std::string bytes = IndexOf(made);
    TFindConditions c;
    c.Pattern = "a";
    std::string error;
    std::optional<TFindQuery> query = TFindQuery::Make(c, error);
    std::vector<uint32_t> expected;
    FindInSnapshot(*made.Snapshot, *query, expected);
    int refused = 0;
    for (size_t at = 0; at < bytes.size(); at += 3) {
        std::string damaged = bytes;
        damaged[at] = static_cast<char>(damaged[at] ^ 0x21);
        const auto index = TNameIndex::Open(damaged, made.Text, kIdentity, "/shelf/c.frl");
        if (!index) {
            ++refused;
            continue;
        }
        if (twoThreads)
            index->SetEntriesForTwoThreads(1);
        std::vector<uint32_t> found;
        try {
            index->Find(*query, found);
            for (uint32_t i = 0; i < index->size(); ++i)
                (void)index->Path(i, '/');
        } catch (const ENameIndexDamaged&) {
            ++refused;
            continue;
        }
        ASSERT_EQ(found, expected) << "byte " << at;
    }
    EXPECT_GT(refused, 0);
}

TEST(NameIndex, DamageIsFoundNeverAnswered)
{
    ExpectDamageFoundNeverAnswered(false);
}

TEST(NameIndex, DamageIsFoundOnTwoThreadsToo)
{
    ExpectDamageFoundNeverAnswered(true);
}

// Each hit as the search over the collection prints it (see fendrel-find).
std::string SnapshotLines(const TFindSnapshot& snapshot, const std::vector<uint32_t>& hits,
                          const THitPrinting& printing)
{
    std::string lines;
    for (const uint32_t hit : hits) {
        const std::string where = snapshot.Path(hit, printing.Separator);
        AppendHitLine(
            lines,
            PrintedSnapshotHit(snapshot, hit, printing.Collection, where, printing.UtcOffset),
            printing.Form);
    }
    return lines;
}

// The lines of the hits an index found are those the search over the collection prints, in the
// same order, in every form, whether one thread makes them or two share them piece by piece;
// names with escapes, in folders with and without them, among them.
TEST(NameIndex, PrintsTheHitsAsTheSearchOverTheCollectionDoes)
{
    const TMade made = MakeCollection(23, 30);
    const std::string bytes = IndexOf(made);
    const auto index = TNameIndex::Open(bytes, made.Text, kIdentity, "/shelf/c.frl");
    ASSERT_TRUE(index);
    const TFindSnapshot& snapshot = *made.Snapshot;
    std::vector<uint32_t> all;  // every file and folder
    std::vector<uint32_t> some; // a few, far apart
    for (uint32_t i = 0; i < snapshot.size(); ++i) {
        if (snapshot.Entry(i).Parent == TFindSnapshot::NoParent)
            continue;
        all.push_back(i);
        if (i % 13 == 0)
            some.push_back(i);
    }
    int escapedNames = 0;
    for (const uint32_t i : all)
        escapedNames += MayHoldEscapes(snapshot.Name(i)) ? 1 : 0;
    ASSERT_GT(escapedNames, 50);

    for (const THitForm form : {THitForm::Text, THitForm::Json, THitForm::Csv}) {
        for (const char separator : {'\\', '/'}) {
            THitPrinting printing;
            printing.Collection = "/shelf/c.frl";
            printing.Form = form;
            printing.Separator = separator;
            printing.UtcOffset = 3 * 3600;
            for (const std::vector<uint32_t>* hits : {&all, &some}) {
                const std::string expected = SnapshotLines(snapshot, *hits, printing);
                // One thread; two with pieces of one hit, of a few, of many.
                for (const auto& [forTwo, perPiece] : std::vector<std::pair<size_t, size_t>>{
                         {SIZE_MAX, 16384}, {0, 1}, {0, 7}, {0, 100}}) {
                    printing.HitsForTwoThreads = forTwo;
                    printing.HitsPerPiece = perPiece;
                    std::string lines;
                    PrintIndexedHits(*index, *hits, printing,
                                     [&](std::string_view piece) { lines += piece; });
                    ASSERT_EQ(lines, expected)
                        << "form " << static_cast<int>(form) << ", separator " << separator << ", "
                        << hits->size() << " hits, pieces of " << perPiece;
                }
            }
        }
    }
}

// An entry that cannot be read ends the printing with the damage, on whichever thread meets it,
// and the lines of the pieces before it are printed; neither thread is left waiting.
TEST(NameIndex, PrintingStopsAtAnEntryThatCannotBeRead)
{
    const TMade made = MakeCollection(29, 2);
    const std::string bytes = IndexOf(made);
    const auto index = TNameIndex::Open(bytes, made.Text, kIdentity, "/shelf/c.frl");
    ASSERT_TRUE(index);
    const uint32_t beyond = static_cast<uint32_t>(index->size());
    for (const size_t bad : {0U, 1U, 2U, 5U, 8U}) {
        std::vector<uint32_t> hits;
        for (uint32_t i = 1; hits.size() < 10; ++i)
            if (made.Snapshot->Entry(i).Parent != TFindSnapshot::NoParent)
                hits.push_back(i);
        hits[bad] = beyond;
        THitPrinting printing;
        printing.HitsForTwoThreads = 0;
        printing.HitsPerPiece = 1;
        std::string lines;
        EXPECT_THROW(PrintIndexedHits(*index, hits, printing,
                                      [&](std::string_view piece) { lines += piece; }),
                     ENameIndexDamaged);
        EXPECT_EQ(lines,
                  SnapshotLines(*made.Snapshot,
                                std::vector<uint32_t>(hits.begin(), hits.begin() + bad), printing))
            << bad;
    }
}

// The collection file on disk, its index in the cache folder.
class StoredNameIndex : public ::testing::Test {
protected:
    StoredNameIndex()
    {
        std::string pattern = (fs::temp_directory_path() / "fendrel-index-XXXXXX").string();
        Folder = ::mkdtemp(pattern.data());
        Path = Folder + "/c.frl";
        Made = MakeCollection(5, 3);
        Write(Made.Text);
    }
    ~StoredNameIndex() override
    {
        if (const auto file = NameIndexFileOf(AbsoluteCollectionPath(Path))) {
            std::remove(file->c_str());
            std::remove((*file + ".lock").c_str());
        }
        fs::remove_all(Folder);
    }

    void Write(const std::string& text) const { std::ofstream(Path, std::ios::binary) << text; }

    std::unique_ptr<TSharedMapping> Map() const
    {
        std::unique_ptr<TSharedMapping> mapping;
        EXPECT_EQ(TSharedMapping::Open(Path, std::chrono::seconds(1), mapping), TMapOutcome::Done);
        return mapping;
    }

    bool Store() const
    {
        const auto mapping = Map();
        auto collection = std::make_unique<TFendrel>();
        EXPECT_TRUE(collection->LoadFromText(mapping->Text()));
        return StoreNameIndex(AbsoluteCollectionPath(Path), mapping->Text(), mapping->Identity(),
                              std::move(collection));
    }

    [[nodiscard]] bool Fits() const
    {
        const auto mapping = Map();
        return TStoredNameIndex::Open(AbsoluteCollectionPath(Path), *mapping) != nullptr;
    }

    std::string Folder, Path;
    TMade Made;
};

TEST_F(StoredNameIndex, LivesInTheCacheFolderNamedAfterThePath)
{
    const std::optional<std::string> file = NameIndexFileOf("/shelf/c.frl");
    ASSERT_TRUE(file);
    EXPECT_EQ(file->rfind(std::string(std::getenv("XDG_CACHE_HOME")) + "/fendrel/c.frl-", 0), 0U);
    EXPECT_NE(*NameIndexFileOf("/other/c.frl"), *file);

    EXPECT_FALSE(Fits());
    EXPECT_TRUE(Store());
    EXPECT_TRUE(Fits());
    EXPECT_TRUE(fs::exists(*NameIndexFileOf(AbsoluteCollectionPath(Path))));
    EXPECT_EQ(fs::directory_iterator(Folder)->path().filename(), "c.frl"); // nothing beside it
}

TEST_F(StoredNameIndex, StaleIndexNeverAnswers)
{
    ASSERT_TRUE(Store());
    ASSERT_TRUE(Fits());
    struct stat before {};
    ASSERT_EQ(::stat(Path.c_str(), &before), 0);
    const timespec times[2] = {before.st_atim, before.st_mtim};

    // The same bytes written to another file renamed over it, with the old time: another inode.
    const std::string other = Folder + "/new.frl";
    std::ofstream(other, std::ios::binary) << Made.Text;
    ASSERT_EQ(::utimensat(AT_FDCWD, other.c_str(), times, 0), 0);
    ASSERT_EQ(::rename(other.c_str(), Path.c_str()), 0);
    EXPECT_FALSE(Fits());

    // Changed in place, same size, the time set back: the change time still tells.
    ASSERT_TRUE(Store());
    ASSERT_TRUE(Fits());
    {
        std::fstream file(Path, std::ios::in | std::ios::out | std::ios::binary);
        file.seekp(static_cast<std::streamoff>(Made.Text.size() - 5));
        file.put('Z');
    }
    ASSERT_EQ(::utimensat(AT_FDCWD, Path.c_str(), times, 0), 0);
    EXPECT_FALSE(Fits());
}

TEST_F(StoredNameIndex, DamagedOrForeignIndexIsReplaced)
{
    ASSERT_TRUE(Store());
    const std::string file = *NameIndexFileOf(AbsoluteCollectionPath(Path));
    fs::resize_file(file, fs::file_size(file) / 2);
    EXPECT_FALSE(Fits());
    EXPECT_TRUE(Store());
    EXPECT_TRUE(Fits());

    // Another collection's index put in its place.
    const std::string otherPath = Folder + "/other.frl";
    {
        const TMade other = MakeCollection(6, 1);
        std::ofstream(otherPath, std::ios::binary) << other.Text;
        std::unique_ptr<TSharedMapping> mapping;
        ASSERT_EQ(TSharedMapping::Open(otherPath, std::chrono::seconds(1), mapping),
                  TMapOutcome::Done);
        std::ofstream(file, std::ios::binary)
            << IndexOf(other, mapping->Identity(), AbsoluteCollectionPath(otherPath));
    }
    EXPECT_FALSE(Fits());
    EXPECT_TRUE(Store());
    EXPECT_TRUE(Fits());
}

TEST_F(StoredNameIndex, WriterInProgressIsLeftAlone)
{
    const std::string file = *NameIndexFileOf(AbsoluteCollectionPath(Path));
    fs::create_directories(fs::path(file).parent_path());
    const int lock = ::open((file + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(lock, 0);
    ASSERT_EQ(::flock(lock, LOCK_EX), 0);
    EXPECT_FALSE(Store()); // another process writes it: this one does not wait
    EXPECT_FALSE(fs::exists(file));
    ::close(lock);
    EXPECT_TRUE(Store());
}

TEST_F(StoredNameIndex, SaveRefreshesAnIndexThatIsThere)
{
    RefreshNameIndexLater(Path); // none there: none made
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_FALSE(fs::exists(*NameIndexFileOf(AbsoluteCollectionPath(Path))));

    ASSERT_TRUE(Store());
    Write(MakeCollection(8, 2).Text); // saved again
    EXPECT_FALSE(Fits());
    RefreshNameIndexLater(Path);
    // The refresh runs at the lowest priority: while other tests keep both processors busy it
    // may wait long for its turn.
    for (int i = 0; i < 2400 && !Fits(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_TRUE(Fits());
}

// fendrel-find run as a program, several at once, with and without an index.
class FindToolIndex : public StoredNameIndex {
protected:
    // Starts fendrel-find in the zone UTC with the cache folder of these tests; its output goes
    // to out.
    pid_t Start(const std::vector<std::string>& arguments, const std::string& out) const
    {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0600);
        std::vector<std::string> all{FENDREL_FIND_PROGRAM};
        all.insert(all.end(), arguments.begin(), arguments.end());
        std::vector<char*> argv;
        for (std::string& argument : all)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        std::vector<std::string> environment{
            "TZ=UTC", "LC_ALL=C", std::string("XDG_CACHE_HOME=") + std::getenv("XDG_CACHE_HOME")};
        std::vector<char*> envp;
        for (std::string& variable : environment)
            envp.push_back(variable.data());
        envp.push_back(nullptr);
        pid_t child = -1;
        EXPECT_EQ(posix_spawn(&child, all[0].c_str(), &actions, nullptr, argv.data(), envp.data()),
                  0);
        posix_spawn_file_actions_destroy(&actions);
        return child;
    }
    static int Wait(pid_t child)
    {
        int status = 0;
        return ::waitpid(child, &status, 0) == child && WIFEXITED(status) ? WEXITSTATUS(status)
                                                                          : -1;
    }
    static std::string Content(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    std::string Run(const std::vector<std::string>& arguments) const
    {
        const std::string out = Folder + "/out.txt";
        EXPECT_LE(Wait(Start(arguments, out)), 1);
        return Content(out);
    }
    // The output of each query as the search over the file gives it, without an index.
    std::vector<std::string> Answers(const std::vector<std::vector<std::string>>& queries)
    {
        std::vector<std::string> answers;
        for (const auto& query : queries) {
            std::remove(NameIndexFileOf(AbsoluteCollectionPath(Path))->c_str());
            answers.push_back(Run(query));
        }
        return answers;
    }

    const std::vector<std::vector<std::string>> Queries = {
        {"ab", Path},
        {"--glob", "*mp3*", Path},
        {"--json", "--regex", "x.*[жb]", Path},
        {"--folders", "--separator=/", "b", Path},
        {"--size-min=4k", "--date-min=2000-01-01", "", Path},
    };
};

TEST_F(FindToolIndex, IndexMadeByTheFirstRunAnswersTheSameSinceThen)
{
    const std::vector<std::string> expected = Answers(Queries);
    for (const std::string& answer : expected)
        EXPECT_FALSE(answer.empty());
    ASSERT_TRUE(Fits()); // left by the last run
    for (size_t i = 0; i < Queries.size(); ++i)
        EXPECT_EQ(Run(Queries[i]), expected[i]);
    EXPECT_TRUE(Fits());

    // A damaged index is passed by, and a sound one takes its place.
    const std::string file = *NameIndexFileOf(AbsoluteCollectionPath(Path));
    {
        std::fstream index(file, std::ios::in | std::ios::out | std::ios::binary);
        index.seekp(100);
        index.write("damage", 6);
    }
    EXPECT_FALSE(Fits());
    EXPECT_EQ(Run(Queries[0]), expected[0]);
    EXPECT_TRUE(Fits());
    EXPECT_EQ(Run(Queries[0]), expected[0]);
}

TEST_F(FindToolIndex, RunsAtOnceWhileTheIndexIsMadeAnswerRight)
{
    // A larger collection, so that making its index takes a while.
    Made = MakeCollection(9, 300);
    Write(Made.Text);
    const std::vector<std::string> expected = Answers(Queries);
    for (int round = 0; round < 3; ++round) {
        // The file is written again behind the index: every run finds it stale.
        Write(Made.Text + (round % 2 ? "" : " "));
        Write(Made.Text);
        std::vector<std::pair<pid_t, size_t>> runs;
        for (size_t i = 0; i < 8; ++i) {
            const size_t query = i % Queries.size();
            runs.emplace_back(Start(Queries[query], Folder + "/out" + std::to_string(i) + ".txt"),
                              query);
        }
        for (size_t i = 0; i < runs.size(); ++i) {
            EXPECT_LE(Wait(runs[i].first), 1);
            EXPECT_EQ(Content(Folder + "/out" + std::to_string(i) + ".txt"),
                      expected[runs[i].second])
                << "round " << round << ", run " << i;
        }
        EXPECT_TRUE(Fits());
    }
}

} // namespace
