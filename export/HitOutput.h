#pragma once

#include "browse/FolderListing.h"
#include "search/FindSnapshot.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// One file or folder as fendrel-find prints it and as the exports write it. Disc, Path and Name
// are 8-bit, as the collection holds them; Collection is the collection file's path, in the file
// system's own bytes.
struct TPrintedHit {
    std::string_view Collection;
    std::string_view Disc;
    std::string_view Path;
    std::string_view Name;
    bool Folder = false;
    uint64_t Size = 0;                 // a folder's: the total of its files
    std::optional<TCalendarTime> Time; // local; nothing when the stored time has no date
};

// The snapshot's entry hit as it is printed. collection and where (the entry's path as
// TFindSnapshot::Path gives it) must outlive the result, which holds views of them.
[[nodiscard]] TPrintedHit PrintedSnapshotHit(const TFindSnapshot& snapshot, uint32_t hit,
                                             std::string_view collection, std::string_view where,
                                             int64_t utcOffset);

// 8-bit text in UTF-8 as the text line shows it: each control character as '?'. Without escapes
// in it, each byte is shown on its own, so the text of a path is that of its parts joined.
void AppendPrintable(std::string& out, std::string_view ansi);

// "disc<TAB>path<TAB>size<TAB>date" and a line feed, in UTF-8: the size in bytes, the date as
// "2005-02-01 05:07:09" (empty when there is none). A tab, line break or other control
// character inside a name would break the line, so each shows as '?', as Fendrel records such
// characters when it reads a disc.
[[nodiscard]] std::string TextLine(const TPrintedHit& hit);
void AppendTextLine(std::string& out, const TPrintedHit& hit);

// One JSON object and a line feed: collection, disc, path, name, type ("file" or "folder"),
// size and date (null when there is none). Each text is valid UTF-8 with its control characters
// exact; a byte of a name that is not UTF-8 (kept as an escape in the collection) shows there as
// U+FFFD, and then a field "<field>_bytes" (collection_bytes, disc_bytes, path_bytes,
// name_bytes) follows with the exact bytes in base64, so that no two names print the same.
[[nodiscard]] std::string JsonLine(const TPrintedHit& hit);
void AppendJsonLine(std::string& out, const TPrintedHit& hit);

// The CSV's first line and one record per hit, in UTF-8 with CR LF line ends and RFC 4180
// quoting: Диск, Путь, Имя, Тип ("Файл" or "Папка"), Размер (bytes), Дата (local,
// "2005-02-01 05:07:09", empty when there is none). Control characters stay exact; a byte that is
// not UTF-8 shows as U+FFFD.
[[nodiscard]] std::string_view CsvHeader();
void AppendCsvLine(std::string& out, const TPrintedHit& hit);
[[nodiscard]] std::string CsvLine(const TPrintedHit& hit);
// What starts a CSV file: the byte order mark by which spreadsheets recognise UTF-8.
inline constexpr std::string_view kUtf8ByteOrderMark = "\xEF\xBB\xBF";

// The forms fendrel-find prints its hits in: the text line, JSON or CSV (below).
enum class THitForm { Text, Json, Csv };
void AppendHitLine(std::string& out, const TPrintedHit& hit, THitForm form);

// "2005-02-01 05:07:09"; empty for nothing.
[[nodiscard]] std::string DateText(const std::optional<TCalendarTime>& time);
void AppendDateText(std::string& out, const std::optional<TCalendarTime>& time);

// Bytes that are not UTF-8 (a path as the file system holds it) as U+FFFD, the rest unchanged.
[[nodiscard]] std::string ValidUtf8(std::string_view bytes);

// A collection's 8-bit text in UTF-8, exactly: every character as itself (control characters
// too), each byte that was not UTF-8 where the name was read as U+FFFD in text and as itself in
// bytes, when bytes is given. Returns whether the bytes differ from the text.
bool AppendExactUtf8(std::string_view ansi, std::string& text, std::string* bytes = nullptr);

// Standard base64 with padding.
[[nodiscard]] std::string Base64(std::string_view bytes);
