#pragma once
// A file or socket descriptor with one owner: closed when the owner goes, handed on
// by moving, so no early return can leak or double-close it.

#include <utility>

namespace corvane {

class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    explicit operator bool() const { return valid(); }
    // Gives up ownership without closing.
    int release() { return std::exchange(fd_, -1); }
    // Closes what is held and takes the new descriptor.
    void reset(int fd = -1);
    // Closes now and reports whether the close succeeded (a write may fail only here).
    bool close();

private:
    int fd_ = -1;
};

}  // namespace corvane
