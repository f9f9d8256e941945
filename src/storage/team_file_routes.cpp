// The team-file routes (list, folders, delete, rename, download), tried in this order
// after the router confirmed a member and prepared the team folders. The streamed
// upload is a row of its own (team_upload.cpp), handed over before its body is read.

#include <cerrno>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include "base/client_paths.h"
#include "base/file_names.h"
#include "base/unique_fd.h"
#include "engine/receiving/file_download.h"
#include "engine/server/handler_utils.h"
#include "engine/server/http_response.h"
#include "engine/server/http_server.h"
#include "storage/nas_paths.h"
#include "storage/team_router.h"
#include "storage/team_spaces.h"

namespace fs = std::filesystem;

namespace corvane {

namespace {

// The scope, path and a third key of a POST body; a body that is not an object and a
// value that is not a string read as the empty string.
struct BodyKeys {
    std::string scope, path, extra;
};

BodyKeys bodyKeys(const HTTPReq& req, const char* extraKey) {
    const nlohmann::json body = TeamRouter::bodyObject(req);
    const auto text = [&](const char* key) { return stringMember(body, key).value_or(""); };
    return BodyKeys{text("scope"), text("path"), extraKey ? text(extraKey) : ""};
}

void refuse(const Connection& c, int status, const char* text) { TeamRouter::reply(c, status, errorJSON(text)); }

void tfList(Connection& c, const TeamUser& me) {
    const fs::path root = c.server.root();
    const auto [scope, path] = spaceQuery(c.req);
    const auto place = resolveSpacePath(root, scope, me.id, path);
    if (!place) return refuse(c, 400, "路径不正确");
    nlohmann::json dirs = nlohmann::json::array();
    nlohmann::json files = nlohmann::json::array();
    for (const std::string& name : sortedEntryNames(place->target)) {
        if (name[0] == '.') continue;
        const fs::path entry = place->target / name;
        struct stat own {};
        struct stat followed {};
        if (::lstat(entry.c_str(), &own) != 0 || leadsOutside(root, entry, own)) continue;
        if (::stat(entry.c_str(), &followed) != 0) continue;  // a dangling link
        if (S_ISDIR(followed.st_mode)) {
            if (name != "_team") dirs.push_back(name);
        } else {
            files.push_back({{"n", name}, {"s", int64_t(followed.st_size)}, {"t", mtimeMillis(followed)}});
        }
    }
    TeamRouter::reply(c, 200, {{"ok", true}, {"scope", scope}, {"path", path}, {"dirs", dirs}, {"files", files}});
}

void tfMkdir(Connection& c, const TeamUser& me) {
    const fs::path root = c.server.root();
    const BodyKeys keys = bodyKeys(c.req, "name");
    const auto place = resolveSpacePath(root, keys.scope, me.id, keys.path);
    const auto name = sanitize(keys.extra);
    if (!place || !name) return refuse(c, 400, "名称不合法");
    const fs::path folder = place->target / *name;
    if (!realPathBelow(root, folder)) return refuse(c, 400, "名称不合法");
    // A member's own space appears with the first folder made in it (that folder only).
    if (keys.scope == "me") ::mkdir(place->space.c_str(), 0755);
    if (::mkdir(folder.c_str(), 0755) != 0) return refuse(c, 400, "创建失败，可能已存在同名文件夹");
    TeamRouter::reply(c, 200, {{"ok", true}, {"name", *name}});
}

void tfDelete(Connection& c, const TeamUser& me) {
    const BodyKeys keys = bodyKeys(c.req, nullptr);
    const auto place = resolveSpacePath(c.server.root(), keys.scope, me.id, keys.path);
    if (!place || place->isSpaceRoot()) return refuse(c, 400, "路径不正确");
    // remove_all removes a link itself and never what it leads to.
    std::error_code ec;
    const bool present = fs::exists(fs::symlink_status(place->target, ec));
    if (!present || fs::remove_all(place->target, ec) == 0 || ec) return refuse(c, 404, "文件不存在或已被删除");
    c.server.emit(ServerEvent::log(me.name + " 删除 " + keys.path));
    TeamRouter::reply(c, 200, {{"ok", true}});
}

void tfRename(Connection& c, const TeamUser& me) {
    const fs::path root = c.server.root();
    const BodyKeys keys = bodyKeys(c.req, "to");
    const auto place = resolveSpacePath(root, keys.scope, me.id, keys.path);
    const auto to = sanitize(keys.extra);
    if (!place || place->isSpaceRoot() || !to) return refuse(c, 400, "名称不合法");
    const fs::path destination = place->target.parent_path() / *to;
    if (!realPathBelow(root, destination)) return refuse(c, 400, "名称不合法");
    if (!renameNoReplace(place->target, destination)) return refuse(c, 400, "重命名失败");
    TeamRouter::reply(c, 200, {{"ok", true}});
}

// ---- Download ----

std::string downloadHead(int status, const std::string& fileName, bool inlineView, const std::string& contentRange,
                         int64_t length) {
    std::string text = "HTTP/1.1 " + std::to_string(status) + " " + statusText(status) + "\r\n";
    text += "Content-Type: " + tfMime(fileName) + "\r\n";
    text += "Accept-Ranges: bytes\r\n";
    text += "Cache-Control: private, max-age=0\r\n";
    text += "Content-Disposition: " + contentDisposition(fileName, inlineView) + "\r\n";
    if (!contentRange.empty()) text += "Content-Range: " + contentRange + "\r\n";
    text += "Content-Length: " + std::to_string(length) + "\r\n";
    // An uploaded page or SVG opened inline must not run script with a member's cookie.
    text += "Content-Security-Policy: sandbox\r\n";
    text += "X-Content-Type-Options: nosniff\r\n";
    text += "Connection: keep-alive\r\n\r\n";
    return text;
}

void tfDownload(Connection& c, const TeamUser& me) {
    const SpaceQuery query = spaceQuery(c.req);
    const auto place = resolveSpacePath(c.server.root(), query.scope, me.id, query.path);
    if (!place) return refuse(c, 400, "路径不正确");
    // The last piece is never followed: a link is not a regular file here.
    UniqueFd file(::open(place->target.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    struct stat st {};
    if (!file || ::fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode)) return refuse(c, 404, "文件不存在");
    const int64_t size = int64_t(st.st_size);

    int status = 200;
    int64_t start = 0;
    int64_t length = size;
    std::string contentRange;
    const std::string range = c.req.header("range");
    const auto wanted = range.empty() ? std::nullopt : parseRange(range, size);
    if (!range.empty() && !wanted && size > 0) {
        respond(c.fd, 416, {{"Content-Range", "bytes */" + std::to_string(size)}}, "", c.req.method == "HEAD");
        return;
    }
    if (wanted) {
        status = 206;
        start = wanted->first;
        length = std::max<int64_t>(0, wanted->second - wanted->first + 1);
        contentRange = "bytes " + std::to_string(wanted->first) + "-" + std::to_string(wanted->second) + "/" +
                       std::to_string(size);
    }
    const std::string name = place->target.filename().string();
    bool whole = writeAll(c.fd, downloadHead(status, name, c.req.param("inline") == "1", contentRange, length));
    if (whole && c.req.method != "HEAD" && length > 0) whole = sendFileRange(c.fd, file.get(), start, length);
    // A body cut short ends the connection, or the client would take the next reply for its rest.
    if (!whole) ::shutdown(c.fd, SHUT_RDWR);
}

}  // namespace

std::vector<TeamFileRoute> teamFileRoutes(const StorageContext& context) {
    (void)context;
    return {
        {{"GET", "HEAD"}, "/api/tf/list", tfList},
        {{"POST"}, "/api/tf/mkdir", tfMkdir},
        {{"POST"}, "/api/tf/del", tfDelete},
        {{"POST"}, "/api/tf/mv", tfRename},
        {{"GET", "HEAD"}, "/api/tf/d", tfDownload},
    };
}

}  // namespace corvane
