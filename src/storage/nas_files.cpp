// The NAS file API: GET /api/fs lists a folder of the receive folder, POST
// /api/fs/mkdir creates one, POST /api/fs/rename renames an entry within its folder.

#include <cerrno>
#include <sys/stat.h>

#include "base/client_paths.h"
#include "base/file_names.h"
#include "engine/server/http_response.h"
#include "engine/server/http_server.h"
#include "storage/nas_paths.h"
#include "storage/route_families.h"

namespace fs = std::filesystem;

namespace corvane {

namespace {

void badPath(int fd) { sendJSON(fd, 400, errorJSON("bad path")); }

void fsList(Connection& c) {
    const fs::path root = c.server.root();
    const std::string wanted = c.req.param("path");
    const auto folder = fsTarget(root, wanted);
    if (!folder) {
        badPath(c.fd);
        return;
    }
    nlohmann::json dirs = nlohmann::json::array();
    nlohmann::json files = nlohmann::json::array();
    const bool atRoot = *folder == root;
    for (const std::string& name : sortedEntryNames(*folder)) {
        if (name[0] == '.' || (atRoot && isPrivateArea(name))) continue;
        const fs::path entry = *folder / name;
        struct stat own {};
        if (::lstat(entry.c_str(), &own) != 0 || leadsOutside(root, entry, own)) continue;
        struct stat followed {};
        if (::stat(entry.c_str(), &followed) == 0 && S_ISDIR(followed.st_mode)) {
            dirs.push_back(name);
        } else {
            files.push_back({{"n", name}, {"s", int64_t(own.st_size)}, {"t", mtimeMillis(own)}});
        }
    }
    const std::string shown = wanted.empty() ? "" : sanitize(wanted).value_or("");
    sendJSON(c.fd, 200, {{"path", shown}, {"dirs", dirs}, {"files", files}});
}

void fsMkdir(Connection& c) {
    const fs::path root = c.server.root();
    const auto rel = bodyPath(c.req, root);
    if (!rel) {
        badPath(c.fd);
        return;
    }
    if (::mkdir((root / *rel).c_str(), 0755) != 0) {
        sendJSON(c.fd, 500, errorJSON("已存在或创建失败"));
        return;
    }
    c.server.emit(ServerEvent::log("新建文件夹：" + *rel));
    sendJSON(c.fd, 200, {{"ok", true}});
}

void fsRename(Connection& c) {
    const auto body = jsonObjectBody(c.req);
    const auto fromText = body ? stringMember(*body, "from") : std::nullopt;
    const auto toText = body ? stringMember(*body, "to") : std::nullopt;
    const auto from = fromText ? sanitize(*fromText) : std::nullopt;
    const auto to = toText ? sanitize(*toText) : std::nullopt;
    if (!from || !to) {
        badPath(c.fd);
        return;
    }
    const std::string folder = parentOf(*from);
    if (folder != parentOf(*to) || lastComponent(*to).empty()) {
        sendJSON(c.fd, 400, errorJSON("只能同目录重命名"));
        return;
    }
    const fs::path root = c.server.root();
    if (!fsTarget(root, *from) || !fsTarget(root, *to)) {
        badPath(c.fd);
        return;
    }
    const fs::path parent = folder.empty() ? root : root / folder;
    const std::string chosen = uniqueName(parent, lastComponent(*to));
    if (!renameNoReplace(root / *from, parent / chosen)) {
        sendJSON(c.fd, 500, errorJSON("重命名失败"));
        return;
    }
    const std::string moved = folder.empty() ? chosen : folder + "/" + chosen;
    c.server.emit(ServerEvent::log("重命名：" + *from + " → " + moved));
    sendJSON(c.fd, 200, {{"ok", true}});
}

}  // namespace

void addNasFileRoutes(RouteTable& table) {
    table.add(RouteStage::nas, Route{{"GET"}, PathTest::exact("/api/fs"), fsList, {}});
    table.add(RouteStage::nas, Route{{"POST"}, PathTest::exact("/api/fs/mkdir"), fsMkdir, {}});
    table.add(RouteStage::nas, Route{{"POST"}, PathTest::exact("/api/fs/rename"), fsRename, {}});
}

}  // namespace corvane
