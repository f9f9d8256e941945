#pragma once
// The one way every handler answers: status line, the caller's headers, a length,
// the fixed cross-origin block and the body.

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "engine/server/http_request.h"

namespace corvane {

using HeaderList = std::vector<std::pair<std::string, std::string>>;

// The standard reason phrase of a status ("Created" for 201, "Multi-Status" for 207).
std::string statusText(int status);

// The head that respond() writes (exposed for tests and for streamed replies).
std::string responseHead(int status, const HeaderList& extra, size_t bodyLength);

void respond(int fd, int status, const HeaderList& extra, std::string_view body, bool headOnly = false);

// Writes every byte (retrying EINTR); false when the peer went away.
bool writeAll(int fd, std::string_view bytes);

// "HTTP/1.1 100 Continue" when the request asked for it ("Expect: 100-continue"),
// written once its checks passed and before its body is read.
void continueIfExpected(int fd, const HTTPReq& req);

// After a reply that leaves a request body unread: stops writing, then reads and drops
// what the client still sends (at most 8 MiB, for at most 2 s), so that the client reads
// the reply rather than a reset. The connection is closed afterwards by its owner.
void drainBeforeClose(int fd);

// Non-finite numbers become 0; everything else is kept.
nlohmann::json jsonSafe(const nlohmann::json& value);

// Compact JSON with "/" escaped as "\/", or none when the value is not an
// object or array at the top, or cannot be serialised.
std::optional<std::string> encodeJSONBody(const nlohmann::json& value);

void sendJSON(int fd, int status, const nlohmann::json& value);
// A body already written as JSON text.
void sendJSONText(int fd, int status, std::string_view body);

// Writers for replies too large to build as a tree first; their bytes are those of
// encodeJSONBody. A string must be valid UTF-8: control characters become \b \f \n \r
// \t or \u00xx, and "/" becomes "\/". A non-finite number becomes 0.
void appendJSONString(std::string& out, std::string_view utf8);
void appendJSONNumber(std::string& out, double value);

// {"error": text}
inline nlohmann::json errorJSON(const std::string& text) { return nlohmann::json{{"error", text}}; }

}  // namespace corvane
