// The NAS file API: GET /api/fs lists a folder of the receive folder, POST
// /api/fs/mkdir creates one, POST /api/fs/rename renames an entry within its folder.

#include <cerrno>
#include <sys/stat.h>

#include "base/client_paths.h"
#include "base/file_names.h"
#include "base/unicode_text.h"
#include "engine/server/http_response.h"
#include "engine/server/http_server.h"
#include "engine/server/storage_gate.h"
#include "storage/nas_paths.h"
#include "storage/route_families.h"

namespace fs = std::filesystem;

namespace corvane {

namespace {

void badPath(int fd) { sendJSON(fd, 400, errorJSON("bad path")); }

// The folder's entries without dot-names, and their file manager's order: one collation
// key per name rather than one collation per compared pair.
struct Listing {
    std::vector<VisibleEntry> entries;
    std::vector<size_t> order;
};

Listing listedEntries(const fs::path& root, const fs::path& folder) {
    Listing listing{visibleEntries(root, folder, folder == root), {}};
    std::erase_if(listing.entries, [](const VisibleEntry& entry) { return entry.name[0] == '.'; });
    std::vector<std::string_view> names;
    names.reserve(listing.entries.size());
    for (const VisibleEntry& entry : listing.entries) names.push_back(entry.name);
    listing.order = localizedStandardOrder(names);
    return listing;
}

// {"dirs":[names],"files":[{"n","s","t"}...],"path"}, written directly: the same bytes as
// the reply built as a JSON tree, without building one for tens of thousands of entries.
std::string listingJSON(const std::string& shown, const Listing& listing) {
    std::string out;
    out.reserve(listing.entries.size() * 64 + shown.size() + 40);
    out += "{\"dirs\":[";
    bool first = true;
    for (const size_t k : listing.order) {
        const VisibleEntry& entry = listing.entries[k];
        if (!entry.folder) continue;
        out += first ? "" : ",";
        first = false;
        appendJSONString(out, entry.name);
    }
    out += "],\"files\":[";
    first = true;
    for (const size_t k : listing.order) {
        const VisibleEntry& entry = listing.entries[k];
        if (entry.folder) continue;
        out += first ? "{\"n\":" : ",{\"n\":";
        first = false;
        appendJSONString(out, entry.name);
        out += ",\"s\":";
        out += std::to_string(int64_t(entry.own.st_size));
        out += ",\"t\":";
        appendJSONNumber(out, mtimeMillis(entry.own));
        out += '}';
    }
    out += "],\"path\":";
    appendJSONString(out, shown);
    out += '}';
    return out;
}

void fsList(Connection& c) {
    const fs::path root = c.server.root();
    const std::string wanted = c.req.param("path");
    const auto folder = fsTarget(root, wanted);
    if (!folder) {
        badPath(c.fd);
        return;
    }
    const std::string shown = wanted.empty() ? "" : sanitize(wanted).value_or("");
    if (!isValidUTF8(shown)) {
        sendJSON(c.fd, 500, errorJSON("json encode failed"));  // what the tree writer answers for it
        return;
    }
    sendJSONText(c.fd, 200, listingJSON(shown, listedEntries(root, *folder)));
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
    table.add(RouteStage::nas, Route{{"GET"}, PathTest::exact("/api/fs"), onStorage(fsList), {}});
    table.add(RouteStage::nas, Route{{"POST"}, PathTest::exact("/api/fs/mkdir"), onStorage(fsMkdir), {}});
    table.add(RouteStage::nas, Route{{"POST"}, PathTest::exact("/api/fs/rename"), onStorage(fsRename), {}});
}

}  // namespace corvane
