#include "collection/NameOrder.h"

#include "platform/AnsiText.h"
#include "platform/CaseFolding.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

using TByteTable = std::array<unsigned char, 256>;

constexpr TByteTable MakeLowered()
{
    TByteTable lowered{};
    for (int i = 0; i < 256; ++i)
        lowered[i] = static_cast<unsigned char>(CharLowerA(static_cast<char>(i)));
    return lowered;
}

// Each byte lowered by the code page, as a table: one load per byte.
constexpr TByteTable kLowered = MakeLowered();

// Each byte as the ordering sees it: lowered by the code page, then upper-cased by "C".
constexpr TByteTable MakeOrderKeys()
{
    TByteTable keys{};
    for (int i = 0; i < 256; ++i)
        keys[i] = CUpper(kLowered[i]);
    return keys;
}

constexpr TByteTable kOrderKeys = MakeOrderKeys();

constexpr uint32_t kFirstEscaped = 0x100;

// A set of bytes: as a table, and when it is small enough for the vector scan, as up to four of
// its bytes, each repeated sixteen times (unused places repeat the first byte).
struct TByteSet {
    std::array<bool, 256> Is{};
    alignas(16) std::array<std::array<unsigned char, 16>, 4> Repeated{};
    size_t Count = 0;

    constexpr void Add(unsigned char byte)
    {
        Is[byte] = true;
        if (Count == 0) {
            for (auto& place : Repeated)
                place.fill(byte);
        } else if (Count < Repeated.size()) {
            Repeated[Count].fill(byte);
        }
        ++Count;
    }
    [[nodiscard]] constexpr bool IsFew() const { return Count <= Repeated.size(); }
};

// The bytes that lower to 0x98: where the byte search gives way to whole characters.
constexpr TByteSet MakeEscapeBytes()
{
    TByteSet bytes;
    for (int byte = 0; byte < 256; ++byte)
        if (kLowered[byte] == static_cast<unsigned char>(kEscapeByte))
            bytes.Add(static_cast<unsigned char>(byte));
    return bytes;
}

constexpr TByteSet kEscapeBytes = MakeEscapeBytes();

// For each byte of a folded text, the bytes of a name that the byte search must look at in its
// place: those that lower to it, and those that lower to 0x98.
constexpr std::array<TByteSet, 256> MakeSearchBytes()
{
    std::array<TByteSet, 256> table{};
    for (int folded = 0; folded < 256; ++folded)
        for (int byte = 0; byte < 256; ++byte)
            if (kLowered[byte] == folded || kEscapeBytes.Is[byte])
                table[folded].Add(static_cast<unsigned char>(byte));
    return table;
}

// Made by the compiler: building it took a good part of the start of fendrel-find.
constexpr std::array<TByteSet, 256> kSearchBytes = MakeSearchBytes();

#if defined(__SSE2__)
// 0xFF in each place of chunk whose byte is in the set, which must be few.
__m128i InSet(__m128i chunk, const TByteSet& set)
{
    const auto repeated = [&](size_t i) {
        return _mm_load_si128(reinterpret_cast<const __m128i*>(set.Repeated[i].data()));
    };
    return _mm_or_si128(
        _mm_or_si128(_mm_cmpeq_epi8(chunk, repeated(0)), _mm_cmpeq_epi8(chunk, repeated(1))),
        _mm_or_si128(_mm_cmpeq_epi8(chunk, repeated(2)), _mm_cmpeq_epi8(chunk, repeated(3))));
}
#endif

// The first start from from to last where the byte search of folded (not empty) has anything to
// do: the name's byte there lowers to 0x98, or it lowers to the first byte of folded and the next
// one to the second byte or to 0x98. At every other start the search would find a difference in
// those two bytes and go on, so skipping them changes nothing. npos when there is none. Sixteen
// starts at a time where the processor can, since most starts of most names are skipped.
size_t NextCandidate(std::string_view name, size_t from, size_t last, std::string_view folded)
{
    const TByteSet& first = kSearchBytes[static_cast<unsigned char>(folded[0])];
    const TByteSet* second =
        folded.size() > 1 ? &kSearchBytes[static_cast<unsigned char>(folded[1])] : nullptr;
#if defined(__SSE2__)
    const size_t reach = second ? 17 : 16; // the bytes that sixteen starts look at
    if (first.IsFew() && (!second || second->IsFew()) && kEscapeBytes.IsFew() &&
        name.size() >= reach) {
        const auto load = [&](size_t at) {
            return _mm_loadu_si128(reinterpret_cast<const __m128i*>(name.data() + at));
        };
        const auto candidates = [&](size_t at) {
            const __m128i bytes = load(at);
            __m128i found = InSet(bytes, first);
            if (second)
                found = _mm_and_si128(
                    found, _mm_or_si128(InSet(load(at + 1), *second), InSet(bytes, kEscapeBytes)));
            return static_cast<unsigned>(_mm_movemask_epi8(found));
        };
        const auto upToLast = [&](size_t at) {
            return at <= last ? at : std::string_view::npos;
        };
        for (; from + reach <= name.size(); from += 16) {
            if (from > last)
                return std::string_view::npos;
            if (const unsigned mask = candidates(from))
                return upToLast(from + static_cast<size_t>(std::countr_zero(mask)));
        }
        if (from > last)
            return std::string_view::npos;
        // The last sixteen starts, without those before from.
        const size_t tail = name.size() - reach;
        const unsigned mask = candidates(tail) & (~0u << (from - tail));
        return mask ? upToLast(tail + static_cast<size_t>(std::countr_zero(mask)))
                    : std::string_view::npos;
    }
#endif
    for (; from <= last; ++from) {
        const auto byte = static_cast<unsigned char>(name[from]);
        if (first.Is[byte] && (!second || kEscapeBytes.Is[byte] ||
                               second->Is[static_cast<unsigned char>(name[from + 1])]))
            return from;
    }
    return std::string_view::npos;
}

// One character of a name as case-blind comparisons see it: below 0x100 a byte of the code page,
// lowered; from 0x100 on, 0x100 plus the folded code point of an escaped character.
struct TFolded {
    uint32_t Value = 0;
    size_t Length = 1; // bytes of the name it takes
};

// text is never empty.
TFolded FoldedAt(std::string_view text)
{
    // cppcheck-suppress containerOutOfBounds
    const auto byte = static_cast<unsigned char>(text[0]);
    if (byte != static_cast<unsigned char>(kEscapeByte))
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

// What the byte search meets at one start: the whole folded text, a difference, or an 0x98,
// after which only the search by whole characters can tell.
enum class TAtStart { Match, Differs, Escape };

TAtStart CompareAt(std::string_view name, size_t start, std::string_view folded)
{
    for (size_t i = 0; i < folded.size(); ++i) {
        const unsigned char c = kLowered[static_cast<unsigned char>(name[start + i])];
        if (c == static_cast<unsigned char>(kEscapeByte))
            return TAtStart::Escape;
        if (c != static_cast<unsigned char>(folded[i]))
            return TAtStart::Differs;
    }
    return TAtStart::Match;
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
    // Starts where the first two bytes already differ are skipped without a look at them.
    const size_t lastStart = name.size() - folded.size();
    for (size_t start = 0;; ++start) {
        start = NextCandidate(name, start, lastStart, folded);
        if (start == std::string_view::npos)
            return false;
        switch (CompareAt(name, start, folded)) {
        case TAtStart::Match:
            return true;
        case TAtStart::Escape:
            return ContainsByCharacters(name, folded);
        case TAtStart::Differs:
            break;
        }
    }
}

bool FoldedNodeNameContains(const TNodeName& name, std::string_view folded)
{
#if defined(__SSE2__)
    // The same starts as NextCandidate gives, found in the name's whole padded block at once.
    const char* padded = name.PaddedData();
    if (padded && !folded.empty() && folded.size() <= name.size()) {
        const TByteSet& first = kSearchBytes[static_cast<unsigned char>(folded[0])];
        const TByteSet* second =
            folded.size() > 1 ? &kSearchBytes[static_cast<unsigned char>(folded[1])] : nullptr;
        if (first.IsFew() && (!second || second->IsFew()) && kEscapeBytes.IsFew()) {
            static_assert(TNodeName::PaddedSize == 32);
            const auto load = [padded](size_t at) {
                return _mm_loadu_si128(reinterpret_cast<const __m128i*>(padded + at));
            };
            const auto candidates = [&](__m128i bytes, __m128i next) {
                __m128i found = InSet(bytes, first);
                if (second)
                    found = _mm_and_si128(
                        found, _mm_or_si128(InSet(next, *second), InSet(bytes, kEscapeBytes)));
                return static_cast<uint32_t>(_mm_movemask_epi8(found));
            };
            const __m128i low = load(0);
            const __m128i high = load(16);
            // The last byte of the block has no next one; it never starts a match.
            const uint32_t all =
                candidates(low, load(1)) | candidates(high, _mm_srli_si128(high, 1)) << 16;
            const size_t lastStart = name.size() - folded.size(); // below 31
            const std::string_view text = name.view();
            for (uint32_t starts = all & ((uint32_t{2} << lastStart) - 1); starts != 0;
                 starts &= starts - 1) {
                switch (CompareAt(text, static_cast<size_t>(std::countr_zero(starts)), folded)) {
                case TAtStart::Match:
                    return true;
                case TAtStart::Escape:
                    return ContainsByCharacters(text, folded);
                case TAtStart::Differs:
                    break;
                }
            }
            return false;
        }
    }
#endif
    return FoldedNameContains(name.view(), folded);
}
