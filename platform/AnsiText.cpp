#include "platform/AnsiText.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// The characters of the bytes 0x80 to 0xFF of code page 1251, as glibc's iconv converts them
// (a test holds the two together). Kept here rather than asked of iconv, whose conversion
// modules every start of fendrel-find would otherwise load. 0x98 is unassigned.
constexpr std::array<char32_t, 128> kUpperHalf = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039,
    0x040A, 0x040C, 0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0xFFFD, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, 0x00A0, 0x040E, 0x045E, 0x0408,
    0x00A4, 0x0490, 0x00A6, 0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB,
    0x0458, 0x0405, 0x0455, 0x0457, 0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417,
    0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E, 0x041F, 0x0420, 0x0421, 0x0422, 0x0423,
    0x0424, 0x0425, 0x0426, 0x0427, 0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F,
    0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437, 0x0438, 0x0439, 0x043A, 0x043B,
    0x043C, 0x043D, 0x043E, 0x043F, 0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447,
    0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F,
};

// Code page 1251 both ways: the character of each byte, and the byte of each character up to
// the highest the code page holds.
class TCodePage {
public:
    TCodePage()
    {
        for (int byte = 0; byte < 256; ++byte)
            Characters_[byte] = byte < 0x80 ? static_cast<char32_t>(byte) : kUpperHalf[byte - 0x80];
        // The lead byte of every escape is never a character.
        Characters_[static_cast<unsigned char>(kEscapeByte)] = kReplacement;
        char32_t highest = 0;
        for (int byte = 0x80; byte < 256; ++byte)
            if (Characters_[byte] != kReplacement)
                highest = std::max(highest, Characters_[byte]);
        Bytes_.assign(highest + 1, 0);
        for (int byte = 0x80; byte < 256; ++byte)
            if (Characters_[byte] != kReplacement)
                Bytes_[Characters_[byte]] = static_cast<unsigned char>(byte);
    }

    [[nodiscard]] char32_t CharacterOf(unsigned char byte) const { return Characters_[byte]; }
    [[nodiscard]] std::optional<unsigned char> ByteOf(char32_t c) const
    {
        if (c < 0x80)
            return static_cast<unsigned char>(c);
        if (c < Bytes_.size() && Bytes_[c] != 0)
            return Bytes_[c];
        return std::nullopt;
    }

private:
    std::array<char32_t, 256> Characters_{};
    std::vector<unsigned char> Bytes_; // 0: not in the code page
};

const TCodePage& CodePage()
{
    static const TCodePage codePage;
    return codePage;
}

bool IsAscii(std::string_view text)
{
    for (const char c : text)
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    return true;
}

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool IsContinuation(unsigned char byte)
{
    return (byte & 0xC0) == 0x80;
}

struct TDecoded {
    char32_t CodePoint = 0;
    size_t Length = 0; // 0: not a valid sequence
};

// The UTF-8 sequence at the start of text, which begins with a byte of 0x80 or more. Overlong
// forms, surrogates, code points past U+10FFFF and cut sequences are not valid: each of their
// bytes is kept on its own, so that every string of bytes has exactly one reading.
TDecoded DecodeUtf8(std::string_view text)
{
    const auto byte = [&](size_t i) {
        return static_cast<unsigned char>(text[i]);
    };
    const unsigned char lead = byte(0);
    size_t length = 0;
    unsigned char low = 0x80; // the range of the second byte
    unsigned char high = 0xBF;
    char32_t value = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        value = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        value = lead & 0x0F;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        value = lead & 0x07;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return {};
    }
    if (text.size() < length || byte(1) < low || byte(1) > high)
        return {};
    for (size_t i = 1; i < length; ++i) {
        if (!IsContinuation(byte(i)))
            return {};
        value = value << 6 | (byte(i) & 0x3F);
    }
    return {value, length};
}

// What an escaped character looks like on the screen: never a control character, which would
// break the line of a message or an item, and never a lone surrogate, which UTF-8 cannot hold.
char32_t Shown(char32_t c)
{
    if (c < 0x20)
        return 0x2400 + c; // the pictures of the control characters: ␀ to ␟
    if (c == 0x7F)
        return 0x2421; // ␡
    if ((c >= 0x80 && c < 0xA0) || (c >= 0xD800 && c < 0xE000))
        return kReplacement;
    return c;
}

} // namespace

std::optional<char32_t> EscapeAt(std::string_view text)
{
    if (text.size() < kEscapeLength || text[0] != kEscapeByte)
        return std::nullopt;
    char32_t value = 0;
    for (size_t i = 1; i < kEscapeLength; ++i) {
        const int digit = HexValue(text[i]);
        if (digit < 0)
            return std::nullopt;
        value = value << 4 | static_cast<char32_t>(digit);
    }
    if (value > 0x10FFFF)
        return std::nullopt;
    return value;
}

void AppendEscape(std::string& text, char32_t c)
{
    static constexpr char kDigits[] = "0123456789ABCDEF";
    char escape[kEscapeLength];
    escape[0] = kEscapeByte;
    for (size_t i = kEscapeLength - 1; i > 0; --i, c >>= 4)
        escape[i] = kDigits[c & 0xF];
    text.append(escape, kEscapeLength);
}

bool MayHoldEscapes(std::string_view text)
{
    return !text.empty() && std::memchr(text.data(), static_cast<unsigned char>(kEscapeByte),
                                        text.size()) != nullptr;
}

std::optional<unsigned char> AnsiByteOf(char32_t c)
{
    return CodePage().ByteOf(c);
}

std::string AnsiToUtf8(std::string_view ansi)
{
    if (IsAscii(ansi))
        return std::string(ansi);
    const TCodePage& codePage = CodePage();
    std::string out;
    out.reserve(ansi.size() * 2);
    for (size_t i = 0; i < ansi.size();) {
        const auto byte = static_cast<unsigned char>(ansi[i]);
        if (byte < 0x80) {
            out += static_cast<char>(byte);
            ++i;
        } else if (const auto escaped = EscapeAt(ansi.substr(i))) {
            AppendUtf8(out, Shown(*escaped));
            i += kEscapeLength;
        } else {
            AppendUtf8(out, codePage.CharacterOf(byte));
            ++i;
        }
    }
    return out;
}

std::string Utf8ToAnsi(std::string_view utf8)
{
    if (IsAscii(utf8))
        return std::string(utf8);
    const TCodePage& codePage = CodePage();
    std::string out;
    out.reserve(utf8.size());
    for (size_t i = 0; i < utf8.size();) {
        const auto byte = static_cast<unsigned char>(utf8[i]);
        if (byte < 0x80) {
            out += static_cast<char>(byte);
            ++i;
            continue;
        }
        const TDecoded decoded = DecodeUtf8(utf8.substr(i));
        if (decoded.Length == 0) {
            AppendEscape(out, kRawByteEscapes + byte);
            ++i;
            continue;
        }
        if (const auto ansi = codePage.ByteOf(decoded.CodePoint))
            out += static_cast<char>(*ansi);
        else
            AppendEscape(out, decoded.CodePoint);
        i += decoded.Length;
    }
    return out;
}

bool IsValidUtf8(std::string_view bytes)
{
    for (size_t i = 0; i < bytes.size();) {
        if (static_cast<unsigned char>(bytes[i]) < 0x80) {
            ++i;
            continue;
        }
        const size_t length = DecodeUtf8(bytes.substr(i)).Length;
        if (length == 0)
            return false;
        i += length;
    }
    return true;
}

void EscapeControlBytes(std::string& text)
{
    size_t at = 0;
    while (at < text.size() && static_cast<unsigned char>(text[at]) >= 0x20)
        ++at;
    if (at == text.size())
        return;
    std::string escaped(text, 0, at);
    for (; at < text.size(); ++at) {
        const auto byte = static_cast<unsigned char>(text[at]);
        if (byte < 0x20)
            AppendEscape(escaped, byte);
        else
            escaped += static_cast<char>(byte);
    }
    text = std::move(escaped);
}

std::string_view ansi_detail::FirstCharactersOfLonger(std::string_view text, size_t most)
{
    size_t end = 0;
    for (size_t count = 0; count < most && end < text.size(); ++count)
        end += EscapeAt(text.substr(end)) ? kEscapeLength : 1;
    return text.substr(0, end);
}

void CharLowerA(std::string& text)
{
    // The digits of an escape stay upper case: lowered, they would no longer make an escape.
    for (size_t i = 0; i < text.size();) {
        if (text[i] == kEscapeByte && EscapeAt(std::string_view(text).substr(i))) {
            i += kEscapeLength;
            continue;
        }
        text[i] = CharLowerA(text[i]);
        ++i;
    }
}

void AppendUtf8(std::string& out, char32_t c)
{
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

void Utf16FromUtf8(std::string_view utf8, std::u16string& text)
{
    text.clear();
    text.reserve(utf8.size());
    for (size_t i = 0; i < utf8.size();) {
        const auto byte = static_cast<unsigned char>(utf8[i]);
        if (byte < 0x80) {
            text += static_cast<char16_t>(byte);
            ++i;
            continue;
        }
        const TDecoded decoded = DecodeUtf8(utf8.substr(i));
        if (decoded.Length == 0) {
            text += static_cast<char16_t>(kReplacement);
            ++i;
        } else if (decoded.CodePoint < 0x10000) {
            text += static_cast<char16_t>(decoded.CodePoint);
            i += decoded.Length;
        } else {
            text += static_cast<char16_t>(0xD800 + ((decoded.CodePoint - 0x10000) >> 10));
            text += static_cast<char16_t>(0xDC00 + ((decoded.CodePoint - 0x10000) & 0x3FF));
            i += decoded.Length;
        }
    }
}

std::string Utf8FromUtf16BigEndian(std::span<const uint8_t> bytes)
{
    std::string out;
    out.reserve(bytes.size());
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        char32_t c = static_cast<char32_t>(bytes[i] << 8 | bytes[i + 1]);
        if (c >= 0xD800 && c < 0xE000) {
            const char32_t low =
                i + 3 < bytes.size() ? static_cast<char32_t>(bytes[i + 2] << 8 | bytes[i + 3]) : 0;
            if (c < 0xDC00 && low >= 0xDC00 && low < 0xE000) {
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                i += 2;
            } else {
                c = 0xFFFD;
            }
        }
        AppendUtf8(out, c);
    }
    return out;
}
