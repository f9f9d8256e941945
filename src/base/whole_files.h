#pragma once
// Files read and written whole. A write goes to a hidden temporary file in the same
// folder first and is renamed into place, so a reader sees the file whole or not at all.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>

#include "base/unique_fd.h"

namespace corvane {

struct FileRead {
    bool present = false;   // something exists under the name
    bool readable = false;  // and its bytes were read
    int error = 0;          // the errno of a failed open or read
    std::string bytes;
};

// Reads the file whole. A read that fails ESTALE (the name was replaced on another machine
// of a shared file system since this one looked it up) is made again.
FileRead readWholeFile(const std::filesystem::path& file);

// Writes the file, replacing what was there (mode 0644). False on failure (nothing left behind).
bool writeWholeFile(const std::filesystem::path& path, std::string_view bytes);

// The same with the final permissions set before the file appears, and the data and the
// folder entry synced to disk: for files that must survive a crash (the team's accounts).
bool writeFileAtomically(const std::filesystem::path& file, std::string_view bytes, mode_t mode);

// Stores the bytes in the folder under the first free name ("a.txt", "a (1).txt", ...),
// never replacing a file, also one that appeared meanwhile. The chosen name, or none.
std::optional<std::string> storeNewFile(const std::filesystem::path& folder, const std::string& name,
                                        std::string_view bytes);

// A hidden temporary file in the folder, open for writing; fd is empty on failure.
struct TempFile {
    std::filesystem::path path;
    UniqueFd fd;
};
TempFile createTempFile(const std::filesystem::path& folder, mode_t mode = 0644);

// Writes every byte to a file descriptor, retrying short writes and EINTR.
bool writeFully(int fd, std::string_view bytes);

}  // namespace corvane
