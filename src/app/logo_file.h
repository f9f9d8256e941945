#pragma once
// Reads an image chosen as the team logo, never more than one byte past the limit,
// so a huge file is refused without being read whole.

#include <filesystem>
#include <string>

#include "base/refusal.h"

namespace corvane {

// The file's bytes; refused with "图片太大了（限 1.5MB）" beyond `limit` bytes and with
// "读不出这张图片" when it cannot be read.
Result<std::string> readLogoFile(const std::filesystem::path& path, size_t limit = 1500000);

}  // namespace corvane
