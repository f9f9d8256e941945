#pragma once
// The bytes a connection has read and not yet consumed. Reads go into the spare room
// at the end without clearing it first; consumed bytes at the front are dropped when
// room is needed, so the buffer stays near the size of one read plus one head.

#include <cstddef>
#include <memory>
#include <string_view>

#include "base/body_pace.h"

namespace corvane {

class ReadBuffer {
public:
    // The unconsumed bytes.
    std::string_view view() const { return {data_.get() + start_, end_ - start_}; }
    size_t size() const { return end_ - start_; }
    // One receive of at most `block` bytes appended; false on end of stream, error or time-out.
    bool readFrom(int fd, size_t block);
    // The same for a body that keeps to its clock, `delivered` of its bytes already in.
    bool readPaced(int fd, size_t block, const BodyClock& clock, int64_t delivered);
    // Drops the first n unconsumed bytes.
    void consume(size_t n);

private:
    void makeRoom(size_t block);

    std::unique_ptr<char[]> data_;
    size_t capacity_ = 0;
    size_t start_ = 0;  // first unconsumed byte
    size_t end_ = 0;    // one past the last byte read
};

}  // namespace corvane
