#include "engine/http_response.h"
#include "engine/http_server.h"

namespace corvane {

void HTTPServer::route(int fd, const HTTPReq& req, const std::string& peerIP) {
    sendJSON(fd, 404, errorJSON("not found"));
}

}  // namespace corvane
