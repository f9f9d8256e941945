#pragma once
// Unpacks an update package (a zip) into a folder with libarchive's secure
// extraction: no "..", no absolute paths, nothing written through a symlink.
// Permissions and symlinks are kept. The first entry refused ends the unpack.

#include <filesystem>
#include <optional>

#include "updater/update_error.h"

namespace corvane {

// None on success; else "解压安装包失败：" and libarchive's reason.
std::optional<UpdateError> unpackPackage(const std::filesystem::path& zip, const std::filesystem::path& folder);

}  // namespace corvane
