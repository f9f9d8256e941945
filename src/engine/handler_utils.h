#pragma once
// Small helpers that the request handlers share: client path cleaning, content
// types, byte ranges, random ids, free file names and route captures.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace corvane {

// A client-supplied path as a clean relative path ("a/b"), or none when unusable.
std::optional<std::string> sanitize(std::string_view path);

// Content type by the extension of the last path piece.
std::string mimeType(std::string_view name);

// One "bytes=" range against a size: inclusive (start, end), or none.
std::optional<std::pair<int64_t, int64_t>> parseRange(std::string_view header, int64_t size);

// n random bytes from the system's cryptographic source as 2n lower-case hex digits.
std::string randomHex(int n);

// The wanted name, or "base (n).ext" with the first free n, in the folder.
std::string uniqueName(const std::filesystem::path& folder, const std::string& name);

// Candidate n of the free-name sequence (0 is the name itself).
std::string numberedName(const std::string& name, int n);

// A file created exclusively under the first free name; fd is -1 on failure.
struct UniqueFile {
    std::string name;
    int fd = -1;
};
UniqueFile openUnique(const std::filesystem::path& folder, const std::string& name, int mode = 0644);

// Moves a file into the folder under the first free name, never replacing one
// (also across file systems). The chosen name, or none on failure.
std::optional<std::string> moveUnique(const std::filesystem::path& source, const std::filesystem::path& folder,
                                      const std::string& name);

// Renames without replacing an existing target; copies then removes across file systems.
bool renameNoReplace(const std::filesystem::path& from, const std::filesystem::path& to);

// Local time as "yyyyMMdd-HHmmss".
std::string timestampString();

// First capture group of the first match, when the pattern has exactly one group.
std::optional<std::string> match(const std::string& text, const std::string& pattern);
// First two capture groups, when the pattern has exactly two.
std::optional<std::pair<std::string, std::string>> match2(const std::string& text, const std::string& pattern);

}  // namespace corvane
