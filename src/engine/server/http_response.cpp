#include "engine/server/http_response.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>

#include "base/text_util.h"

namespace corvane {

namespace {

const char* const kCrossOriginBlock =
    "Access-Control-Allow-Origin: *\r\n"
    "Access-Control-Allow-Methods: GET, HEAD, PUT, POST, DELETE, OPTIONS\r\n"
    "Access-Control-Allow-Headers: content-type, x-pin, x-corvane-token, range\r\n"
    "Access-Control-Expose-Headers: content-length, content-range, content-disposition, accept-ranges\r\n"
    "Access-Control-Max-Age: 600\r\n"
    "X-Content-Type-Options: nosniff\r\n"
    "Connection: keep-alive\r\n";

const char* const kJSONType = "application/json; charset=utf-8";

bool isContentLength(const std::string& name) { return lowerASCII(name) == "content-length"; }

}  // namespace

std::string statusText(int status) {
    // Standard reason phrases (RFC 9110 section 15, RFC 4918 for WebDAV, RFC 6585 for 429);
    // WebDAV clients such as cadaver show them to the user.
    switch (status) {
        case 200: return "OK";
        case 201: return "Created";
        case 204: return "No Content";
        case 206: return "Partial Content";
        case 207: return "Multi-Status";
        case 304: return "Not Modified";
        case 400: return "Bad Request";
        case 401: return "Unauthorized";
        case 403: return "Forbidden";
        case 404: return "Not Found";
        case 405: return "Method Not Allowed";
        case 409: return "Conflict";
        case 411: return "Length Required";
        case 412: return "Precondition Failed";
        case 413: return "Content Too Large";
        case 415: return "Unsupported Media Type";
        case 416: return "Range Not Satisfiable";
        case 423: return "Locked";
        case 429: return "Too Many Requests";
        case 500: return "Internal Server Error";
        case 501: return "Not Implemented";
        case 502: return "Bad Gateway";
        case 503: return "Service Unavailable";
        case 507: return "Insufficient Storage";
        default: break;
    }
    // A status missing above still reads as its class.
    if (status >= 500) return "Internal Server Error";
    if (status >= 400) return "Bad Request";
    return "OK";
}

std::string responseHead(int status, const HeaderList& extra, size_t bodyLength) {
    std::string head = "HTTP/1.1 " + std::to_string(status) + " " + statusText(status) + "\r\n";
    bool hasLength = false;
    for (const auto& [name, value] : extra) {
        head += name + ": " + value + "\r\n";
        hasLength = hasLength || isContentLength(name);
    }
    if (!hasLength) head += "Content-Length: " + std::to_string(bodyLength) + "\r\n";
    head += kCrossOriginBlock;
    head += "\r\n";
    return head;
}

bool writeAll(int fd, std::string_view bytes) {
    size_t off = 0;
    while (off < bytes.size()) {
        // MSG_NOSIGNAL: a vanished peer gives EPIPE instead of ending the process.
        const ssize_t n = ::send(fd, bytes.data() + off, bytes.size() - off, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        off += size_t(n);
    }
    return true;
}

void continueIfExpected(int fd, const HTTPReq& req) {
    if (lowerASCII(req.header("expect")) == "100-continue") writeAll(fd, "HTTP/1.1 100 Continue\r\n\r\n");
}

void drainBeforeClose(int fd) {
    constexpr size_t kMaxDrained = size_t(8) << 20;
    constexpr auto kMaxWait = std::chrono::seconds(2);
    ::shutdown(fd, SHUT_WR);
    const auto deadline = std::chrono::steady_clock::now() + kMaxWait;
    char sink[65536];
    size_t drained = 0;
    while (drained < kMaxDrained) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return;
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, int(left.count()));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return;
        const ssize_t n = ::recv(fd, sink, sizeof sink, MSG_DONTWAIT);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n <= 0) return;  // the client closed its side, or the connection broke
        drained += size_t(n);
    }
}

namespace {

// Head and body in one sendmsg, so that a small reply leaves in one segment; repeated
// for what a partial send left.
bool writeHeadAndBody(int fd, std::string_view head, std::string_view body) {
    while (!head.empty() || !body.empty()) {
        iovec parts[2] = {{const_cast<char*>(head.data()), head.size()},
                          {const_cast<char*>(body.data()), body.size()}};
        msghdr message{};
        message.msg_iov = head.empty() ? parts + 1 : parts;
        message.msg_iovlen = head.empty() ? 1 : 2;
        const ssize_t n = ::sendmsg(fd, &message, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        const size_t fromHead = std::min(size_t(n), head.size());
        head.remove_prefix(fromHead);
        body.remove_prefix(size_t(n) - fromHead);
    }
    return true;
}

}  // namespace

void respond(int fd, int status, const HeaderList& extra, std::string_view body, bool headOnly) {
    writeHeadAndBody(fd, responseHead(status, extra, body.size()), headOnly ? std::string_view() : body);
}

nlohmann::json jsonSafe(const nlohmann::json& value) {
    if (value.is_number_float()) {
        const double d = value.get<double>();
        return std::isfinite(d) ? value : nlohmann::json(0);
    }
    if (value.is_array()) {
        nlohmann::json out = nlohmann::json::array();
        for (const auto& element : value) out.push_back(jsonSafe(element));
        return out;
    }
    if (value.is_object()) {
        nlohmann::json out = nlohmann::json::object();
        for (auto it = value.begin(); it != value.end(); ++it) out[it.key()] = jsonSafe(it.value());
        return out;
    }
    return value;
}

std::optional<std::string> encodeJSONBody(const nlohmann::json& value) {
    const nlohmann::json safe = jsonSafe(value);
    if (!safe.is_object() && !safe.is_array()) return std::nullopt;
    std::string text;
    try {
        text = safe.dump();
    } catch (const nlohmann::json::exception&) {
        return std::nullopt;  // e.g. text that is not UTF-8
    }
    // "/" appears only inside strings in JSON text, so escaping every one is safe.
    std::string out;
    out.reserve(text.size() + 16);
    for (char c : text) {
        if (c == '/') out += '\\';
        out += c;
    }
    return out;
}

void sendJSON(int fd, int status, const nlohmann::json& value) {
    const auto body = encodeJSONBody(value);
    if (!body) {
        respond(fd, 500, {{"Content-Type", kJSONType}}, R"({"error":"json encode failed"})");
        return;
    }
    respond(fd, status, {{"Content-Type", kJSONType}}, *body);
}

void sendJSONText(int fd, int status, std::string_view body) {
    respond(fd, status, {{"Content-Type", kJSONType}}, body);
}

namespace {

// The escape of one byte of a JSON string, or none for a byte written as it is.
std::string_view jsonEscape(char c, char (&scratch)[7]) {
    switch (c) {
    case '"': return "\\\"";
    case '\\': return "\\\\";
    case '/': return "\\/";
    case '\b': return "\\b";
    case '\f': return "\\f";
    case '\n': return "\\n";
    case '\r': return "\\r";
    case '\t': return "\\t";
    default: break;
    }
    if (static_cast<unsigned char>(c) >= 0x20) return {};
    static const char kHex[] = "0123456789abcdef";
    std::memcpy(scratch, "\\u00", 4);
    scratch[4] = kHex[(c >> 4) & 0xF];
    scratch[5] = kHex[c & 0xF];
    return std::string_view(scratch, 6);
}

}  // namespace

void appendJSONString(std::string& out, std::string_view utf8) {
    out += '"';
    char scratch[7];
    size_t plainFrom = 0;
    for (size_t k = 0; k < utf8.size(); ++k) {
        const std::string_view escape = jsonEscape(utf8[k], scratch);
        if (escape.empty()) continue;
        out.append(utf8, plainFrom, k - plainFrom);
        out += escape;
        plainFrom = k + 1;
    }
    out.append(utf8, plainFrom);
    out += '"';
}

void appendJSONNumber(std::string& out, double value) {
    // The tree's own number writer, so that both writers give the same digits.
    out += std::isfinite(value) ? nlohmann::json(value).dump() : "0";
}

}  // namespace corvane
