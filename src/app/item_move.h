#pragma once
// Moving a file or a whole folder without ever replacing what is at the
// destination; across file systems the item is copied whole and only then
// removed, so it ends up entirely in one place.

#include <filesystem>

#include "base/refusal.h"

namespace corvane {

// Refused with the error's text; an existing destination is an error.
Outcome moveItemNoReplace(const std::filesystem::path& from, const std::filesystem::path& to);

}  // namespace corvane
