#include "platform/AnsiText.h"

#include <array>
#include <cerrno>
#include <iconv.h>
#include <stdexcept>

namespace {

// One iconv conversion descriptor, reset before every use.
class TIconv {
public:
    TIconv(const char* to, const char* from)
        : Cd_(iconv_open(to, from))
    {
        if (Cd_ == reinterpret_cast<iconv_t>(-1))
            throw std::runtime_error("iconv cannot convert code page 1251");
    }
    ~TIconv() { iconv_close(Cd_); }
    TIconv(const TIconv&) = delete;
    TIconv& operator=(const TIconv&) = delete;

    // Converts the whole input; onBadInput(rest, out) appends a replacement and returns how many
    // input bytes it stands for.
    template <typename TOnBadInput> std::string Convert(std::string_view in, TOnBadInput onBadInput)
    {
        iconv(Cd_, nullptr, nullptr, nullptr, nullptr);
        std::string out;
        out.resize(in.size() * 3 + 4);
        char* src = const_cast<char*>(in.data());
        size_t srcLeft = in.size();
        size_t used = 0;
        while (srcLeft > 0) {
            char* dst = out.data() + used;
            size_t dstLeft = out.size() - used;
            const size_t rc = iconv(Cd_, &src, &srcLeft, &dst, &dstLeft);
            used = out.size() - dstLeft;
            if (rc != static_cast<size_t>(-1))
                break;
            if (errno == E2BIG) {
                out.resize(out.size() * 2);
                continue;
            }
            // EILSEQ or EINVAL: a byte sequence that has no counterpart.
            out.resize(used);
            const size_t skip = onBadInput(std::string_view(src, srcLeft), out);
            used = out.size();
            out.resize(used + srcLeft * 3 + 4);
            src += skip;
            srcLeft -= skip;
        }
        out.resize(used);
        return out;
    }

private:
    iconv_t Cd_;
};

bool IsAscii(std::string_view text)
{
    for (const char c : text)
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    return true;
}

// Length of the UTF-8 sequence at the start of text, or 1 when it is not a valid sequence.
size_t Utf8SequenceLength(std::string_view text)
{
    const auto lead = static_cast<unsigned char>(text[0]);
    size_t length = 1;
    if (lead >= 0xC2 && lead <= 0xDF)
        length = 2;
    else if (lead >= 0xE0 && lead <= 0xEF)
        length = 3;
    else if (lead >= 0xF0 && lead <= 0xF4)
        length = 4;
    if (length > text.size())
        return 1;
    for (size_t i = 1; i < length; ++i)
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80)
            return 1;
    return length;
}

constexpr std::array<unsigned char, 256> MakeLowerTable()
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

constexpr std::array<unsigned char, 256> kLower = MakeLowerTable();

} // namespace

std::string AnsiToUtf8(std::string_view ansi)
{
    if (IsAscii(ansi))
        return std::string(ansi);
    thread_local TIconv converter("UTF-8", "CP1251");
    return converter.Convert(ansi, [](std::string_view, std::string& out) {
        out += "\xEF\xBF\xBD";
        return size_t{1};
    });
}

std::string Utf8ToAnsi(std::string_view utf8)
{
    if (IsAscii(utf8))
        return std::string(utf8);
    thread_local TIconv converter("CP1251", "UTF-8");
    return converter.Convert(utf8, [](std::string_view rest, std::string& out) {
        out += '?';
        return Utf8SequenceLength(rest);
    });
}

void ReplaceControlBytes(std::string& text)
{
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 0x20)
            c = '?';
}

char CharLowerA(char c)
{
    return static_cast<char>(kLower[static_cast<unsigned char>(c)]);
}

void CharLowerA(std::string& text)
{
    for (char& c : text)
        c = CharLowerA(c);
}
