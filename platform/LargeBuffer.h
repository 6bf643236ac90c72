#pragma once

#include <cstddef>
#include <string>

// Reserves room for size bytes in text. A block of many megabytes, such as the text of a large
// collection file, is asked to be backed by huge pages where the system offers them on request:
// filling it then costs a few dozen page faults instead of tens of thousands, which take longer
// than the filling itself. Nothing else changes where the system has no huge pages.
void ReserveLarge(std::string& text, size_t size);
