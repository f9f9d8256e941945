#pragma once
// The upload id both ends key a chunked upload by: 16 lower-case hex digits
// hashed from the file's name, size, modification time and relative path.

#include <cstdint>
#include <string>
#include <string_view>

namespace corvane {

struct FileID {
    // name|size|mtime (truncated to an integer)|rel, hashed over its UTF-16 code units.
    static std::string hash(std::string_view name, int64_t size, double mtime, std::string_view rel);
    // The two 32-bit hashes over UTF-16 code units, as "%08x%08x".
    static std::string hashUnits(const std::u16string& units);
};

}  // namespace corvane
