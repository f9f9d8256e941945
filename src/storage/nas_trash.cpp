// The NAS recycle bin: POST /api/fs/delete moves an entry into ".trash" under a name
// that records when and where from; GET /api/trash lists the bin, and POST
// /api/trash/restore, /delete and /empty bring entries back or remove them for good.

#include <sys/stat.h>

#include "base/client_paths.h"
#include "base/file_names.h"
#include "engine/server/http_response.h"
#include "engine/server/http_server.h"
#include "engine/server/storage_gate.h"
#include "storage/nas_paths.h"
#include "storage/route_families.h"
#include "storage/trash_names.h"

namespace fs = std::filesystem;

namespace corvane {

namespace {

fs::path binOf(const fs::path& root) { return root / ".trash"; }

void sendOK(int fd) { sendJSON(fd, 200, {{"ok", true}}); }

// The bin entry a client names in {"name": ...}, or none (400 "bad name" sent).
std::optional<std::string> namedEntry(Connection& c) {
    const auto body = jsonObjectBody(c.req);
    auto name = body ? stringMember(*body, "name") : std::nullopt;
    if (!name || !trashEntryAccepted(*name)) {
        sendJSON(c.fd, 400, errorJSON("bad name"));
        return std::nullopt;
    }
    return name;
}

void fsDelete(Connection& c) {
    const fs::path root = c.server.root();
    const auto rel = bodyPath(c.req, root);
    if (!rel) {
        sendJSON(c.fd, 400, errorJSON("bad path"));
        return;
    }
    std::error_code ec;
    fs::create_directories(binOf(root), ec);
    const std::string name = trashNameFor(*rel, timestampString);
    if (!renameNoReplace(root / *rel, binOf(root) / name)) {
        sendJSON(c.fd, 500, errorJSON("移入回收站失败"));
        return;
    }
    c.server.emit(ServerEvent::log("移入回收站：" + *rel));
    sendOK(c.fd);
}

void trashList(Connection& c) {
    const fs::path bin = binOf(c.server.root());
    nlohmann::json items = nlohmann::json::array();
    for (const std::string& name : sortedEntryNames(bin)) {
        if (name[0] == '.') continue;
        struct stat own {};
        if (::lstat((bin / name).c_str(), &own) != 0) continue;
        items.push_back({{"n", name}, {"orig", sourcePathOf(name)}, {"s", int64_t(own.st_size)}, {"t", mtimeMillis(own)}});
    }
    sendJSON(c.fd, 200, {{"items", items}});
}

// Where a bin entry goes back to: its former path cleaned, or else its last component
// at the top; none when that leaves the root or names a private folder.
std::optional<std::string> restoreTarget(const fs::path& root, const std::string& source) {
    const std::string rel = sanitize(source).value_or(lastComponent(source));
    const fs::path base = root.lexically_normal();
    const fs::path target = (base / rel).lexically_normal();
    const std::string normal = target.lexically_relative(base).string();
    // The entry is renamed to a free name, so only the folder it lands in may not lead out.
    if (!liesInside(base, target) || isPrivateArea(normal) || !realPathInside(root, target.parent_path())) {
        return std::nullopt;
    }
    return normal;
}

void trashRestore(Connection& c) {
    const auto name = namedEntry(c);
    if (!name) return;
    const fs::path root = c.server.root();
    const auto rel = restoreTarget(root, sourcePathOf(*name));
    if (!rel) {
        sendJSON(c.fd, 400, errorJSON("bad path"));
        return;
    }
    const fs::path parent = (root / *rel).parent_path();
    std::error_code ec;
    fs::create_directories(parent, ec);
    const std::string chosen = uniqueName(parent, lastComponent(*rel));
    if (!realPathInside(root, parent) || !renameNoReplace(binOf(root) / *name, parent / chosen)) {
        sendJSON(c.fd, 500, errorJSON("还原失败"));
        return;
    }
    c.server.emit(ServerEvent::log("从回收站还原：" + *rel));
    sendOK(c.fd);
}

void trashDelete(Connection& c) {
    const auto name = namedEntry(c);
    if (!name) return;
    std::error_code ec;
    fs::remove_all(binOf(c.server.root()) / *name, ec);  // gone already is fine
    sendOK(c.fd);
}

void trashEmpty(Connection& c) {
    const fs::path bin = binOf(c.server.root());
    std::vector<fs::path> entries;
    std::error_code ec;
    for (fs::directory_iterator it(bin, ec), end; !ec && it != end; it.increment(ec)) entries.push_back(it->path());
    for (const fs::path& entry : entries) fs::remove_all(entry, ec);  // each failure is passed over
    c.server.emit(ServerEvent::log("已清空回收站"));
    sendOK(c.fd);
}

}  // namespace

void addNasTrashRoutes(RouteTable& table) {
    const RouteStage nas = RouteStage::nas;
    table.add(nas, Route{{"POST"}, PathTest::exact("/api/fs/delete"), onStorage(fsDelete), {}});
    table.add(nas, Route{{"GET"}, PathTest::exact("/api/trash"), onStorage(trashList), {}});
    table.add(nas, Route{{"POST"}, PathTest::exact("/api/trash/restore"), onStorage(trashRestore), {}});
    table.add(nas, Route{{"POST"}, PathTest::exact("/api/trash/delete"), onStorage(trashDelete), {}});
    table.add(nas, Route{{"POST"}, PathTest::exact("/api/trash/empty"), onStorage(trashEmpty), {}});
}

}  // namespace corvane
