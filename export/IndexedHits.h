#pragma once

#include "export/HitOutput.h"
#include "search/NameIndex.h"

#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

// How the hits of a search through a name index are printed.
struct THitPrinting {
    std::string_view Collection; // the collection file's path as the user gave it
    THitForm Form = THitForm::Text;
    char Separator = '\\';
    int64_t UtcOffset = 0; // seconds east of UTC, for the local dates
    // With at least this many hits (and two processors), the lines are made on two threads.
    size_t HitsForTwoThreads = 50'000;
    // Hits whose lines are made in one go, by one thread; the lines reach the sink in pieces of
    // about that many hits.
    size_t HitsPerPiece = 16'384;
};

// Takes the lines, in order, a piece at a time.
using TLinesSink = std::function<void(std::string_view lines)>;

// Prints the hits (entries of the index, as TNameIndex::Find gives them) as lines of the chosen
// form, in their order: the same lines as the hits of a search over the collection itself give.
// The lines of one folder's hits share its path, made once. Throws ENameIndexDamaged when an
// entry cannot be read; the lines before the failing piece have reached the sink by then.
void PrintIndexedHits(const TNameIndex& index, const std::vector<uint32_t>& hits,
                      const THitPrinting& printing, const TLinesSink& sink);
