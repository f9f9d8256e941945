#include "engine/server/reply_batch.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include "base/json_fields.h"
#include "base/text_util.h"

namespace corvane {

namespace {

// The value of a content-length line; the empty text for any other line.
std::string_view contentLength(std::string_view line, bool& chunked) {
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos) return {};
    const std::string name = lowerASCII(line.substr(0, colon));
    if (name == "transfer-encoding") chunked = true;
    if (name != "content-length") return {};
    std::string_view value = line.substr(colon + 1);
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
    while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.remove_suffix(1);
    return value;
}

}  // namespace

bool beginsWithWholeRequest(std::string_view bytes) {
    const size_t blank = bytes.find("\r\n\r\n");
    if (blank == std::string_view::npos) return false;
    const size_t headEnd = blank + 4;
    int64_t length = 0;
    bool chunked = false;
    size_t at = bytes.find("\r\n") + 2;  // past the request line
    while (at < blank) {
        const size_t end = bytes.find("\r\n", at);
        const std::string_view value = contentLength(bytes.substr(at, end - at), chunked);
        if (!value.empty()) {
            const auto parsed = parseIntText(value);
            if (!parsed || *parsed < 0) return false;
            length = *parsed;
        }
        at = end + 2;
    }
    return !chunked && int64_t(bytes.size() - headEnd) >= length;
}

void ReplyBatch::beforeHandling(bool bodyIn, bool more) {
    if (!bodyIn) {
        hold(false);
    } else if (more) {
        hold(true);
    }
}

void ReplyBatch::afterHandling(bool more) {
    if (!more) hold(false);
}

void ReplyBatch::hold(bool on) {
    if (on == corked_) return;
    // Uncorking sends what is held at once; a refusal only costs the batching.
    const int value = on ? 1 : 0;
    ::setsockopt(fd_, IPPROTO_TCP, TCP_CORK, &value, sizeof value);
    corked_ = on;
}

}  // namespace corvane
