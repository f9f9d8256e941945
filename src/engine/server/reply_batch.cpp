#include "engine/server/reply_batch.h"

#include <cstdint>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <optional>
#include <string>
#include <sys/socket.h>

#include "base/json_fields.h"
#include "engine/server/http_request.h"

namespace corvane {

bool beginsWithWholeRequest(std::string_view bytes) {
    // Framed as the connection reader frames it: the same parser, the same length rule.
    const size_t blank = bytes.find("\r\n\r\n");
    if (blank == std::string_view::npos) return false;
    const auto head = parseHead(bytes.substr(0, blank + 4));
    if (!head || head->headers.count("transfer-encoding")) return false;
    const std::string lengthText = head->header("content-length");
    const auto length = lengthText.empty() ? std::optional<int64_t>(0) : parseIntText(lengthText);
    return length && *length >= 0 && int64_t(bytes.size() - blank - 4) >= *length;
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
