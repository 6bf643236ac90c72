#include "findtool/HitOutput.h"

#include "platform/AnsiText.h"

#include <cstdio>

namespace {

std::string DateText(const std::optional<TCalendarTime>& time)
{
    if (!time)
        return {};
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", time->Year, time->Month,
                  time->Day, time->Hour, time->Minute, time->Second);
    return text;
}

std::string Printable(std::string_view ansi)
{
    std::string text(ansi);
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = '?';
    return AnsiToUtf8(text);
}

// The text in UTF-8 with its control characters as themselves, not as the pictures the screen
// shows for them: JSON writes them exactly.
std::string ExactUtf8(std::string_view ansi)
{
    if (!MayHoldEscapes(ansi))
        return AnsiToUtf8(ansi);
    std::string text;
    text.reserve(ansi.size());
    for (size_t at = 0; at < ansi.size();) {
        const std::optional<char32_t> escaped = EscapeAt(ansi.substr(at));
        if (escaped && (*escaped < 0x20 || *escaped == 0x7F)) {
            text += static_cast<char>(*escaped);
            at += kEscapeLength;
        } else {
            const size_t length = escaped ? kEscapeLength : 1;
            text.append(ansi.substr(at, length));
            at += length;
        }
    }
    return AnsiToUtf8(text);
}

// A JSON string of UTF-8 text, with its quotes.
std::string JsonString(std::string_view utf8)
{
    std::string out = "\"";
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
    return out + "\"";
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

std::string TextLine(const TPrintedHit& hit)
{
    return Printable(hit.Disc) + '\t' + Printable(hit.Path) + '\t' + std::to_string(hit.Size) +
           '\t' + DateText(hit.Time) + '\n';
}

std::string JsonLine(const TPrintedHit& hit)
{
    const std::string date = DateText(hit.Time);
    return "{\"collection\":" + JsonString(ValidUtf8(hit.Collection)) +
           ",\"disc\":" + JsonString(ExactUtf8(hit.Disc)) +
           ",\"path\":" + JsonString(ExactUtf8(hit.Path)) +
           ",\"name\":" + JsonString(ExactUtf8(hit.Name)) + ",\"type\":\"" +
           (hit.Folder ? "folder" : "file") + "\",\"size\":" + std::to_string(hit.Size) +
           ",\"date\":" + (date.empty() ? std::string("null") : JsonString(date)) + "}\n";
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
