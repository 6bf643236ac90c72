#pragma once

// What a regular expression requires of every name it matches: the runs of plain characters that
// the index can look up by their trigrams.

#include <string>
#include <string_view>
#include <vector>

namespace name_index_detail {

// Runs of plain characters that every match of the expression holds, lowered; false when the
// expression is beyond this reading (an alternative at its top, options, verbs), so that
// nothing can be required of a name.
bool RequiredRuns(std::string_view p, std::vector<std::string>& runs);

} // namespace name_index_detail
