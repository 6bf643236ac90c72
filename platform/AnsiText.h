#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

// Names, titles and messages live inside Fendrel as 8-bit text in code page 1251 ("ansi").
// These functions are the one place where that text meets UTF-8; nothing here depends on the
// process locale.
//
// A character that the code page cannot hold is kept as an escape: the byte 0x98, which the code
// page leaves unassigned (so no genuine code page 1251 text holds it), followed by the character's
// code point in six upper-case hexadecimal digits: "M\x98" "0000FCller" is "Müller". A byte of a
// file name that is not UTF-8 is kept the same way, as the code point U+DC00 plus the byte
// (U+DC80..U+DCFF), and a control character as its own code point, so that no name is ever
// changed, and none can break a line of the collection file. An 0x98 that starts no escape is a
// byte like any other.

inline constexpr char kEscapeByte = '\x98';
inline constexpr size_t kEscapeLength = 7; // the 0x98 and six digits
// The escape of a byte that is not UTF-8: this plus the byte.
inline constexpr char32_t kRawByteEscapes = 0xDC00;

// The longest name the collection keeps: 255 characters, each escape counting as one. Any Linux
// file name (255 bytes of UTF-8 at most) fits.
inline constexpr size_t kLongestName = 255;

// Code page 1251 to UTF-8, for display. An escape gives its character; a control character shows
// as its picture (U+2400..U+2421), a byte that was not UTF-8, another C1 control or a lone
// surrogate as U+FFFD, and so does an 0x98 that starts no escape.
[[nodiscard]] std::string AnsiToUtf8(std::string_view ansi);

// UTF-8 to code page 1251. A character the code page lacks becomes its escape, a byte that is not
// valid UTF-8 the escape of U+DC00 plus the byte. Control characters stay as they are.
[[nodiscard]] std::string Utf8ToAnsi(std::string_view utf8);

// Appends the UTF-8 form of the code point c (at most U+10FFFF).
void AppendUtf8(std::string& out, char32_t c);
// UTF-16 in big-endian byte order (as Joliet and UDF names hold it) in UTF-8; a lone surrogate
// becomes U+FFFD, and an odd last byte is dropped.
[[nodiscard]] std::string Utf8FromUtf16BigEndian(std::span<const uint8_t> bytes);

// UTF-8 as UTF-16, written into text (storage reused); each byte that starts no valid sequence
// becomes U+FFFD.
void Utf16FromUtf8(std::string_view utf8, std::u16string& text);

// Whether the bytes are valid UTF-8 throughout (as Utf8ToAnsi reads it).
[[nodiscard]] bool IsValidUtf8(std::string_view bytes);

// Shorthand for the program's own texts, which are written in UTF-8 in the sources.
[[nodiscard]] inline std::string Ansi(std::string_view utf8)
{
    return Utf8ToAnsi(utf8);
}

// The code point of the escape at the start of text, if a valid one (0x98, six upper-case
// hexadecimal digits, at most U+10FFFF) starts it.
[[nodiscard]] std::optional<char32_t> EscapeAt(std::string_view text);
// Appends the escape of c (at most U+10FFFF).
void AppendEscape(std::string& text, char32_t c);
// Whether the text holds the byte 0x98 at all: text without it has no escape.
[[nodiscard]] bool MayHoldEscapes(std::string_view text);

// The code page's byte for the character c, if it has one (every c below U+0080 is its own byte).
[[nodiscard]] std::optional<unsigned char> AnsiByteOf(char32_t c);

// Replaces each byte below 0x20 (CR, LF, tab and the other control bytes) with its escape. Names
// and titles pass through here before they enter the collection, whose file is made of lines.
void EscapeControlBytes(std::string& text);

// The longest start of text of at most most characters, an escape counting as one: an escape is
// never cut.
namespace ansi_detail {
[[nodiscard]] std::string_view FirstCharactersOfLonger(std::string_view text, size_t most);
}
[[nodiscard]] inline std::string_view FirstCharacters(std::string_view text, size_t most)
{
    return text.size() <= most ? text : ansi_detail::FirstCharactersOfLonger(text, most);
}

// Lower-casing of code page 1251: A-Z, А-Я, Ё and the other capital letters of the code page
// become their small letters; every other byte stays as it is.
namespace ansi_detail {
[[nodiscard]] constexpr std::array<unsigned char, 256> MakeLowerTable()
{
    std::array<unsigned char, 256> table{};
    for (int i = 0; i < 256; ++i)
        table[i] = static_cast<unsigned char>(i);
    for (int c = 'A'; c <= 'Z'; ++c)
        table[c] = static_cast<unsigned char>(c + 32);
    for (int c = 0xC0; c <= 0xDF; ++c) // А-Я
        table[c] = static_cast<unsigned char>(c + 32);
    // The capitals of the code page's upper half that lie outside А-Я.
    constexpr unsigned char pairs[][2] = {
        {0x80, 0x90}, {0x81, 0x83}, {0x8A, 0x9A}, {0x8C, 0x9C}, {0x8D, 0x9D},
        {0x8E, 0x9E}, {0x8F, 0x9F}, {0xA1, 0xA2}, {0xA3, 0xBC}, {0xA5, 0xB4},
        {0xA8, 0xB8}, {0xAA, 0xBA}, {0xAF, 0xBF}, {0xB2, 0xB3}, {0xBD, 0xBE},
    };
    for (const auto& pair : pairs)
        table[pair[0]] = pair[1];
    return table;
}

inline constexpr std::array<unsigned char, 256> kLowerTable = MakeLowerTable();
} // namespace ansi_detail
[[nodiscard]] constexpr char CharLowerA(char c)
{
    return static_cast<char>(ansi_detail::kLowerTable[static_cast<unsigned char>(c)]);
}
void CharLowerA(std::string& text);

// Upper-casing of the "C" locale: a-z become A-Z, every other byte (0x80-0xFF too) stays.
[[nodiscard]] constexpr unsigned char CUpper(unsigned char c)
{
    return (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - 'a' + 'A') : c;
}
