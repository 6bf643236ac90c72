#include "collection/NameOrder.h"

#include "platform/AnsiText.h"
#include "platform/CaseFolding.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

namespace {

using TByteTable = std::array<unsigned char, 256>;

TByteTable MakeLowered()
{
    TByteTable lowered{};
    for (int i = 0; i < 256; ++i)
        lowered[i] = static_cast<unsigned char>(CharLowerA(static_cast<char>(i)));
    return lowered;
}

// Each byte lowered by the code page, as a table: one load per byte.
const TByteTable kLowered = MakeLowered();

// Each byte as the ordering sees it: lowered by the code page, then upper-cased by "C".
TByteTable MakeOrderKeys()
{
    TByteTable keys{};
    for (int i = 0; i < 256; ++i)
        keys[i] = CUpper(kLowered[i]);
    return keys;
}

const TByteTable kOrderKeys = MakeOrderKeys();

constexpr uint32_t kFirstEscaped = 0x100;

// One character of a name as case-blind comparisons see it: below 0x100 a byte of the code page,
// lowered; from 0x100 on, 0x100 plus the folded code point of an escaped character.
struct TFolded {
    uint32_t Value = 0;
    size_t Length = 1; // bytes of the name it takes
};

TFolded FoldedAt(std::string_view text)
{
    const auto byte = static_cast<unsigned char>(text[0]);
    if (text[0] != kEscapeByte)
        return {kLowered[byte], 1};
    const std::optional<char32_t> escaped = EscapeAt(text);
    if (!escaped)
        return {kLowered[byte], 1};
    std::optional<unsigned char> ansi = AnsiByteOf(*escaped);
    if (!ansi) {
        const char32_t folded = SimpleCaseFold(*escaped);
        ansi = AnsiByteOf(folded); // the Kelvin sign folds to k
        if (!ansi)
            return {kFirstEscaped + folded, kEscapeLength};
    }
    return {kLowered[*ansi], kEscapeLength};
}

uint32_t OrderKey(uint32_t folded)
{
    return folded < kFirstEscaped ? CUpper(static_cast<unsigned char>(folded)) : folded;
}

// The ordering, one character at a time, of names that may hold escapes.
int CompareCharacters(std::string_view a, std::string_view b)
{
    while (!a.empty() && !b.empty()) {
        const TFolded x = FoldedAt(a);
        const TFolded y = FoldedAt(b);
        const uint32_t kx = OrderKey(x.Value);
        const uint32_t ky = OrderKey(y.Value);
        if (kx != ky)
            return kx < ky ? -1 : 1;
        a.remove_prefix(x.Length);
        b.remove_prefix(y.Length);
    }
    return a.empty() ? (b.empty() ? 0 : -1) : 1;
}

// The characters of a folded text, as it stands: an escape is one, a byte another.
void CharactersOf(std::string_view text, std::vector<uint32_t>& out)
{
    out.clear();
    while (!text.empty()) {
        if (const auto escaped = EscapeAt(text)) {
            const std::optional<unsigned char> ansi = AnsiByteOf(*escaped);
            out.push_back(ansi ? *ansi : kFirstEscaped + *escaped);
            text.remove_prefix(kEscapeLength);
        } else {
            out.push_back(static_cast<unsigned char>(text[0]));
            text.remove_prefix(1);
        }
    }
}

// The search in a name that may hold escapes, character by character, so that a match never
// begins or ends inside an escape.
bool ContainsByCharacters(std::string_view name, std::string_view folded)
{
    thread_local std::vector<uint32_t> nameCharacters;
    thread_local std::vector<uint32_t> wanted;
    nameCharacters.clear();
    for (std::string_view rest = name; !rest.empty();) {
        const TFolded c = FoldedAt(rest);
        nameCharacters.push_back(c.Value);
        rest.remove_prefix(c.Length);
    }
    CharactersOf(folded, wanted);
    return std::search(nameCharacters.begin(), nameCharacters.end(), wanted.begin(),
                       wanted.end()) != nameCharacters.end();
}

} // namespace

int CompareNamesIC(std::string_view a, std::string_view b)
{
    // Names are compared as C strings: each ends at its first zero byte.
    a = a.substr(0, a.find('\0'));
    b = b.substr(0, b.find('\0'));
    const size_t common = std::min(a.size(), b.size());
    for (size_t i = 0; i < common; ++i) {
        if (a[i] == kEscapeByte || b[i] == kEscapeByte)
            return CompareCharacters(a.substr(i), b.substr(i));
        const unsigned char x = kOrderKeys[static_cast<unsigned char>(a[i])];
        const unsigned char y = kOrderKeys[static_cast<unsigned char>(b[i])];
        if (x != y)
            return x < y ? -1 : 1;
    }
    return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

bool StrCompareIC(std::string_view a, std::string_view b)
{
    return CompareNamesIC(a, b) < 0;
}

std::string FoldName(std::string_view name)
{
    std::string folded;
    folded.reserve(name.size());
    if (!MayHoldEscapes(name)) {
        for (const char c : name)
            folded += static_cast<char>(kLowered[static_cast<unsigned char>(c)]);
        return folded;
    }
    while (!name.empty()) {
        const TFolded c = FoldedAt(name);
        if (c.Value < kFirstEscaped)
            folded += static_cast<char>(c.Value);
        else
            AppendEscape(folded, c.Value - kFirstEscaped);
        name.remove_prefix(c.Length);
    }
    return folded;
}

bool FoldedNameContains(std::string_view name, std::string_view folded)
{
    if (folded.empty())
        return true;
    if (name.size() < folded.size())
        return false;
    // Byte by byte, each lowered as it is compared so that no copy is made, until an 0x98 shows
    // that the name may hold escapes. A match takes at least as many bytes of the name as the
    // filter has, so it starts by lastStart; and the first escape in it lies within the filter's
    // length of its start, where the comparison meets its 0x98. So no escape can be missed.
    const unsigned char first = static_cast<unsigned char>(folded[0]);
    const size_t lastStart = name.size() - folded.size();
    for (size_t start = 0; start <= lastStart; ++start) {
        const unsigned char c = kLowered[static_cast<unsigned char>(name[start])];
        if (c == static_cast<unsigned char>(kEscapeByte))
            return ContainsByCharacters(name, folded);
        if (c != first)
            continue;
        size_t i = 1;
        for (; i < folded.size(); ++i) {
            const unsigned char next = kLowered[static_cast<unsigned char>(name[start + i])];
            if (next == static_cast<unsigned char>(kEscapeByte))
                return ContainsByCharacters(name, folded);
            if (next != static_cast<unsigned char>(folded[i]))
                break;
        }
        if (i == folded.size())
            return true;
    }
    return false;
}
