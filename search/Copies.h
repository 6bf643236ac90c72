#pragma once

#include "collection/DiscRecord.h"
#include "search/FindQuery.h"
#include "search/FindSnapshot.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <unordered_map>
#include <vector>

// Content checksums by file id, as TFendrel::Checksums holds them.
using TChecksumTable = std::unordered_map<uint32_t, TContentChecksum>;

// Two files are copies of each other when both have a checksum and the checksums are equal, or
// when at least one of them has none and they have the same size and the same name, letter case
// ignored as the filter ignores it. Files of the same content always have the same size, so
// every search groups files by size first and compares only within a size.

// The smallest file the duplicates search looks at when the user gives no lower size bound:
// below it copies are many and cost nothing.
inline constexpr uint64_t kDuplicatesDefaultSizeMin = uint64_t{1} << 20;

// What a search of copies found: snapshot entries, and for each the number of its group (1, 2,
// ...; groups in the order of their first file, files in the order found). The unique search
// puts every file in group 0.
struct TCopiesFound {
    std::vector<uint32_t> Entries;
    std::vector<uint32_t> Groups;
};

// Called now and then during a search; the search stops when it returns false.
using TKeepSearching = std::function<bool()>;

// The files that have at least one copy elsewhere in the collection, in groups of copies. Only
// files the query accepts (its name pattern, size and date bounds) take part; folders never do.
// Returns false when keepSearching stopped the search.
bool FindDuplicates(const TFindSnapshot& snapshot, const TChecksumTable& checksums,
                    TFindQuery& query, TCopiesFound& found,
                    const TKeepSearching& keepSearching = {});

// The files of one disc (disc: its entry in the snapshot) or of every disc (no disc) that have no
// copy on any other disc: what is lost if that disc is lost. The query chooses which of the
// disc's files are reported; their copies are looked for among every file of the collection,
// whatever its name or date. Returns false when keepSearching stopped the search.
bool FindUnique(const TFindSnapshot& snapshot, const TChecksumTable& checksums, TFindQuery& query,
                std::optional<uint32_t> disc, TCopiesFound& found,
                const TKeepSearching& keepSearching = {});
