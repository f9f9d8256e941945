#include "engine/server/read_buffer.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/socket.h>

namespace corvane {

void ReadBuffer::makeRoom(size_t block) {
    if (start_ == end_) start_ = end_ = 0;
    if (capacity_ - end_ >= block) return;
    const size_t held = end_ - start_;
    if (start_ > 0 && capacity_ - held >= block) {
        std::memmove(data_.get(), data_.get() + start_, held);
    } else {
        // new char[] leaves the bytes uninitialised: nothing is cleared before a read.
        const size_t capacity = std::max(capacity_ * 2, held + block);
        std::unique_ptr<char[]> grown(new char[capacity]);
        if (held > 0) std::memcpy(grown.get(), data_.get() + start_, held);
        data_ = std::move(grown);
        capacity_ = capacity;
    }
    start_ = 0;
    end_ = held;
}

bool ReadBuffer::readFrom(int fd, size_t block) {
    makeRoom(block);
    while (true) {
        const ssize_t n = ::recv(fd, data_.get() + end_, block, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        end_ += size_t(n);
        return true;
    }
}

bool ReadBuffer::readPaced(int fd, size_t block, const BodyClock& clock, int64_t delivered) {
    makeRoom(block);
    const ssize_t n = recvPaced(fd, data_.get() + end_, block, clock, delivered);
    if (n <= 0) return false;
    end_ += size_t(n);
    return true;
}

void ReadBuffer::consume(size_t n) { start_ += std::min(n, end_ - start_); }

}  // namespace corvane
