#pragma once
// Files written whole: the bytes go to a hidden temporary file in the same folder
// first and are renamed into place, so a reader sees the file whole or not at all.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace corvane {

// Writes the file, replacing what was there. False on failure (nothing left behind).
bool writeWholeFile(const std::filesystem::path& path, std::string_view bytes);

// Stores the bytes in the folder under the first free name ("a.txt", "a (1).txt", ...),
// never replacing a file, also one that appeared meanwhile. The chosen name, or none.
std::optional<std::string> storeNewFile(const std::filesystem::path& folder, const std::string& name,
                                        std::string_view bytes);

// A hidden temporary file in the folder, open for writing; fd is -1 on failure.
struct TempFile {
    std::filesystem::path path;
    int fd = -1;
};
TempFile createTempFile(const std::filesystem::path& folder);

// Writes every byte to a file descriptor, retrying short writes and EINTR.
bool writeFully(int fd, std::string_view bytes);

}  // namespace corvane
