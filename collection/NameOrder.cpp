#include "collection/NameOrder.h"

#include "platform/AnsiText.h"

#include <array>

namespace {

// Each byte as the comparison sees it: lowered by the code page, then upper-cased by "C".
std::array<unsigned char, 256> MakeOrderKeys()
{
    std::array<unsigned char, 256> keys{};
    for (int i = 0; i < 256; ++i)
        keys[i] = CUpper(static_cast<unsigned char>(CharLowerA(static_cast<char>(i))));
    return keys;
}

const std::array<unsigned char, 256> kOrderKeys = MakeOrderKeys();

} // namespace

bool StrCompareIC(std::string_view a, std::string_view b)
{
    // Names are compared as C strings: each ends at its first zero byte.
    a = a.substr(0, a.find('\0'));
    b = b.substr(0, b.find('\0'));
    const size_t common = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = 0; i < common; ++i) {
        const unsigned char x = kOrderKeys[static_cast<unsigned char>(a[i])];
        const unsigned char y = kOrderKeys[static_cast<unsigned char>(b[i])];
        if (x != y)
            return x < y;
    }
    return a.size() < b.size();
}
