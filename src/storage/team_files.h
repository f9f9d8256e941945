#pragma once
// Keeping a damaged team file aside before it is written anew.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace corvane {

// Keeps a copy of the file beside it as "<name>.broken-<yyyyMMdd-HHmmss>" (mode 0600; a
// number is added when that name is taken). A file that cannot be read is renamed aside
// instead. The kept file, or none when nothing could be kept.
std::optional<std::filesystem::path> keepBrokenCopy(const std::filesystem::path& file);

}  // namespace corvane
