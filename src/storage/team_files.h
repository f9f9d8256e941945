#pragma once
// Whole-file reads and writes for the team folder: atomic replacement with the final
// permissions set before the file appears, and keeping a damaged file aside.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>

namespace corvane {

struct FileRead {
    bool present = false;   // something exists under the name
    bool readable = false;  // and its bytes were read
    std::string bytes;
};

FileRead readWholeFile(const std::filesystem::path& file);

// Writes through a temporary file in the same folder that is created with mode 0600 and
// given `mode` before it is renamed over the target. False on any failure (the target is
// then unchanged and no temporary file is left).
bool writeFileAtomically(const std::filesystem::path& file, std::string_view bytes, mode_t mode);

// Keeps a copy of the file beside it as "<name>.broken-<yyyyMMdd-HHmmss>" (mode 0600; a
// number is added when that name is taken). A file that cannot be read is renamed aside
// instead. The kept file, or none when nothing could be kept.
std::optional<std::filesystem::path> keepBrokenCopy(const std::filesystem::path& file);

}  // namespace corvane
