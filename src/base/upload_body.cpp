#include "base/upload_body.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <sys/socket.h>

#include "base/space_ahead.h"
#include "base/whole_files.h"

namespace corvane {

namespace {

constexpr size_t kReadUnit = 262144;
// Writes begin on multiples of this within the body, so that the page cache can take
// the bytes in large folios rather than page by page.
constexpr size_t kWriteStep = 65536;

// The file the body goes to, with its blocks reserved ahead of the writes.
struct Target {
    Target(int fd, int64_t length) : fd(fd), space(fd, length) {}
    int fd;
    SpaceAhead space;
};

bool writePiece(Target& file, std::string_view bytes, BodyCopy& copy) {
    file.space.before(copy.written, copy.written + int64_t(bytes.size()));
    if (writeFully(file.fd, bytes)) {
        copy.written += int64_t(bytes.size());
        return true;
    }
    copy.error = errno;
    copy.end = BodyCopy::End::writeFailed;
    return false;
}

// The bytes read and not yet written, at the front of one buffer.
struct HeldBytes {
    explicit HeldBytes(size_t capacity)
        : bytes(std::make_unique_for_overwrite<char[]>(capacity)), capacity(capacity) {}
    char* end() { return bytes.get() + filled; }
    std::unique_ptr<char[]> bytes;
    size_t capacity;
    size_t filled = 0;
};

// Writes the first `count` held bytes and moves the rest to the front.
bool writeHeld(Target& file, HeldBytes& held, size_t count, BodyCopy& copy) {
    if (count == 0) return true;
    if (!writePiece(file, std::string_view(held.bytes.get(), count), copy)) return false;
    std::memmove(held.bytes.get(), held.bytes.get() + count, held.filled - count);
    held.filled -= count;
    return true;
}

// How many held bytes to write after a read of `got` bytes when `asked` were: with a full
// buffer, or when the socket gave less than asked (writing while the sender refills),
// those up to the body's last step boundary; else none yet.
size_t readyToWrite(const HeldBytes& held, int64_t written, size_t asked, size_t got) {
    if (held.filled < held.capacity && got == asked) return 0;
    const int64_t end = written + int64_t(held.filled);
    return size_t(std::max<int64_t>(end / int64_t(kWriteStep) * int64_t(kWriteStep) - written, 0));
}

// One read into the buffer of at most `room` bytes; `asked` is set to what the read that
// returned asked for. When nothing is waiting, every held byte is written before the read
// waits, so the file holds all that came whenever the copy waits for more. The bytes read,
// 0 at end of stream, or -1 (errno as recvPaced sets it, or a failed write in `copy`).
ssize_t readMore(int sock, HeldBytes& held, int64_t room, Target& file, const BodyClock& clock, int64_t received,
                 BodyCopy& copy, size_t& asked) {
    asked = size_t(std::min<int64_t>(int64_t(held.capacity - held.filled), room));
    const ssize_t n = ::recv(sock, held.end(), asked, MSG_DONTWAIT);
    if (n >= 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) return n;
    if (!writeHeld(file, held, held.filled, copy)) return -1;
    asked = size_t(std::min<int64_t>(int64_t(held.capacity), room));
    return recvPaced(sock, held.end(), asked, clock, received);
}

BodyCopy copyInto(int sock, std::string_view bodyStart, int64_t length, Target& file, const BodyPace& pace,
                  const std::function<void()>& heard) {
    const BodyClock clock(pace);
    BodyCopy copy;
    std::string_view first = bodyStart.substr(0, size_t(std::min<int64_t>(length, int64_t(bodyStart.size()))));
    while (first.size() >= kReadUnit) {
        if (!writePiece(file, first.substr(0, kReadUnit), copy)) return copy;
        first.remove_prefix(kReadUnit);
    }
    // The rest of the head's bytes start the buffer, so the writes after them stay in step.
    HeldBytes held(size_t(std::min<int64_t>(int64_t(kReadUnit), length - copy.written)));
    held.filled = first.copy(held.bytes.get(), first.size());
    int64_t received = copy.written + int64_t(held.filled);
    while (received < length) {
        size_t asked = 0;
        const ssize_t n = readMore(sock, held, length - received, file, clock, received, copy, asked);
        if (copy.end == BodyCopy::End::writeFailed) return copy;
        if (n <= 0) {
            copy.tooSlow = n < 0 && errno == ETIMEDOUT;
            // What came before the cut is kept, as every byte read is.
            if (writeHeld(file, held, held.filled, copy)) copy.end = BodyCopy::End::cutShort;
            return copy;
        }
        if (heard) heard();
        held.filled += size_t(n);
        received += n;
        if (!writeHeld(file, held, readyToWrite(held, copy.written, asked, size_t(n)), copy)) return copy;
    }
    writeHeld(file, held, held.filled, copy);
    return copy;
}

}  // namespace

BodyCopy copyBodyToFile(int sock, std::string_view bodyStart, int64_t length, int fd, const BodyPace& pace,
                        const std::function<void()>& heard) {
    BodyCopy copy;
    if (length <= 0) return copy;
    Target file(fd, length);
    copy = copyInto(sock, bodyStart, length, file, pace, heard);
    if (copy.end != BodyCopy::End::complete) file.space.stoppedAt(copy.written);
    return copy;
}

}  // namespace corvane
