#include "export/HitOutput.h"

#include "platform/AnsiText.h"

#include <array>
#include <charconv>
#include <cstdio>

namespace {

bool IsControl(char c)
{
    return static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
}

void AppendNumber(std::string& out, uint64_t value)
{
    char digits[24];
    const std::to_chars_result end = std::to_chars(std::begin(digits), std::end(digits), value);
    out.append(digits, end.ptr);
}

// The UTF-8 of each byte of code page 1251 from 0x80 up; the byte 0x98, which the code page leaves
// unassigned, stands for no character.
class TUpperHalf {
public:
    TUpperHalf()
    {
        for (int byte = 0x80; byte < 0x100; ++byte) {
            const char c = static_cast<char>(byte);
            Utf8_[byte - 0x80] = byte == static_cast<unsigned char>(kEscapeByte)
                                     ? std::string()
                                     : AnsiToUtf8(std::string_view(&c, 1));
        }
    }
    [[nodiscard]] const std::string& Of(unsigned char byte) const { return Utf8_[byte - 0x80]; }

private:
    std::array<std::string, 0x80> Utf8_;
};

const TUpperHalf& UpperHalf()
{
    static const TUpperHalf half;
    return half;
}

constexpr std::string_view kReplacementUtf8 = "\xEF\xBF\xBD";

bool IsAscii(std::string_view text)
{
    for (const char c : text)
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    return true;
}

// Appends a JSON string of UTF-8 text, with its quotes.
void AppendJsonString(std::string& out, std::string_view utf8)
{
    out += '"';
    for (const char c : utf8) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned char>(c));
                out += escaped;
            } else {
                out += c;
            }
        }
    }
    out += '"';
}

// ,"field":"text" and, when the text's bytes differ from it, ,"field_bytes":"base64". A field
// that starts with '{' opens the object instead of following a comma.
void AppendJsonField(std::string& out, std::string_view field, std::string_view text,
                     std::string_view bytes, bool differs)
{
    const bool first = field.starts_with('{');
    if (first)
        field.remove_prefix(2);
    out += first ? "{\"" : ",\"";
    out += field;
    out += "\":";
    AppendJsonString(out, text);
    if (differs) {
        out += ",\"";
        out += field;
        out += "_bytes\":\"";
        out += Base64(bytes);
        out += '"';
    }
}

void AppendJsonName(std::string& out, std::string_view field, std::string_view ansi)
{
    std::string text;
    std::string bytes;
    const bool differs = AppendExactUtf8(ansi, text, &bytes);
    AppendJsonField(out, field, text, bytes, differs);
}

// A CSV field, quoted when it holds a comma, a quote or a control character.
void AppendCsvField(std::string& out, std::string_view utf8)
{
    bool quote = false;
    for (const char c : utf8)
        if (c == ',' || c == '"' || static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            quote = true;
            break;
        }
    if (!quote) {
        out += utf8;
        return;
    }
    out += '"';
    for (const char c : utf8) {
        if (c == '"')
            out += '"';
        out += c;
    }
    out += '"';
}

void AppendCsvName(std::string& out, std::string& scratch, std::string_view ansi)
{
    if (IsAscii(ansi)) {
        AppendCsvField(out, ansi);
        return;
    }
    scratch.clear();
    AppendExactUtf8(ansi, scratch);
    AppendCsvField(out, scratch);
}

// Length of the UTF-8 sequence at the start of text, or 0 when it is not a valid one.
size_t SequenceLength(std::string_view text)
{
    const auto lead = static_cast<unsigned char>(text[0]);
    if (lead < 0x80)
        return 1;
    size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;  // no overlong forms
        high = lead == 0xED ? 0x9F : 0xBF; // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (text.size() < length)
        return 0;
    const auto second = static_cast<unsigned char>(text[1]);
    if (second < low || second > high)
        return 0;
    for (size_t i = 2; i < length; ++i)
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80)
            return 0;
    return length;
}

} // namespace

TPrintedHit PrintedSnapshotHit(const TFindSnapshot& snapshot, uint32_t hit,
                               std::string_view collection, std::string_view where,
                               int64_t utcOffset)
{
    const TFindSnapshot::TEntry& entry = snapshot.Entry(hit);
    TPrintedHit printed;
    printed.Collection = collection;
    printed.Disc = snapshot.Name(snapshot.DiscOf(hit));
    printed.Path = where;
    printed.Name = snapshot.Name(hit);
    printed.Folder = (entry.Flags & nfFolder) != 0;
    printed.Size = entry.Size;
    printed.Time = FileTimeToLocal(static_cast<uint32_t>(entry.Time >> 32),
                                   static_cast<uint32_t>(entry.Time), utcOffset);
    return printed;
}

void AppendPrintable(std::string& out, std::string_view ansi)
{
    if (MayHoldEscapes(ansi)) {
        std::string text(ansi);
        for (char& c : text)
            if (IsControl(c))
                c = '?';
        out += AnsiToUtf8(text);
        return;
    }
    // Runs of printable ASCII go over whole: most names are mostly made of them.
    const TUpperHalf& upper = UpperHalf();
    while (!ansi.empty()) {
        size_t plain = 0;
        while (plain < ansi.size() && static_cast<unsigned char>(ansi[plain]) < 0x7F &&
               static_cast<unsigned char>(ansi[plain]) >= 0x20)
            ++plain;
        out.append(ansi.data(), plain);
        ansi.remove_prefix(plain);
        if (ansi.empty())
            break;
        const auto c = static_cast<unsigned char>(ansi[0]);
        if (c >= 0x80)
            out += upper.Of(c);
        else
            out += '?';
        ansi.remove_prefix(1);
    }
}

void AppendHitLine(std::string& out, const TPrintedHit& hit, THitForm form)
{
    switch (form) {
    case THitForm::Text:
        AppendTextLine(out, hit);
        return;
    case THitForm::Json:
        AppendJsonLine(out, hit);
        return;
    case THitForm::Csv:
        AppendCsvLine(out, hit);
        return;
    }
}

void AppendDateText(std::string& out, const std::optional<TCalendarTime>& time)
{
    if (!time)
        return;
    const TCalendarTime& t = *time;
    const auto inRange = [](int value, int low, int high) {
        return value >= low && value <= high;
    };
    if (!inRange(t.Year, 0, 9999) || !inRange(t.Month, 0, 99) || !inRange(t.Day, 0, 99) ||
        !inRange(t.Hour, 0, 99) || !inRange(t.Minute, 0, 99) || !inRange(t.Second, 0, 99)) {
        char text[96];
        std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.Year, t.Month, t.Day,
                      t.Hour, t.Minute, t.Second);
        out += text;
        return;
    }
    // Written digit by digit: a search that prints a million hits prints a million dates.
    char text[19] = {'0', '0', '0', '0', '-', '0', '0', '-', '0', '0',
                     ' ', '0', '0', ':', '0', '0', ':', '0', '0'};
    const auto put = [&text](size_t end, int value, int digits) {
        for (int i = 0; i < digits; ++i, value /= 10)
            text[end - 1 - i] = static_cast<char>('0' + value % 10);
    };
    put(4, t.Year, 4);
    put(7, t.Month, 2);
    put(10, t.Day, 2);
    put(13, t.Hour, 2);
    put(16, t.Minute, 2);
    put(19, t.Second, 2);
    out.append(text, sizeof text);
}

std::string DateText(const std::optional<TCalendarTime>& time)
{
    std::string text;
    AppendDateText(text, time);
    return text;
}

bool AppendExactUtf8(std::string_view ansi, std::string& text, std::string* bytes)
{
    if (IsAscii(ansi)) {
        text += ansi;
        if (bytes)
            *bytes += ansi;
        return false;
    }
    const TUpperHalf& upper = UpperHalf();
    bool differs = false;
    const auto both = [&](std::string_view utf8) {
        text += utf8;
        if (bytes)
            *bytes += utf8;
    };
    const auto raw = [&](unsigned char byte) {
        differs = true;
        text += kReplacementUtf8;
        if (bytes)
            *bytes += static_cast<char>(byte);
    };
    for (size_t at = 0; at < ansi.size();) {
        const auto byte = static_cast<unsigned char>(ansi[at]);
        if (byte < 0x80) {
            text += static_cast<char>(byte);
            if (bytes)
                *bytes += static_cast<char>(byte);
            ++at;
            continue;
        }
        if (byte == static_cast<unsigned char>(kEscapeByte)) {
            if (const std::optional<char32_t> escaped = EscapeAt(ansi.substr(at))) {
                const char32_t c = *escaped;
                if (c >= kRawByteEscapes + 0x80 && c <= kRawByteEscapes + 0xFF) {
                    raw(static_cast<unsigned char>(c - kRawByteEscapes));
                } else if (c >= 0xD800 && c <= 0xDFFF) {
                    both(kReplacementUtf8); // no character, and no byte either
                } else {
                    std::string utf8;
                    AppendUtf8(utf8, c);
                    both(utf8);
                }
                at += kEscapeLength;
                continue;
            }
            // An 0x98 that starts no escape is a byte of no character, like one not UTF-8.
            raw(byte);
            ++at;
            continue;
        }
        both(upper.Of(byte));
        ++at;
    }
    return differs;
}

std::string Base64(std::string_view bytes)
{
    static constexpr char kDigits[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    size_t at = 0;
    for (; at + 3 <= bytes.size(); at += 3) {
        const uint32_t group = static_cast<unsigned char>(bytes[at]) << 16 |
                               static_cast<unsigned char>(bytes[at + 1]) << 8 |
                               static_cast<unsigned char>(bytes[at + 2]);
        for (int shift = 18; shift >= 0; shift -= 6)
            out += kDigits[(group >> shift) & 0x3F];
    }
    if (at < bytes.size()) {
        const bool two = at + 1 < bytes.size();
        const uint32_t group = static_cast<unsigned char>(bytes[at]) << 16 |
                               (two ? static_cast<unsigned char>(bytes[at + 1]) << 8 : 0);
        out += kDigits[(group >> 18) & 0x3F];
        out += kDigits[(group >> 12) & 0x3F];
        out += two ? kDigits[(group >> 6) & 0x3F] : '=';
        out += '=';
    }
    return out;
}

void AppendTextLine(std::string& out, const TPrintedHit& hit)
{
    AppendPrintable(out, hit.Disc);
    out += '\t';
    AppendPrintable(out, hit.Path);
    out += '\t';
    AppendNumber(out, hit.Size);
    out += '\t';
    AppendDateText(out, hit.Time);
    out += '\n';
}

std::string TextLine(const TPrintedHit& hit)
{
    std::string out;
    AppendTextLine(out, hit);
    return out;
}

void AppendJsonLine(std::string& out, const TPrintedHit& hit)
{
    const std::string collection = ValidUtf8(hit.Collection);
    AppendJsonField(out, "{\"collection", collection, hit.Collection, collection != hit.Collection);
    AppendJsonName(out, "disc", hit.Disc);
    AppendJsonName(out, "path", hit.Path);
    AppendJsonName(out, "name", hit.Name);
    out += ",\"type\":\"";
    out += hit.Folder ? "folder" : "file";
    out += "\",\"size\":";
    AppendNumber(out, hit.Size);
    out += ",\"date\":";
    const std::string date = DateText(hit.Time);
    if (date.empty())
        out += "null";
    else
        AppendJsonString(out, date);
    out += "}\n";
}

std::string JsonLine(const TPrintedHit& hit)
{
    std::string out;
    AppendJsonLine(out, hit);
    return out;
}

std::string_view CsvHeader()
{
    return "Диск,Путь,Имя,Тип,Размер,Дата\r\n";
}

void AppendCsvLine(std::string& out, const TPrintedHit& hit)
{
    std::string scratch;
    AppendCsvName(out, scratch, hit.Disc);
    out += ',';
    AppendCsvName(out, scratch, hit.Path);
    out += ',';
    AppendCsvName(out, scratch, hit.Name);
    out += hit.Folder ? ",Папка," : ",Файл,";
    AppendNumber(out, hit.Size);
    out += ',';
    AppendDateText(out, hit.Time);
    out += "\r\n";
}

std::string CsvLine(const TPrintedHit& hit)
{
    std::string out;
    AppendCsvLine(out, hit);
    return out;
}

std::string ValidUtf8(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size());
    while (!bytes.empty()) {
        const size_t length = SequenceLength(bytes);
        if (length == 0) {
            out += "\xEF\xBF\xBD";
            bytes.remove_prefix(1);
        } else {
            out.append(bytes.substr(0, length));
            bytes.remove_prefix(length);
        }
    }
    return out;
}
