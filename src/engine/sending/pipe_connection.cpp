#include "engine/sending/pipe_connection.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <curl/curl.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <optional>
#include <poll.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <unistd.h>

#include "base/json_fields.h"
#include "base/lan_socket.h"
#include "base/text_util.h"

namespace corvane {

namespace {

using Clock = std::chrono::steady_clock;

// A waiting exchange looks this often whether it was abandoned, and a body that moves
// no byte tells its listener.
constexpr auto kLookEvery = std::chrono::milliseconds(250);
// A file body goes out in pieces of this size, as libcurl's upload buffer does.
constexpr int64_t kFilePiece = 524288;

CurlResult failure(CURLcode code, std::string detail = "") {
    CurlResult result;
    result.code = code;
    result.error = curl_easy_strerror(code);
    if (!detail.empty()) result.error += ": " + detail;
    return result;
}

int abandonWhenStopped(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return static_cast<const PipeLimits*>(user)->stopped() ? 1 : 0;
}

struct ReplyHead {
    int status = 0;
    int64_t length = -1;  // none: the body runs to the end of the stream
    bool closes = false;
    std::map<std::string, std::string> headers;
};

// The head of a reply (the bytes before its blank line); none when it is not one.
std::optional<ReplyHead> parseReplyHead(std::string_view text) {
    ReplyHead head;
    const size_t lineEnd = text.find("\r\n");
    const std::string_view statusLine = text.substr(0, lineEnd);
    if (statusLine.rfind("HTTP/1.", 0) != 0 || statusLine.size() < 12) return std::nullopt;
    const auto status = parseIntText(statusLine.substr(9, 3));
    if (!status) return std::nullopt;
    head.status = int(*status);
    size_t at = lineEnd == std::string_view::npos ? text.size() : lineEnd + 2;
    while (at < text.size()) {
        const size_t end = std::min(text.find("\r\n", at), text.size());
        const std::string_view line = text.substr(at, end - at);
        at = end + 2;
        const size_t colon = line.find(':');
        if (colon == std::string_view::npos) continue;
        std::string value(line.substr(colon + 1));
        value.erase(0, value.find_first_not_of(" \t"));
        while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.pop_back();
        head.headers[lowerASCII(std::string(line.substr(0, colon)))] = value;
    }
    if (const auto length = head.headers.find("content-length"); length != head.headers.end()) {
        const auto parsed = parseIntText(length->second);
        if (!parsed || *parsed < 0) return std::nullopt;
        head.length = *parsed;
    }
    const auto connection = head.headers.find("connection");
    head.closes = connection != head.headers.end() && lowerASCII(connection->second) == "close";
    if (head.status == 204 || head.status == 304) head.length = 0;
    return head;
}

int unpacedBeforeConnect(void*, curl_socket_t socket, curlsocktype) {
    leaveUnpaced(socket);  // a kernel that refuses keeps the system's congestion control
    return CURL_SOCKOPT_OK;
}

}  // namespace

PipeConnection::~PipeConnection() { close(); }

CurlResult PipeConnection::open(const std::string& url, const PipeLimits& limits, bool small) {
    close();
    CURL* curl = curl_easy_init();
    if (!curl) return failure(CURLE_FAILED_INIT);
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_CONNECT_ONLY, 1L);
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http");
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_PROXY, "");
    curl_easy_setopt(curl, CURLOPT_TCP_NODELAY, 1L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, long(limits.connect.count()));
    if (small) curl_easy_setopt(curl, CURLOPT_SOCKOPTFUNCTION, unpacedBeforeConnect);
    if (limits.stopped) {  // a connect under way is abandoned as any wait is
        curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, abandonWhenStopped);
        curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &limits);
    }
    const CURLcode code = curl_easy_perform(curl);
    curl_socket_t socket = CURL_SOCKET_BAD;
    if (code == CURLE_OK) curl_easy_getinfo(curl, CURLINFO_ACTIVESOCKET, &socket);
    if (code != CURLE_OK || socket == CURL_SOCKET_BAD) {
        CurlResult result = failure(code == CURLE_OK ? CURLE_COULDNT_CONNECT : code);
        long osErrno = 0;
        curl_easy_getinfo(curl, CURLINFO_OS_ERRNO, &osErrno);
        result.osErrno = int(osErrno);
        curl_easy_cleanup(curl);
        return result;
    }
    curl_ = curl;
    fd_ = int(socket);
    url_ = url;
    ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) | O_NONBLOCK);
    shortenLossRecovery(fd_);  // an older kernel keeps its own floor
    small_ = small;
    writable_ = true;
    answered_ = false;
    buffer_.clear();
    CurlResult result;
    result.ok = true;
    return result;
}

void PipeConnection::abort() {
    // No linger: the socket resets and its kernel drops what it has not delivered yet,
    // rather than sending it on for as long as the link takes to come back.
    const linger none{1, 0};
    if (fd_ >= 0) ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &none, sizeof none);
    close();
}

void PipeConnection::close() {
    if (curl_) curl_easy_cleanup(static_cast<CURL*>(curl_));  // closes the socket too
    curl_ = nullptr;
    fd_ = -1;
    writable_ = false;
    url_.clear();
    answered_ = false;
    held_ = false;
    small_ = false;
    buffer_.clear();
}

PipeConnection::Wait PipeConnection::await(short events, Clock::time_point deadline, const PipeLimits& limits,
                                           const std::function<void()>& tick) {
    while (true) {
        if (limits.stopped && limits.stopped()) return Wait::stopped;
        const auto now = Clock::now();
        if (now >= deadline) return Wait::timedOut;
        const auto slice = std::min<Clock::duration>(deadline - now, kLookEvery);
        pollfd p{fd_, events, 0};
        const int ready = ::poll(&p, 1, int(std::chrono::ceil<std::chrono::milliseconds>(slice).count()));
        if (ready > 0) return Wait::ready;
        if (ready < 0 && errno != EINTR) return Wait::failed;
        if (tick) tick();
    }
}

namespace {

CurlResult waitFailure(int wait, CURLcode otherwise) {
    if (wait == 1) return failure(CURLE_OPERATION_TIMEDOUT);
    if (wait == 2) return failure(CURLE_ABORTED_BY_CALLBACK);
    return failure(otherwise, std::strerror(errno));
}

}  // namespace

CurlResult PipeConnection::sendBytes(const char* data, size_t size, Clock::time_point deadline,
                                     const PipeLimits& limits, const std::function<void(size_t)>& sent, bool followed) {
    // MSG_MORE keeps the bytes for the next request's; one sent without it takes both.
    const int flags = MSG_NOSIGNAL | MSG_DONTWAIT | (followed ? MSG_MORE : 0);
    held_ = followed;
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::send(fd_, data + done, size - done, flags);
        if (n > 0) {
            done += size_t(n);
            if (sent) sent(done);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
            return failure(CURLE_SEND_ERROR, std::strerror(errno));
        }
        const Wait wait = await(POLLOUT, deadline, limits, [&] {
            if (sent) sent(done);
        });
        if (wait != Wait::ready) return waitFailure(int(wait), CURLE_SEND_ERROR);
    }
    CurlResult ok;
    ok.ok = true;
    return ok;
}

CurlResult PipeConnection::sendFile(const PipeRequest& request, Clock::time_point deadline, const PipeLimits& limits) {
    const FileSlice& slice = request.bodyFile;
    int64_t done = 0;
    const auto tell = [&] {
        if (request.onSent) request.onSent(done);
    };
    while (done < slice.length) {
        off_t offset = off_t(slice.offset + done);
        const ssize_t n = ::sendfile(fd_, slice.fd, &offset, size_t(std::min(kFilePiece, slice.length - done)));
        if (n > 0) {
            done += n;
            tell();
            continue;
        }
        if (n == 0) return failure(CURLE_ABORTED_BY_CALLBACK);  // the file ended before the slice did
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
            return failure(CURLE_SEND_ERROR, std::strerror(errno));
        }
        const Wait wait = await(POLLOUT, deadline, limits, tell);
        if (wait != Wait::ready) return waitFailure(int(wait), CURLE_SEND_ERROR);
    }
    CurlResult ok;
    ok.ok = true;
    return ok;
}

CurlResult PipeConnection::write(const PipeRequest& request, const PipeLimits& limits) {
    if (!writable()) return failure(CURLE_SEND_ERROR, "connection closed");
    const auto deadline = Clock::now() + limits.whole;
    std::string joined = request.head;
    const bool fileBody = request.bodyFile.fd >= 0;
    const bool joinFile = joinsHead(request.bodyFile);
    if (joinFile) {
        const auto bytes = readSlice(request.bodyFile);
        if (!bytes) return failure(CURLE_ABORTED_BY_CALLBACK);  // nothing of it went out
        joined += *bytes;
    } else if (!fileBody) {
        joined += request.body;
    }
    const size_t headSize = request.head.size();
    CurlResult result = sendBytes(joined.data(), joined.size(), deadline, limits, [&](size_t sent) {
        if (request.onSent && sent > headSize) request.onSent(int64_t(sent - headSize));
    }, request.followed && !(fileBody && !joinFile));
    if (result.ok && fileBody && !joinFile) result = sendFile(request, deadline, limits);
    if (!result.ok) writable_ = false;
    return result;
}

CurlResult PipeConnection::fill(Clock::time_point deadline, const PipeLimits& limits, bool& ended,
                                const std::function<void()>& tick) {
    char block[65536];
    while (true) {
        const ssize_t n = ::recv(fd_, block, sizeof block, MSG_DONTWAIT);
        if (n > 0) {
            buffer_.append(block, size_t(n));
            break;
        }
        if (n == 0) {
            ended = true;
            break;
        }
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return failure(CURLE_RECV_ERROR, std::strerror(errno));
        const Wait wait = await(POLLIN, deadline, limits, tick);
        if (wait != Wait::ready) return waitFailure(int(wait), CURLE_RECV_ERROR);
    }
    CurlResult ok;
    ok.ok = true;
    return ok;
}

void PipeConnection::push() {
    if (!held_) return;
    held_ = false;
    // Turning no-delay on sends what waits at once (it is on already: libcurl sets it).
    const int on = 1;
    ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

bool PipeConnection::replyReady() {
    if (!isOpen()) return false;
    char block[65536];
    ssize_t n;
    while ((n = ::recv(fd_, block, sizeof block, MSG_DONTWAIT)) > 0) buffer_.append(block, size_t(n));
    const size_t headEnd = buffer_.find("\r\n\r\n");
    if (headEnd == std::string::npos) return false;
    const auto head = parseReplyHead(std::string_view(buffer_).substr(0, headEnd));
    return head && head->status >= 200 && head->length >= 0 && buffer_.size() - headEnd - 4 >= size_t(head->length);
}

CurlResult PipeConnection::read(const PipeLimits& limits, bool& unanswered, const std::function<void()>& tick) {
    unanswered = false;
    if (!isOpen()) {
        unanswered = true;
        return failure(CURLE_GOT_NOTHING);
    }
    push();  // a reply is awaited: nothing of ours may wait for a request that is not coming
    const auto deadline = Clock::now() + limits.whole;
    while (true) {
        const size_t headEnd = buffer_.find("\r\n\r\n");
        std::optional<ReplyHead> head;
        if (headEnd != std::string::npos) {
            head = parseReplyHead(std::string_view(buffer_).substr(0, headEnd));
            if (!head) return failure(CURLE_WEIRD_SERVER_REPLY);
            const size_t bodyAt = headEnd + 4;
            if (head->status >= 100 && head->status < 200) {  // an interim reply: the real one follows
                buffer_.erase(0, bodyAt);
                continue;
            }
            if (head->length >= 0 && buffer_.size() - bodyAt >= size_t(head->length)) {
                CurlResult result;
                result.ok = true;
                result.status = head->status;
                result.headers = std::move(head->headers);
                result.body = buffer_.substr(bodyAt, size_t(head->length));
                buffer_.erase(0, bodyAt + size_t(head->length));
                answered_ = true;
                if (head->closes) writable_ = false;
                return result;
            }
        }
        const bool nothingYet = buffer_.empty();
        bool ended = false;
        CurlResult more = fill(deadline, limits, ended, tick);
        if (!more.ok) {
            unanswered = nothingYet && more.code == CURLE_RECV_ERROR;
            return more;
        }
        if (!ended) continue;
        writable_ = false;
        if (head && head->length < 0) {  // a body that runs to the end of the stream
            CurlResult result;
            result.ok = true;
            result.status = head->status;
            result.headers = std::move(head->headers);
            result.body = buffer_.substr(headEnd + 4);
            buffer_.clear();
            answered_ = true;
            return result;
        }
        unanswered = nothingYet;
        return failure(nothingYet ? CURLE_GOT_NOTHING : CURLE_PARTIAL_FILE);
    }
}

}  // namespace corvane
