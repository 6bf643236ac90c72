#pragma once

// The record lines of a collection file as the index reads them. The index keeps no name, size or
// time that a record line tells: it points at the line, and reads it again when a search needs it.
// A line is read for every entry the index is built from and for every candidate a search tests,
// so the reading is inline.

#include "collection/CollectionNode.h"
#include "platform/AnsiText.h"
#include "search/NameIndex.h"
#include "search/NameIndexFormat.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace name_index_detail {

// The fields of a record line before its name: "E 01C5081B E17AFC80 00000400 ".
inline constexpr size_t kFieldsSize = 29;
// No record line the reader keeps whole is longer than this.
inline constexpr size_t kLongestLine = kFieldsSize + kLongestName * kEscapeLength + 2;

// Each byte's value as an upper-case hexadecimal digit, 0xFF for the others.
inline constexpr std::array<uint8_t, 256> kUpperHex = [] {
    std::array<uint8_t, 256> digits{};
    digits.fill(0xFF);
    for (int c = 0; c < 10; ++c)
        digits['0' + c] = static_cast<uint8_t>(c);
    for (int c = 0; c < 6; ++c)
        digits['A' + c] = static_cast<uint8_t>(10 + c);
    return digits;
}();

inline bool ReadHex8(const char* at, uint32_t& value)
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
inline bool ReadLineFields(std::string_view text, uint64_t offset, TNameIndex::TItem& item)
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
inline bool ParseLine(std::string_view text, uint64_t offset, TNameIndex::TItem& item,
                      bool fields = true)
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
size_t NoteRecordLines(std::string_view text, TEntryRecord* entries, size_t room);

} // namespace name_index_detail
