// The collection file's extension section: what the record lines cannot hold (disc records,
// sizes of 4 GiB and more, content checksums). It follows a closing line at the top level, where
// a reader of the record lines alone stops, and a marker line naming its version:
//
//   <
//   ;Fendrel extensions v2
//   D 0 added=133500000000000000 label=PHOTOS notes=Box%203
//   R 0.17 size=5368709120 xxh128=0123456789ABCDEF0123456789ABCDEF
//
// "D p" is the disc at position p of the top-level list (0 the first); "R p.r" is the record r
// of that disc, counting its records as the file holds them (0 the disc's own line). Fields are
// key=value; a value escapes "%", "=", bytes below 0x21 and 0x7F as %XX. Lines with an unknown
// tag and fields with an unknown key are skipped: later versions add only such data as an older
// reader may lose. A known field that does not read, a position past the records, or a size
// that does not agree with its record is damage.
#include "collection/Fendrel.h"

#include <algorithm>
#include <charconv>
#include <iterator>
#include <optional>
#include <type_traits>

namespace {

constexpr std::string_view kClosingLine = "<\r\n";
constexpr std::string_view kMarker = ";Fendrel extensions v2\r\n";
constexpr std::string_view kLineEnd = "\r\n";

bool Escaped(unsigned char c)
{
    return c < 0x21 || c == 0x7F || c == '%' || c == '=';
}

void AppendValue(std::string& text, std::string_view value)
{
    static constexpr char kDigits[] = "0123456789ABCDEF";
    size_t plain = 0; // the start of the bytes not yet appended, none of them escaped
    for (size_t at = 0; at < value.size(); ++at) {
        const auto byte = static_cast<unsigned char>(value[at]);
        if (!Escaped(byte))
            continue;
        text.append(value.substr(plain, at - plain));
        text += '%';
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0xF];
        plain = at + 1;
    }
    text.append(value.substr(plain));
}

void AppendField(std::string& text, std::string_view key, std::string_view value)
{
    if (value.empty())
        return;
    text += ' ';
    text += key;
    text += '=';
    AppendValue(text, value);
}

void AppendField(std::string& text, std::string_view key, uint64_t value)
{
    if (value == 0)
        return;
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    text += ' ';
    text += key;
    text += '=';
    text.append(digits, end);
}

std::string_view SourceName(TSourceKind kind)
{
    switch (kind) {
    case TSourceKind::Unknown:
        return {};
    case TSourceKind::Drive:
        return "drive";
    case TSourceKind::Image:
        return "image";
    case TSourceKind::Folder:
        return "folder";
    }
    return {};
}

std::optional<TSourceKind> SourceKind(std::string_view name)
{
    static constexpr TSourceKind kKinds[] = {TSourceKind::Drive, TSourceKind::Image,
                                             TSourceKind::Folder};
    const auto found = std::find_if(std::begin(kKinds), std::end(kKinds),
                                    [name](TSourceKind kind) { return name == SourceName(kind); });
    return found != std::end(kKinds) ? std::optional(*found) : std::nullopt;
}

// Calls visit(key, field) for every field of a disc line but the source, in the order written:
// the texts, then the numbers. TRecord is TDiscRecord, const or not.
template <typename TRecord, typename TVisit> void EachDiscField(TRecord& r, TVisit&& visit)
{
    visit("path", r.Facts.Source.Path);
    visit("drive", r.Facts.Source.DriveName);
    visit("mount", r.Facts.Source.MountPoint);
    visit("fstype", r.Facts.Source.FsType);
    visit("label", r.Facts.Identity.Label);
    visit("fs", r.Facts.Identity.FileSystem);
    visit("volset", r.Facts.Identity.VolumeSetId);
    visit("logvol", r.Facts.Identity.LogicalVolumeId);
    visit("uuid", r.Facts.Identity.Uuid);
    visit("notes", r.Notes);
    visit("imagesize", r.Facts.Source.ImageSize);
    visit("imagetime", r.Facts.Source.ImageTime);
    visit("created", r.Facts.Identity.CreationTime);
    visit("blocks", r.Facts.Identity.VolumeBlocks);
    visit("capacity", r.Facts.Capacity);
    visit("free", r.Facts.FreeSpace);
    visit("added", r.Added);
    visit("updated", r.Updated);
}

// The fields of the record, each with a leading blank; empty when the record knows nothing.
std::string DiscFields(const TDiscRecord& record)
{
    std::string fields;
    AppendField(fields, "source", SourceName(record.Facts.Source.Kind));
    EachDiscField(record, [&fields](std::string_view key, const auto& value) {
        AppendField(fields, key, value);
    });
    return fields;
}

void AppendNumber(std::string& text, uint64_t value)
{
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    text.append(digits, end);
}

void AppendHex64(std::string& text, uint64_t value)
{
    static constexpr char kDigits[] = "0123456789ABCDEF";
    for (int shift = 60; shift >= 0; shift -= 4)
        text += kDigits[(value >> shift) & 0xF];
}

bool ReadNumber(std::string_view digits, uint64_t& value)
{
    if (digits.empty())
        return false;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    return error == std::errc() && end == digits.data() + digits.size();
}

bool ReadHex64(std::string_view digits, uint64_t& value)
{
    if (digits.size() != 16)
        return false;
    const auto [end, error] =
        std::from_chars(digits.data(), digits.data() + digits.size(), value, 16);
    return error == std::errc() && end == digits.data() + digits.size();
}

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

bool ReadValue(std::string_view escaped, std::string& value)
{
    value.clear();
    value.reserve(escaped.size());
    for (size_t i = 0; i < escaped.size(); ++i) {
        if (escaped[i] != '%') {
            value += escaped[i];
            continue;
        }
        if (i + 2 >= escaped.size())
            return false;
        const int high = HexValue(escaped[i + 1]);
        const int low = HexValue(escaped[i + 2]);
        if (high < 0 || low < 0)
            return false;
        value += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return true;
}

// Splits the next blank-separated word off line.
std::string_view NextWord(std::string_view& line)
{
    const size_t blank = line.find(' ');
    const std::string_view word = line.substr(0, blank);
    line.remove_prefix(blank == std::string_view::npos ? line.size() : blank + 1);
    return word;
}

} // namespace

std::string TFendrel::DiscExtensionLines() const
{
    std::string lines;
    if (DiscRecords.empty())
        return lines;
    for (size_t position = 0; position < Discs.size(); ++position) {
        const auto found = DiscRecords.find(Discs[position]);
        if (found == DiscRecords.end())
            continue;
        const std::string fields = DiscFields(found->second);
        if (fields.empty())
            continue;
        lines += "D ";
        AppendNumber(lines, position);
        lines += fields;
        lines += kLineEnd;
    }
    return lines;
}

bool TFendrel::AppendExtensions(std::string& text, std::string_view discLines,
                                const std::vector<TWrittenRecord>& records, const TTextSink* sink,
                                size_t blockSize) const
{
    if (discLines.empty() && records.empty())
        return true; // a collection without such data is written as the record lines alone
    text += kClosingLine;
    text += kMarker;
    text += discLines;
    for (const TWrittenRecord& written : records) {
        if (sink && text.size() >= blockSize) {
            if (!(*sink)(text))
                return false;
            text.clear();
        }
        const TCollectionNode& node = GetNode(written.Id);
        text += "R ";
        AppendNumber(text, written.Disc);
        text += '.';
        AppendNumber(text, written.Record);
        AppendField(text, "size", (node.Flags & nfSizeHighMask) ? node.FullSize() : 0);
        if (const auto found = Checksums.find(node.Id); found != Checksums.end()) {
            text += " xxh128=";
            AppendHex64(text, found->second.High);
            AppendHex64(text, found->second.Low);
        }
        text += kLineEnd;
    }
    return true;
}

size_t TFendrel::ExtensionSizeBound(size_t discLines, size_t largeFiles) const
{
    if (discLines == 0 && largeFiles == 0 && Checksums.empty())
        return 0;
    constexpr size_t kRecordLine = 2 + 2 * 10 + 1 + 26 + 8 + 32 + 2;
    return kClosingLine.size() + kMarker.size() + discLines +
           (largeFiles + Checksums.size()) * kRecordLine;
}

bool TFendrel::ReadExtensions(std::string_view text, size_t& position, size_t firstDisc)
{
    if (!text.substr(position).starts_with(kMarker))
        return false; // not this section: position stays
    position += kMarker.size();
    while (position < text.size()) {
        const size_t end = text.find(kLineEnd, position);
        if (end == std::string_view::npos)
            return false;
        std::string_view line = text.substr(position, end - position);
        const std::string_view tag = NextWord(line);
        if (tag != "D" && tag != "R") {
            position = end + kLineEnd.size(); // a later version's data: skipped
            continue;
        }
        std::string_view where = NextWord(line);
        const size_t dot = tag == "R" ? where.find('.') : std::string_view::npos;
        uint64_t disc = 0;
        uint64_t record = 0;
        if (!ReadNumber(where.substr(0, dot), disc) || disc >= Discs.size() - firstDisc)
            return false;
        const uint32_t discId = Discs[firstDisc + disc];
        // The records of a disc were given the ids that follow its own, in the file's order.
        const uint64_t records =
            (firstDisc + disc + 1 < Discs.size() ? Discs[firstDisc + disc + 1] : LastId + 1) -
            uint64_t{discId};
        if (tag == "R" && (dot == std::string_view::npos ||
                           !ReadNumber(where.substr(dot + 1), record) || record >= records))
            return false;

        TDiscRecord discRecord;
        if (const auto known = DiscRecords.find(discId); tag == "D" && known != DiscRecords.end())
            discRecord = known->second;
        TCollectionNode* node =
            tag == "R" ? Nodes.Find(discId + static_cast<uint32_t>(record)) : nullptr;
        if (tag == "R" && !node)
            return false;
        while (!line.empty()) {
            const std::string_view field = NextWord(line);
            const size_t equals = field.find('=');
            if (equals == std::string_view::npos)
                return false;
            const std::string_view key = field.substr(0, equals);
            const std::string_view raw = field.substr(equals + 1);
            // A value is read only for a key this reader knows; any other field is skipped.
            if (tag == "D") {
                if (key == "source") {
                    const std::optional<TSourceKind> kind = SourceKind(raw);
                    if (!kind)
                        return false;
                    discRecord.Facts.Source.Kind = *kind;
                    continue;
                }
                bool read = true;
                EachDiscField(discRecord, [&](std::string_view name, auto& field) {
                    if (name != key)
                        return;
                    if constexpr (std::is_same_v<std::decay_t<decltype(field)>, std::string>)
                        read = ReadValue(raw, field);
                    else
                        read = ReadNumber(raw, field);
                });
                if (!read)
                    return false;
                continue;
            }
            const std::string_view value = raw;
            if (key == "size") {
                uint64_t size = 0;
                if (!node->Is(nfFile) || !ReadNumber(value, size) || size > kLargestFileSize ||
                    static_cast<uint32_t>(size) != node->Size)
                    return false;
                node->SetFullSize(size);
            } else if (key == "xxh128") {
                TContentChecksum sum;
                if (!node->Is(nfFile) || value.size() != 32 ||
                    !ReadHex64(value.substr(0, 16), sum.High) ||
                    !ReadHex64(value.substr(16), sum.Low))
                    return false;
                Checksums[node->Id] = sum;
            }
        }
        if (tag == "D")
            DiscRecords[discId] = std::move(discRecord);
        position = end + kLineEnd.size();
    }
    return true;
}
