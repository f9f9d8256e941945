// What every request that passed the gates gets: the team-mode gate, the WebDAV
// hand-off, the team routes, then the peer route table, whose last row is a 404.

#include <array>
#include <string_view>

#include "engine/handler_utils.h"
#include "engine/http_response.h"
#include "engine/http_server.h"
#include "engine/json_fields.h"

namespace corvane {

namespace {

bool startsWith(std::string_view s, std::string_view prefix) { return s.substr(0, prefix.size()) == prefix; }

// Paths that only answer in team mode. "/dav" has no slash: "/davx" is refused too.
bool teamModeOnly(const std::string& path) {
    static const std::array<std::string_view, 4> exact{"/", "/web", "/login", "/team"};
    static const std::array<std::string_view, 5> prefixes{"/dav", "/api/team", "/api/auth/", "/api/tf/", "/api/mail"};
    for (const auto e : exact) {
        if (path == e) return true;
    }
    for (const auto p : prefixes) {
        if (startsWith(path, p)) return true;
    }
    return false;
}

void refuseTeamMode(int fd) {
    sendJSON(fd, 404, nlohmann::json{
                          {"error", "拓展功能未开启"},
                          {"hint", "本机没有开启「中央存储 / NAS」拓展，请在Corvane的 设置 → 拓展功能 里开启。"},
                      });
}

// The chunk index as a decimal number; -1 (refused later) when it does not fit,
// so that an overlong index can never overwrite chunk 0.
int64_t chunkIndex(const std::string& digits) { return parseIntText(digits).value_or(-1); }

}  // namespace

void HTTPServer::route(int fd, const HTTPReq& req, const std::string& peerIP) {
    const bool teamMode = nasExtOn();
    if (!teamMode && teamModeOnly(req.path)) {
        refuseTeamMode(fd);
        return;
    }
    if (teamMode && (req.path == "/dav" || startsWith(req.path, "/dav/"))) {
        storage().davRoute(*this, fd, req);
        return;
    }
    if (storage().teamRoute(*this, fd, req, peerIP)) return;
    if (routeTable(fd, req, peerIP)) return;
    sendJSON(fd, 404, errorJSON("not found"));
}

// The peer rows, top to bottom; false when none matched path and method.
bool HTTPServer::routeTable(int fd, const HTTPReq& req, const std::string& peerIP) {
    const std::string& m = req.method;
    const std::string& path = req.path;
    if (m == "GET" && path == "/api/receive-tasks") {
        routeReceiveTasks(fd);
        return true;
    }
    if (m == "GET" && path == "/api/info") {
        routeInfo(fd);
        return true;
    }
    if (m == "GET" && path == "/api/peers") {
        routePeers(fd);
        return true;
    }
    if (m == "GET" && path == "/api/files") {
        routeFiles(fd);
        return true;
    }
    if (m == "POST" && path == "/api/text") {
        routeText(fd, req, peerIP);
        return true;
    }
    if (m == "POST" && path == "/api/chat") {
        routeChat(fd, req);
        return true;
    }
    if (m == "POST" && path == "/api/chat/burn") {
        routeChatBurn(fd, req);
        return true;
    }
    if (m == "GET" && startsWith(path, "/b/")) {
        burnPage(fd, path.substr(3));
        return true;
    }
    if (m == "GET" && startsWith(path, "/api/burn/")) {
        routeBurnRead(fd, path.substr(10));
        return true;
    }
    if (m == "DELETE" && startsWith(path, "/api/burn/")) {
        takeBurn(path.substr(10));
        sendJSON(fd, 200, {{"ok", true}});
        return true;
    }
    if (startsWith(path, "/api/upload/") && routeUpload(fd, req, peerIP)) return true;
    if ((m == "GET" || m == "HEAD") && startsWith(path, "/d/")) {
        download(fd, path.substr(3), req);
        return true;
    }
    if (m == "DELETE" && path == "/api/file") {
        routeDeleteFile(fd, req);
        return true;
    }
    return routeStorage(fd, req);
}

bool HTTPServer::routeUpload(int fd, const HTTPReq& req, const std::string& peerIP) {
    const std::string& m = req.method;
    if (m == "GET" || m == "DELETE") {
        const auto id = match(req.path, "^/api/upload/([a-f0-9]+)$");
        if (!id) return false;
        if (m == "GET") {
            uploadStatus(fd, *id);
        } else {
            routeDeleteUpload(fd, *id);
        }
        return true;
    }
    if (m == "PUT") {
        if (const auto id = match(req.path, "^/api/upload/([a-f0-9]+)/meta$")) {
            uploadMeta(fd, *id, req.body, peerIP);
            return true;
        }
        const auto chunk = match2(req.path, "^/api/upload/([a-f0-9]+)/(\\d+)$");
        if (!chunk) return false;
        uploadChunk(fd, chunk->first, chunkIndex(chunk->second), req.body, peerIP);
        return true;
    }
    if (m == "POST") {
        const auto id = match(req.path, "^/api/upload/([a-f0-9]+)/finish$");
        if (!id) return false;
        uploadFinish(fd, *id, peerIP);
        return true;
    }
    return false;
}

// The NAS file API: answered in and out of team mode.
bool HTTPServer::routeStorage(int fd, const HTTPReq& req) {
    StorageHooks& hooks = storage();
    const std::string& m = req.method;
    const std::string& path = req.path;
    if (m == "GET" && path == "/api/fs") {
        hooks.fsList(*this, fd, req);
        return true;
    }
    if (m == "POST" && path == "/api/fs/mkdir") {
        hooks.fsMkdir(*this, fd, req);
        return true;
    }
    if (m == "POST" && path == "/api/fs/rename") {
        hooks.fsRename(*this, fd, req);
        return true;
    }
    if (m == "POST" && path == "/api/fs/delete") {
        hooks.fsDelete(*this, fd, req);
        return true;
    }
    if (m == "GET" && path == "/api/trash") {
        hooks.trashList(*this, fd);
        return true;
    }
    if (m == "POST" && path == "/api/trash/restore") {
        hooks.trashRestore(*this, fd, req);
        return true;
    }
    if (m == "POST" && path == "/api/trash/delete") {
        hooks.trashDelete(*this, fd, req);
        return true;
    }
    if (m == "POST" && path == "/api/trash/empty") {
        hooks.trashEmpty(*this, fd);
        return true;
    }
    return false;
}

}  // namespace corvane
