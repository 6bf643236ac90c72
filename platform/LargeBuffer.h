#pragma once

#include <cstddef>
#include <string>

// Reserves room for size bytes in text. The pages of a block of many megabytes, such as the text
// of a large collection file, are all mapped in one request instead of one page fault each, which
// would take longer than filling them. Nothing else changes where the system cannot do that.
void ReserveLarge(std::string& text, size_t size);
// The same for a block of memory not yet written: its whole pages are mapped in one request. For
// blocks of a few hundred kilobytes and more, such as the chunks of a collection's nodes.
void PrefaultLarge(void* block, size_t size);
