#pragma once
// Comparison of secrets (tokens, PINs, password hashes, reset codes).

#include <string_view>

namespace corvane {

// Equality that takes the same time wherever the first difference lies.
bool constantTimeEqual(std::string_view a, std::string_view b);

}  // namespace corvane
