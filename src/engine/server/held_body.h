#pragma once
// The bytes of a request body held in memory. Its memory grows to what its bytes need
// and no further, so the body budget can count exactly what a body holds: a body of at
// most one read (256 KiB) is one heap block of its length; a longer one lives in pages
// of its own, grown in place or remapped without copying, and unmapped when it ends, so
// its memory goes back to the system at once instead of staying in the heap.

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace corvane {

class HeldBody {
public:
    HeldBody() = default;
    HeldBody(const HeldBody& other);
    HeldBody(HeldBody&& other) noexcept;
    HeldBody& operator=(HeldBody other) noexcept;
    ~HeldBody();

    // The memory a body of `length` bytes holds: `length` up to one read, else whole pages.
    static size_t memoryFor(size_t length);
    // Appends the piece, the memory grown to memoryFor(size() + piece.size()).
    void append(std::string_view piece);
    // The memory this body holds.
    size_t memory() const { return capacity_; }
    // The memory every body of the process holds.
    static int64_t memoryInUse();

    std::string_view view() const { return {data_, size_}; }
    operator std::string_view() const { return view(); }
    const char* data() const { return data_; }
    size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    const char* begin() const { return data_; }
    const char* end() const { return data_ + size_; }

private:
    void grow(size_t capacity);
    void release();

    char* data_ = nullptr;
    size_t size_ = 0;
    size_t capacity_ = 0;
};

}  // namespace corvane
