// The WebDAV class 1 share of the receive folder on "/dav" (team mode only): OPTIONS,
// PROPFIND, GET, HEAD, MKCOL and DELETE here, the streamed PUT in webdav_put.cpp.

#include "storage/webdav_share.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

#include "base/client_paths.h"
#include "base/json_fields.h"
#include "base/secure_compare.h"
#include "base/text_util.h"
#include "base/unicode_text.h"
#include "engine/server/http_server.h"
#include "engine/server/storage_gate.h"
#include "storage/nas_paths.h"
#include "storage/route_families.h"
#include "storage/team_crypto.h"
#include "storage/webdav_xml.h"

namespace fs = std::filesystem;

namespace corvane {

namespace {

bool headOnly(const Connection& c) { return c.req.method == "HEAD"; }

std::string trimmedBlanks(std::string_view text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) return "";
    return std::string(text.substr(first, text.find_last_not_of(" \t") - first + 1));
}

// The password of a Basic Authorization header, or none when malformed.
std::optional<std::string> basicPassword(const std::string& header) {
    if (!lowerASCII(header).starts_with("basic ")) return std::nullopt;
    const auto decoded = base64Decode(trimmedBlanks(std::string_view(header).substr(6)));
    if (!decoded || !isValidUTF8(*decoded)) return std::nullopt;
    const size_t colon = decoded->find(':');
    if (colon == std::string::npos) return std::nullopt;
    return decoded->substr(colon + 1);
}

DavEntry listedEntry(std::string href, const struct stat& own, bool folder) {
    return DavEntry{std::move(href), folder, folder ? 0 : int64_t(own.st_size), own.st_mtim.tv_sec};
}

// Appends the folder's children in code-point order of their names: no private team
// folders at the top, no links that lead out of the receive folder. The folder is read
// once and each child looked at relative to it, so no path is resolved again per child.
void appendChildren(std::vector<DavEntry>& entries, const fs::path& root, const DavTarget& target) {
    const std::string folderHref = davHref(target.rel, true);
    const std::vector<VisibleEntry> visible = visibleEntries(root, target.location, target.clean.empty());
    std::vector<std::string_view> names;
    names.reserve(visible.size());
    for (const VisibleEntry& entry : visible) names.push_back(entry.name);
    entries.reserve(entries.size() + visible.size());
    for (const size_t k : codePointOrder(names)) {
        const VisibleEntry& entry = visible[k];
        entries.push_back(listedEntry(davChildHref(folderHref, entry.name, entry.folder), entry.own, entry.folder));
    }
}

// PROPFIND, and GET or HEAD on a folder. The folder test follows links, size and date do not.
void davPropFind(Connection& c, const DavTarget& target) {
    struct stat own {};
    if (::lstat(target.location.c_str(), &own) != 0) {
        davReply(c, 404, "not found");
        return;
    }
    struct stat followed {};
    const bool folder = ::stat(target.location.c_str(), &followed) == 0 && S_ISDIR(followed.st_mode);
    std::vector<DavEntry> entries{listedEntry(davHref(target.rel, folder), own, folder)};
    const auto depthValue = parseIntText(c.req.header("depth"));
    const bool children = !(depthValue && *depthValue <= 0);
    if (folder && children) appendChildren(entries, c.server.root(), target);
    respond(c.fd, 207, {{"Content-Type", "application/xml; charset=utf-8"}}, multistatusDocument(entries),
            headOnly(c));
}

void davGet(Connection& c, const DavTarget& target) {
    struct stat st {};
    if (::lstat(target.location.c_str(), &st) != 0) {
        davReply(c, 404, "not found");
        return;
    }
    struct stat followed {};
    if (::stat(target.location.c_str(), &followed) == 0 && S_ISDIR(followed.st_mode)) {
        davPropFind(c, target);
        return;
    }
    c.server.download(c.fd, "/" + target.clean, c.req);
}

void davMkcol(Connection& c, const DavTarget& target) {
    // A body would ask for something this share does not do (RFC 4918, 9.3.1).
    if (!c.req.body.empty()) {
        davReply(c, 415, "unsupported media type");
        return;
    }
    struct stat st {};
    if (::lstat(target.location.c_str(), &st) == 0) {
        davReply(c, 405, "collection already exists");
        return;
    }
    if (::mkdir(target.location.c_str(), 0755) != 0) {
        davReply(c, 500, std::strerror(errno));
        return;
    }
    davReply(c, 201, "");
}

void davDelete(Connection& c, const DavTarget& target) {
    if (target.clean.empty()) {
        davReply(c, 403, "forbidden");  // never the receive folder itself
        return;
    }
    struct stat st {};
    std::error_code ec;
    if (::lstat(target.location.c_str(), &st) != 0 || fs::remove_all(target.location, ec) == 0 || ec) {
        davReply(c, 404, "not found");
        return;
    }
    c.server.emit(ServerEvent::log("WebDAV 删除：" + target.rel));
    davReply(c, 204, "");
}

void davRoute(Connection& c) {
    if (!davCredentialsOK(c)) return;
    const auto target = davTarget(c);
    if (!target) return;
    const std::string& method = c.req.method;
    if (method == "OPTIONS") {
        davReply(c, 204, "",
                 {{"Allow", "OPTIONS, GET, HEAD, PUT, PROPFIND, MKCOL, DELETE"}, {"DAV", "1"}, {"MS-Author-Via", "DAV"}});
    } else if (method == "PROPFIND") {
        davPropFind(c, *target);
    } else if (method == "GET" || method == "HEAD") {
        davGet(c, *target);
    } else if (method == "MKCOL") {
        davMkcol(c, *target);
    } else if (method == "DELETE") {
        davDelete(c, *target);
    } else {
        davReply(c, 501, "not implemented");
    }
}

}  // namespace

void davReply(Connection& c, int status, std::string_view text, const HeaderList& extra) {
    respond(c.fd, status, extra, text, headOnly(c));
    if (c.contentLength > 0) drainBeforeClose(c.fd);
}

bool davCredentialsOK(Connection& c) {
    const std::string devicePin = c.server.pin();
    if (devicePin.empty()) return true;
    const auto password = basicPassword(c.req.header("authorization"));
    if (password && constantTimeEqual(*password, devicePin)) return true;
    davReply(c, 401, "需要访问口令", {{"WWW-Authenticate", "Basic realm=\"corvane-nas\", charset=\"UTF-8\""}});
    return false;
}

std::optional<DavTarget> davTarget(Connection& c) {
    const DavPath path = resolveDavPath(c.req.path);
    if (path.escapes) {
        davReply(c, 403, "forbidden");
        return std::nullopt;
    }
    const fs::path root = c.server.root();
    const fs::path location = path.clean.empty() ? root : root / path.clean;
    const bool hidden = isPrivateArea(path.clean) || path.clean.find('\0') != std::string::npos;
    const bool leadsOut = !path.clean.empty() && !realPathBelow(root, location);
    if (hidden || leadsOut) {
        davReply(c, 404, "not found");
        return std::nullopt;
    }
    return DavTarget{path.rel, path.clean, location};
}

void addWebDAVRoutes(RouteTable& table) {
    // The share checks Basic credentials against the PIN and answers OPTIONS itself.
    const RouteFacts share{.teamGated = true, .pinExempt = true, .ownPreflight = true};
    RouteFacts streamedPut = share;
    streamedPut.streamed = true;
    for (PathTest path : {PathTest::exact("/dav"), PathTest::prefix("/dav/")}) {
        table.add(RouteStage::dav, Route{{"PUT"}, path, davPut, streamedPut});
    }
    for (PathTest path : {PathTest::exact("/dav"), PathTest::prefix("/dav/")}) {
        table.add(RouteStage::dav, Route{{}, path, onStorage(davRoute, FaultReply::dav), share});
    }
}

}  // namespace corvane
