#include "engine/sending/curl_http.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <curl/curl.h>
#include <mutex>
#include <optional>
#include <thread>
#include <unistd.h>

#include "base/text_util.h"
#include "engine/sending/pipe_connection.h"

namespace corvane {

namespace {

void globalInit() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct Sink {
    std::string* body = nullptr;
    FILE* file = nullptr;
    size_t maxBody = 0;
    bool* cut = nullptr;
    bool failed = false;
};

size_t writeBody(char* data, size_t size, size_t count, void* user) {
    auto* sink = static_cast<Sink*>(user);
    const size_t n = size * count;
    if (sink->file) {
        if (fwrite(data, 1, n, sink->file) != n) {
            sink->failed = true;
            return 0;
        }
        return n;
    }
    size_t kept = n;
    if (sink->maxBody > 0 && sink->body->size() + n > sink->maxBody) {
        kept = sink->maxBody - sink->body->size();
        *sink->cut = true;
    }
    sink->body->append(data, kept);
    return n;
}

size_t writeHeader(char* data, size_t size, size_t count, void* user) {
    auto* headers = static_cast<std::map<std::string, std::string>*>(user);
    const size_t n = size * count;
    std::string line(data, n);
    if (line.rfind("HTTP/", 0) == 0) headers->clear();  // a new reply (after 100 Continue)
    const size_t colon = line.find(':');
    if (colon == std::string::npos) return n;
    const std::string name = lowerASCII(line.substr(0, colon));
    std::string value = line.substr(colon + 1);
    value.erase(0, value.find_first_not_of(" \t"));
    while (!value.empty() && (value.back() == '\r' || value.back() == '\n' || value.back() == ' ')) value.pop_back();
    (*headers)[name] = value;
    return n;
}

int progressCallback(void* user, curl_off_t dltotal, curl_off_t dlnow, curl_off_t, curl_off_t ulnow) {
    const auto* request = static_cast<const CurlRequest*>(user);
    if (request->onSent) request->onSent(int64_t(ulnow));
    if (!request->onProgress) return 0;
    return request->onProgress(int64_t(dlnow), int64_t(dltotal)) ? 0 : 1;
}

struct FileBody {
    const FileSlice* slice;
    int64_t sent = 0;
};

// Reads the next piece of the slice straight into libcurl's upload buffer.
size_t readFileBody(char* buffer, size_t size, size_t count, void* user) {
    auto* body = static_cast<FileBody*>(user);
    const int64_t left = body->slice->length - body->sent;
    if (left <= 0) return 0;
    const size_t want = size_t(std::min<int64_t>(left, int64_t(size * count)));
    ssize_t n;
    do {
        n = ::pread(body->slice->fd, buffer, want, off_t(body->slice->offset + body->sent));
    } while (n < 0 && errno == EINTR);
    if (n <= 0) return CURL_READFUNC_ABORT;  // the file ended before the slice did
    body->sent += n;
    return size_t(n);
}

// Sets where the next read of the slice starts: libcurl rewinds the body to send the
// request once more on a new connection.
int seekFileBody(void* user, curl_off_t offset, int origin) {
    auto* body = static_cast<FileBody*>(user);
    if (origin != SEEK_SET || offset < 0 || offset > body->slice->length) return CURL_SEEKFUNC_CANTSEEK;
    body->sent = int64_t(offset);
    return CURL_SEEKFUNC_OK;
}

// Whether the request's connection closed before any byte of the reply came: the server
// closed it while idle, or for a newcomer, and never saw the request, or saw it and did
// not answer.
bool closedUnanswered(CURL* curl, CURLcode code) {
    if (code != CURLE_SEND_ERROR && code != CURLE_RECV_ERROR && code != CURLE_GOT_NOTHING) return false;
    long headerBytes = 0;
    curl_off_t bodyBytes = 0;
    curl_easy_getinfo(curl, CURLINFO_HEADER_SIZE, &headerBytes);
    curl_easy_getinfo(curl, CURLINFO_SIZE_DOWNLOAD_T, &bodyBytes);
    return headerBytes == 0 && bodyBytes == 0;
}

// Whether the request went on a connection kept from an earlier request.
bool onKeptConnection(CURL* curl) {
    long connects = 0;
    curl_easy_getinfo(curl, CURLINFO_NUM_CONNECTS, &connects);
    return connects == 0;
}

struct Attempt {
    CurlResult result;
    bool unanswered = false;  // the connection closed before any byte of the reply
    bool kept = false;        // on a connection kept from an earlier request
};

// Waits the request's pause before it goes again; false when its caller gave it up meanwhile.
bool pauseBeforeResend(const CurlRequest& request) {
    const auto until = std::chrono::steady_clock::now() + request.resendPause;
    while (true) {
        if (request.onProgress && !request.onProgress(0, 0)) return false;
        const auto now = std::chrono::steady_clock::now();
        if (now >= until) return true;
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(until - now, std::chrono::milliseconds(20)));
    }
}

Attempt perform(const CurlRequest& request, CurlSession* session, bool freshConnection);

bool unreserved(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
           c == '_' || c == '~';
}

}  // namespace

// A file body shorter than 64 KiB is read whole before the request: libcurl then sends
// it in the same write as the head (below that size it does), and the receiver reads
// both at once.
constexpr int64_t kJoinedBodyLimit = 65536;

bool joinsHead(const FileSlice& slice) { return slice.fd >= 0 && slice.length < kJoinedBodyLimit; }

std::optional<std::string> readSlice(const FileSlice& slice) {
    std::string bytes(size_t(slice.length), '\0');
    size_t have = 0;
    while (have < bytes.size()) {
        const ssize_t n = ::pread(slice.fd, bytes.data() + have, bytes.size() - have, off_t(slice.offset) + off_t(have));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return std::nullopt;
        have += size_t(n);
    }
    return bytes;
}

std::string transportErrorText(const CurlResult& result) {
    switch (result.code) {
        case CURLE_COULDNT_CONNECT: return "未能连接到服务器。";
        case CURLE_OPERATION_TIMEDOUT: return "请求超时。";
        case CURLE_SEND_ERROR:
        case CURLE_RECV_ERROR:
        case CURLE_GOT_NOTHING:
        case CURLE_PARTIAL_FILE: return "网络连接已中断。";
        case CURLE_COULDNT_RESOLVE_HOST: return "未能找到使用指定主机名的服务器。";
        default: return "发生了未知错误。（" + result.error + "）";
    }
}

bool unreachable(const CurlResult& result) {
    if (result.ok) return false;
    if (result.code == CURLE_OPERATION_TIMEDOUT) return true;
    if (result.code != CURLE_COULDNT_CONNECT) return false;
    return result.osErrno == ENETUNREACH || result.osErrno == EHOSTUNREACH || result.osErrno == ENETDOWN ||
           result.osErrno == EHOSTDOWN || result.osErrno == ETIMEDOUT;
}

std::string percentEncodeStrict(std::string_view text) { return percentEncodeExcept(text, unreserved); }

std::string percentEncodePath(std::string_view path) {
    std::string out;
    size_t start = 0;
    while (true) {
        const size_t slash = path.find('/', start);
        out += percentEncodeStrict(path.substr(start, slash == std::string_view::npos ? std::string_view::npos : slash - start));
        if (slash == std::string_view::npos) break;
        out += '/';
        start = slash + 1;
    }
    return out;
}

CurlSession::CurlSession() : pipe_(std::make_unique<PipeConnection>()) {
    globalInit();
    handle_ = curl_easy_init();
}

CurlSession::~CurlSession() {
    if (handle_) curl_easy_cleanup(handle_);
}

CurlResult curlPerform(const CurlRequest& request, CurlSession* session) {
    globalInit();
    Attempt attempt = perform(request, session, false);
    int fresh = attempt.kept ? 0 : 1;  // tries made on a new connection
    const int allowed = std::max(request.freshTries, 1);
    while (attempt.unanswered && fresh < allowed) {
        // A kept connection closed while idle is the usual case: it goes again at once.
        if (!attempt.kept && !pauseBeforeResend(request)) break;
        attempt = perform(request, session, true);
        ++fresh;
    }
    return std::move(attempt.result);
}

namespace {

Attempt perform(const CurlRequest& request, CurlSession* session, bool freshConnection) {
    Attempt attempt;
    CurlResult& result = attempt.result;
    std::optional<std::string> joinedBody;
    if (joinsHead(request.bodyFile)) {
        joinedBody = readSlice(request.bodyFile);
        if (!joinedBody) {  // as the read callback aborts a file that ends early
            result.error = curl_easy_strerror(CURLE_ABORTED_BY_CALLBACK);
            return attempt;
        }
    }
    CURL* curl = session ? session->handle() : curl_easy_init();
    // A reset keeps the handle's live connection for the next request.
    if (session && curl) curl_easy_reset(curl);
    if (!curl) {
        result.error = "curl init failed";
        return attempt;
    }
    if (freshConnection) curl_easy_setopt(curl, CURLOPT_FRESH_CONNECT, 1L);
    Sink sink;
    sink.body = &result.body;
    sink.maxBody = request.maxBody;
    sink.cut = &result.bodyCut;
    if (!request.outputFile.empty()) {
        sink.file = fopen(request.outputFile.c_str(), "wb");
        if (!sink.file) {
            if (!session) curl_easy_cleanup(curl);
            result.error = "cannot write " + request.outputFile;
            return attempt;
        }
    }

    curl_slist* headerList = nullptr;
    for (const auto& [name, value] : request.headers) {
        headerList = curl_slist_append(headerList, (name + ": " + value).c_str());
    }
    // No "Expect: 100-continue" round trip for chunk uploads.
    headerList = curl_slist_append(headerList, "Expect:");

    curl_easy_setopt(curl, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
    // Only HTTP is spoken: a URL from a manifest must not read local files (file://) or reach other services.
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_PROXY, "");  // peers are on the local network: never via a proxy
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headerList);
    // 4 MiB chunks go out in 512 KiB sends rather than 64 KiB ones: few calls, and each
    // piece read from the file is still in the core's cache when it is sent (2 MiB
    // pieces were about a fifth slower on loopback); no delay waits for an
    // acknowledgement before the last segment.
    curl_easy_setopt(curl, CURLOPT_UPLOAD_BUFFERSIZE, 524288L);
    curl_easy_setopt(curl, CURLOPT_TCP_NODELAY, 1L);
    if (request.timeoutMs > 0) {
        curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, request.timeoutMs);
    } else {
        curl_easy_setopt(curl, CURLOPT_TIMEOUT, request.timeoutSeconds);
    }
    if (request.connectTimeoutMs > 0) {
        curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, request.connectTimeoutMs);
    } else {
        curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, request.connectTimeoutSeconds);
    }
    if (request.idleTimeoutSeconds > 0) {
        curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
        curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, request.idleTimeoutSeconds);
    }
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, writeBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &sink);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, writeHeader);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &result.headers);
    if (request.method == "HEAD") {
        curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
    } else if (request.method != "GET") {
        curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, request.method.c_str());
    }
    FileBody fileBody{&request.bodyFile};
    if (joinedBody) {
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, joinedBody->data());
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(joinedBody->size()));
    } else if (request.bodyFile.fd >= 0) {
        curl_easy_setopt(curl, CURLOPT_UPLOAD, 1L);
        curl_easy_setopt(curl, CURLOPT_INFILESIZE_LARGE, curl_off_t(request.bodyFile.length));
        curl_easy_setopt(curl, CURLOPT_READFUNCTION, readFileBody);
        curl_easy_setopt(curl, CURLOPT_READDATA, &fileBody);
        curl_easy_setopt(curl, CURLOPT_SEEKFUNCTION, seekFileBody);
        curl_easy_setopt(curl, CURLOPT_SEEKDATA, &fileBody);
    } else if (!request.body.empty() || request.method == "PUT" || request.method == "POST") {
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, request.body.data());
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(request.body.size()));
    }
    if (request.onProgress || request.onSent) {
        curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, progressCallback);
        curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &request);
    }

    const CURLcode code = curl_easy_perform(curl);
    if (code == CURLE_OK && !sink.failed) {
        long status = 0;
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
        result.ok = true;
        result.status = int(status);
    } else {
        result.code = code;
        result.error = sink.failed ? "write failed" : curl_easy_strerror(code);
        long osErrno = 0;
        curl_easy_getinfo(curl, CURLINFO_OS_ERRNO, &osErrno);
        result.osErrno = int(osErrno);
        attempt.unanswered = !sink.failed && closedUnanswered(curl, code);
        attempt.kept = !freshConnection && session && onKeptConnection(curl);
    }
    if (sink.file) fclose(sink.file);
    curl_slist_free_all(headerList);
    if (!session) curl_easy_cleanup(curl);
    return attempt;
}

}  // namespace

}  // namespace corvane
