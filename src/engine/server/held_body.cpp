#include "engine/server/held_body.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <sys/mman.h>
#include <unistd.h>
#include <utility>

namespace corvane {

namespace {

constexpr size_t kHeapLimit = 262144;  // one read of the connection reader
std::atomic<int64_t> heldMemory{0};  // of every body of the process

size_t pageSize() {
    static const size_t page = size_t(::sysconf(_SC_PAGESIZE));
    return page;
}

bool inPages(size_t capacity) { return capacity > kHeapLimit; }

}  // namespace

size_t HeldBody::memoryFor(size_t length) {
    if (length <= kHeapLimit) return length;
    const size_t page = pageSize();
    return (length + page - 1) / page * page;
}

HeldBody::HeldBody(const HeldBody& other) {
    if (other.size_ == 0) return;
    grow(memoryFor(other.size_));
    std::memcpy(data_, other.data_, other.size_);
    size_ = other.size_;
}

HeldBody::HeldBody(HeldBody&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      capacity_(std::exchange(other.capacity_, 0)) {}

HeldBody& HeldBody::operator=(HeldBody other) noexcept {
    std::swap(data_, other.data_);
    std::swap(size_, other.size_);
    std::swap(capacity_, other.capacity_);
    return *this;
}

HeldBody::~HeldBody() { release(); }

int64_t HeldBody::memoryInUse() { return heldMemory.load(); }

void HeldBody::append(std::string_view piece) {
    if (piece.empty()) return;
    const size_t needed = memoryFor(size_ + piece.size());
    if (needed > capacity_) grow(needed);
    std::memcpy(data_ + size_, piece.data(), piece.size());
    size_ += piece.size();
}

void HeldBody::grow(size_t capacity) {
    void* grown = nullptr;
    if (!inPages(capacity)) {
        grown = std::realloc(data_, capacity);
        if (!grown) throw std::bad_alloc();
    } else if (!inPages(capacity_)) {
        // Leaving the heap: the bytes so far (at most one read) move into pages.
        grown = ::mmap(nullptr, capacity, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (grown == MAP_FAILED) throw std::bad_alloc();
        if (size_ > 0) std::memcpy(grown, data_, size_);
        std::free(data_);
    } else {
        grown = ::mremap(data_, capacity_, capacity, MREMAP_MAYMOVE);
        if (grown == MAP_FAILED) throw std::bad_alloc();
    }
    heldMemory += int64_t(capacity) - int64_t(capacity_);
    data_ = static_cast<char*>(grown);
    capacity_ = capacity;
}

void HeldBody::release() {
    if (!data_) return;
    if (inPages(capacity_)) {
        ::munmap(data_, capacity_);
    } else {
        std::free(data_);
    }
    heldMemory -= int64_t(capacity_);
    data_ = nullptr;
    size_ = capacity_ = 0;
}

}  // namespace corvane
