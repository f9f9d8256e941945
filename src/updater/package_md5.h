#pragma once
// The MD5 digest of a package file, read in pieces so that a large package is
// never held in memory whole.

#include <filesystem>
#include <optional>
#include <string>

namespace corvane {

// Lower-case hexadecimal, 32 characters; none when the file cannot be read.
std::optional<std::string> md5HexOfFile(const std::filesystem::path& path);

}  // namespace corvane
