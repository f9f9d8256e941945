// The route table and the dispatch every request that passed the gates gets.
//
// Dispatch order, stage by stage, after the gates (the last of them the team-mode gate:
// a row marked team-gated answers 404 with a hint while "nasExt" is off, checked on the
// facts of the first row whose path matches; access_gates.cpp):
//   1. dav: the WebDAV share on "/dav" and below;
//   2. team: the team page and the team, account, mail and team-file routes;
//   3. teamReserved: the team paths no extension took, still gated, ending in 404;
//   4. peer: the device's own routes (peer_routes.cpp);
//   5. nas: the NAS file API, answered in and out of team mode;
//   6. fallback: 404 {"error":"not found"} for every other request.

#include "engine/server/route_table.h"

#include <algorithm>

#include "engine/server/http_response.h"
#include "engine/server/http_server.h"

namespace corvane {

namespace {

bool allOf(std::string_view piece, bool (*keep)(char)) {
    return !piece.empty() && std::all_of(piece.begin(), piece.end(), keep);
}

bool isLowerHex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

void notFound(Connection& c) { sendJSON(c.fd, 404, errorJSON("not found")); }

// A row that answers 404 and carries the facts of a family of paths.
Route notFoundRow(PathTest path, RouteFacts facts = {}) { return Route{{}, std::move(path), notFound, facts}; }

// Paths that only exist in team mode, kept gated (and 404) when no extension serves them.
void addTeamReservedRows(RouteTable& table) {
    const RouteFacts page{.teamGated = true, .pinExempt = true, .originFree = true};
    const RouteFacts openAPI{.teamGated = true, .pinExempt = true};
    const RouteFacts guardedAPI{.teamGated = true};
    const RouteStage stage = RouteStage::teamReserved;
    for (const char* path : {"/", "/web", "/login", "/team"}) table.add(stage, notFoundRow(PathTest::exact(path), page));
    for (const char* path : {"/api/team", "/api/team/logo", "/api/team/set"}) {
        table.add(stage, notFoundRow(PathTest::exact(path), openAPI));
    }
    table.add(stage, notFoundRow(PathTest::prefix("/api/team"), guardedAPI));
    for (const char* prefix : {"/api/auth/", "/api/tf/", "/api/mail"}) {
        table.add(stage, notFoundRow(PathTest::prefix(prefix), openAPI));
    }
    // The share checks Basic credentials against the PIN itself and answers OPTIONS
    // itself; other origins stay shut out. "/davx" only shares the team-mode gate.
    const RouteFacts share{.teamGated = true, .pinExempt = true, .ownPreflight = true};
    table.add(stage, notFoundRow(PathTest::exact("/dav"), share));
    table.add(stage, notFoundRow(PathTest::prefix("/dav/"), share));
    table.add(stage, notFoundRow(PathTest::prefix("/dav"), RouteFacts{.teamGated = true, .originFree = true}));
}

// The last rows: the origin gate guards "/api/" and "/d/" even where no route answers.
void addFallbackRows(RouteTable& table) {
    table.add(RouteStage::fallback, notFoundRow(PathTest::prefix("/api/")));
    table.add(RouteStage::fallback, notFoundRow(PathTest::prefix("/d/")));
    table.add(RouteStage::fallback, notFoundRow(PathTest::any(), RouteFacts{.originFree = true}));
}

}  // namespace

void refuseTeamMode(int fd) {
    sendJSON(fd, 404, nlohmann::json{
                          {"error", "拓展功能未开启"},
                          {"hint", "本机没有开启「中央存储 / NAS」拓展，请在Corvane的 设置 → 拓展功能 里开启。"},
                      });
}

PathTest PathTest::exact(std::string path) {
    PathTest t;
    t.kind_ = Kind::exact;
    t.text_ = std::move(path);
    return t;
}

PathTest PathTest::prefix(std::string prefix) {
    PathTest t;
    t.kind_ = Kind::prefix;
    t.text_ = std::move(prefix);
    return t;
}

PathTest PathTest::pattern(std::string_view pattern) {
    PathTest t;
    t.kind_ = Kind::pattern;
    size_t start = 0;
    while (true) {
        const size_t slash = pattern.find('/', start);
        const std::string_view piece = pattern.substr(start, slash == std::string_view::npos ? slash : slash - start);
        if (piece == "{hex}") {
            t.pieces_.push_back({Piece::hex, ""});
        } else if (piece == "{digits}") {
            t.pieces_.push_back({Piece::digits, ""});
        } else {
            t.pieces_.push_back({Piece::literal, std::string(piece)});
        }
        if (slash == std::string_view::npos) break;
        start = slash + 1;
    }
    return t;
}

PathTest PathTest::any() { return PathTest{}; }

bool PathTest::matches(std::string_view path, std::vector<std::string>* captures) const {
    switch (kind_) {
    case Kind::exact:
        return path == text_;
    case Kind::prefix:
        if (!path.starts_with(text_)) return false;
        if (captures) captures->emplace_back(path.substr(text_.size()));
        return true;
    case Kind::pattern:
        return matchesPattern(path, captures);
    case Kind::any:
        return true;
    }
    return false;
}

bool PathTest::matchesPattern(std::string_view path, std::vector<std::string>* captures) const {
    std::vector<std::string> found;
    size_t start = 0;
    for (size_t k = 0; k < pieces_.size(); ++k) {
        const size_t slash = path.find('/', start);
        const bool last = k + 1 == pieces_.size();
        // The last piece runs to the end of the path; any other ends at a slash.
        if (last != (slash == std::string_view::npos)) return false;
        const std::string_view piece = path.substr(start, last ? std::string_view::npos : slash - start);
        const PatternPiece& want = pieces_[k];
        switch (want.kind) {
        case Piece::literal:
            if (piece != want.text) return false;
            break;
        case Piece::hex:
            if (!allOf(piece, isLowerHex)) return false;
            found.emplace_back(piece);
            break;
        case Piece::digits:
            if (!allOf(piece, isDigit)) return false;
            found.emplace_back(piece);
            break;
        }
        start = slash + 1;
    }
    if (captures) *captures = std::move(found);
    return true;
}

bool Route::takesMethod(std::string_view method) const {
    if (methods.empty()) return true;
    return std::find(methods.begin(), methods.end(), method) != methods.end();
}

RouteTable RouteTable::withEngineRoutes() {
    RouteTable table;
    addTeamReservedRows(table);
    addPeerRoutes(table);
    addFallbackRows(table);
    return table;
}

void RouteTable::add(RouteStage stage, Route route) {
    const auto after = std::upper_bound(rows_.begin(), rows_.end(), stage,
                                        [](RouteStage s, const Row& row) { return s < row.stage; });
    rows_.insert(after, Row{stage, std::move(route)});
}

RouteTable::Match RouteTable::find(std::string_view method, std::string_view path) const {
    Match match;
    for (const Row& row : rows_) {
        if (!row.route.takesMethod(method)) continue;
        std::vector<std::string> captures;
        if (!row.route.path.matches(path, &captures)) continue;
        match.route = &row.route;
        match.captures = std::move(captures);
        return match;
    }
    return match;
}

const RouteFacts& RouteTable::factsFor(std::string_view path) const {
    static const RouteFacts none;
    for (const Row& row : rows_) {
        if (row.route.path.matches(path, nullptr)) return row.route.facts;
    }
    return none;
}

std::function<void()> HTTPServer::route(int fd, const HTTPReq& req, const std::string& peerIP,
                                        RouteTable::Match& match) {
    Connection c{*this, fd, peerIP, req, std::move(match.captures), {}, 0};
    if (match.route) {
        match.route->handler(c);
    } else {
        notFound(c);
    }
    return std::move(c.afterReply);
}

}  // namespace corvane
