#pragma once
// Small helpers that the request handlers share: content types and byte ranges.
// Path cleaning, free names and random ids live in base/.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace corvane {

// Content type by the extension of the last path piece.
std::string mimeType(std::string_view name);

// One "bytes=" range against a size: inclusive (start, end), or none.
std::optional<std::pair<int64_t, int64_t>> parseRange(std::string_view header, int64_t size);

}  // namespace corvane
