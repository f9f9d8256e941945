#include "base/upload_body.h"

#include <algorithm>
#include <cerrno>
#include <string>
#include <sys/socket.h>

#include "base/whole_files.h"

namespace corvane {

namespace {

constexpr int64_t kReadUnit = 262144;

bool writePiece(int file, std::string_view bytes, BodyCopy& copy) {
    if (writeFully(file, bytes)) {
        copy.written += int64_t(bytes.size());
        return true;
    }
    copy.error = errno;
    copy.end = BodyCopy::End::writeFailed;
    return false;
}

}  // namespace

BodyCopy copyBodyToFile(int sock, std::string_view bodyStart, int64_t length, int file, const BodyPace& pace,
                        const std::function<void()>& heard) {
    const BodyClock clock(pace);
    BodyCopy copy;
    if (length <= 0) return copy;
    std::string_view first = bodyStart.substr(0, size_t(std::min<int64_t>(length, int64_t(bodyStart.size()))));
    while (!first.empty()) {
        const std::string_view piece = first.substr(0, size_t(kReadUnit));
        if (!writePiece(file, piece, copy)) return copy;
        first.remove_prefix(piece.size());
    }
    std::string buffer(size_t(std::min(kReadUnit, length - copy.written)), '\0');
    while (copy.written < length) {
        const size_t want = size_t(std::min<int64_t>(int64_t(buffer.size()), length - copy.written));
        const ssize_t n = recvPaced(sock, buffer.data(), want, clock, copy.written);
        if (n <= 0) {
            copy.tooSlow = n < 0 && errno == ETIMEDOUT;
            copy.end = BodyCopy::End::cutShort;
            return copy;
        }
        if (heard) heard();
        if (!writePiece(file, std::string_view(buffer.data(), size_t(n)), copy)) return copy;
    }
    return copy;
}

}  // namespace corvane
