#include "base/space_ahead.h"

#include <algorithm>
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace corvane {

namespace {

// Nothing is reserved before this much has been written: short files are cheaper to
// allocate at write-back, and a body that stalls early holds nothing ahead.
constexpr int64_t kFirst = 256 << 10;
// At most this far ahead (a chunk), and never further than what has been written, so
// a body that stops holds back at most as much as it wrote.
constexpr int64_t kWindow = 4 << 20;

bool worthReserving(int file) {
    const int flags = ::fcntl(file, F_GETFL);
    struct stat st {};
    struct statfs fs {};
    if (flags < 0 || (flags & O_APPEND) || ::fstat(file, &st) != 0 || !S_ISREG(st.st_mode)) return false;
    return ::fstatfs(file, &fs) == 0 && fs.f_type != TMPFS_MAGIC && fs.f_type != RAMFS_MAGIC;
}

}  // namespace

SpaceAhead::SpaceAhead(int file, int64_t length) : file_(file), length_(length) {
    if (length <= kFirst || !worthReserving(file)) return;
    start_ = ::lseek(file, 0, SEEK_CUR);
}

void SpaceAhead::before(int64_t from, int64_t end) {
    if (start_ < 0 || end <= reserved_ || end < kFirst) return;
    reserved_ = std::max(reserved_, from);  // bytes written already have their blocks booked
    const int64_t to = std::min(length_, end + std::min(end, kWindow));
    // A file system that refuses (no support, a full disk) is simply written as before;
    // a write that then fails reports it.
    if (::fallocate(file_, FALLOC_FL_KEEP_SIZE, start_ + reserved_, to - reserved_) != 0) {
        start_ = -1;
        return;
    }
    reserved_ = to;
}

void SpaceAhead::stoppedAt(int64_t written) {
    if (start_ < 0 || written >= reserved_) return;
    // Only this write's own range, and the file system frees none past the file's end:
    // a stop there leaves at most as much as was written, until the file grows or goes.: after a stop its bytes past `written` are nobody's.
    ::fallocate(file_, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, start_ + written, reserved_ - written);
    reserved_ = written;
}

}  // namespace corvane
