#pragma once
// Moving a file or a whole folder without ever replacing what is at the
// destination; across file systems the item is copied whole and only then
// removed, so it ends up entirely in one place.

#include <filesystem>
#include <optional>
#include <string>

namespace corvane {

// None on success, else the error's text. An existing destination is an error.
std::optional<std::string> moveItemNoReplace(const std::filesystem::path& from, const std::filesystem::path& to);

}  // namespace corvane
