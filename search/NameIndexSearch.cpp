// The search over a name index: the blocks that hold every trigram the query requires, then
// each entry in them tested in order against the query, on one thread or, for many candidates,
// on two that share the work piece by piece and give the hits in one thread's order.

#include "search/NameIndex.h"

#include "collection/CollectionNode.h"
#include "search/NameIndexFormat.h"
#include "search/NameIndexLines.h"
#include "search/NameIndexReader.h"
#include "search/NameIndexTrigrams.h"
#include "search/PatternRuns.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <iterator>
#include <memory>
#include <new>
#include <numeric>
#include <optional>
#include <span>
#include <string>
#include <sys/mman.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace name_index_detail;

namespace {

// How many pieces a search on two threads cuts its candidates into.
constexpr uint64_t kPieces = 64;
// How far ahead of the entry tested a search asks for record lines.
constexpr uint64_t kLinesAhead = 32;

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
        // out has room for every entry of the runs, this one among them.
        *Out_++ = i; // NOLINT(clang-analyzer-cplusplus.NewDelete)
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
