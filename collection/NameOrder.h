#pragma once

#include "collection/NodeName.h"

#include <string>
#include <string_view>

// Letter case in names. Bytes of code page 1251 are lowered by the code page (CharLowerA); an
// escaped character (see platform/AnsiText.h) is one character, lowered by Unicode's simple case
// folding, whatever the locale. An escape of a character that the code page holds counts as that
// byte.

// The one ordering of names in the tree and the list: case-insensitive through the code page's
// lower-casing, then by the "C" upper-cased bytes as unsigned values, a prefix first. An escaped
// character comes after every byte of the code page, by its folded code point.
// True when a comes before b.
[[nodiscard]] bool StrCompareIC(std::string_view a, std::string_view b);
// The same order as a three-way comparison: negative, zero (equal but for letter case) or
// positive.
[[nodiscard]] int CompareNamesIC(std::string_view a, std::string_view b);

// Comparator for ordered maps keyed by name.
struct TNameLess {
    [[nodiscard]] bool operator()(std::string_view a, std::string_view b) const
    {
        return StrCompareIC(a, b);
    }
};

// A name or a search string lower-cased for case-blind matching: bytes by CharLowerA, escaped
// characters by their simple case folding. Names that differ only in letter case fold alike.
[[nodiscard]] std::string FoldName(std::string_view name);

// Whether the name, folded, holds the folded text as a run of whole characters. The name itself
// is not copied unless it holds escapes.
[[nodiscard]] bool FoldedNameContains(std::string_view name, std::string_view folded);
// The same for a node's name: a short one is searched in whole blocks of its padded bytes.
[[nodiscard]] bool FoldedNodeNameContains(const TNodeName& name, std::string_view folded);
