// One character of a name, or of a pattern already folded, as the byte the index's trigrams are
// made of: the same byte for a name's character as for the pattern's that the search takes to
// match it, so that a pattern's trigrams are among those of every name it can match.

#include "search/NameIndexTrigrams.h"

#include "platform/AnsiText.h"
#include "platform/CaseFolding.h"

#include <optional>

namespace name_index_detail {

namespace {

// Stands for every character the code page lacks: the trigrams only narrow the search, so
// letting such characters share one value loses nothing but a little of the narrowing.
constexpr unsigned char kOtherCharacter = 0x98;

} // namespace

const std::array<unsigned char, 256>& Lowered()
{
    static const std::array<unsigned char, 256> table = [] {
        std::array<unsigned char, 256> made{};
        for (int c = 0; c < 256; ++c)
            made[c] = static_cast<unsigned char>(CharLowerA(static_cast<char>(c)));
        return made;
    }();
    return table;
}

unsigned char FoldedCharacterAt(std::string_view text, size_t& length)
{
    // cppcheck-suppress containerOutOfBounds
    const auto byte = static_cast<unsigned char>(text[0]);
    length = 1;
    if (byte != static_cast<unsigned char>(kEscapeByte))
        return Lowered()[byte];
    const std::optional<char32_t> escaped = EscapeAt(text);
    if (!escaped)
        return Lowered()[byte];
    length = kEscapeLength;
    std::optional<unsigned char> ansi = AnsiByteOf(*escaped);
    if (!ansi)
        ansi = AnsiByteOf(SimpleCaseFold(*escaped));
    return ansi ? Lowered()[*ansi] : kOtherCharacter;
}

void AppendFoldedTextCharacters(std::string_view text, bool escapeAsByte, std::string& out)
{
    while (!text.empty()) {
        if (const std::optional<char32_t> escaped = EscapeAt(text)) {
            const std::optional<unsigned char> ansi =
                escapeAsByte ? AnsiByteOf(*escaped) : std::nullopt;
            out += static_cast<char>(ansi ? *ansi : kOtherCharacter);
            text.remove_prefix(kEscapeLength);
        } else {
            out += text[0];
            text.remove_prefix(1);
        }
    }
}

} // namespace name_index_detail
