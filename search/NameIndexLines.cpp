// Where the record lines of a collection file start, found once while the index is built. A
// collection just read from its file has its nodes in the order of its record lines, so the n-th
// record line is, as a rule, the n-th entry's; the index checks each against its node and keeps
// what differs as an override.

#include "search/NameIndexLines.h"

namespace name_index_detail {

namespace {

constexpr std::string_view kHeaderLine = ";Fendrel File v1 begin\r\n";

} // namespace

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

} // namespace name_index_detail
