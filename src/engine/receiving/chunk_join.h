#pragma once
// Joining the chunks of an upload into one file, as cheaply as the file system allows.

#include <cstdint>
#include <filesystem>
#include <vector>

namespace corvane {

// Bytes of one file: `length` bytes from `offset`, or all from `offset` to its end when
// `length` is negative.
struct FileRange {
    std::filesystem::path file;
    int64_t offset = 0;
    int64_t length = -1;
};

// Writes the ranges one after another into the target, a regular file open for writing
// that holds nothing from `at` on, starting at `at`. Blocks are shared (a reflink) where
// the file system can clone them, else each range is copied inside the kernel in one call
// sized to it, else read and written in pieces. False when a range cannot be read whole
// or a write fails.
bool joinFiles(int target, const std::vector<FileRange>& ranges, int64_t at = 0);

// The whole files, one after another, from the target's start.
bool joinFiles(int target, const std::vector<std::filesystem::path>& files);

}  // namespace corvane
