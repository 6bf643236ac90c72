// The name index of a collection file. Its layout, all numbers in the machine's byte order:
//   the collection's absolute path;
//   one entry per file, folder and disc in the snapshot's order: where its record line starts in
//   the collection file, and its parent (the top bit set when an override below stands for it);
//   the trigram table, sorted by key: key, number of blocks, start of its postings;
//   the postings: for each trigram, the blocks of 2^BlockShift entries that hold it, as
//   LEB128 differences;
//   the overrides, sorted by entry: kind, size, time and perhaps the name of every entry whose
//   record line does not tell them as the search sees them (every folder's total, for one);
//   the override names;
//   an XXH3 checksum for every 4 KiB of all the above;
//   the header, last, so that the index is written front to back in one go.
#include "search/NameIndex.h"

#include "collection/CollectionNode.h"
#include "collection/Fendrel.h"
#include "collection/NameOrder.h"
#include "collection/PreOrderWalk.h"
#include "platform/AnsiText.h"
#include "platform/CaseFolding.h"
#include "platform/LargeBuffer.h"
#include "platform/SideBySide.h"

#define XXH_INLINE_ALL
#include <xxhash.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <iterator>
#include <memory>
#include <new>
#include <numeric>
#include <optional>
#include <span>
#include <sys/mman.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr std::array<char, 8> kMagic = {'F', 'R', 'L', 'N', 'A', 'M', 'I', 'X'};
constexpr uint32_t kVersion = 1;
constexpr uint32_t kByteOrder = 0x01020304;
constexpr uint32_t kBlockShift = 6;
constexpr size_t kEntriesPerBlock = size_t{1} << kBlockShift;
constexpr uint32_t kChunkShift = 12;
constexpr uint32_t kOverrideBit = 0x80000000U;
constexpr uint32_t kNoParentField = 0x7FFFFFFFU;
constexpr uint32_t kNameFromLine = UINT32_MAX;
constexpr std::string_view kHeaderLine = ";Fendrel File v1 begin\r\n";
// The fields of a record line before its name: "E 01C5081B E17AFC80 00000400 ".
constexpr size_t kFieldsSize = 29;
// How many pieces a search on two threads cuts its candidates into.
constexpr uint64_t kPieces = 64;
// How far ahead of the entry tested a search asks for record lines.
constexpr uint64_t kLinesAhead = 32;
// No record line the reader keeps whole is longer than this.
constexpr size_t kLongestLine = kFieldsSize + kLongestName * kEscapeLength + 2;
// Stands for every character the code page lacks: the trigrams only narrow the search, so
// letting such characters share one value loses nothing but a little of the narrowing.
constexpr unsigned char kOtherCharacter = 0x98;

struct THeader {
    std::array<char, 8> Magic;
    uint32_t Version;
    uint32_t ByteOrder;
    uint32_t BlockShift;
    uint32_t ChunkShift;
    uint64_t Identity[5];
    uint64_t EntryCount;
    uint64_t PathOffset, PathSize;
    uint64_t EntriesOffset;
    uint64_t TrigramsOffset, TrigramCount;
    uint64_t PostingsOffset, PostingsSize;
    uint64_t OverridesOffset, OverrideCount;
    uint64_t NamesOffset, NamesSize;
    uint64_t SumsOffset; // the checksums of every chunk of [0, SumsOffset)
    uint64_t SumsSum;
    uint64_t HeaderSum; // of every byte of the header before it
};

static_assert(sizeof(THeader) == 184, "the header's layout is part of the file format");

struct TEntryRecord {
    uint32_t Line;
    uint32_t Parent;
};

struct TTrigramRecord {
    uint32_t Key;
    uint32_t Count;
    uint64_t Start; // into the postings
};

struct TOverrideRecord {
    uint32_t Entry;
    uint32_t Flags;
    uint64_t Size;
    uint64_t Time;
    uint32_t NameStart; // into the override names; kNameFromLine: the record line's name
    uint32_t NameSize;
};

std::array<uint64_t, 5> IdentityFields(const TCollectionIdentity& identity)
{
    return {identity.Device, identity.Inode, identity.Size, identity.ModifiedNs,
            identity.ChangedNs};
}

// --- The characters the trigrams are made of ---------------------------------------------------

const std::array<unsigned char, 256>& Lowered()
{
    static const std::array<unsigned char, 256> table = [] {
        std::array<unsigned char, 256> made{};
        for (int c = 0; c < 256; ++c)
            made[c] = static_cast<unsigned char>(CharLowerA(static_cast<char>(c)));
        return made;
    }();
    return table;
}

// text is never empty. One character of a name as the substring search compares it (lowered; an
// escape of a character the code page has as that byte), with every other character as
// kOtherCharacter.
unsigned char FoldedCharacterAt(std::string_view text, size_t& length)
{
    // cppcheck-suppress containerOutOfBounds
    const auto byte = static_cast<unsigned char>(text[0]);
    length = 1;
    if (byte != static_cast<unsigned char>(kEscapeByte))
        return Lowered()[byte];
    const std::optional<char32_t> escaped = EscapeAt(text);
    if (!escaped)
        return Lowered()[byte];
    length = kEscapeLength;
    std::optional<unsigned char> ansi = AnsiByteOf(*escaped);
    if (!ansi)
        ansi = AnsiByteOf(SimpleCaseFold(*escaped));
    return ansi ? Lowered()[*ansi] : kOtherCharacter;
}

// The characters of an already folded text as the searches read it: an escape is one
// character (the byte it stands for when escapeAsByte and the code page has one), anything
// else a byte.
void AppendFoldedTextCharacters(std::string_view text, bool escapeAsByte, std::string& out)
{
    while (!text.empty()) {
        if (const std::optional<char32_t> escaped = EscapeAt(text)) {
            const std::optional<unsigned char> ansi =
                escapeAsByte ? AnsiByteOf(*escaped) : std::nullopt;
            out += static_cast<char>(ansi ? *ansi : kOtherCharacter);
            text.remove_prefix(kEscapeLength);
        } else {
            out += text[0];
            text.remove_prefix(1);
        }
    }
}

// Each character of the index as one of 64 classes: digits and Latin letters each their own,
// Cyrillic letters two or so to a class, the commonest signs their own, everything else one
// class. Trigrams of classes keep a small table, which makes the index quick to build; names
// that share a class trigram only cost the search a few more names to check.
constexpr unsigned kClassBits = 6;
constexpr uint32_t kKeyCount = uint32_t{1} << (3 * kClassBits);

const std::array<uint8_t, 256>& Classes()
{
    static const std::array<uint8_t, 256> table = [] {
        std::array<uint8_t, 256> made{};
        for (int c = '0'; c <= '9'; ++c)
            made[c] = static_cast<uint8_t>(1 + c - '0');
        for (int c = 'a'; c <= 'z'; ++c)
            made[c] = static_cast<uint8_t>(11 + c - 'a');
        for (int c = 0xE0; c <= 0xFF; ++c) // а to я
            made[c] = static_cast<uint8_t>(37 + (c - 0xE0) % 24);
        made[0xB8] = 37 + 5; // ё with е
        made[' '] = 61;
        made['.'] = 62;
        made['-'] = 63;
        made['_'] = 63;
        return made;
    }();
    return table;
}

uint32_t TrigramKey(unsigned char a, unsigned char b, unsigned char c)
{
    const std::array<uint8_t, 256>& classes = Classes();
    return (uint32_t{classes[a]} << (2 * kClassBits)) | (uint32_t{classes[b]} << kClassBits) |
           classes[c];
}

template <typename TVisit> void ForEachTrigram(std::string_view characters, TVisit&& visit)
{
    for (size_t i = 0; i + 3 <= characters.size(); ++i)
        visit(TrigramKey(static_cast<unsigned char>(characters[i]),
                         static_cast<unsigned char>(characters[i + 1]),
                         static_cast<unsigned char>(characters[i + 2])));
}

// The trigrams of a name: those of its characters as the substring search folds them, and,
// for a name with an 0x98 in it, also as the wildcard search reads its folded name.
template <typename TVisit> void ForEachNameTrigram(std::string_view name, TVisit&& visit)
{
    if (!MayHoldEscapes(name)) {
        // The common case, without the characters in between: each byte's class straight away.
        static const std::array<uint8_t, 256> classOfByte = [] {
            std::array<uint8_t, 256> made{};
            for (size_t c = 0; c < made.size(); ++c)
                made[c] = Classes()[Lowered()[c]];
            return made;
        }();
        uint32_t key = 0;
        for (size_t i = 0; i < name.size(); ++i) {
            key = ((key << kClassBits) | classOfByte[static_cast<unsigned char>(name[i])]) &
                  (kKeyCount - 1);
            if (i >= 2)
                visit(key);
        }
        return;
    }
    thread_local std::string characters;
    characters.clear();
    for (std::string_view rest = name; !rest.empty();) {
        size_t length = 1;
        characters += static_cast<char>(FoldedCharacterAt(rest, length));
        rest.remove_prefix(length);
    }
    ForEachTrigram(characters, visit);
    characters.clear();
    AppendFoldedTextCharacters(FoldName(name), false, characters);
    ForEachTrigram(characters, visit);
}

// --- Literal runs of a regular expression -------------------------------------------------------

// ASCII characters that match, letter case ignored, only themselves and their other case. 'i',
// 'k' and 's' are left out: Unicode gives them more twins than the code page knows.
bool IsPlainLiteral(char c)
{
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))
        return std::string_view("iIkKsS").find(c) == std::string_view::npos;
    return (c >= '0' && c <= '9') ||
           std::string_view("-_ ,=!@%&~:;\"'<>`/").find(c) != std::string_view::npos;
}

char AsciiLower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// The end of the bracket expression that starts at open, or npos.
size_t ClassEnd(std::string_view p, size_t open)
{
    size_t at = open + 1;
    if (at < p.size() && p[at] == '^')
        ++at;
    if (at < p.size() && p[at] == ']')
        ++at;
    while (at < p.size()) {
        if (p[at] == '\\') {
            at += 2;
        } else if (p.substr(at, 2) == "[:") {
            const size_t close = p.find(":]", at + 2);
            if (close == std::string_view::npos)
                return std::string_view::npos;
            at = close + 2;
        } else if (p[at] == ']') {
            return at;
        } else {
            ++at;
        }
    }
    return std::string_view::npos;
}

// The end of the group that starts at open, or npos.
size_t GroupEnd(std::string_view p, size_t open)
{
    int depth = 0;
    for (size_t at = open; at < p.size();) {
        switch (p[at]) {
        case '\\':
            if (p.substr(at, 2) == "\\Q") {
                const size_t quoteEnd = p.find("\\E", at + 2);
                if (quoteEnd == std::string_view::npos)
                    return std::string_view::npos;
                at = quoteEnd + 2;
            } else {
                at += 2;
            }
            continue;
        case '[':
            at = ClassEnd(p, at);
            if (at == std::string_view::npos)
                return at;
            break;
        case '(':
            ++depth;
            break;
        case ')':
            if (--depth == 0)
                return at;
            break;
        default:
            break;
        }
        ++at;
    }
    return std::string_view::npos;
}

// Whether the text from at is a counted repetition ("{2}", "{2,}", "{2,5}", "{,5}"); its end.
size_t RepetitionEnd(std::string_view p, size_t at)
{
    const size_t close = p.find('}', at);
    if (close == std::string_view::npos)
        return std::string_view::npos;
    const std::string_view inside = p.substr(at + 1, close - at - 1);
    const size_t comma = inside.find(',');
    if (inside.empty() || inside.find_first_not_of("0123456789,") != std::string_view::npos ||
        (comma != std::string_view::npos && inside.find(',', comma + 1) != std::string_view::npos))
        return std::string_view::npos;
    return close;
}

// Runs of plain characters that every match of the expression holds, lowered; false when the
// expression is beyond this reading (an alternative at its top, options, verbs), so that
// nothing can be required of a name.
bool RequiredRuns(std::string_view p, std::vector<std::string>& runs)
{
    std::string run;
    const auto flush = [&] {
        if (run.size() >= 3)
            runs.push_back(run);
        run.clear();
    };
    for (size_t at = 0; at < p.size();) {
        // cppcheck-suppress containerOutOfBounds
        const char c = p[at];
        switch (c) {
        case '\\': {
            if (at + 1 >= p.size())
                return false;
            const char next = p[at + 1];
            if ((next >= '0' && next <= '9') || (next >= 'a' && next <= 'z') ||
                (next >= 'A' && next <= 'Z')) {
                if (std::string_view("bBdDwWsShHvV").find(next) == std::string_view::npos)
                    return false; // a reference, a code, a property, a quotation...
                flush();
            } else if (static_cast<unsigned char>(next) < 0x80 && IsPlainLiteral(next)) {
                run += next;
            } else if (next == '.' || next == '(' || next == ')' || next == '[' || next == ']' ||
                       next == '{' || next == '}' || next == '*' || next == '+' || next == '?' ||
                       next == '|' || next == '^' || next == '$' || next == '\\' || next == '#') {
                run += next; // an escaped sign stands for itself, and has no other case
            } else {
                flush();
            }
            at += 2;
            continue;
        }
        case '[': {
            flush();
            const size_t end = ClassEnd(p, at);
            if (end == std::string_view::npos)
                return false;
            at = end + 1;
            continue;
        }
        case '(': {
            flush();
            if (at + 1 < p.size() && p[at + 1] == '*')
                return false;
            if (at + 1 < p.size() && p[at + 1] == '?') {
                const char kind = at + 2 < p.size() ? p[at + 2] : '\0';
                const bool plain = std::string_view(":=!|>'P").find(kind) != std::string_view::npos;
                const bool before = kind == '<';
                if (!(plain || before) || kind == '\0')
                    return false; // option settings, comments, recursion
            }
            const size_t end = GroupEnd(p, at);
            if (end == std::string_view::npos)
                return false;
            at = end + 1;
            continue;
        }
        case ')':
        case '|':
            return false;
        case '*':
        case '?':
            if (!run.empty())
                run.pop_back(); // the character before may be missing
            flush();
            ++at;
            continue;
        case '{': {
            if (!run.empty())
                run.pop_back();
            flush();
            const size_t end = RepetitionEnd(p, at);
            at = end == std::string_view::npos ? at + 1 : end + 1;
            continue;
        }
        case '+':
        case '.':
        case '^':
        case '$':
            flush();
            ++at;
            continue;
        default:
            if (static_cast<unsigned char>(c) < 0x80 && IsPlainLiteral(c))
                run += AsciiLower(c);
            else
                flush();
            ++at;
            continue;
        }
    }
    flush();
    return true;
}

// --- Record lines -------------------------------------------------------------------------------

// Each byte's value as an upper-case hexadecimal digit, 0xFF for the others.
constexpr std::array<uint8_t, 256> kUpperHex = [] {
    std::array<uint8_t, 256> digits{};
    digits.fill(0xFF);
    for (int c = 0; c < 10; ++c)
        digits['0' + c] = static_cast<uint8_t>(c);
    for (int c = 0; c < 6; ++c)
        digits['A' + c] = static_cast<uint8_t>(10 + c);
    return digits;
}();

bool ReadHex8(const char* at, uint32_t& value)
{
    uint32_t result = 0;
    uint8_t bad = 0;
    for (int i = 0; i < 8; ++i) {
        const uint8_t digit = kUpperHex[static_cast<unsigned char>(at[i])];
        bad |= digit;
        result = (result << 4) | (digit & 0xFU);
    }
    value = result;
    return (bad & 0xF0) == 0;
}

// The time and size of the record line at offset, which ParseLine found to be one without
// reading them.
bool ReadLineFields(std::string_view text, uint64_t offset, TNameIndex::TItem& item)
{
    const char* line = text.data() + offset;
    uint32_t high = 0;
    uint32_t low = 0;
    uint32_t size = 0;
    if (!ReadHex8(line + 2, high) || !ReadHex8(line + 11, low) || !ReadHex8(line + 20, size))
        return false;
    item.Time = (uint64_t{high} << 32) | low;
    item.Size = size;
    return true;
}

// The record line at offset as Fendrel writes it, read strictly: any other form is no record
// line here (the index then keeps what the reader made of it as an override). Without fields,
// the time and size are left unread (a search that asks only for names reads them only for its
// hits).
bool ParseLine(std::string_view text, uint64_t offset, TNameIndex::TItem& item, bool fields = true)
{
    if (offset >= text.size() || text.size() - offset < kFieldsSize + 2)
        return false;
    const char* line = text.data() + offset;
    switch (line[0]) {
    case 'E':
        item.Flags = nfFile;
        break;
    case 'F':
        item.Flags = nfFolder;
        break;
    case 'D':
        item.Flags = nfDisc;
        break;
    default:
        return false;
    }
    if (line[1] != ' ' || line[10] != ' ' || line[19] != ' ' || line[28] != ' ')
        return false;
    if (fields && !ReadLineFields(text, offset, item))
        return false;
    const size_t nameStart = offset + kFieldsSize;
    const size_t reach = std::min(text.size() - nameStart, kLongestLine);
    for (size_t from = 0;;) {
        const void* cr = std::memchr(text.data() + nameStart + from, '\r', reach - from);
        if (!cr)
            return false;
        const auto at = static_cast<size_t>(static_cast<const char*>(cr) - text.data());
        if (at + 1 < text.size() && text[at + 1] == '\n') {
            item.Name = text.substr(nameStart, at - nameStart);
            return true;
        }
        from = at + 1 - nameStart;
    }
}

// Notes where each record line starts, in the order of the file as the reader goes through it, in
// the Line of one entry after the other, for at most room entries; how many it noted.
size_t NoteRecordLines(std::string_view text, TEntryRecord* entries, size_t room)
{
    if (!text.starts_with(kHeaderLine.substr(0, kHeaderLine.size() - 2)))
        return 0;
    size_t noted = 0;
    for (size_t position = kHeaderLine.size(); position < text.size() && noted < room;) {
        size_t end = position;
        for (;;) {
            const void* cr = std::memchr(text.data() + end, '\r', text.size() - end);
            if (!cr)
                return noted;
            end = static_cast<size_t>(static_cast<const char*>(cr) - text.data());
            if (end + 1 < text.size() && text[end + 1] == '\n')
                break;
            ++end;
        }
        if (text[position] != '<')
            entries[noted++].Line = static_cast<uint32_t>(position);
        position = end + 2;
    }
    return noted;
}

// --- Writing ------------------------------------------------------------------------------------

// The length of a difference as LEB128.
size_t VarintLength(uint32_t value)
{
    size_t length = 1;
    for (; value >= 0x80; value >>= 7)
        ++length;
    return length;
}

uint8_t* PutVarint(uint8_t* out, uint32_t value)
{
    for (; value >= 0x80; value >>= 7)
        *out++ = static_cast<uint8_t>(value | 0x80);
    *out++ = static_cast<uint8_t>(value);
    return out;
}

// The difference that begins a list of blocks, and its length.
uint32_t FirstVarint(const uint8_t* bytes, size_t& length)
{
    uint32_t value = 0;
    length = 0;
    for (unsigned shift = 0;; shift += 7) {
        value |= uint32_t{bytes[length] & 0x7FU} << shift;
        if (bytes[length++] < 0x80)
            return value;
    }
}

// For each trigram, the blocks that hold it, as LEB128 differences. The pairs of trigram and
// block are gathered for a batch of blocks and sorted by trigram; each trigram's blocks in the
// batch then go, as a run, to the end of the batch's runs, which are written one after the other
// in the order of their trigrams. Every write is to the next byte, and the lists are read back
// the same way, trigram after trigram, one reader on each batch's runs: added to each trigram's
// own list instead, nearly every run would wait for that list's end to come from memory. One
// builder takes the blocks of one part of the entries.
class TPostingsBuilder {
    // Runs of one batch written into one pool; a batch's runs may take several.
    struct TSegment {
        const uint8_t* Data;
        size_t Size;
    };
    struct TBatch {
        size_t FirstSegment;
        size_t EndSegment;
    };

public:
    TPostingsBuilder()
        : Keys_(kKeyCount)
    {
    }

    // Sizes the batches for the number of blocks the builder is to take.
    void Start(uint64_t blocks)
    {
        BatchBits_ = kMostBatchBits;
        while (BatchBits_ > kFewestBatchBits &&
               (uint64_t{1} << BatchBits_) * kBatchesAtLeast > blocks)
            --BatchBits_;
        // Room for 32 trigrams a name at first, shared out evenly; each batch then shares it out
        // as the batch before used it.
        Pairs_.resize(size_t{BatchBlocks()} << kBlockShift << 5);
        for (uint32_t top = 0; top < kDigits; ++top)
            Room_[top] = static_cast<uint32_t>(Pairs_.size() / kDigits);
        StartBatch(0);
    }

    // Blocks come in ascending order. A pair goes straight to its place among the pairs of keys
    // with the same top digit.
    void Add(uint32_t key, uint32_t block)
    {
        if (block >= BatchStart_ + BatchBlocks())
            Flush(block);
        const uint32_t top = key >> kDigitBits;
        if (Fill_[top] == End_[top])
            Flush(block, true); // the batch ends early, at a place full
        *Fill_[top]++ = ((key & (kDigits - 1)) << BatchBits_) | (block - BatchStart_);
    }
    // Ends the last batch and gives the batches' memory back: the system hands the same pages
    // out again at once (for the index file's, say), where fresh ones may cost more.
    void Finish()
    {
        Flush(0);
        TLargeVector<uint32_t>().swap(Pairs_);
        TLargeVector<uint32_t>().swap(Digit_);
    }

    [[nodiscard]] uint32_t Blocks(uint32_t key) const { return Keys_[key].Count; }
    [[nodiscard]] uint32_t Bytes(uint32_t key) const { return Keys_[key].Bytes; }
    // The first block of the key's list and the one after its last, plus one; 0 for an empty
    // list.
    [[nodiscard]] uint32_t FirstPlusOne(uint32_t key) const { return Keys_[key].FirstPlusOne; }
    [[nodiscard]] uint32_t LastPlusOne(uint32_t key) const { return Keys_[key].LastPlusOne; }

    // Reads the lists back, key after key in ascending order.
    class TReader {
    public:
        explicit TReader(const TPostingsBuilder& builder)
        {
            for (const TBatch& batch : builder.Batches_) {
                TCursor cursor;
                cursor.At = builder.Segments_.data() + batch.FirstSegment;
                cursor.End = builder.Segments_.data() + batch.EndSegment;
                Cursors_.push_back(cursor);
                Next(Cursors_.back());
            }
        }
        // Calls take(bytes, size) with each run of the key, in order. key is above the last.
        template <typename TTake> void Walk(uint32_t key, TTake&& take)
        {
            for (TCursor& cursor : Cursors_) {
                if (cursor.Key != key)
                    continue;
                take(cursor.Run, size_t{cursor.Size});
                cursor.Position += cursor.Size;
                Next(cursor);
            }
        }

    private:
        struct TCursor {
            const TSegment* At = nullptr;
            const TSegment* End = nullptr;
            size_t Position = 0;
            uint32_t Key = 0;
            uint32_t Size = 0;
            const uint8_t* Run = nullptr;
        };
        // Moves to the cursor's next run; past its last, its key is kKeyCount.
        static void Next(TCursor& cursor)
        {
            while (cursor.At != cursor.End && cursor.Position == cursor.At->Size) {
                ++cursor.At;
                cursor.Position = 0;
            }
            if (cursor.At == cursor.End) {
                cursor.Key = kKeyCount;
                return;
            }
            const uint8_t* at = cursor.At->Data + cursor.Position;
            size_t length = 0;
            cursor.Key += FirstVarint(at, length);
            cursor.Size = uint32_t{at[length]} | (uint32_t{at[length + 1]} << 8);
            cursor.Run = at + length + 2;
            cursor.Position += length + 2;
        }
        std::vector<TCursor> Cursors_;
    };

private:
    // A batch is 2^BatchBits_ blocks. A large one makes fewer, longer runs; a small one keeps
    // the pairs in the processor's cache while they are sorted, and needs less fresh memory.
    static constexpr unsigned kMostBatchBits = 11;
    static constexpr unsigned kFewestBatchBits = 8;
    static constexpr uint64_t kBatchesAtLeast = 32;
    [[nodiscard]] uint32_t BatchBlocks() const { return uint32_t{1} << BatchBits_; }
    static constexpr unsigned kDigitBits = 9; // two digits make a key
    static constexpr uint32_t kDigits = 1U << kDigitBits;
    static_assert(2 * kDigitBits == 3 * kClassBits);
    static_assert((size_t{2} << kMostBatchBits) + 5 <= UINT16_MAX, "a run's length fits two bytes");

    struct TKey {
        uint32_t FirstPlusOne = 0;
        uint32_t LastPlusOne = 0;
        uint32_t Count = 0;
        uint32_t Bytes = 0;
    };

    // Room for at least size more bytes at Out_, in the current segment or a new one.
    void MakeRoom(size_t size)
    {
        if (Out_ && static_cast<size_t>(PoolEnd_ - Out_) >= size)
            return;
        EndSegment();
        const size_t poolSize = std::max(kPoolBytes, size);
        Pools_.push_back(AllocateLarge(poolSize));
        if (!Pools_.back())
            throw std::bad_alloc();
        Out_ = static_cast<uint8_t*>(Pools_.back().get());
        PoolEnd_ = Out_ + poolSize;
        SegmentStart_ = Out_;
    }
    void EndSegment()
    {
        if (Out_ && Out_ != SegmentStart_)
            Segments_.push_back({SegmentStart_, static_cast<size_t>(Out_ - SegmentStart_)});
        SegmentStart_ = Out_;
    }

    // Shares the pairs' room out among the top digits for a batch from block on.
    void StartBatch(uint32_t block)
    {
        size_t needed = 0;
        for (uint32_t top = 0; top < kDigits; ++top)
            needed += Room_[top];
        if (needed > Pairs_.size())
            Pairs_.resize(needed);
        uint32_t* at = Pairs_.data();
        for (uint32_t top = 0; top < kDigits; ++top) {
            Begin_[top] = Fill_[top] = at;
            at += Room_[top];
            End_[top] = at;
        }
        BatchStart_ = block & ~(BatchBlocks() - 1);
    }

    // Sorts each top digit's pairs by the other digit, keeping the order of blocks within a key,
    // in the cache, and sends each key's blocks out as a run. The next batch starts at the batch
    // of block; when this one ended early, with room for twice as many pairs of each top digit.
    void Flush(uint32_t block, bool early = false)
    {
        const size_t firstSegment = Segments_.size();
        uint32_t previousKey = 0;
        for (uint32_t top = 0; top < kDigits; ++top) {
            const uint32_t* const from = Begin_[top];
            const auto count = static_cast<size_t>(Fill_[top] - Begin_[top]);
            Room_[top] = static_cast<uint32_t>(early ? 2 * count + kLeastRoom
                                                     : count + count / 4 + kLeastRoom);
            if (count == 0)
                continue;
            Digit_.resize(count);
            std::array<uint32_t, kDigits + 1> low{};
            for (size_t i = 0; i < count; ++i)
                ++low[(from[i] >> BatchBits_) + 1];
            for (size_t i = 1; i < low.size(); ++i)
                low[i] += low[i - 1];
            for (size_t i = 0; i < count; ++i)
                Digit_[low[from[i] >> BatchBits_]++] = from[i];
            // A run: the difference from the batch's key before, two bytes of length, the
            // differences of its blocks; never longer than a block a byte and the first's five.
            for (size_t i = 0; i < count;) {
                const uint32_t lowDigit = Digit_[i] >> BatchBits_;
                const uint32_t key = (top << kDigitBits) | lowDigit;
                size_t end = i + 1;
                while (end < count && (Digit_[end] >> BatchBits_) == lowDigit)
                    ++end;
                MakeRoom(5 + 2 + 5 + 2 * (end - i));
                TKey& k = Keys_[key];
                uint8_t* const head = PutVarint(Out_, key - previousKey);
                uint8_t* out = head + 2;
                uint32_t last = k.LastPlusOne;
                for (; i < end; ++i) {
                    const uint32_t plusOne = BatchStart_ + (Digit_[i] & (BatchBlocks() - 1)) + 1;
                    if (plusOne == last)
                        continue;
                    if (k.Count == 0)
                        k.FirstPlusOne = plusOne;
                    out = PutVarint(out, plusOne - last);
                    last = plusOne;
                    ++k.Count;
                }
                const auto size = static_cast<uint32_t>(out - (head + 2));
                if (size == 0)
                    continue; // a block already in the list, from a batch that ended early
                head[0] = static_cast<uint8_t>(size);
                head[1] = static_cast<uint8_t>(size >> 8);
                k.LastPlusOne = last;
                k.Bytes += size;
                Out_ = out;
                previousKey = key;
            }
        }
        EndSegment();
        if (Segments_.size() > firstSegment)
            Batches_.push_back({firstSegment, Segments_.size()});
        StartBatch(block);
    }

    static constexpr size_t kPoolBytes = size_t{16} << 20;
    TLargeVector<TKey> Keys_;
    std::vector<TLargeBlock> Pools_;
    std::vector<TSegment> Segments_;
    std::vector<TBatch> Batches_;
    uint8_t* Out_ = nullptr;
    uint8_t* PoolEnd_ = nullptr;
    uint8_t* SegmentStart_ = nullptr;
    // The pairs of a batch, by top digit: the low digit of the key and the block in the batch.
    TLargeVector<uint32_t> Pairs_;
    std::array<uint32_t*, kDigits> Begin_{};
    std::array<uint32_t*, kDigits> Fill_{};
    std::array<uint32_t*, kDigits> End_{};
    std::array<uint32_t, kDigits> Room_{};
    static constexpr uint32_t kLeastRoom = 64;
    TLargeVector<uint32_t> Digit_;
    uint32_t BatchStart_ = 0;
    unsigned BatchBits_ = kMostBatchBits;
};

// The lists of the builders of consecutive parts of the entries joined into one for each
// trigram, in the order of their keys, as the index holds them. A part's list begins with the
// difference from no block at all; joined, it begins with the difference from the last block of
// the parts before, and may be shorter by a byte or two.
class TJoinedPostings {
public:
    explicit TJoinedPostings(const std::vector<const TPostingsBuilder*>& parts)
        : Parts_(parts)
    {
        for (uint32_t key = 0; key < kKeyCount; ++key) {
            uint32_t blocks = 0;
            uint64_t bytes = 0;
            uint32_t lastPlusOne = 0;
            for (const TPostingsBuilder* part : parts) {
                if (part->Blocks(key) == 0)
                    continue;
                bytes += part->Bytes(key);
                if (lastPlusOne != 0) {
                    const uint32_t plusOne = part->FirstPlusOne(key);
                    bytes = bytes - VarintLength(plusOne) + VarintLength(plusOne - lastPlusOne);
                }
                blocks += part->Blocks(key);
                lastPlusOne = part->LastPlusOne(key);
            }
            if (blocks > 0) {
                Trigrams_.push_back({key, blocks, Size_});
                Size_ += bytes;
            }
        }
    }

    [[nodiscard]] const TLargeVector<TTrigramRecord>& Trigrams() const { return Trigrams_; }
    [[nodiscard]] uint64_t Size() const { return Size_; }

    // Passes the joined lists on to write(bytes, size): short ones gathered into larger pieces.
    template <typename TWrite> void Write(TWrite&& write) const
    {
        constexpr size_t kPiece = size_t{64} << 10;
        std::vector<uint8_t> piece(kPiece);
        size_t used = 0;
        const auto add = [&](const uint8_t* bytes, size_t size) {
            if (used + size > kPiece) {
                write(piece.data(), used);
                used = 0;
            }
            if (size > kPiece) {
                write(bytes, size); // a long list goes as it is
                return;
            }
            std::memcpy(piece.data() + used, bytes, size);
            used += size;
        };
        std::vector<TPostingsBuilder::TReader> readers;
        std::transform(
            Parts_.begin(), Parts_.end(), std::back_inserter(readers),
            [](const TPostingsBuilder* part) { return TPostingsBuilder::TReader(*part); });
        for (const TTrigramRecord& trigram : Trigrams_) {
            uint32_t lastPlusOne = 0;
            for (size_t p = 0; p < Parts_.size(); ++p) {
                if (Parts_[p]->Blocks(trigram.Key) == 0)
                    continue;
                bool first = lastPlusOne != 0;
                readers[p].Walk(trigram.Key, [&](const uint8_t* bytes, size_t size) {
                    if (first) {
                        first = false;
                        size_t length = 0;
                        const uint32_t difference = FirstVarint(bytes, length) - lastPlusOne;
                        std::array<uint8_t, 5> encoded{};
                        add(encoded.data(),
                            static_cast<size_t>(PutVarint(encoded.data(), difference) -
                                                encoded.data()));
                        bytes += length;
                        size -= length;
                    }
                    add(bytes, size);
                });
                lastPlusOne = Parts_[p]->LastPlusOne(trigram.Key);
            }
        }
        write(piece.data(), used);
    }

private:
    std::vector<const TPostingsBuilder*> Parts_;
    TLargeVector<TTrigramRecord> Trigrams_;
    uint64_t Size_ = 0;
};

// Passes bytes on to the sink in large pieces, summing every chunk of them as it goes.
class TSummingWriter {
public:
    explicit TSummingWriter(const TIndexSink& sink)
        : Sink_(sink)
    {
        Buffer_.reserve(kBufferSize);
        XXH3_64bits_reset(&State_);
    }

    void Write(const void* data, size_t size)
    {
        const auto* bytes = static_cast<const char*>(data);
        while (size > 0) {
            const size_t room = (size_t{1} << kChunkShift) - InChunk_;
            const size_t piece = std::min(room, size);
            XXH3_64bits_update(&State_, bytes, piece);
            InChunk_ += piece;
            if (InChunk_ == (size_t{1} << kChunkShift))
                EndChunk();
            Append(bytes, piece);
            bytes += piece;
            size -= piece;
            Offset_ += piece;
        }
    }
    template <typename TItems> void WriteAll(const TItems& items)
    {
        Write(items.data(), items.size() * sizeof(items[0]));
    }
    void Align()
    {
        static constexpr char zeros[8] = {};
        Write(zeros, (8 - Offset_ % 8) % 8);
    }
    // Ends the summed part; what is written after it is not summed.
    std::vector<uint64_t> Sums()
    {
        if (InChunk_ > 0)
            EndChunk();
        return std::move(Sums_);
    }
    void WriteUnsummed(const void* data, size_t size)
    {
        Append(static_cast<const char*>(data), size);
        Offset_ += size;
    }
    [[nodiscard]] bool Finish()
    {
        if (!Buffer_.empty() && Good_)
            Good_ = Sink_(Buffer_);
        Buffer_.clear();
        return Good_;
    }
    [[nodiscard]] uint64_t Offset() const { return Offset_; }

private:
    static constexpr size_t kBufferSize = size_t{1} << 20;

    void EndChunk()
    {
        Sums_.push_back(XXH3_64bits_digest(&State_));
        XXH3_64bits_reset(&State_);
        InChunk_ = 0;
    }
    void Append(const char* bytes, size_t size)
    {
        Buffer_.append(bytes, size);
        if (Buffer_.size() >= kBufferSize) {
            if (Good_)
                Good_ = Sink_(Buffer_);
            Buffer_.clear();
        }
    }

    const TIndexSink& Sink_;
    std::string Buffer_;
    XXH3_state_t State_{};
    size_t InChunk_ = 0;
    std::vector<uint64_t> Sums_;
    uint64_t Offset_ = 0;
    bool Good_ = true;
};

// The files, folders and discs reachable from a collection's discs in depth-first pre-order, the
// order in which the search's snapshot numbers them: each one's node and the entry of its parent.
// A parent that is a file, which only a hand-made file can give, is marked: no size is added
// into a file.
constexpr uint32_t kParentIsFile = 0x80000000U;
class TEntryOrder {
public:
    explicit TEntryOrder(const TFendrel& collection)
        : Collection_(collection)
    {
        if (!Walk(true)) {
            InIdOrder_ = false;
            Walk(false);
        }
    }

    [[nodiscard]] size_t size() const { return Count_; }
    // False when the collection has more entries than an index can number.
    [[nodiscard]] bool Fits() const { return Fits_; }
    [[nodiscard]] const TCollectionNode& Node(size_t entry) const
    {
        return InIdOrder_ ? Collection_.GetNode(static_cast<uint32_t>(entry) + 1) : *Nodes_[entry];
    }
    // Asks the processor for the node of an entry to come.
    void Prefetch(size_t entry) const
    {
        __builtin_prefetch(InIdOrder_ ? Collection_.Nodes.Find(static_cast<uint32_t>(entry) + 1)
                                      : Nodes_[entry]);
    }
    // kNoParentField for a disc; kParentIsFile set for a file.
    [[nodiscard]] uint32_t Parent(size_t entry, const TCollectionNode& node) const
    {
        if (!InIdOrder_)
            return Parents_[entry];
        if (node.ParentId == 0)
            return kNoParentField;
        return Collection_.Nodes.Find(node.ParentId)->Is(nfFile)
                   ? (node.ParentId - 1) | kParentIsFile
                   : node.ParentId - 1;
    }

private:
    // With inIdOrder, only checks that entry k is node k + 1 and that each node's ParentId names
    // the node whose list holds it, as in a collection just read from its file: then nothing
    // need be kept. Otherwise notes every node and parent.
    bool Walk(bool inIdOrder)
    {
        Count_ = 0;
        if (!inIdOrder) {
            Nodes_.reserve(Collection_.LastId); // every node ever added: enough for those reachable
            Parents_.reserve(Collection_.LastId);
        }
        const auto visit = [&](const TCollectionNode& node, uint32_t parentMark, uint32_t& mark) {
            if (Count_ >= kNoParentField) {
                Fits_ = false;
                return false;
            }
            const auto entry = static_cast<uint32_t>(Count_++);
            const uint32_t parent = parentMark & ~kParentIsFile;
            if (inIdOrder) {
                if (node.Id != entry + 1 ||
                    node.ParentId != (parent == kNoParentField ? 0 : parent + 1))
                    return false;
            } else {
                Nodes_.push_back(&node);
                Parents_.push_back(parentMark);
            }
            mark = node.Is(nfFile) ? entry | kParentIsFile : entry;
            return true;
        };
        return WalkInPreOrder(Collection_, kNoParentField, visit) || !Fits_;
    }

    const TFendrel& Collection_;
    bool InIdOrder_ = true;
    bool Fits_ = true;
    size_t Count_ = 0;
    TLargeVector<const TCollectionNode*> Nodes_;
    TLargeVector<uint32_t> Parents_;
};

// A node with nodes below it whose entry a part has made, and whose last entry below it is still
// to come. Its total is the size of every file at any depth below it, as the list shows a
// folder's size: a file's own size goes into its folder, a folder's total into its own.
struct TOpenNode {
    uint32_t Entry = 0;
    uint32_t Parent = kNoParentField; // kParentIsFile set when it is a file
    size_t Override = 0;              // in its part's Overrides, when it is no file
    uint64_t Total = 0;
    bool IsFile = false;
    bool IsFolder = false;
};

// The index's records of the entries [First, End), as one thread makes them.
struct TIndexPart {
    size_t First = 0;
    size_t End = 0;
    // Every folder and disc has one, with its total as its size. Their names' starts are into
    // this part's Names.
    TLargeVector<TOverrideRecord> Overrides;
    TLargeString Names;
    // The nodes above the entry last made, the nearest last.
    std::vector<TOpenNode> Open;
    // What goes into the totals of nodes before First, which another part makes.
    std::vector<std::pair<uint32_t, uint64_t>> EarlierTotals;
    TPostingsBuilder Postings;
    bool Good = true;

    // Adds size into the total of the entry parent (a node above the entry last made).
    void AddToTotal(uint32_t parent, uint64_t size)
    {
        if (parent == kNoParentField || (parent & kParentIsFile) || size == 0)
            return;
        if (!Open.empty() && Open.back().Entry == parent)
            Open.back().Total += size;
        else if (parent < First)
            EarlierTotals.emplace_back(parent, size);
    }
    // Closes the nearest open node: its total is known.
    void Close()
    {
        const TOpenNode node = Open.back();
        Open.pop_back();
        if (!node.IsFile)
            Overrides[node.Override].Size = node.Total;
        if (node.IsFolder)
            AddToTotal(node.Parent, node.Total);
    }
};

void MakeIndexPart(std::string_view text, size_t lineCount, const TEntryOrder& order,
                   const TLargeArray<TEntryRecord>& entries, TIndexPart& part)
{
    part.Postings.Start((part.End - part.First + kEntriesPerBlock - 1) >> kBlockShift);
    for (size_t i = part.First; i < part.End; ++i) {
        const TCollectionNode& node = order.Node(i);
        constexpr size_t kNodesAhead = 8;
        if (i + kNodesAhead < part.End)
            order.Prefetch(i + kNodesAhead);
        const std::string_view name = node.Name.view();
        const uint32_t flags = node.Flags & 0xFF;
        const uint64_t time = (uint64_t{node.WriteTimeHigh} << 32) | node.WriteTimeLow;
        const uint32_t parent = order.Parent(i, node);
        TNameIndex::TItem parsed;
        TEntryRecord& record = entries[i];
        const bool lineRead = i < lineCount && ParseLine(text, record.Line, parsed);
        const bool sameName = lineRead && parsed.Name == name;
        if (!lineRead)
            record.Line = 0;
        record.Parent = parent & ~kParentIsFile;
        const bool isFile = (flags & nfFile) != 0;
        // Every node open but the parent and the nodes above it has had its last entry.
        const uint32_t parentEntry = parent & ~kParentIsFile;
        while (!part.Open.empty() && part.Open.back().Entry != parentEntry)
            part.Close();
        if (isFile)
            part.AddToTotal(parent, node.FullSize());
        if (!isFile || !sameName || parsed.Flags != flags || parsed.Time != time ||
            parsed.Size != node.FullSize()) {
            if (!sameName && part.Names.size() + name.size() > UINT32_MAX) {
                part.Good = false;
                return;
            }
            record.Parent |= kOverrideBit;
            part.Overrides.push_back(
                {static_cast<uint32_t>(i), flags, isFile ? node.FullSize() : 0, time,
                 sameName ? 0 : static_cast<uint32_t>(part.Names.size()),
                 sameName ? kNameFromLine : static_cast<uint32_t>(name.size())});
            if (!sameName)
                part.Names.append(name);
        }
        if (!node.Children.empty())
            part.Open.push_back({static_cast<uint32_t>(i), parent, part.Overrides.size() - 1, 0,
                                 isFile, !isFile && (flags & nfFolder) != 0});
        const auto block = static_cast<uint32_t>(i >> kBlockShift);
        ForEachNameTrigram(name, [&](uint32_t key) { part.Postings.Add(key, block); });
    }
    part.Postings.Finish();
}

// Closes the nodes still open at the end of each part, the last part first: what a later part
// adds into a node of an earlier one goes into it before it is closed. The names of the
// overrides of each part then start after those of the parts before; false when they would not
// fit the index.
bool CloseParts(std::vector<std::unique_ptr<TIndexPart>>& parts)
{
    for (size_t p = parts.size(); p-- > 0;) {
        TIndexPart& part = *parts[p];
        if (p + 1 < parts.size()) {
            for (const auto& [entry, size] : parts[p + 1]->EarlierTotals) {
                const auto open = std::find_if(
                    part.Open.begin(), part.Open.end(),
                    [entry = entry](const TOpenNode& node) { return node.Entry == entry; });
                if (open != part.Open.end())
                    open->Total += size;
            }
        }
        while (!part.Open.empty())
            part.Close();
    }
    uint64_t namesBefore = 0;
    for (const std::unique_ptr<TIndexPart>& part : parts) {
        if (namesBefore + part->Names.size() > UINT32_MAX)
            return false;
        if (namesBefore > 0)
            for (TOverrideRecord& record : part->Overrides)
                if (record.NameSize != kNameFromLine)
                    record.NameStart += static_cast<uint32_t>(namesBefore);
        namesBefore += part->Names.size();
    }
    return true;
}

} // namespace

bool WriteNameIndex(std::string_view collectionText, const TFendrel& collection,
                    const TCollectionIdentity& identity, std::string_view collectionPath,
                    const TIndexSink& sink, uint64_t entriesForTwoThreads,
                    const std::function<void()>& collectionRead)
{
    // The reader stops at the first zero byte, and so does everything here.
    const std::string_view text = collectionText.substr(0, collectionText.find('\0'));
    if (text.size() > UINT32_MAX)
        return false;
    // A large collection is shared with a second thread: the record lines are found while the
    // collection is walked, then each thread takes half the blocks of entries, and their parts
    // are joined into the index that one thread would have made.
    const bool mayShare =
        std::thread::hardware_concurrency() >= 2 &&
        collection.LastId >= std::max<uint64_t>(entriesForTwoThreads, 2 * kEntriesPerBlock);
    // Each entry's record line is noted in the entry itself, for as many entries as the
    // collection has nodes, or more when it turns out to have more entries.
    const size_t room = std::max<size_t>(collection.LastId, 1);
    std::optional<TLargeArray<TEntryRecord>> entries;
    size_t lineCount = 0;
    const auto noteLines = [&](size_t entryCount) {
        entries.emplace(entryCount);
        lineCount = NoteRecordLines(text, entries->data(), entryCount);
    };
    std::optional<TEntryOrder> order;
    if (mayShare) {
        SideBySide([&] { order.emplace(collection); }, [&] { noteLines(room); });
    } else {
        order.emplace(collection);
        noteLines(room);
    }
    if (!order->Fits())
        return false;
    const size_t count = order->size();
    if (count > room) // a node in two lists: a collection not read from a file
        noteLines(count);
    const bool twoThreads =
        mayShare && count >= entriesForTwoThreads && count >= 2 * kEntriesPerBlock;

    std::vector<std::unique_ptr<TIndexPart>> parts;
    parts.push_back(std::make_unique<TIndexPart>());
    parts[0]->End = count;
    if (twoThreads) {
        parts.push_back(std::make_unique<TIndexPart>());
        parts[1]->First = parts[0]->End = count / 2 / kEntriesPerBlock * kEntriesPerBlock;
        parts[1]->End = count;
        SideBySide([&] { MakeIndexPart(text, lineCount, *order, *entries, *parts[0]); },
                   [&] { MakeIndexPart(text, lineCount, *order, *entries, *parts[1]); });
    } else {
        MakeIndexPart(text, lineCount, *order, *entries, *parts[0]);
    }
    std::vector<const TPostingsBuilder*> builders;
    for (const std::unique_ptr<TIndexPart>& part : parts) {
        if (!part->Good)
            return false;
        builders.push_back(&part->Postings);
    }

    THeader header{};
    header.Magic = kMagic;
    header.Version = kVersion;
    header.ByteOrder = kByteOrder;
    header.BlockShift = kBlockShift;
    header.ChunkShift = kChunkShift;
    const std::array<uint64_t, 5> fields = IdentityFields(identity);
    std::copy(fields.begin(), fields.end(), header.Identity);
    header.EntryCount = count;

    TSummingWriter out(sink);
    const auto writeEntriesAndLists = [&] {
        header.PathOffset = out.Offset();
        header.PathSize = collectionPath.size();
        out.Write(collectionPath.data(), collectionPath.size());
        out.Align();
        header.EntriesOffset = out.Offset();
        out.Write(entries->data(), count * sizeof(TEntryRecord));
        entries.reset(); // its pages serve what is written next

        const TJoinedPostings postings(builders);
        header.TrigramsOffset = out.Offset();
        header.TrigramCount = postings.Trigrams().size();
        out.WriteAll(postings.Trigrams());
        header.PostingsOffset = out.Offset();
        header.PostingsSize = postings.Size();
        postings.Write([&](const uint8_t* bytes, size_t size) { out.Write(bytes, size); });
    };
    if (collectionRead && twoThreads) {
        SideBySide(writeEntriesAndLists, collectionRead);
    } else {
        if (collectionRead)
            collectionRead();
        writeEntriesAndLists();
    }
    const bool namesFit = CloseParts(parts);
    if (!namesFit)
        return false;
    out.Align();
    header.OverridesOffset = out.Offset();
    header.OverrideCount = 0;
    for (const std::unique_ptr<TIndexPart>& part : parts) {
        out.WriteAll(part->Overrides);
        header.OverrideCount += part->Overrides.size();
    }
    header.NamesOffset = out.Offset();
    header.NamesSize = 0;
    for (const std::unique_ptr<TIndexPart>& part : parts) {
        out.Write(part->Names.data(), part->Names.size());
        header.NamesSize += part->Names.size();
    }
    out.Align();

    header.SumsOffset = out.Offset();
    const std::vector<uint64_t> sums = out.Sums();
    header.SumsSum = XXH3_64bits(sums.data(), sums.size() * sizeof(uint64_t));
    out.WriteUnsummed(sums.data(), sums.size() * sizeof(uint64_t));
    header.HeaderSum = XXH3_64bits(&header, offsetof(THeader, HeaderSum));
    out.WriteUnsummed(&header, sizeof header);
    return out.Finish();
}

// --- Reading ------------------------------------------------------------------------------------

struct TNameIndex::TParts {
    using TItem = TNameIndex::TItem;
    std::string_view Bytes;
    std::string_view Text;
    THeader Header{};
    const uint64_t* Sums = nullptr;
    // Per chunk: 1 when its checksum was found right. Threads that read the index at once may
    // each check a chunk and mark it; the mark only ever goes from 0 to 1.
    std::unique_ptr<std::atomic<uint8_t>[]> Checked;

    [[noreturn]] static void Damaged() { throw ENameIndexDamaged("the name index is damaged"); }

    // Makes sure that [offset, offset + size) lies in the summed part and is as it was written.
    void Check(uint64_t offset, uint64_t size) const
    {
        if (offset > Header.SumsOffset || size > Header.SumsOffset - offset)
            Damaged();
        if (size == 0)
            return;
        for (uint64_t chunk = offset >> kChunkShift; chunk <= (offset + size - 1) >> kChunkShift;
             ++chunk) {
            if (Checked[chunk].load(std::memory_order_relaxed))
                continue;
            const uint64_t start = chunk << kChunkShift;
            const uint64_t length =
                std::min<uint64_t>(uint64_t{1} << kChunkShift, Header.SumsOffset - start);
            if (XXH3_64bits(Bytes.data() + start, length) != Sums[chunk])
                Damaged();
            Checked[chunk].store(1, std::memory_order_relaxed);
        }
    }
    template <typename T> T Read(uint64_t offset) const
    {
        Check(offset, sizeof(T));
        T value;
        std::memcpy(&value, Bytes.data() + offset, sizeof(T));
        return value;
    }
    [[nodiscard]] TEntryRecord Entry(uint32_t index) const
    {
        return Read<TEntryRecord>(Header.EntriesOffset + uint64_t{index} * sizeof(TEntryRecord));
    }
    // Asks the processor to bring the entry's record line into its cache. Only a hint: nothing
    // is read from an offset that is not checked.
    void PrefetchLine(uint32_t index) const
    {
        const uint64_t offset = Header.EntriesOffset + uint64_t{index} * sizeof(TEntryRecord);
        if (offset + sizeof(TEntryRecord) > Header.SumsOffset)
            return;
        TEntryRecord record;
        std::memcpy(&record, Bytes.data() + offset, sizeof record);
        // A record line is mostly longer than the rest of its first cache line.
        if (record.Line < Text.size())
            __builtin_prefetch(Text.data() + record.Line);
        if (record.Line + 64 < Text.size())
            __builtin_prefetch(Text.data() + record.Line + 64);
    }
    [[nodiscard]] TTrigramRecord Trigram(uint64_t index) const
    {
        return Read<TTrigramRecord>(Header.TrigramsOffset + index * sizeof(TTrigramRecord));
    }
    [[nodiscard]] TOverrideRecord Override(uint64_t index) const
    {
        return Read<TOverrideRecord>(Header.OverridesOffset + index * sizeof(TOverrideRecord));
    }
    [[nodiscard]] uint64_t BlockCount() const
    {
        return (Header.EntryCount + (uint64_t{1} << kBlockShift) - 1) >> kBlockShift;
    }
    // The blocks that hold the trigram, or nothing when no name holds it.
    [[nodiscard]] std::optional<TTrigramRecord> FindTrigram(uint32_t key) const
    {
        uint64_t low = 0;
        uint64_t high = Header.TrigramCount;
        while (low < high) {
            const uint64_t middle = low + (high - low) / 2;
            const TTrigramRecord record = Trigram(middle);
            if (record.Key == key)
                return record;
            if (record.Key < key)
                low = middle + 1;
            else
                high = middle;
        }
        return std::nullopt;
    }
    [[nodiscard]] std::vector<uint32_t> Blocks(const TTrigramRecord& record) const
    {
        const uint64_t end = PostingsEnd(record);
        if (record.Start > end || end > Header.PostingsSize)
            Damaged();
        Check(Header.PostingsOffset + record.Start, end - record.Start);
        const auto* at =
            reinterpret_cast<const uint8_t*>(Bytes.data() + Header.PostingsOffset + record.Start);
        const uint8_t* const stop = at + (end - record.Start);
        std::vector<uint32_t> blocks;
        blocks.reserve(record.Count);
        uint64_t plusOne = 0;
        while (at < stop) {
            uint64_t delta = 0;
            for (int shift = 0;; shift += 7) {
                if (at == stop || shift > 28)
                    Damaged();
                const uint8_t byte = *at++;
                delta |= uint64_t{byte & 0x7FU} << shift;
                if (!(byte & 0x80))
                    break;
            }
            plusOne += delta;
            if (delta == 0 || plusOne > BlockCount())
                Damaged();
            blocks.push_back(static_cast<uint32_t>(plusOne - 1));
        }
        if (blocks.size() != record.Count)
            Damaged();
        return blocks;
    }
    // Where the postings of the trigram end: at the start of the next one's.
    [[nodiscard]] uint64_t PostingsEnd(const TTrigramRecord& record) const
    {
        // The table is sorted by key, so the next one is found by the key after.
        uint64_t low = 0;
        uint64_t high = Header.TrigramCount;
        while (low < high) {
            const uint64_t middle = low + (high - low) / 2;
            if (Trigram(middle).Key <= record.Key)
                low = middle + 1;
            else
                high = middle;
        }
        return low < Header.TrigramCount ? Trigram(low).Start : Header.PostingsSize;
    }
    // The entry as its record, its override if it has one, and its record line tell it.
    [[nodiscard]] TItem ItemOf(uint32_t entry, const TEntryRecord& record,
                               const std::optional<TOverrideRecord>& kept) const
    {
        const TParts& parts = *this;
        TItem item;
        const uint32_t parent = record.Parent & ~kOverrideBit;
        if (parent != kNoParentField) {
            // A parent comes before its children: the way up always ends.
            if (parent >= entry)
                Damaged();
            item.Parent = parent;
        }
        if (!kept) {
            if (!ParseLine(parts.Text, record.Line, item))
                throw ENameIndexDamaged("the collection file does not fit its name index");
            return item;
        }
        if (kept->Entry != entry)
            Damaged();
        if (kept->NameSize == kNameFromLine) {
            TItem line;
            if (!ParseLine(parts.Text, record.Line, line))
                throw ENameIndexDamaged("the collection file does not fit its name index");
            item.Name = line.Name;
        } else {
            if (kept->NameStart > parts.Header.NamesSize ||
                kept->NameSize > parts.Header.NamesSize - kept->NameStart)
                Damaged();
            parts.Check(parts.Header.NamesOffset + kept->NameStart, kept->NameSize);
            item.Name =
                parts.Bytes.substr(parts.Header.NamesOffset + kept->NameStart, kept->NameSize);
        }
        item.Flags = kept->Flags;
        item.Size = kept->Size;
        item.Time = kept->Time;
        return item;
    }

    // The first override at or after from that is not before entry: found by strides that
    // double, then halving, so that the candidates of a search far apart cost no walk through
    // every override between them.
    [[nodiscard]] uint64_t FirstOverrideFrom(uint64_t from, uint32_t entry) const
    {
        const uint64_t count = Header.OverrideCount;
        uint64_t low = from;
        uint64_t stride = 1;
        while (low < count && Override(low).Entry < entry) {
            from = low + 1;
            low = std::min(count, low + stride);
            stride *= 2;
        }
        // Every override before from is before entry; the one at low (or the end) is not.
        uint64_t high = low;
        low = from;
        while (low < high) {
            const uint64_t middle = low + (high - low) / 2;
            if (Override(middle).Entry < entry)
                low = middle + 1;
            else
                high = middle;
        }
        return low;
    }
    [[nodiscard]] TOverrideRecord OverrideOf(uint32_t entry) const
    {
        uint64_t low = 0;
        uint64_t high = Header.OverrideCount;
        while (low < high) {
            const uint64_t middle = low + (high - low) / 2;
            const TOverrideRecord record = Override(middle);
            if (record.Entry == entry)
                return record;
            if (record.Entry < entry)
                low = middle + 1;
            else
                high = middle;
        }
        Damaged();
    }
};

std::unique_ptr<TNameIndex> TNameIndex::Open(std::string_view bytes,
                                             std::string_view collectionText,
                                             const TCollectionIdentity& identity,
                                             std::string_view collectionPath)
{
    auto parts = std::make_unique<TParts>();
    THeader& header = parts->Header;
    if (bytes.size() < sizeof header)
        return nullptr;
    std::memcpy(&header, bytes.data() + bytes.size() - sizeof header, sizeof header);
    if (header.Magic != kMagic || header.Version != kVersion || header.ByteOrder != kByteOrder ||
        header.BlockShift != kBlockShift || header.ChunkShift != kChunkShift ||
        header.HeaderSum != XXH3_64bits(&header, offsetof(THeader, HeaderSum)))
        return nullptr;
    const std::array<uint64_t, 5> fields = IdentityFields(identity);
    if (!std::equal(fields.begin(), fields.end(), header.Identity))
        return nullptr;
    const uint64_t chunks = (header.SumsOffset + (uint64_t{1} << kChunkShift) - 1) >> kChunkShift;
    if (header.SumsOffset % 8 != 0 ||
        header.SumsOffset + chunks * sizeof(uint64_t) + sizeof header != bytes.size())
        return nullptr;
    parts->Sums = reinterpret_cast<const uint64_t*>(bytes.data() + header.SumsOffset);
    if (XXH3_64bits(parts->Sums, chunks * sizeof(uint64_t)) != header.SumsSum)
        return nullptr;
    // Every section within the summed part, in its order.
    const auto within = [&](uint64_t offset, uint64_t count, uint64_t size) {
        return offset <= header.SumsOffset &&
               (size == 0 || count <= (header.SumsOffset - offset) / size);
    };
    if (header.EntryCount >= kNoParentField || !within(header.PathOffset, header.PathSize, 1) ||
        !within(header.EntriesOffset, header.EntryCount, sizeof(TEntryRecord)) ||
        !within(header.TrigramsOffset, header.TrigramCount, sizeof(TTrigramRecord)) ||
        !within(header.PostingsOffset, header.PostingsSize, 1) ||
        !within(header.OverridesOffset, header.OverrideCount, sizeof(TOverrideRecord)) ||
        !within(header.NamesOffset, header.NamesSize, 1) || header.EntriesOffset % 4 != 0)
        return nullptr;
    parts->Bytes = bytes;
    // Every record line the index points at ends before the first zero byte, if there is one,
    // as it did when the index was made.
    parts->Text = collectionText;
    parts->Checked = std::make_unique<std::atomic<uint8_t>[]>(chunks); // all 0
    try {
        parts->Check(header.PathOffset, header.PathSize);
    } catch (const ENameIndexDamaged&) {
        return nullptr;
    }
    if (bytes.substr(header.PathOffset, header.PathSize) != collectionPath)
        return nullptr; // an index of another file that happens to be in the same state
    return std::unique_ptr<TNameIndex>(new TNameIndex(std::move(parts)));
}

TNameIndex::TNameIndex(std::unique_ptr<TParts> parts)
    : Parts_(std::move(parts))
{
}

TNameIndex::~TNameIndex() = default;

size_t TNameIndex::size() const
{
    return Parts_->Header.EntryCount;
}

TNameIndex::TItem TNameIndex::Item(uint32_t entry) const
{
    const TParts& parts = *Parts_;
    if (entry >= parts.Header.EntryCount)
        TParts::Damaged();
    const TEntryRecord record = parts.Entry(entry);
    std::optional<TOverrideRecord> kept;
    if (record.Parent & kOverrideBit)
        kept = parts.OverrideOf(entry);
    return parts.ItemOf(entry, record, kept);
}

void TNameIndex::PrefetchRecord(uint32_t entry) const
{
    const TParts& parts = *Parts_;
    if (entry < parts.Header.EntryCount)
        __builtin_prefetch(parts.Bytes.data() + parts.Header.EntriesOffset +
                           uint64_t{entry} * sizeof(TEntryRecord));
}

void TNameIndex::PrefetchLine(uint32_t entry) const
{
    if (entry < Parts_->Header.EntryCount)
        Parts_->PrefetchLine(entry);
}

namespace {

// Entries from First up to Last, tested in order.
struct TEntryRun {
    uint64_t First = 0;
    uint64_t Last = 0;
};

} // namespace

// One bit per entry, all clear at first. The memory comes from calloc, which takes a large block
// fresh from the system, already zero: a search that marks a few entries of ten million touches
// a few pages, not all 1.4 MB of them.
class TEntryBits {
public:
    explicit TEntryBits(uint64_t count)
        : Words_(static_cast<uint64_t*>(std::calloc(count / 64 + 1, sizeof(uint64_t))))
    {
        if (!Words_)
            throw std::bad_alloc();
    }
    [[nodiscard]] bool Test(uint32_t i) const { return (Words_.get()[i / 64] >> (i % 64)) & 1U; }
    void Set(uint32_t i) { Words_.get()[i / 64] |= uint64_t{1} << (i % 64); }

private:
    struct TFree {
        void operator()(uint64_t* words) const { std::free(words); }
    };
    std::unique_ptr<uint64_t, TFree> Words_;
};

// Tests runs of entries against one query, in order, and keeps the hits.
class TNameIndex::TEntryTester {
public:
    TEntryTester(const TNameIndex& index, TFindQuery& query)
        : Index_(index)
        , Parts_(*index.Parts_)
        , Query_(query)
        , CheckedFolders_(Parts_.Header.EntryCount)
    {
        const TFindConditions& conditions = query.Conditions();
        NamesOnly_ = !conditions.SizeMin && !conditions.SizeMax && !conditions.TimeMin &&
                     !conditions.TimeMax;
    }

    // Writes the hits to out, which has room for every entry of the runs; returns their end.
    uint32_t* Run(std::span<const TEntryRun> runs, uint32_t* out, bool many = false)
    {
        if (many && !runs.empty())
            MapAhead(runs.front().First, runs.back().Last);
        Out_ = out;
        for (const TEntryRun& run : runs) {
            for (uint64_t i = run.First; i < run.Last; ++i) {
                // The record lines are met in the file's order, but the wait for each one's
                // memory is most of the test's time: the line a few entries on is asked for now.
                if (i + kLinesAhead < run.Last)
                    Parts_.PrefetchLine(static_cast<uint32_t>(i + kLinesAhead));
                Test(static_cast<uint32_t>(i));
            }
        }
        return Out_;
    }

private:
    // Asks the system to map at once the entries from first to last and the stretch of the
    // collection file their lines lie in (where the file keeps them in order): a search through
    // most of a large collection would otherwise fault the pages in one by one, which costs more.
    // Only a hint: nothing is read.
    void MapAhead(uint64_t first, uint64_t last) const
    {
        const auto map = [](const char* from, const char* to) {
            const auto page = static_cast<uintptr_t>(::sysconf(_SC_PAGESIZE));
            const char* start = from - (reinterpret_cast<uintptr_t>(from) & (page - 1));
            if (to > start)
                (void)::madvise(const_cast<char*>(start), static_cast<size_t>(to - start),
                                MADV_POPULATE_READ);
        };
        const THeader& header = Parts_.Header;
        const uint64_t entries = header.EntriesOffset + first * sizeof(TEntryRecord);
        const uint64_t entriesEnd = header.EntriesOffset + last * sizeof(TEntryRecord);
        if (first >= last || entriesEnd > header.SumsOffset)
            return;
        map(Parts_.Bytes.data() + entries, Parts_.Bytes.data() + entriesEnd);
        TEntryRecord front{};
        TEntryRecord back{};
        std::memcpy(&front, Parts_.Bytes.data() + entries, sizeof front);
        std::memcpy(&back, Parts_.Bytes.data() + entriesEnd - sizeof back, sizeof back);
        const std::string_view text = Parts_.Text;
        if (front.Line < back.Line && back.Line < text.size())
            map(text.data() + front.Line,
                text.data() + std::min<size_t>(text.size(), back.Line + kLongestLine));
    }

    void Test(uint32_t i)
    {
        const TEntryRecord record = Parts_.Entry(i);
        std::optional<TOverrideRecord> kept;
        if (record.Parent & kOverrideBit) {
            // The entries are tested in order, and so their overrides are met in order.
            NextOverride_ = Parts_.FirstOverrideFrom(NextOverride_, i);
            if (NextOverride_ == Parts_.Header.OverrideCount)
                TParts::Damaged();
            kept = Parts_.Override(NextOverride_);
        }
        const bool linesNames = !kept && NamesOnly_;
        TItem item;
        if (linesNames) {
            // Most entries are not hits: their line's numbers are read only for those that are.
            if (!ParseLine(Parts_.Text, record.Line, item, false))
                throw ENameIndexDamaged("the collection file does not fit its name index");
            if (item.Flags & nfDisc)
                return;
            if (!Query_.Matches({item.Name, (item.Flags & nfFolder) != 0, 0, 0}))
                return;
            // The rest of the hit, as ItemOf reads it, from the line already found.
            if (!ReadLineFields(Parts_.Text, record.Line, item))
                throw ENameIndexDamaged("the collection file does not fit its name index");
            const uint32_t parent = record.Parent & ~kOverrideBit;
            if (parent != kNoParentField) {
                if (parent >= i)
                    TParts::Damaged();
                item.Parent = parent;
            }
        } else {
            item = Parts_.ItemOf(i, record, kept);
            if (item.Flags & nfDisc)
                return;
            if (!Query_.Matches({item.Name, (item.Flags & nfFolder) != 0, item.Size, item.Time}))
                return;
        }
        *Out_++ = i;
        if (kept)
            (void)Index_.Item(i); // as the printing reads it, through the override table's search
        // Everything printed of a hit is read here, so that a damaged index shows before
        // anything is printed. Each folder's way up is read once, however many hits it holds.
        for (uint32_t up = item.Parent; up != NoParent && !CheckedFolders_.Test(up);) {
            CheckedFolders_.Set(up);
            up = Index_.Item(up).Parent;
        }
    }

    const TNameIndex& Index_;
    const TParts& Parts_;
    TFindQuery& Query_;
    uint32_t* Out_ = nullptr;
    TEntryBits CheckedFolders_;
    bool NamesOnly_ = true;
    uint64_t NextOverride_ = 0;
};

void TNameIndex::Find(TFindQuery& query, std::vector<uint32_t>& hits) const
{
    const TParts& parts = *Parts_;
    const uint64_t count = parts.Header.EntryCount;
    const std::vector<uint32_t> keys = RequiredTrigrams(query);
    std::vector<TTrigramRecord> records;
    for (const uint32_t key : keys) {
        const std::optional<TTrigramRecord> record = parts.FindTrigram(key);
        if (!record)
            return; // no name holds it
        records.push_back(*record);
    }
    std::vector<TEntryRun> runs;
    uint64_t candidates = 0;
    if (records.empty()) {
        runs.push_back({0, count});
        candidates = count;
    } else {
        std::sort(
            records.begin(), records.end(),
            [](const TTrigramRecord& a, const TTrigramRecord& b) { return a.Count < b.Count; });
        std::vector<uint32_t> blocks = parts.Blocks(records.front());
        std::vector<uint32_t> more;
        for (size_t i = 1; i < records.size() && !blocks.empty(); ++i) {
            const std::vector<uint32_t> other = parts.Blocks(records[i]);
            more.clear();
            std::set_intersection(blocks.begin(), blocks.end(), other.begin(), other.end(),
                                  std::back_inserter(more));
            blocks.swap(more);
        }
        for (const uint32_t block : blocks) {
            const uint64_t first = uint64_t{block} << kBlockShift;
            const uint64_t last = std::min(count, first + (uint64_t{1} << kBlockShift));
            if (first >= last)
                continue;
            if (!runs.empty() && runs.back().Last == first)
                runs.back().Last = last; // neighbouring blocks make one run
            else
                runs.push_back({first, last});
            candidates += last - first;
        }
    }

    // Room for a hit at every candidate: a large block is only address space until it is
    // written, while a list grown step by step writes each step's copy into fresh memory.
    const std::unique_ptr<uint32_t[]> found(new uint32_t[candidates]);
    if (candidates < EntriesForTwoThreads_ || std::thread::hardware_concurrency() < 2) {
        TEntryTester tester(*this, query);
        hits.insert(hits.end(), found.get(), tester.Run(runs, found.get()));
        return;
    }
    if (!query.Trouble().empty())
        return; // a query that has given up matches nothing, as on one thread

    // A search that tests most of a large collection (a common extension, a short pattern)
    // shares the entries with a second thread: the candidates are cut into pieces, which the two
    // threads take in turn as each is done (so that neither waits when the other is slower), each
    // writing its hits to the place of the piece; joined in the order of the pieces, the hits are
    // in the order of one thread. Each thread checks the parts of the index it reads as it goes
    // (see Check), so the checking is shared too.
    struct TPiece {
        size_t FirstRun = 0; // into runs
        size_t EndRun = 0;
        uint64_t Offset = 0; // of its first candidate among all
        uint64_t Found = 0;
        int Tester = -1; // the thread whose query met trouble in it, if one did
    };
    const uint64_t perPiece = std::max<uint64_t>(kEntriesPerBlock, candidates / kPieces);
    std::vector<TPiece> pieces;
    {
        std::vector<TEntryRun> cut;
        uint64_t offset = 0;
        uint64_t inPiece = 0;
        pieces.push_back({});
        for (TEntryRun run : runs) {
            while (run.First < run.Last) {
                const uint64_t take = std::min(run.Last - run.First, perPiece - inPiece);
                cut.push_back({run.First, run.First + take});
                run.First += take;
                inPiece += take;
                offset += take;
                if (inPiece == perPiece) {
                    pieces.back().EndRun = cut.size();
                    pieces.push_back({cut.size(), cut.size(), offset, 0, -1});
                    inPiece = 0;
                }
            }
        }
        pieces.back().EndRun = cut.size();
        runs.swap(cut);
    }
    std::atomic<size_t> next{0};
    std::atomic<size_t> stopAfter{pieces.size()}; // no piece after a trouble is wanted
    std::array<TFindQuery, 2> queries = {query.Twin(), query.Twin()};
    const auto test = [&](int tester) {
        TEntryTester entries(*this, queries[tester]);
        for (size_t k = next++; k < pieces.size() && k <= stopAfter; k = next++) {
            TPiece& piece = pieces[k];
            const std::span<const TEntryRun> its(runs.data() + piece.FirstRun,
                                                 piece.EndRun - piece.FirstRun);
            uint32_t* const out = found.get() + piece.Offset;
            piece.Found = static_cast<uint64_t>(entries.Run(its, out, true) - out);
            if (!queries[tester].Trouble().empty()) {
                piece.Tester = tester;
                for (size_t was = stopAfter; k < was && !stopAfter.compare_exchange_weak(was, k);)
                    ;
                return; // nothing after this piece is wanted of this thread
            }
        }
    };
    std::exception_ptr secondFailure;
    {
        std::jthread second([&] {
            try {
                test(1);
            } catch (...) {
                secondFailure = std::current_exception();
                stopAfter = 0;
                next = pieces.size();
            }
        });
        try {
            test(0);
        } catch (...) {
            stopAfter = 0;
            next = pieces.size();
            throw; // the thread is joined on the way out
        }
    }
    if (secondFailure)
        std::rethrow_exception(secondFailure);
    const uint64_t total =
        std::accumulate(pieces.begin(), pieces.end(), uint64_t{0},
                        [](uint64_t sum, const TPiece& piece) { return sum + piece.Found; });
    hits.reserve(hits.size() + total);
    for (const TPiece& piece : pieces) {
        hits.insert(hits.end(), found.get() + piece.Offset,
                    found.get() + piece.Offset + piece.Found);
        if (piece.Tester >= 0) {
            // The search ends where one thread would have ended it, with that trouble.
            query.TakeTrouble(queries[static_cast<size_t>(piece.Tester)]);
            return;
        }
    }
}

uint32_t TNameIndex::DiscOf(uint32_t entry) const
{
    for (;;) {
        const uint32_t parent = Item(entry).Parent;
        if (parent == NoParent)
            return entry;
        entry = parent;
    }
}

std::string TNameIndex::Path(uint32_t entry, char separator) const
{
    std::vector<std::string_view> chain; // from the entry up to just below the disc
    for (TItem item = Item(entry); item.Parent != NoParent; item = Item(item.Parent))
        chain.push_back(item.Name);
    std::string path;
    for (auto at = chain.rbegin(); at != chain.rend(); ++at) {
        path += separator;
        path += *at;
    }
    return path;
}

std::vector<uint32_t> RequiredTrigrams(const TFindQuery& query)
{
    std::vector<uint32_t> keys;
    const auto add = [&](uint32_t key) {
        keys.push_back(key);
    };
    std::string characters;
    switch (query.Conditions().Match) {
    case TFindMatch::Substring:
        AppendFoldedTextCharacters(query.FoldedPattern(), true, characters);
        ForEachTrigram(characters, add);
        break;
    case TFindMatch::Wildcard: {
        // The runs between the jokers, each held whole by a name that fits.
        AppendFoldedTextCharacters(query.FoldedPattern(), false, characters);
        std::string_view rest = characters;
        for (;;) {
            const size_t joker = rest.find_first_of("*?");
            ForEachTrigram(rest.substr(0, joker), add);
            if (joker == std::string_view::npos)
                break;
            rest.remove_prefix(joker + 1);
        }
        break;
    }
    case TFindMatch::RegularExpression: {
        std::vector<std::string> runs;
        if (RequiredRuns(query.Conditions().Pattern, runs))
            for (const std::string& run : runs)
                ForEachTrigram(run, add);
        break;
    }
    }
    std::sort(keys.begin(), keys.end());
    keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
    return keys;
}
