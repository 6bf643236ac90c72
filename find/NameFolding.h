#pragma once

#include <optional>
#include <string>
#include <string_view>

// How the search sees names. Names are 8-bit code page 1251; the user's patterns are UTF-8.
// Everything that turns either into what the matching compares lives here, so that a change of
// the names' representation is made in one place.

// The name folded for case-blind comparison (the code page's lower-casing, byte by byte),
// written into folded, whose storage is reused from call to call.
void FoldName(std::string_view name, std::string& folded);

// The UTF-8 text folded as FoldName folds names. Nothing when the text holds a character that no
// name can hold (one outside the code page): then it cannot occur in any name. The text must be
// valid UTF-8.
[[nodiscard]] std::optional<std::string> FoldPattern(std::string_view utf8);

// The name as UTF-16, as the user reads it, written into text (storage reused).
void NameToUtf16(std::string_view name, std::u16string& text);
