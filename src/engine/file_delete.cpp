// DELETE /api/file?p=<path>: removes a file or folder of the receive folder.

#include "base/client_paths.h"
#include "engine/http_response.h"
#include "engine/http_server.h"

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
    std::error_code ec;
    fs::remove_all(receiveFolder / *rel, ec);  // a missing target is no error
    emit(ServerEvent::log("删除：" + *rel));
    sendJSON(fd, 200, {{"ok", true}});
}

}  // namespace corvane
