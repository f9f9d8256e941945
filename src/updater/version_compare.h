#pragma once
// Dotted version numbers ("1.4.2") compared piece by piece.

#include <string_view>

namespace corvane {

// Whether version a is greater than version b. Pieces that are not decimal
// numbers count as 0; a missing piece counts as 0 ("1.2" equals "1.2.0").
bool isNewerVersion(std::string_view a, std::string_view b);

}  // namespace corvane
