#include "storage/stream_gates.h"

#include "base/secure_compare.h"
#include "engine/server/http_response.h"
#include "engine/server/http_server.h"

namespace corvane {

bool pinGiven(const HTTPServer& server, const HTTPReq& req) {
    const std::string devicePin = server.pin();
    if (devicePin.empty()) return true;
    const bool viaQuery = req.query.count("pin") && constantTimeEqual(req.param("pin"), devicePin);
    const bool viaHeader = req.headers.count("x-pin") && constantTimeEqual(req.header("x-pin"), devicePin);
    return viaQuery || viaHeader;
}

bool originAllowed(const HTTPServer& server, const HTTPReq& req) {
    const std::string origin = req.header("origin");
    return origin.empty() || HTTPServer::hostMatches(origin, req.header("host")) || server.tokenOK(req);
}

void refuseStreamed(Connection& c, int status, const std::string& error) {
    sendJSON(c.fd, status, errorJSON(error));
    if (c.contentLength > 0) drainBeforeClose(c.fd);
}

}  // namespace corvane
