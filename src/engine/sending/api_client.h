#pragma once
// The client side of the peer protocol: one device's server address and the
// credentials to present there, with one blocking call per route. Calls run
// off the main thread; each returns its error as a value.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "engine/sending/curl_http.h"
#include "engine/sending/upload_pipe.h"
#include "engine/model.h"

namespace corvane {

// The client's one error type; description() is the text shown to users.
struct APIError {
    enum class Kind {
        http,       // a reply with status 400 or above
        badURL,     // the address cannot form the request's URL
        decode,     // a reply that is not what the route answers
        transport,  // no reply (refused, unreachable, time-out) or a body that cannot be encoded
    };
    Kind kind = Kind::transport;
    int status = 0;        // http
    std::string message;   // http: the server's "error" text, may be empty; transport: the text shown
    std::string detail;    // transport: the library's own text, kept for log lines
    bool unreached = false;  // transport: the server could not be reached at all (curl's `unreachable`)

    static APIError http(int status, std::string message);
    static APIError badURL();
    static APIError decode();
    static APIError transport(std::string message, std::string detail = "");
    // A request that got no reply: shown as transportErrorText, logged with libcurl's text.
    static APIError transport(const CurlResult& reply);
    // The server's text, else "HTTP <status>"; "地址无效"; "返回数据格式错误"; the transport's text.
    std::string description() const;
    // What a log line says: the library's own text where there is one, else description().
    std::string logText() const;
    bool operator==(const APIError&) const = default;
};

// A value, or the error that stopped the call.
template <typename T>
struct APIResult {
    std::optional<APIError> error;
    T value{};
    bool ok() const { return !error.has_value(); }
};

// The limits of each request of a client: to connect, and for the whole exchange.
struct RequestTimeouts {
    std::chrono::milliseconds connect{10000};
    std::chrono::milliseconds whole{120000};
};

struct FileList {
    std::vector<FileItem> files;
    bool truncated = false;
};

class APIClient {
public:
    using APIError = corvane::APIError;

    // base: "http://<address>:<port>/"; an empty token or PIN is not sent.
    APIClient(std::string base, std::string token, std::string pin);

    const std::string& base() const { return base_; }
    const std::string& token() const { return token_; }
    const std::string& pin() const { return pin_; }

    // A copy whose requests are abandoned as soon as the flag is set.
    APIClient stoppedBy(std::shared_ptr<const std::atomic<bool>> flag) const;
    // A copy whose requests all go through the session's handle (one keep-alive
    // connection); for use on one thread.
    APIClient withSession(std::shared_ptr<CurlSession> session) const;
    // A copy for the send queue: its upload requests (status, meta, chunk, finish) go again,
    // up to three times on new connections, when a connection closes before any byte of
    // the reply came. Every other client sends each request once.
    APIClient repeatingUploads() const;
    // A copy whose requests have these limits instead of 10 s to connect and 120 s in all.
    APIClient withTimeouts(RequestTimeouts timeouts) const;

    // The base with the path replaced and the query (values strictly percent-encoded)
    // set; none when the base has no scheme and host.
    std::optional<std::string> makeURL(const std::string& path,
                                       const std::map<std::string, std::string>& query = {}) const;

    APIResult<FileList> files() const;
    std::optional<APIError> deletePath(const std::string& path) const;
    APIResult<nlohmann::json> sendText(const std::string& text, bool burn) const;
    std::optional<APIError> discardBurn(const std::string& noteID) const;
    std::optional<APIError> sendChat(const nlohmann::json& message) const;
    std::optional<APIError> chatRead(const std::string& messageID) const;
    APIResult<nlohmann::json> uploadStatus(const std::string& id) const;
    std::optional<APIError> putMeta(const std::string& id, const nlohmann::json& meta) const;
    std::optional<APIError> putChunk(const std::string& id, int64_t index, std::string data) const;
    // The chunk's bytes sent straight from an open file; onSent, when given, hears how
    // many of them went out, also while none move (CurlRequest::onSent).
    std::optional<APIError> putChunk(const std::string& id, int64_t index, const FileSlice& bytes,
                                     std::function<void(int64_t)> onSent = {}) const;
    APIResult<FileItem> finish(const std::string& id) const;
    // DELETE of a partial upload; every outcome is ignored.
    void cancelUpload(const std::string& id) const;
    // The ranged-download URL of a file, carrying the credentials in its query.
    APIResult<std::string> downloadURL(const std::string& path) const;

    // The upload requests above for a pipe on the session's pipelined connection (a
    // withSession copy over plain http): built here, sent by the pipe, each reply read
    // by the matching ...Reply as the blocking call reads its own.
    UploadPipe uploadPipe() const;
    PipeRequest statusRequest(const std::string& id) const;
    APIResult<PipeRequest> metaRequest(const std::string& id, const nlohmann::json& meta) const;
    PipeRequest chunkRequest(const std::string& id, int64_t index, const FileSlice& bytes,
                             std::function<void(int64_t)> onSent = {}) const;
    PipeRequest finishRequest(const std::string& id) const;
    static APIResult<nlohmann::json> statusReply(const CurlResult& reply);
    static std::optional<APIError> acceptedReply(const CurlResult& reply);
    static APIResult<FileItem> finishReply(const CurlResult& reply);

private:
    struct Call {
        std::string method;
        std::string path;
        std::map<std::string, std::string> query;
        std::optional<std::string> body;
        std::string contentType;
        FileSlice bodyFile = {};  // instead of `body` when its fd is set
        // The upload protocol's requests, safe to send again when their connection closed
        // before any byte of the reply came; sent again only by a repeatingUploads() copy.
        bool repeatable = false;
        std::function<void(int64_t)> onSent = {};
    };
    APIResult<std::string> run(Call call) const;
    static APIResult<std::string> replyOf(const CurlResult& reply);
    // Request line and headers of a pipelined request, its blank line included.
    std::string requestHead(const std::string& method, const std::string& path, const std::string& contentType,
                            int64_t bodyLength) const;
    APIResult<std::string> runJSON(std::string method, std::string path, const nlohmann::json& body,
                                   bool repeatable = false) const;

    std::string base_;
    std::string token_;
    std::string pin_;
    std::shared_ptr<const std::atomic<bool>> stopFlag_;
    std::shared_ptr<CurlSession> session_;
    bool repeatUploads_ = false;
    RequestTimeouts timeouts_;
};

}  // namespace corvane
