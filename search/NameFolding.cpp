#include "search/NameFolding.h"

#include "collection/NameOrder.h"
#include "platform/AnsiText.h"

#include <array>

namespace {

using TByteTable = std::array<char, 256>;

const TByteTable& LowerTable()
{
    static const TByteTable table = [] {
        TByteTable made{};
        for (int c = 0; c < 256; ++c)
            made[c] = CharLowerA(static_cast<char>(c));
        return made;
    }();
    return table;
}

// Each byte of the code page as UTF-16, taken once from the one conversion of the program.
const std::array<char16_t, 256>& Utf16Table()
{
    static const std::array<char16_t, 256> table = [] {
        std::array<char16_t, 256> made{};
        for (int c = 0; c < 256; ++c) {
            const std::string utf8 = AnsiToUtf8(std::string(1, static_cast<char>(c)));
            char32_t code = 0xFFFD;
            const auto* bytes = reinterpret_cast<const unsigned char*>(utf8.data());
            if (utf8.size() == 1)
                code = bytes[0];
            else if (utf8.size() == 2)
                code = ((bytes[0] & 0x1Fu) << 6) | (bytes[1] & 0x3Fu);
            else if (utf8.size() == 3)
                code = ((bytes[0] & 0x0Fu) << 12) | ((bytes[1] & 0x3Fu) << 6) | (bytes[2] & 0x3Fu);
            made[c] = static_cast<char16_t>(code);
        }
        return made;
    }();
    return table;
}

} // namespace

void FoldName(std::string_view name, std::string& folded)
{
    if (MayHoldEscapes(name)) {
        folded = ::FoldName(name);
        return;
    }
    const TByteTable& lower = LowerTable();
    folded.resize(name.size());
    for (size_t i = 0; i < name.size(); ++i)
        folded[i] = lower[static_cast<unsigned char>(name[i])];
}

std::string FoldPattern(std::string_view utf8)
{
    return ::FoldName(Utf8ToAnsi(utf8));
}

void NameToUtf16(std::string_view name, std::u16string& text)
{
    if (MayHoldEscapes(name)) {
        Utf16FromUtf8(AnsiToUtf8(name), text);
        return;
    }
    const auto& table = Utf16Table();
    text.resize(name.size());
    for (size_t i = 0; i < name.size(); ++i)
        text[i] = table[static_cast<unsigned char>(name[i])];
}
