// DELETE /api/file?p=<path>: removes a file or folder of the receive folder.

#include "base/client_paths.h"
#include "engine/server/http_response.h"
#include "engine/server/http_server.h"

namespace fs = std::filesystem;

namespace corvane {

void HTTPServer::routeDeleteFile(Connection& c) {
    const int fd = c.fd;
    const HTTPReq& req = c.req;
    const auto rel = sanitize(req.param("p"));
    const fs::path receiveFolder = root();
    if (!rel || isPrivateArea(*rel) || !liesInside(receiveFolder, receiveFolder / *rel)) {
        sendJSON(fd, 400, errorJSON("bad path"));
        return;
    }
    // Reached without following links: a link inside the folder is removed itself, and
    // nothing is removed through one.
    const auto [folderPart, name] = splitLast(*rel);
    const UniqueFd folder = openFolderBeneath(receiveFolder, folderPart, false);
    std::error_code ec;
    if (folder) {
        fs::remove_all(pathOf(folder) / name, ec);  // a missing target is no error
    } else if (fs::exists(receiveFolder / folderPart, ec) || fs::is_symlink(receiveFolder / folderPart, ec)) {
        sendJSON(fd, 400, errorJSON("bad path"));
        return;
    }
    emit(ServerEvent::log("删除：" + *rel));
    sendJSON(fd, 200, {{"ok", true}});
}

}  // namespace corvane
