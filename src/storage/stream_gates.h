#pragma once
// The checks a streamed request makes itself, since it is handed over before the
// server's gates: the device PIN and the cross-origin token, as those gates apply them.

#include <string>

#include "engine/server/http_request.h"

namespace corvane {

class HTTPServer;
struct Connection;

// No PIN is set, or the query "pin" or the header "x-pin" carries it.
bool pinGiven(const HTTPServer& server, const HTTPReq& req);

// No "origin" header, an origin naming the request's own host and port, or the token.
bool originAllowed(const HTTPServer& server, const HTTPReq& req);

// A JSON refusal before or while the body is read, the unread body then drained, so
// that the client gets the reply rather than a reset from the body it is still sending.
void refuseStreamed(Connection& c, int status, const std::string& error);

}  // namespace corvane
