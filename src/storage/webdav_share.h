#pragma once
// What the share's methods have in common: Basic credentials against the device PIN,
// the location a request path names, and the plain-text replies.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "engine/server/http_response.h"
#include "engine/server/route_table.h"

namespace corvane {

// A plain-text reply (no Content-Type); head only for HEAD. A streamed request whose
// body is still unread is drained before its connection closes.
void davReply(Connection& c, int status, std::string_view text, const HeaderList& extra = {});

// While a PIN is set: Basic credentials whose password is the PIN. False after the 401.
bool davCredentialsOK(Connection& c);

// The entry a share request names.
struct DavTarget {
    std::string rel;    // as sent after "/dav/", used in texts and hrefs
    std::string clean;  // "." and ".." resolved, empty pieces dropped; "" for the root
    std::filesystem::path location;
};
// The request's target, or none after the refusal: 403 "forbidden" above the root,
// 404 "not found" for the private team folders and links that lead out.
std::optional<DavTarget> davTarget(Connection& c);

// The streamed PUT (webdav_put.cpp).
void davPut(Connection& c);

}  // namespace corvane
