#pragma once
// Blocks of a file reserved ahead of a long sequential write. A file system that allocates
// at write-back otherwise books every block as each write comes; with the blocks already
// there, the write only copies. The file's size and bytes never change; memory file
// systems (which would zero the pages first) are left alone. Never more is reserved ahead
// than has been written, nor more than a chunk, and a write that stops gives back what it
// did not fill inside the file.

#include <cstdint>

namespace corvane {

class SpaceAhead {
public:
    // For `length` bytes to be written from the file's present offset. Nothing is reserved
    // for short writes, files opened to append, or files that are not regular files.
    SpaceAhead(int file, int64_t length);
    SpaceAhead(const SpaceAhead&) = delete;
    SpaceAhead& operator=(const SpaceAhead&) = delete;

    // Called before the bytes [from, end) (counted from the start) are written, those
    // before `from` being written already.
    void before(int64_t from, int64_t end);
    // The write stopped after `written` bytes: the reserved blocks past them are freed.
    void stoppedAt(int64_t written);

private:
    int file_;
    int64_t start_ = -1;  // file offset of the first byte; -1 when nothing is reserved
    int64_t length_;
    int64_t reserved_ = 0;
};

}  // namespace corvane
