#pragma once

#include "browse/FolderListing.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// One hit as fendrel-find prints it. Disc, Path and Name are 8-bit, as the collection holds
// them; Collection is the file's path as given on the command line.
struct TPrintedHit {
    std::string_view Collection;
    std::string_view Disc;
    std::string_view Path;
    std::string_view Name;
    bool Folder = false;
    uint64_t Size = 0;                 // a folder's: the total of its files
    std::optional<TCalendarTime> Time; // local; nothing when the stored time has no date
};

// "disc<TAB>path<TAB>size<TAB>date" and a line feed, in UTF-8: the size in bytes, the date as
// "2005-02-01 05:07:09" (empty when there is none). A tab, line break or other control
// character inside a name would break the line, so each shows as '?', as Fendrel records such
// characters when it reads a disc.
[[nodiscard]] std::string TextLine(const TPrintedHit& hit);

// One JSON object and a line feed: collection, disc, path, name, type ("file" or "folder"),
// size and date (null when there is none); every text exact, escaped as JSON needs.
[[nodiscard]] std::string JsonLine(const TPrintedHit& hit);

// Bytes that are not UTF-8 (a path as the file system holds it) as U+FFFD, the rest unchanged.
[[nodiscard]] std::string ValidUtf8(std::string_view bytes);
