#pragma once

#include "collection/Fendrel.h"
#include "collection/NameOrder.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

// One row of the folder list: the name, the sub-item texts (type, date, time, size; a disc row has
// only the type), an icon index and the id of the node shown. Texts are 8-bit.
struct TListRow {
    std::string Caption;
    std::array<std::string, 4> SubItems;
    int Image = 0;
    uint32_t Data = 0;
};

// The nodes in ascending StrCompareIC order of their names; names equal under it but not byte
// for byte by their bytes, then in input order. Of several names equal byte for byte only the one
// that comes last in the input stays.
[[nodiscard]] std::vector<const TCollectionNode*>
MergeByName(std::vector<const TCollectionNode*> nodes);
// The same order made in place over entries, each naming its node through nodeOf: the kept
// entries move to the front, in order, and their number is returned.
template <typename TEntry, typename TNodeOf>
size_t MergeByNameInPlace(std::span<TEntry> entries, TNodeOf nodeOf);

// The size column: plain digits up to 1024 bytes, then tenths of k up to 1048576, then tenths of
// M. Always with a decimal point, whatever the process locale.
[[nodiscard]] std::string FormatSize(uint64_t bytes);

struct TCalendarTime {
    int Year = 0, Month = 0, Day = 0, Hour = 0, Minute = 0, Second = 0;
};

// A stored last-write time (100 ns units since 1601-01-01 UTC, in two halves) moved by
// offsetSeconds and split into calendar fields. Nothing when the moved time falls before 1601 or
// beyond the largest time the calendar split takes (the upper bit set).
[[nodiscard]] std::optional<TCalendarTime> FileTimeToLocal(uint32_t high, uint32_t low,
                                                           int64_t offsetSeconds);
// "7.03.2004" and "05:07:09".
[[nodiscard]] std::string FormatDate(const TCalendarTime& time);
[[nodiscard]] std::string FormatTime(const TCalendarTime& time);

// The rows that list the discs (id 0), or the visible children of a disc or folder: folders
// first, then the rest, each group by name (MergeByName). utcOffsetSeconds is the
// local time's offset used for every date. Throws "Node not found" for an id without a node.
[[nodiscard]] std::vector<TListRow> ListRows(const TFendrel& collection, uint32_t id,
                                             int64_t utcOffsetSeconds);

// "\Docs\a.txt": every name from just below the disc down to the node, each after a backslash.
[[nodiscard]] std::string FullPath(const TFendrel& collection, const TCollectionNode& node);
// The text of the file information box: the file's name, its full path and its disc's title.
[[nodiscard]] std::string FileInformationText(const TFendrel& collection,
                                              const TCollectionNode& file);

template <typename TEntry, typename TNodeOf>
size_t MergeByNameInPlace(std::span<TEntry> entries, TNodeOf nodeOf)
{
    // Linux discs hold names that differ only in letter case ("Docs" and "DOCS"): each keeps its
    // place, beside the other, so that nothing on the disc is hidden.
    const auto less = [&nodeOf](const TEntry& a, const TEntry& b) {
        const TNodeName& first = nodeOf(a).Name;
        const TNodeName& second = nodeOf(b).Name;
        const int order = CompareNamesIC(first, second);
        return order != 0 ? order < 0 : first.view() < second.view();
    };
    // A stable sort keeps equal names in their input order, so the last of each run is the one
    // that came last. Most folders hold a few entries, sorted by insertion without the buffer
    // that std::stable_sort allocates.
    if (entries.size() <= 16) {
        for (size_t i = 1; i < entries.size(); ++i) {
            TEntry moving = entries[i];
            size_t at = i;
            for (; at > 0 && less(moving, entries[at - 1]); --at)
                entries[at] = entries[at - 1];
            entries[at] = moving;
        }
    } else {
        std::stable_sort(entries.begin(), entries.end(), less);
    }
    size_t kept = 0;
    for (size_t i = 0; i < entries.size(); ++i) {
        if (i + 1 < entries.size() && nodeOf(entries[i]).Name == nodeOf(entries[i + 1]).Name)
            continue;
        entries[kept++] = entries[i];
    }
    return kept;
}
