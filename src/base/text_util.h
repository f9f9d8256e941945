#pragma once
// Small byte-level text helpers shared across the engine. ASCII only: protocol
// names, header names and extensions are ASCII; user text goes through ICU.

#include <string>
#include <string_view>
#include <vector>

namespace corvane {

std::string lowerASCII(std::string_view text);
std::string upperASCII(std::string_view text);

// Pieces between any of the separator characters, empty pieces dropped.
std::vector<std::string_view> splitDroppingEmpty(std::string_view text, std::string_view separators);

// The items with the separator between each two (empty items keep their place).
std::string joined(const std::vector<std::string>& items, std::string_view separator);

// "%XX" (upper-case hex) for every byte the predicate does not keep.
std::string percentEncodeExcept(std::string_view text, bool (*keep)(unsigned char));

}  // namespace corvane
