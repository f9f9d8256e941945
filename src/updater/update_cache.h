#pragma once
// Where the updater keeps its files: the package cache, the temporary folder
// and the package's file name.

#include <filesystem>
#include <optional>
#include <string>

namespace corvane {

// $XDG_CACHE_HOME/CorvaneUpdate (default ~/.cache/CorvaneUpdate).
std::filesystem::path defaultUpdateCacheFolder();
// $TMPDIR when set, else /tmp.
std::filesystem::path defaultTempFolder();

// "Corvane-<latest>.zip", or none when the version is not safe in a file name:
// only [0-9A-Za-z._-], and not "." or "..".
std::optional<std::string> packageFileName(const std::string& latest);

// Moves a file onto a path (replacing it), copying when they lie on different
// file systems. None on success, else the reason.
std::optional<std::string> moveFileOnto(const std::filesystem::path& from, const std::filesystem::path& to);

// A new upper-case UUID text for temporary names.
std::string newUUIDText();

}  // namespace corvane
