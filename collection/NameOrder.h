#pragma once

#include <string_view>

// The one ordering of names in the tree and the list: case-insensitive through the code page's
// lower-casing, then by the "C" upper-cased bytes as unsigned values, a prefix first.
// True when a comes before b.
[[nodiscard]] bool StrCompareIC(std::string_view a, std::string_view b);

// Comparator for ordered maps keyed by name.
struct TNameLess {
    [[nodiscard]] bool operator()(std::string_view a, std::string_view b) const
    {
        return StrCompareIC(a, b);
    }
};
