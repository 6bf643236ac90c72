// Loads arbitrary bytes as a collection file, makes the name index of what was read and
// searches it: every query must give from the index exactly the hits, names and paths the
// search over the collection gives. Then one byte of the index is changed (where and how the
// input's first bytes say): the index must then open as nothing, or answer each query either as
// before or with ENameIndexDamaged, never with other hits and never by reading outside its bytes.
#include "collection/Fendrel.h"
#include "platform/AnsiText.h"
#include "search/FindSnapshot.h"
#include "search/NameIndex.h"

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr std::string_view kPath = "/fuzz/collection.frl";

std::vector<TFindQuery> Queries(const TFindSnapshot& snapshot, uint8_t seed)
{
    std::vector<TFindConditions> all;
    for (const char* pattern : {"a", "ab", "abc", ".txt", "d\xC3\xA9j"})
        all.push_back({pattern, TFindMatch::Substring, {}, {}, {}, {}, {}});
    all.push_back({"*a?c*", TFindMatch::Wildcard, {}, {}, {}, {}, {}});
    all.push_back({"^[a-c].{2}", TFindMatch::RegularExpression, {}, {}, {}, {}, {}});
    all.push_back({"", TFindMatch::Substring, 10, 100'000, {}, {}, TFindKinds::FilesOnly});
    // A piece of a name the collection holds, so that some trigrams are found.
    if (snapshot.size() > 1) {
        const std::string_view name = snapshot.Name(1 + seed % (snapshot.size() - 1));
        const size_t start = name.empty() ? 0 : seed % name.size();
        all.push_back({AnsiToUtf8(name.substr(start, 3 + seed % 4)),
                       TFindMatch::Substring,
                       {},
                       {},
                       {},
                       {},
                       {}});
    }
    std::vector<TFindQuery> queries;
    for (const TFindConditions& conditions : all) {
        std::string error;
        if (std::optional<TFindQuery> query = TFindQuery::Make(conditions, error))
            queries.push_back(std::move(*query));
    }
    return queries;
}

// The hits of the index, or nothing when it reported itself damaged; aborts when its hits or
// what it says of them differ from the snapshot's.
void Compare(const TNameIndex& index, const TFindSnapshot& snapshot, TFindQuery& query,
             const std::vector<uint32_t>& expected, bool mayBeDamaged)
{
    try {
        std::vector<uint32_t> hits;
        index.Find(query, hits);
        if (hits != expected)
            std::abort();
        for (const uint32_t hit : hits) {
            if (index.Item(hit).Name != snapshot.Name(hit) ||
                index.Path(hit, '\\') != snapshot.Path(hit) ||
                index.DiscOf(hit) != snapshot.DiscOf(hit))
                std::abort();
        }
    } catch (const ENameIndexDamaged&) {
        if (!mayBeDamaged)
            std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    TFendrel collection;
    size_t readTo = 0;
    (void)collection.LoadFromText(text, readTo);
    // The index is made only of a file read whole, as fendrel-find makes it.
    const std::string saved = collection.SaveToText();
    TFendrel loaded;
    if (!loaded.LoadFromText(saved))
        std::abort();
    const TFindSnapshot snapshot(loaded);
    const uint8_t seed = size > 0 ? data[0] : 0;
    const TCollectionIdentity identity{1, 2, saved.size(), 3, 4};

    std::string bytes;
    const uint64_t twoThreadsFrom = (seed & 1) != 0 ? 0 : UINT64_MAX;
    if (!WriteNameIndex(
            saved, loaded, identity, kPath,
            [&bytes](std::string_view piece) {
                bytes.append(piece);
                return true;
            },
            twoThreadsFrom))
        std::abort();
    const std::unique_ptr<TNameIndex> index = TNameIndex::Open(bytes, saved, identity, kPath);
    if (!index || index->size() != snapshot.size())
        std::abort();
    index->SetEntriesForTwoThreads(twoThreadsFrom);

    std::vector<TFindQuery> queries = Queries(snapshot, seed);
    std::vector<std::vector<uint32_t>> expected(queries.size());
    for (size_t q = 0; q < queries.size(); ++q) {
        TFindQuery scan = queries[q].Twin();
        FindInSnapshot(snapshot, scan, expected[q]);
        Compare(*index, snapshot, queries[q], expected[q], false);
    }

    // One byte changed: at a place the input chooses, by a nonzero amount.
    if (bytes.empty())
        return 0;
    uint64_t place = 0;
    for (size_t i = 1; i < size && i < 9; ++i)
        place = place * 251 + data[i];
    std::string damaged = bytes;
    damaged[place % damaged.size()] ^= static_cast<char>(seed == 0 ? 1 : seed);
    const std::unique_ptr<TNameIndex> other = TNameIndex::Open(damaged, saved, identity, kPath);
    if (!other)
        return 0;
    for (size_t q = 0; q < queries.size(); ++q) {
        TFindQuery again = queries[q].Twin();
        Compare(*other, snapshot, again, expected[q], true);
    }
    return 0;
}
