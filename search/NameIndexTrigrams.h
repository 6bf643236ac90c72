#pragma once

// The characters the index's trigrams are made of, and the keys of the trigrams. A name is read
// here as the searches compare it, and a pattern the same way, so that every trigram a pattern
// requires is one that the names it can match were indexed under.

#include "collection/NameOrder.h"
#include "platform/AnsiText.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace name_index_detail {

// Each byte lowered, as CharLowerA lowers it.
[[nodiscard]] const std::array<unsigned char, 256>& Lowered();

// text is never empty. One character of a name as the substring search compares it (lowered; an
// escape of a character the code page has as that byte), with every other character as
// kOtherCharacter.
unsigned char FoldedCharacterAt(std::string_view text, size_t& length);

// The characters of an already folded text as the searches read it: an escape is one
// character (the byte it stands for when escapeAsByte and the code page has one), anything
// else a byte.
void AppendFoldedTextCharacters(std::string_view text, bool escapeAsByte, std::string& out);

// Each character of the index as one of 64 classes: digits and Latin letters each their own,
// Cyrillic letters two or so to a class, the commonest signs their own, everything else one
// class. Trigrams of classes keep a small table, which makes the index quick to build; names
// that share a class trigram only cost the search a few more names to check.
inline constexpr unsigned kClassBits = 6;
inline constexpr uint32_t kKeyCount = uint32_t{1} << (3 * kClassBits);

inline const std::array<uint8_t, 256>& Classes()
{
    static const std::array<uint8_t, 256> table = [] {
        std::array<uint8_t, 256> made{};
        for (int c = '0'; c <= '9'; ++c)
            made[c] = static_cast<uint8_t>(1 + c - '0');
        for (int c = 'a'; c <= 'z'; ++c)
            made[c] = static_cast<uint8_t>(11 + c - 'a');
        for (int c = 0xE0; c <= 0xFF; ++c) // а to я
            made[c] = static_cast<uint8_t>(37 + (c - 0xE0) % 24);
        made[0xB8] = 37 + 5; // ё with е
        made[' '] = 61;
        made['.'] = 62;
        made['-'] = 63;
        made['_'] = 63;
        return made;
    }();
    return table;
}

inline uint32_t TrigramKey(unsigned char a, unsigned char b, unsigned char c)
{
    const std::array<uint8_t, 256>& classes = Classes();
    return (uint32_t{classes[a]} << (2 * kClassBits)) | (uint32_t{classes[b]} << kClassBits) |
           classes[c];
}

template <typename TVisit> void ForEachTrigram(std::string_view characters, TVisit&& visit)
{
    for (size_t i = 0; i + 3 <= characters.size(); ++i)
        visit(TrigramKey(static_cast<unsigned char>(characters[i]),
                         static_cast<unsigned char>(characters[i + 1]),
                         static_cast<unsigned char>(characters[i + 2])));
}

// The trigrams of a name: those of its characters as the substring search folds them, and,
// for a name with an 0x98 in it, also as the wildcard search reads its folded name.
template <typename TVisit> void ForEachNameTrigram(std::string_view name, TVisit&& visit)
{
    if (!MayHoldEscapes(name)) {
        // The common case, without the characters in between: each byte's class straight away.
        static const std::array<uint8_t, 256> classOfByte = [] {
            std::array<uint8_t, 256> made{};
            for (size_t c = 0; c < made.size(); ++c)
                made[c] = Classes()[Lowered()[c]];
            return made;
        }();
        uint32_t key = 0;
        for (size_t i = 0; i < name.size(); ++i) {
            key = ((key << kClassBits) | classOfByte[static_cast<unsigned char>(name[i])]) &
                  (kKeyCount - 1);
            if (i >= 2)
                visit(key);
        }
        return;
    }
    thread_local std::string characters;
    characters.clear();
    for (std::string_view rest = name; !rest.empty();) {
        size_t length = 1;
        characters += static_cast<char>(FoldedCharacterAt(rest, length));
        rest.remove_prefix(length);
    }
    ForEachTrigram(characters, visit);
    characters.clear();
    AppendFoldedTextCharacters(FoldName(name), false, characters);
    ForEachTrigram(characters, visit);
}

} // namespace name_index_detail
