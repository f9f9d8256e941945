#include "engine/receiving/chunk_join.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <linux/fs.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/unique_fd.h"

namespace fs = std::filesystem;

namespace corvane {

namespace {

// Pieces of the plain copy: larger writes into new page-cache pages are slower.
constexpr size_t kPiece = 256 * 1024;

// Errors that mean "this file system cannot do it this way", not a failed write.
bool unsupported(int error) {
    return error == EOPNOTSUPP || error == ENOTTY || error == EXDEV || error == EINVAL || error == ENOSYS ||
           error == EBADF;
}

// The bytes a range covers in a file of the given size; -1 when the file is too short.
off_t rangeSize(const FileRange& range, off_t fileSize) {
    const off_t left = fileSize - off_t(range.offset);
    if (range.offset < 0 || left < 0) return -1;
    if (range.length < 0) return left;
    return range.length <= left ? off_t(range.length) : -1;
}

class Joiner {
public:
    Joiner(int target, off_t at, off_t total) : target_(target), total_(total), offset_(at) {}

    bool append(const FileRange& range) {
        const UniqueFd in(::open(range.file.c_str(), O_RDONLY | O_CLOEXEC));
        struct stat st {};
        if (!in || ::fstat(in.get(), &st) != 0) return false;
        const off_t size = rangeSize(range, st.st_size);
        if (size < 0) return false;
        if (size == 0) return true;
        from_ = off_t(range.offset);
        if (way_ == Way::clone && cloned(in.get(), size)) return done(size);
        reserveOnce();
        off_t copied = 0;
        if (way_ == Way::kernelCopy && !kernelCopy(in.get(), size, copied)) return false;
        if (copied < size && !readAndWrite(in.get(), size, copied)) return false;
        return done(size);
    }

private:
    enum class Way { clone, kernelCopy, readWrite };

    bool done(off_t size) {
        offset_ += size;
        return true;
    }

    // Copies fill blocks reserved up front: the file system then allocates them once
    // rather than chunk by chunk. Cloned blocks need none. A refusal changes nothing.
    void reserveOnce() {
        if (reserved_) return;
        reserved_ = true;
        if (total_ > offset_) ::fallocate(target_, FALLOC_FL_KEEP_SIZE, offset_, total_ - offset_);
    }

    // The whole file as shared blocks at the current offset; the first refusal turns
    // cloning off for the rest.
    bool cloned(int in, off_t size) {
        file_clone_range range{};
        range.src_fd = in;
        range.src_offset = uint64_t(from_);
        range.src_length = uint64_t(size);
        range.dest_offset = uint64_t(offset_);
        if (::ioctl(target_, FICLONERANGE, &range) == 0) return true;
        way_ = Way::kernelCopy;
        return false;
    }

    // Copies inside the kernel, one call for the whole file unless the kernel stops
    // short. `copied` says how far it came when the file system refused part way.
    bool kernelCopy(int in, off_t size, off_t& copied) {
        while (copied < size) {
            off_t inAt = from_ + copied;
            off_t outAt = offset_ + copied;
            const ssize_t n = ::copy_file_range(in, &inAt, target_, &outAt, size_t(size - copied), 0);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && unsupported(errno)) {
                way_ = Way::readWrite;
                return true;
            }
            if (n <= 0) return false;  // a failed write, or the file shrank
            copied += n;
        }
        return true;
    }

    bool readAndWrite(int in, off_t size, off_t copied) {
        if (buffer_.empty()) buffer_.resize(kPiece);
        while (copied < size) {
            const ssize_t n = ::pread(in, buffer_.data(), std::min<size_t>(kPiece, size_t(size - copied)), from_ + copied);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            if (!writeAt(buffer_.data(), size_t(n), offset_ + copied)) return false;
            copied += n;
        }
        return true;
    }

    bool writeAt(const char* data, size_t length, off_t at) {
        while (length > 0) {
            const ssize_t n = ::pwrite(target_, data, length, at);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            data += n;
            length -= size_t(n);
            at += n;
        }
        return true;
    }

    int target_;
    off_t total_;      // where the last range ends in the target
    off_t offset_;     // where the next range goes in the target
    off_t from_ = 0;   // where the current range begins in its file
    bool reserved_ = false;
    Way way_ = Way::clone;
    std::string buffer_;
};

}  // namespace

bool joinFiles(int target, const std::vector<FileRange>& ranges, int64_t at) {
    off_t total = off_t(at);
    for (const auto& range : ranges) {
        struct stat st {};
        if (range.length >= 0) {
            total += off_t(range.length);
        } else if (::stat(range.file.c_str(), &st) == 0) {
            total += std::max<off_t>(0, st.st_size - off_t(range.offset));
        }
    }
    Joiner joiner(target, off_t(at), total);
    for (const auto& range : ranges) {
        if (!joiner.append(range)) return false;
    }
    return true;
}

bool joinFiles(int target, const std::vector<fs::path>& files) {
    std::vector<FileRange> ranges;
    ranges.reserve(files.size());
    for (const auto& file : files) ranges.push_back(FileRange{file});
    return joinFiles(target, ranges);
}

}  // namespace corvane
