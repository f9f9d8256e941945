#pragma once
// The checks a streamed request makes itself, since it is handed over before the
// server's gates: the device PIN and the cross-origin token, as those gates apply them.

#include "engine/http_request.h"

namespace corvane {

class HTTPServer;

// No PIN is set, or the query "pin" or the header "x-pin" carries it.
bool pinGiven(const HTTPServer& server, const HTTPReq& req);

// No "origin" header, an origin naming the request's own host and port, or the token.
bool originAllowed(const HTTPServer& server, const HTTPReq& req);

}  // namespace corvane
