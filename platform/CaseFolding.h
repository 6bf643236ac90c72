#pragma once

// The simple case folding of Unicode (one character to one character, the same in every locale):
// what a character is compared as when letter case does not matter. "Ü" and "ü" give "ü".
[[nodiscard]] char32_t SimpleCaseFold(char32_t c);
