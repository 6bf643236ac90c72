#pragma once

#include <string>
#include <string_view>

// Names, titles and messages live inside Fendrel as 8-bit text in code page 1251 ("ansi").
// These functions are the one place where that text meets UTF-8; nothing here depends on the
// process locale.

// Code page 1251 to UTF-8. The one unassigned byte (0x98) becomes U+FFFD.
[[nodiscard]] std::string AnsiToUtf8(std::string_view ansi);

// UTF-8 to code page 1251. A character the code page cannot hold, or a byte that is not valid
// UTF-8, becomes '?'.
[[nodiscard]] std::string Utf8ToAnsi(std::string_view utf8);

// Shorthand for the program's own texts, which are written in UTF-8 in the sources.
[[nodiscard]] inline std::string Ansi(std::string_view utf8)
{
    return Utf8ToAnsi(utf8);
}

// Replaces each byte below 0x20 (CR, LF, tab and the other control bytes) with '?'. Names and
// titles pass through here before they enter the collection, whose file is made of lines.
void ReplaceControlBytes(std::string& text);

// Lower-casing of code page 1251: A-Z, А-Я, Ё and the other capital letters of the code page
// become their small letters; every other byte stays as it is.
[[nodiscard]] char CharLowerA(char c);
void CharLowerA(std::string& text);

// Upper-casing of the "C" locale: a-z become A-Z, every other byte (0x80-0xFF too) stays.
[[nodiscard]] constexpr unsigned char CUpper(unsigned char c)
{
    return (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - 'a' + 'A') : c;
}
