#pragma once
// The one outgoing-HTTP wrapper of the project, over libcurl. Blocking: call it
// off the main thread. Only http and https URLs are fetched; any other scheme fails
// as a transport error. Redirects are never followed (they would carry the device
// token and PIN to another host).

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace corvane {

// Bytes of an open file sent as a request body, read as they go out: no copy of the
// whole body is ever held.
struct FileSlice {
    int fd = -1;
    int64_t offset = 0;
    int64_t length = 0;
};

// Whether a file body is small enough to be read whole first and leave in one write
// with its request's head (below 64 KiB).
bool joinsHead(const FileSlice& slice);
// The slice's bytes; none when the file ends before the slice does.
std::optional<std::string> readSlice(const FileSlice& slice);

struct CurlRequest {
    std::string method = "GET";
    std::string url;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;                 // sent when not empty, or when the method is PUT or POST
    FileSlice bodyFile;               // when its fd is set, the body (of a PUT) instead of `body`;
                                      // a file that ends early aborts the request
    long timeoutSeconds = 120;        // whole transfer; 0 means none
    long timeoutMs = 0;               // when above 0, the whole transfer's limit in milliseconds instead
    long connectTimeoutSeconds = 10;
    long connectTimeoutMs = 0;        // when above 0, the connect limit in milliseconds instead
    long idleTimeoutSeconds = 0;      // fails a transfer that moves no byte for this long; 0 means never
    std::string outputFile;           // when set, the reply body is streamed into this file
    size_t maxBody = 0;               // when above 0, at most this many body bytes are kept; the rest is read and dropped
    // Called with (bytes received so far, total expected or 0); return false to abort.
    std::function<bool(int64_t, int64_t)> onProgress;
    // A request whose connection closes before any byte of the reply came goes again on a
    // new connection, `resendPause` apart, while it has gone on new connections fewer than
    // this many times (requests safe to repeat); any other request once, and only when
    // that connection was kept from an earlier request (a server may close an idle one at
    // any time), at once.
    int freshTries = 0;
    std::chrono::milliseconds resendPause{250};
    // Called with the request body's bytes sent so far: often while they move, and about
    // once a second while they do not.
    std::function<void(int64_t)> onSent;
};

struct CurlResult {
    bool ok = false;          // a reply arrived (any status)
    int status = 0;
    int code = 0;             // libcurl's result code when !ok; 0 for a failure around libcurl
    std::string error;        // libcurl's own text when !ok: what log lines say
    int osErrno = 0;          // the system's error behind a failed connect, when !ok
    std::map<std::string, std::string> headers;  // lower-cased names
    std::string body;         // empty when streamed to outputFile
    bool bodyCut = false;     // the body was longer than maxBody
};

class PipeConnection;

// One libcurl handle kept across requests, so that they go over one keep-alive
// connection, and the connection on which an upload's requests go back to back
// (pipe_connection.h). Used by one thread at a time.
class CurlSession {
public:
    CurlSession();
    ~CurlSession();
    CurlSession(const CurlSession&) = delete;
    CurlSession& operator=(const CurlSession&) = delete;
    void* handle() const { return handle_; }  // the CURL handle; null when libcurl failed
    PipeConnection& pipe() { return *pipe_; }

private:
    void* handle_ = nullptr;
    std::unique_ptr<PipeConnection> pipe_;
};

// Performs the request on the session's handle when given (reusing its connection),
// else on a handle of its own.
CurlResult curlPerform(const CurlRequest& request, CurlSession* session = nullptr);

// The text a user is shown for a request that got no reply, as the platform's Chinese
// locale words each class: "未能连接到服务器。", "请求超时。", "网络连接已中断。",
// "未能找到使用指定主机名的服务器。"; any other failure is "发生了未知错误。" with
// libcurl's text in parentheses, so it can still be told apart.
std::string transportErrorText(const CurlResult& result);

// Whether a request that got no reply found no way to its server: it timed out, or the
// network or host could not be reached. A refused connection is not one: the host answered.
bool unreachable(const CurlResult& result);

// Percent-encodes every byte but A-Z a-z 0-9 - . _ ~ ("+" and "/" included).
std::string percentEncodeStrict(std::string_view text);
// Percent-encodes a path, keeping "/" between its pieces.
std::string percentEncodePath(std::string_view path);

}  // namespace corvane
