#pragma once

#include <string>
#include <string_view>

// How the search sees names. Names are 8-bit code page 1251 with escapes for every other
// character (platform/AnsiText.h); the user's patterns are UTF-8. Everything that turns either
// into what the matching compares lives here.

// The name folded for case-blind comparison, as the filter folds it, written into folded, whose
// storage is reused from call to call.
void FoldName(std::string_view name, std::string& folded);

// The UTF-8 text in the names' code page, folded as FoldName folds names. The text must be valid
// UTF-8.
[[nodiscard]] std::string FoldPattern(std::string_view utf8);

// The name as UTF-16, as the user reads it, written into text (storage reused).
void NameToUtf16(std::string_view name, std::u16string& text);
