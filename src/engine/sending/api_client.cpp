#include "engine/sending/api_client.h"

#include <algorithm>
#include <cctype>
#include <string_view>

#include "base/json_fields.h"
#include "engine/sending/curl_http.h"

namespace corvane {

namespace {

// A full receiver may close a connection for a newcomer: an upload request closed before
// any byte of its reply goes on a new connection up to this many times before the send fails.
constexpr int uploadFreshTries = 3;

bool schemeChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.'; }

bool authorityChar(char c) {
    static const std::string_view allowed = "-._~!$&'()*+,;=:@[]%";
    return std::isalnum(static_cast<unsigned char>(c)) || allowed.find(c) != std::string_view::npos;
}

// "scheme://authority" of a base URL, or none when it has no scheme, no host,
// characters a URL cannot hold, or a port that is not a number up to 65535.
std::optional<std::string> origin(const std::string& base) {
    const size_t sep = base.find("://");
    if (sep == std::string::npos || sep == 0 || !std::isalpha(static_cast<unsigned char>(base[0]))) return std::nullopt;
    const std::string scheme = base.substr(0, sep);
    if (!std::all_of(scheme.begin(), scheme.end(), schemeChar)) return std::nullopt;
    const std::string rest = base.substr(sep + 3);
    const std::string authority = rest.substr(0, rest.find_first_of("/?#"));
    if (!std::all_of(authority.begin(), authority.end(), authorityChar)) return std::nullopt;
    const std::string hostPort = authority.substr(authority.rfind('@') == std::string::npos ? 0 : authority.rfind('@') + 1);
    const size_t close = hostPort.rfind(']');
    const size_t colon = hostPort.find(':', close == std::string::npos ? 0 : close);
    const std::string host = hostPort.substr(0, colon);
    if (host.empty()) return std::nullopt;
    if (colon != std::string::npos) {
        const std::string port = hostPort.substr(colon + 1);
        if (port.size() > 5 || !std::all_of(port.begin(), port.end(), ::isdigit)) return std::nullopt;
        if (!port.empty() && std::stol(port) > 65535) return std::nullopt;
    }
    return scheme + "://" + authority;
}

std::optional<nlohmann::json> parseObject(const std::string& bytes) {
    nlohmann::json value = nlohmann::json::parse(bytes, nullptr, false);
    if (!value.is_object()) return std::nullopt;
    return value;
}

}  // namespace

APIError APIError::http(int status, std::string message) { return {Kind::http, status, std::move(message), ""}; }
APIError APIError::badURL() { return {Kind::badURL, 0, "", ""}; }
APIError APIError::decode() { return {Kind::decode, 0, "", ""}; }
APIError APIError::transport(std::string message, std::string detail) {
    return {Kind::transport, 0, std::move(message), std::move(detail)};
}

APIError APIError::transport(const CurlResult& reply) {
    APIError error = transport(transportErrorText(reply), reply.error);
    error.unreached = unreachable(reply);
    return error;
}

std::string APIError::description() const {
    switch (kind) {
        case Kind::http: return message.empty() ? "HTTP " + std::to_string(status) : message;
        case Kind::badURL: return "地址无效";
        case Kind::decode: return "返回数据格式错误";
        case Kind::transport: return message;
    }
    return message;
}

std::string APIError::logText() const { return detail.empty() ? description() : detail; }

APIClient::APIClient(std::string base, std::string token, std::string pin)
    : base_(std::move(base)), token_(std::move(token)), pin_(std::move(pin)) {}

APIClient APIClient::stoppedBy(std::shared_ptr<const std::atomic<bool>> flag) const {
    APIClient copy = *this;
    copy.stopFlag_ = std::move(flag);
    return copy;
}

APIClient APIClient::withSession(std::shared_ptr<CurlSession> session) const {
    APIClient copy = *this;
    copy.session_ = std::move(session);
    return copy;
}

APIClient APIClient::repeatingUploads() const {
    APIClient copy = *this;
    copy.repeatUploads_ = true;
    return copy;
}

APIClient APIClient::withTimeouts(RequestTimeouts timeouts) const {
    APIClient copy = *this;
    copy.timeouts_ = timeouts;
    return copy;
}

std::optional<std::string> APIClient::makeURL(const std::string& path,
                                              const std::map<std::string, std::string>& query) const {
    auto url = origin(base_);
    if (!url) return std::nullopt;
    if (path.empty() || path[0] != '/') *url += '/';
    *url += percentEncodePath(path);
    char joiner = '?';
    for (const auto& [key, value] : query) {
        *url += joiner + percentEncodeStrict(key) + "=" + percentEncodeStrict(value);
        joiner = '&';
    }
    return url;
}

APIResult<std::string> APIClient::run(Call call) const {
    const auto url = makeURL(call.path, call.query);
    if (!url) return {APIError::badURL()};
    CurlRequest request;
    request.method = call.method;
    request.url = *url;
    request.timeoutMs = long(timeouts_.whole.count());
    request.connectTimeoutMs = long(timeouts_.connect.count());
    if (!token_.empty()) request.headers.emplace_back("x-corvane-token", token_);
    if (!pin_.empty()) request.headers.emplace_back("x-pin", pin_);
    if (call.body || call.bodyFile.fd >= 0) request.headers.emplace_back("Content-Type", call.contentType);
    if (call.body) request.body = std::move(*call.body);
    request.bodyFile = call.bodyFile;
    if (call.repeatable && repeatUploads_) request.freshTries = uploadFreshTries;
    request.onSent = std::move(call.onSent);
    if (stopFlag_) {
        request.onProgress = [flag = stopFlag_](int64_t, int64_t) { return !flag->load(); };
    }
    return replyOf(curlPerform(request, session_.get()));
}

APIResult<std::string> APIClient::replyOf(const CurlResult& reply) {
    if (!reply.ok) return {APIError::transport(reply)};
    if (reply.status < 100) return {APIError::decode()};
    if (reply.status < 400) return {std::nullopt, reply.body};
    const auto object = parseObject(reply.body);
    std::string message;
    if (object) message = Fields(*object).s("error").value_or("");
    return {APIError::http(reply.status, std::move(message))};
}

APIResult<std::string> APIClient::runJSON(std::string method, std::string path, const nlohmann::json& body,
                                          bool repeatable) const {
    std::string bytes;
    try {
        bytes = body.dump();
    } catch (const nlohmann::json::exception& e) {
        return {APIError::transport(e.what())};  // text that is not UTF-8: nothing is sent
    }
    return run({std::move(method), std::move(path), {}, std::move(bytes), "application/json", {}, repeatable});
}

APIResult<FileList> APIClient::files() const {
    const auto reply = run({"GET", "/api/files", {}, std::nullopt, ""});
    if (!reply.ok()) return {reply.error};
    const auto object = parseObject(reply.value);
    if (!object) return {APIError::decode()};
    FileList list;
    const auto found = object->find("files");
    if (found != object->end() && found->is_array() &&
        std::all_of(found->begin(), found->end(), [](const nlohmann::json& e) { return e.is_object(); })) {
        for (const auto& element : *found) list.files.push_back(FileItem::fromJSON(element));
    }
    list.truncated = Fields(*object).b("truncated");
    return {std::nullopt, std::move(list)};
}

std::optional<APIError> APIClient::deletePath(const std::string& path) const {
    return run({"DELETE", "/api/file", {{"p", path}}, std::nullopt, ""}).error;
}

APIResult<nlohmann::json> APIClient::sendText(const std::string& text, bool burn) const {
    const auto reply = runJSON("POST", "/api/text", {{"text", text}, {"burn", burn}});
    if (!reply.ok()) return {reply.error};
    auto object = parseObject(reply.value);
    if (!object) return {APIError::decode()};
    return {std::nullopt, std::move(*object)};
}

std::optional<APIError> APIClient::discardBurn(const std::string& noteID) const {
    return run({"DELETE", "/api/burn/" + noteID, {}, std::nullopt, ""}).error;
}

std::optional<APIError> APIClient::sendChat(const nlohmann::json& message) const {
    return runJSON("POST", "/api/chat", message).error;
}

std::optional<APIError> APIClient::chatRead(const std::string& messageID) const {
    return runJSON("POST", "/api/chat/burn", {{"id", messageID}}).error;
}

namespace {

APIResult<nlohmann::json> objectOf(const APIResult<std::string>& reply) {
    if (!reply.ok()) return {reply.error};
    auto object = parseObject(reply.value);
    if (!object) return {APIError::decode()};
    return {std::nullopt, std::move(*object)};
}

APIResult<FileItem> fileItemOf(const APIResult<std::string>& reply) {
    const auto object = objectOf(reply);
    if (!object.ok()) return {object.error};
    return {std::nullopt, FileItem::fromJSON(object.value)};
}

std::string uploadPath(const std::string& id) { return "/api/upload/" + id; }
std::string chunkPath(const std::string& id, int64_t index) { return uploadPath(id) + "/" + std::to_string(index); }

}  // namespace

APIResult<nlohmann::json> APIClient::uploadStatus(const std::string& id) const {
    return objectOf(run({"GET", uploadPath(id), {}, std::nullopt, "", {}, true}));
}

std::optional<APIError> APIClient::putMeta(const std::string& id, const nlohmann::json& meta) const {
    return runJSON("PUT", uploadPath(id) + "/meta", meta, true).error;
}

std::optional<APIError> APIClient::putChunk(const std::string& id, int64_t index, std::string data) const {
    return run({"PUT", chunkPath(id, index), {}, std::move(data),
                "application/octet-stream", {}, true})
        .error;
}

std::optional<APIError> APIClient::putChunk(const std::string& id, int64_t index, const FileSlice& bytes,
                                           std::function<void(int64_t)> onSent) const {
    Call call{"PUT", chunkPath(id, index), {}, std::nullopt, "application/octet-stream",
              bytes, true};
    call.onSent = std::move(onSent);
    return run(std::move(call)).error;
}

APIResult<FileItem> APIClient::finish(const std::string& id) const {
    return fileItemOf(run({"POST", uploadPath(id) + "/finish", {}, std::string("{}"), "application/json", {}, true}));
}

void APIClient::cancelUpload(const std::string& id) const {
    run({"DELETE", uploadPath(id), {}, std::nullopt, ""});
}

APIResult<std::string> APIClient::downloadURL(const std::string& path) const {
    std::map<std::string, std::string> query;
    if (!token_.empty()) query["token"] = token_;
    if (!pin_.empty()) query["pin"] = pin_;
    auto url = makeURL("/d/" + path, query);
    if (!url) return {APIError::badURL()};
    return {std::nullopt, std::move(*url)};
}

UploadPipe APIClient::uploadPipe() const {
    PipeLimits limits{timeouts_.connect, timeouts_.whole, {}};
    if (stopFlag_) limits.stopped = [flag = stopFlag_] { return flag->load(); };
    return UploadPipe(session_->pipe(), makeURL("/").value_or(""), std::move(limits),
                      repeatUploads_ ? uploadFreshTries : 0);
}

std::string APIClient::requestHead(const std::string& method, const std::string& path,
                                   const std::string& contentType, int64_t bodyLength) const {
    const std::string url = makeURL(path).value_or("");
    const size_t hostAt = url.find("://") + 3;
    const size_t pathAt = url.find('/', hostAt);
    std::string head = method + " " + url.substr(pathAt) + " HTTP/1.1\r\nHost: " + url.substr(hostAt, pathAt - hostAt) +
                       "\r\nAccept: */*\r\n";
    if (!token_.empty()) head += "x-corvane-token: " + token_ + "\r\n";
    if (!pin_.empty()) head += "x-pin: " + pin_ + "\r\n";
    if (bodyLength >= 0) head += "Content-Type: " + contentType + "\r\nContent-Length: " + std::to_string(bodyLength) + "\r\n";
    return head + "\r\n";
}

PipeRequest APIClient::statusRequest(const std::string& id) const {
    PipeRequest request;
    request.head = requestHead("GET", uploadPath(id), "", -1);
    return request;
}

APIResult<PipeRequest> APIClient::metaRequest(const std::string& id, const nlohmann::json& meta) const {
    std::string bytes;
    try {
        bytes = meta.dump();
    } catch (const nlohmann::json::exception& e) {
        return {APIError::transport(e.what())};  // text that is not UTF-8: nothing is sent
    }
    PipeRequest request;
    request.head = requestHead("PUT", uploadPath(id) + "/meta", "application/json", int64_t(bytes.size()));
    request.body = std::move(bytes);
    return {std::nullopt, std::move(request)};
}

PipeRequest APIClient::chunkRequest(const std::string& id, int64_t index, const FileSlice& bytes,
                                    std::function<void(int64_t)> onSent) const {
    return PipeRequest{requestHead("PUT", chunkPath(id, index), "application/octet-stream", bytes.length), "", bytes,
                       std::move(onSent)};
}

PipeRequest APIClient::finishRequest(const std::string& id) const {
    PipeRequest request;
    request.head = requestHead("POST", uploadPath(id) + "/finish", "application/json", 2);
    request.body = "{}";
    return request;
}

APIResult<nlohmann::json> APIClient::statusReply(const CurlResult& reply) { return objectOf(replyOf(reply)); }

std::optional<APIError> APIClient::acceptedReply(const CurlResult& reply) { return replyOf(reply).error; }

APIResult<FileItem> APIClient::finishReply(const CurlResult& reply) { return fileItemOf(replyOf(reply)); }

}  // namespace corvane
