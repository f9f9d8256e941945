#pragma once
// Where received files go: the default folder under home, folders stored by the
// earlier product ("Quillpath") moved over, and moving the folder's contents
// to a new place chosen by the user.

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "base/refusal.h"

namespace corvane {

using LogLine = std::function<void(const std::string&)>;

// home/"Corvane"; home/"Quillpath" is moved there when only it exists.
std::filesystem::path resolveRoot(const std::filesystem::path& home, const LogLine& log);

// The stored path as a clean absolute folder; one that ends in "Quillpath" or
// "quillpath" becomes the sibling "Corvane" (moved there when only it exists).
std::filesystem::path normalizeStorageDir(const std::string& stored, const LogLine& log);

// The path without "." / ".." pieces and without a trailing "/".
std::filesystem::path cleanFolderPath(const std::filesystem::path& path);

// Whether inner lies strictly inside outer (both clean absolute paths).
bool isInsideFolder(const std::filesystem::path& inner, const std::filesystem::path& outer);

// Moves the direct entries of from (hidden ones too) into to, which exists.
// Entries whose name is taken in to stay in from. When a move fails, the
// entries already moved are moved back and the refusal carries the error.
Outcome moveFolderEntries(const std::filesystem::path& from, const std::filesystem::path& to);

}  // namespace corvane
