#pragma once
// Joining the chunk files of an upload into one file, as cheaply as the file system
// allows.

#include <filesystem>
#include <vector>

namespace corvane {

// Writes the files one after another into the target, an empty regular file open for
// writing, from its start. Blocks are shared (a reflink) where the file system can
// clone them, else each file is copied inside the kernel in one call sized to it, else
// read and written in pieces. False when a file cannot be read whole or a write fails.
bool joinFiles(int target, const std::vector<std::filesystem::path>& files);

}  // namespace corvane
