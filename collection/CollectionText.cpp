// The collection file: 8-bit text with CR LF line ends. A header line, then one record line per
// node in pre-order ("D 00000000 00000000 00000000 Title"), each disc or folder followed by its
// children and a closing line "<". The top-level list is not closed.
#include "collection/Fendrel.h"

#include "collection/FendrelError.h"
#include "collection/IdOrderPass.h"
#include "platform/AnsiText.h"
#include "platform/LargeBuffer.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstring>
#include <future>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

namespace {

constexpr std::string_view kHeader = ";Fendrel File v1 begin";
constexpr std::string_view kLineEnd = "\r\n";
constexpr std::string_view kClosingLine = "<\r\n";

// The reader keeps at most this many characters of a name, an escape counting as one (a byte
// otherwise); longer names only come from files made elsewhere and are cut, so that the record and
// everything after it still load.
constexpr size_t kMaxNameLength = kLongestName;

char KindLetter(uint32_t flags)
{
    switch (flags & 0xFF) {
    case nfFile:
        return 'E';
    case nfFolder:
        return 'F';
    case nfDisc:
        return 'D';
    default:
        throw EFendrelError("Unknown node type");
    }
}

// The letter and the three numbers of a record line, with their blanks.
constexpr size_t kRecordFieldsSize = 29;

// "%c %08X %08X %08X " followed by the name and CR LF.
void AppendRecord(std::string& text, char letter, const TCollectionNode& node)
{
    static constexpr char kDigits[] = "0123456789ABCDEF";
    char fields[kRecordFieldsSize];
    fields[0] = letter;
    char* out = fields + 1;
    for (const uint32_t value : {node.WriteTimeHigh, node.WriteTimeLow, node.Size}) {
        *out++ = ' ';
        for (int shift = 28; shift >= 0; shift -= 4)
            *out++ = kDigits[(value >> shift) & 0xF];
    }
    *out = ' ';
    text.append(fields, sizeof fields);
    text.append(node.Name.view());
    text.append(kLineEnd);
}

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

// The value of every byte as a hexadecimal digit of either case, -1 for the others: one load a
// digit, where the reader meets eight million of them in a large collection.
constexpr std::array<int8_t, 256> kHexDigits = [] {
    std::array<int8_t, 256> digits{};
    digits.fill(-1);
    for (int c = 0; c < 10; ++c)
        digits['0' + c] = static_cast<int8_t>(c);
    for (int c = 0; c < 6; ++c) {
        digits['a' + c] = static_cast<int8_t>(10 + c);
        digits['A' + c] = static_cast<int8_t>(10 + c);
    }
    return digits;
}();

int HexDigit(char c)
{
    return kHexDigits[static_cast<unsigned char>(c)];
}

// A cursor over one record line, without its CR LF.
class TRecordParser {
public:
    TRecordParser(const char* begin, const char* end)
        : At_(begin)
        , End_(end)
    {
    }

    void SkipBlanks()
    {
        while (At_ != End_ && IsBlank(*At_))
            ++At_;
    }

    [[nodiscard]] bool ReadLetter(char& letter)
    {
        SkipBlanks();
        if (At_ == End_)
            return false;
        letter = *At_++;
        return true;
    }

    // A number as scanf's %X reads it: an optional sign, an optional 0x, then hexadecimal digits
    // of either case, as many as there are. A number wider than 32 bits keeps its low 32 bits.
    [[nodiscard]] bool ReadHex(uint32_t& value)
    {
        SkipBlanks();
        const char* at = At_;
        bool negative = false;
        if (at != End_ && (*at == '+' || *at == '-')) {
            negative = *at == '-';
            ++at;
        }
        if (End_ - at >= 3 && at[0] == '0' && (at[1] == 'x' || at[1] == 'X') &&
            HexDigit(at[2]) >= 0)
            at += 2;
        const char* digits = at;
        uint32_t result = 0;
        for (int digit = 0; at != End_ && (digit = HexDigit(*at)) >= 0; ++at)
            result = (result << 4) | static_cast<uint32_t>(digit);
        if (at == digits)
            return false;
        value = negative ? 0u - result : result;
        At_ = at;
        return true;
    }

    // The rest of the line up to its first CR; mayHoldCr false says the line holds none.
    [[nodiscard]] std::string_view Rest(bool mayHoldCr) const
    {
        if (!mayHoldCr)
            return {At_, static_cast<size_t>(End_ - At_)};
        const void* cr = std::memchr(At_, '\r', static_cast<size_t>(End_ - At_));
        const char* end = cr ? static_cast<const char*>(cr) : End_;
        return {At_, static_cast<size_t>(end - At_)};
    }

private:
    const char* At_;
    const char* End_;
};

// Parses "%1s %X %X %X %[^\r]" into the node's kind, times and size; name receives the name.
// mayHoldCr: the line may hold a CR (one not followed by LF).
bool ParseRecord(std::string_view line, bool mayHoldCr, TCollectionNode& value,
                 std::string_view& name)
{
    TRecordParser parser(line.data(), line.data() + line.size());
    char letter = 0;
    if (!parser.ReadLetter(letter) || !parser.ReadHex(value.WriteTimeHigh) ||
        !parser.ReadHex(value.WriteTimeLow) || !parser.ReadHex(value.Size))
        return false;
    parser.SkipBlanks();
    name = FirstCharacters(parser.Rest(mayHoldCr), kMaxNameLength);
    value.Flags = letter == 'D' ? nfDisc : letter == 'F' ? nfFolder : nfFile;
    return true;
}

// The offset of the CR of the first CR LF at or after from, or npos. passedCr receives whether
// a CR came before it.
size_t FindLineEnd(std::string_view text, size_t from, bool& passedCr)
{
    passedCr = false;
    while (from < text.size()) {
        const void* cr = std::memchr(text.data() + from, '\r', text.size() - from);
        if (!cr)
            break;
        const size_t at = static_cast<size_t>(static_cast<const char*>(cr) - text.data());
        if (at + 1 < text.size() && text[at + 1] == '\n')
            return at;
        from = at + 1;
        passedCr = true;
    }
    return std::string_view::npos;
}

// How a read of record lines ended.
enum class TReadEnd {
    Read,     // at the closing line of its list, or at the end of the text
    Cut,      // at a line without its CR LF
    Unparsed, // at a record line that does not parse
    AtSplit,  // at the line where it was to stop, with only the list it began with open
};

// Keeps the open discs and folders on a stack instead of recursing, for the same reason as
// WriteList. The end of the text closes every open level. The ids of the open lists wait one
// after the other in one array, and each list is made at once, at its exact size, when it is
// closed: grown id by id, the lists of a large collection were copied again and again and kept a
// part of their room unused. Every list still open when the read stops gets its ids all the same.
//
// Reads from position on into parent's Children (topList when parent is null). It stops before
// the line at split when only its first list is open there. store gives each node its id
// (Add(list, value) stores value, appends its id to list and returns the stored node), counts it
// (Count(), false when the read is to stop) and hears of a record that does not parse.
template <typename TStore>
TReadEnd ReadRecordLines(std::string_view text, size_t& position, size_t split,
                         TCollectionNode* parent, TCollectionBranch& topList, TStore& store)
{
    struct TLevel {
        TCollectionNode* Owner; // null stands for topList
        size_t Start;           // where its ids start in waiting
    };
    std::vector<uint32_t> waiting;
    std::vector<TLevel> levels{{parent, 0}};
    const auto close = [&] {
        const TLevel level = levels.back();
        levels.pop_back();
        TCollectionBranch& list = level.Owner ? level.Owner->Children : topList;
        list.insert(list.end(), waiting.begin() + static_cast<std::ptrdiff_t>(level.Start),
                    waiting.end());
        waiting.resize(level.Start);
    };
    // The text ends at its first zero byte: looked for block by block just ahead of the lines
    // read, while the block is in the cache for them, rather than in a pass of its own over the
    // whole text first. end is the text's end as far as known; no zero lies before checked.
    size_t end = text.size();
    size_t checked = position;
    const auto checkTo = [&](size_t to) {
        constexpr size_t kBlock = size_t{64} << 10;
        while (checked < to && checked < end) {
            const size_t count = std::min(kBlock, end - checked);
            if (const void* zero = std::memchr(text.data() + checked, 0, count)) {
                end = static_cast<size_t>(static_cast<const char*>(zero) - text.data());
                return;
            }
            checked += count;
        }
    };
    const auto readLines = [&] {
        while (position < end) {
            if (position == split && levels.size() == 1)
                return TReadEnd::AtSplit;
            bool passedCr = false;
            const size_t lineEnd = FindLineEnd(text, position, passedCr);
            if (lineEnd == std::string_view::npos)
                return TReadEnd::Cut;
            checkTo(lineEnd + kLineEnd.size());
            if (lineEnd + kLineEnd.size() > end) // the line's end lies past a zero byte
                return position >= end ? TReadEnd::Read : TReadEnd::Cut;
            const std::string_view line = text.substr(position, lineEnd - position);
            if (text[position] == '<') {
                position = lineEnd + kLineEnd.size();
                close();
                if (levels.empty())
                    return TReadEnd::Read;
                continue;
            }
            TCollectionNode value;
            std::string_view name;
            if (!ParseRecord(line, passedCr, value, name)) {
                store.Unparsed();
                return TReadEnd::Unparsed;
            }
            position = lineEnd + kLineEnd.size();
            TCollectionNode* owner = levels.back().Owner;
            value.ParentId = owner ? owner->Id : 0;
            TCollectionNode& node = store.Add(waiting, value);
            node.Name = name; // set on the stored node: one copy of the name, not two
            if (!store.Count())
                return TReadEnd::Cut;
            if (!node.Is(nfFile))
                levels.push_back({&node, waiting.size()});
        }
        return TReadEnd::Read;
    };
    const TReadEnd read = readLines();
    while (!levels.empty())
        close();
    return read;
}

// The number of record lines among the lines that start in [from, to): those whose first byte
// is not that of a closing line. from and to are where lines start. Every CR LF ends a line, so
// each one before to - 2 starts the next. Stops early, with a wrong count, when stop is set.
size_t CountRecordLines(std::string_view text, size_t from, size_t to,
                        const std::atomic<bool>& stop)
{
    if (from >= to)
        return 0;
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    size_t count = bytes[from] != '<' ? 1 : 0;
    constexpr size_t kBlock = size_t{1} << 20;
    for (size_t block = from; block + 2 < to && !stop.load(std::memory_order_relaxed);
         block += kBlock) {
        const size_t last = std::min(block + kBlock, to - 2);
        size_t inBlock = 0;
        for (size_t at = block; at < last; ++at)
            inBlock += static_cast<size_t>((bytes[at] == '\r') & (bytes[at + 1] == '\n') &
                                           (bytes[at + 2] != '<'));
        count += inBlock;
    }
    return count;
}

// The records from a line on, read on a thread of their own into nodes apart from a collection
// while the collection reads the records before them. Their ids follow those of the records
// before them, which the thread counts first. Ends the thread, and drops what it read, unless
// the result was taken.
class TSecondPartRead {
public:
    struct TResult {
        std::optional<TNodeStore::TTail> Nodes; // none when the read failed
        TCollectionBranch Discs;
        size_t Position = 0;
        TReadEnd End = TReadEnd::Read;
    };

    // from: where the collection's read of the records starts; split: where this read starts;
    // lastId: the collection's last id before its read. text must outlive this.
    TSecondPartRead(std::string_view text, size_t from, size_t split, uint32_t lastId)
        : Text_(text)
        , From_(from)
        , Split_(split)
        , LastId_(lastId)
        , Done_(std::async(std::launch::async, [this] { Run(); }))
    {
    }
    ~TSecondPartRead()
    {
        Stop_.store(true, std::memory_order_relaxed);
        Done_.wait();
    }
    TSecondPartRead(const TSecondPartRead&) = delete;
    TSecondPartRead& operator=(const TSecondPartRead&) = delete;

    // Waits for the thread to end, telling progress how many records it has read every tenth of
    // a second.
    template <typename TProgress> void Wait(TProgress progress)
    {
        while (Done_.wait_for(std::chrono::milliseconds(100)) != std::future_status::ready)
            progress(Read_.load(std::memory_order_relaxed));
    }
    // Valid once Wait returned.
    [[nodiscard]] TResult& Result() { return Result_; }

private:
    // The store of the thread's nodes.
    struct TTailStore {
        TSecondPartRead& Read;
        TNodeStore::TTail& Nodes;
        uint32_t Counted = 0;

        TCollectionNode& Add(TCollectionBranch& list, const TCollectionNode& value)
        {
            const auto id = static_cast<uint32_t>(Nodes.FirstId() + Nodes.size());
            TCollectionNode& node = Nodes.Append();
            node = value;
            node.Id = id;
            list.push_back(id);
            return node;
        }
        bool Count()
        {
            if (++Counted % 4096 != 0)
                return true;
            Read.Read_.store(Counted, std::memory_order_relaxed);
            return !Read.Stop_.load(std::memory_order_relaxed);
        }
        static void Unparsed() {}
    };

    void Run() noexcept
    {
        try {
            const size_t before = CountRecordLines(Text_, From_, Split_, Stop_);
            if (Stop_.load(std::memory_order_relaxed) || before > UINT32_MAX - LastId_ - 1)
                return;
            TNodeStore::TTail& nodes =
                Result_.Nodes.emplace(static_cast<uint32_t>(LastId_ + before + 1));
            TTailStore store{*this, nodes};
            size_t position = Split_;
            const TReadEnd end = ReadRecordLines(Text_, position, std::string_view::npos, nullptr,
                                                 Result_.Discs, store);
            if (Stop_.load(std::memory_order_relaxed)) {
                Result_.Nodes.reset();
                return;
            }
            Result_.Position = position;
            Result_.End = end;
        } catch (...) {
            // Memory ran out: the collection reads these records itself.
            Result_.Nodes.reset();
        }
    }

    std::string_view Text_;
    size_t From_;
    size_t Split_;
    uint32_t LastId_;
    std::atomic<bool> Stop_{false};
    std::atomic<uint32_t> Read_{0};
    TResult Result_;
    std::future<void> Done_; // last: the thread starts once every member above is made
};

} // namespace

// The length of the text that WriteList makes of the discs. A node that stands in two lists is
// counted once, so the length may come out short for a hand-made collection; the text then grows
// as it is written, as it would without the count.
size_t TFendrel::TextSize(size_t& largeFiles)
{
    largeFiles = 0;
    std::vector<uint8_t> reached;
    if (!MarkStart(Discs, Nodes.size(), reached, 1))
        return 0;
    size_t size = kHeader.size() + kLineEnd.size();
    (void)PassInIdOrder(
        Nodes, reached,
        [](const TCollectionNode& node, uint8_t) -> uint8_t {
            return node.Is(nfFile) ? 0 : 1; // a file's children are not written
        },
        [&size, &largeFiles](const TCollectionNode& node, uint8_t) {
            size += kRecordFieldsSize + node.Name.size() + kLineEnd.size();
            if (node.Flags & nfSizeHighMask)
                ++largeFiles;
            if (!node.Is(nfFile))
                size += kClosingLine.size();
        });
    return size;
}

std::string TFendrel::SaveToText()
{
    BeginProgress(Ansi(" Запись коллекции: записано %d элементов"));
    // Sized beforehand: a text grown by doubling would copy itself again and again and, at its
    // last growth, need nearly twice its size.
    std::string text;
    const std::string discLines = DiscExtensionLines();
    size_t largeFiles = 0;
    const size_t records = TextSize(largeFiles);
    ReserveLarge(text, records + ExtensionSizeBound(discLines.size(), largeFiles));
    text += kHeader;
    text += kLineEnd;
    std::vector<TWrittenRecord> extended;
    (void)WriteList(Discs, text, nullptr, 0, extended);
    (void)AppendExtensions(text, discLines, extended, nullptr, 0);
    EndProgress();
    return text;
}

bool TFendrel::SaveInBlocks(const TTextSink& sink, size_t blockSize)
{
    BeginProgress(Ansi(" Запись коллекции: записано %d элементов"));
    // Room for a full block and the record that takes it past its size, so that it never grows.
    std::string block;
    block.reserve(blockSize + kRecordFieldsSize + kLongestName * kEscapeLength + 16);
    block += kHeader;
    block += kLineEnd;
    const std::string discLines = DiscExtensionLines();
    std::vector<TWrittenRecord> extended;
    const bool written = WriteList(Discs, block, &sink, blockSize, extended) &&
                         AppendExtensions(block, discLines, extended, &sink, blockSize) &&
                         (block.empty() || sink(block));
    EndProgress();
    return written;
}

// Defined here, inline, since the writer asks it for every record. Only a file's size and
// checksum are written: a reader takes them for nothing else.
inline bool TFendrel::HasRecordExtension(const TCollectionNode& node) const
{
    return node.Is(nfFile) && ((node.Flags & nfSizeHighMask) != 0 ||
                               (!Checksums.empty() && Checksums.contains(node.Id)));
}

// Depth-first with an explicit stack, not recursion: a collection read from a hand-made file
// may be nested far deeper than the thread's stack allows.
bool TFendrel::WriteList(const TCollectionBranch& list, std::string& text, const TTextSink* sink,
                         size_t blockSize, std::vector<TWrittenRecord>& extended)
{
    struct TLevel {
        const TCollectionBranch* List;
        size_t Next;
    };
    const size_t flushAt = sink ? blockSize : SIZE_MAX;
    std::vector<TLevel> levels{{&list, 0}};
    // Records are numbered without a count of their own: when a record is written, the progress
    // count holds the files written and the discs and folders closed before it, and the stack
    // the ones open around it, which together are the records written before it.
    const int32_t firstCount = ProgressCount;
    uint32_t discStart = 0; // the number of the record of the disc being written
    // Most files have neither: one test of the flags spares the whole check for them.
    const bool checksums = !Checksums.empty();
    while (!levels.empty()) {
        if (text.size() >= flushAt) {
            if (!(*sink)(text))
                return false;
            text.clear();
        }
        TLevel& level = levels.back();
        if (level.Next == level.List->size()) {
            levels.pop_back();
            if (!levels.empty()) {
                // The list of a disc or folder is done: close it and count its owner.
                text += kClosingLine;
                CountProgress();
            }
            continue;
        }
        const TCollectionNode& node = GetNode((*level.List)[level.Next++]);
        const char letter = KindLetter(node.Flags);
        AppendRecord(text, letter, node);
        if (letter == 'E') {
            if (((node.Flags & nfSizeHighMask) != 0 || checksums) && HasRecordExtension(node)) {
                const auto number = static_cast<uint32_t>(ProgressCount - firstCount) +
                                    static_cast<uint32_t>(levels.size() - 1);
                extended.push_back({static_cast<uint32_t>(levels.front().Next - 1),
                                    levels.size() == 1 ? 0 : number - discStart, node.Id});
            }
            CountProgress();
        } else {
            if (levels.size() == 1)
                discStart = static_cast<uint32_t>(ProgressCount - firstCount);
            levels.push_back({&node.Children, 0});
        }
    }
    return true;
}

bool TFendrel::LoadFromText(std::string_view text)
{
    size_t readTo = 0;
    return LoadFromText(text, readTo);
}

bool TFendrel::LoadFromText(std::string_view text, size_t& readTo)
{
    readTo = 0;
    if (text.empty())
        return true;
    // The text ends at its first zero byte. The reader finds one in the records as it goes;
    // here it is looked for in the header line and, after the records, in what follows them.
    const auto endAtZero = [&text](size_t from, size_t to) {
        const size_t zero = text.substr(0, to).find('\0', from);
        if (zero != std::string_view::npos)
            text = text.substr(0, zero);
    };
    endAtZero(0, kHeader.size() + kLineEnd.size());
    if (!text.starts_with(kHeader))
        return false;
    BeginProgress(Ansi(" Загрузка коллекции: загружено %d элементов"));
    // The two bytes after the header are its line end, skipped unchecked.
    size_t position = std::min(kHeader.size() + kLineEnd.size(), text.size());
    const size_t firstDisc = Discs.size();
    const bool read = ReadList(text, position, nullptr);
    readTo = position;
    if (!read)
        return false;
    endAtZero(position, text.size());
    // Only a top-level closing line ends the records before the end of the text; the extension
    // section may follow one that is a "<" alone. Anything else there is left unread, as before.
    if (ReadsExtensionSection && position < text.size() &&
        text.substr(position - kClosingLine.size(), kClosingLine.size()) == kClosingLine) {
        const size_t start = position;
        const bool whole = ReadExtensions(text, position, firstDisc);
        if (position != start) {
            readTo = position;
            if (!whole) {
                EndProgress();
                return false;
            }
        }
    }
    EndProgress();
    return true;
}

// The store of a read into the collection itself.
struct TFendrel::TCollectionStore {
    TFendrel& Collection;

    TCollectionNode& Add(TCollectionBranch& list, const TCollectionNode& value)
    {
        return Collection.AddNode(list, value);
    }
    bool Count()
    {
        Collection.CountProgress();
        return true;
    }
    void Unparsed() { Collection.EndProgress(); }
};

bool TFendrel::ReadList(std::string_view text, size_t& position, TCollectionNode* parent)
{
    if (!parent) {
        if (const size_t split = SplitPoint(text, position); split != std::string_view::npos)
            return ReadListInTwoParts(text, position, split);
    }
    TCollectionStore store{*this};
    return ReadRecordLines(text, position, std::string_view::npos, parent, Discs, store) ==
           TReadEnd::Read;
}

void TFendrel::SetTwoThreadLoadBytes(size_t bytes)
{
    TwoThreadLoadBytes_ = bytes;
}

size_t TFendrel::SplitPoint(std::string_view text, size_t from)
{
    static const bool severalCores = std::thread::hardware_concurrency() > 1;
    if (!severalCores || from >= text.size() || text.size() - from < TwoThreadLoadBytes_)
        return std::string_view::npos;
    // A disc's line just past the middle: a disc stands at the top level in every file that
    // follows the format, and the reader of the first part checks that it does.
    const size_t found = text.find("\r\nD", from + (text.size() - from) / 2);
    return found == std::string_view::npos ? found : found + kLineEnd.size();
}

bool TFendrel::ReadListInTwoParts(std::string_view text, size_t& position, size_t split)
{
    TCollectionStore store{*this};
    std::optional<TSecondPartRead> started;
    try {
        started.emplace(text, position, split, LastId);
    } catch (const std::system_error&) {
        // No thread to be had: this one reads it all.
        return ReadRecordLines(text, position, std::string_view::npos, nullptr, Discs, store) ==
               TReadEnd::Read;
    }
    TSecondPartRead& second = *started;
    const TReadEnd first = ReadRecordLines(text, position, split, nullptr, Discs, store);
    if (first != TReadEnd::AtSplit)
        return first == TReadEnd::Read; // the second part is not where the records go on
    const int32_t firstCount = ProgressCount;
    second.Wait([this, firstCount](uint32_t read) {
        ProgressCount = firstCount + static_cast<int32_t>(read);
        StepProgress();
    });
    TSecondPartRead::TResult& result = second.Result();
    if (!result.Nodes || result.Nodes->FirstId() != LastId + 1) { // it failed, or counted wrong
        ProgressCount = firstCount; // the records it read are counted again as this one reads them
        return ReadRecordLines(text, position, std::string_view::npos, nullptr, Discs, store) ==
               TReadEnd::Read;
    }
    const size_t read = result.Nodes->size();
    Nodes.Join(std::move(*result.Nodes));
    LastId += static_cast<uint32_t>(read);
    Discs.insert(Discs.end(), result.Discs.begin(), result.Discs.end());
    ProgressCount = firstCount + static_cast<int32_t>(read);
    position = result.Position;
    if (result.End == TReadEnd::Unparsed)
        EndProgress();
    return result.End == TReadEnd::Read;
}
