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
// The same for a block aligned to a huge page and a whole number of them long: it is mapped in
// huge pages where the system allows them for the asking (a mapping of 2 MiB instead of 512 of 4
// KiB costs a third of the time on the machines measured), in small ones otherwise.
void PrefaultHugePages(void* block, size_t size);
