#pragma once
// Unpacks an update package (a zip) into a folder with libarchive's secure
// extraction: no "..", no absolute paths, nothing written through a symlink.
// Permissions and symlinks are kept. The first entry refused ends the unpack, and
// so does a total size past the limit.

#include <cstdint>
#include <filesystem>
#include <optional>

#include "updater/update_error.h"

namespace corvane {

// More unpacked bytes than this end the unpack: a small archive can hold a huge file.
constexpr int64_t kMaxUnpackedBytes = int64_t(4) << 30;

// None on success; else "解压安装包失败：" and libarchive's reason, or the size
// limit once the files written exceed `maxBytes` in all.
std::optional<UpdateError> unpackPackage(const std::filesystem::path& zip, const std::filesystem::path& folder,
                                         int64_t maxBytes = kMaxUnpackedBytes);

}  // namespace corvane
