#pragma once
// The server's routes as data: one row per route with its path test, methods,
// handler and the facts the gates and the connection reader act on. Rows are kept
// in dispatch order (stage by stage, in the order they were added), and a request
// is handled by the first row whose path and method match.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "base/body_pace.h"
#include "engine/server/http_request.h"

namespace corvane {

class HTTPServer;

// No body of 2^28 bytes or more is ever taken.
constexpr int64_t kLargestBody = (int64_t(1) << 28) - 1;
// What a row takes unless it says otherwise: JSON and XML requests of its handler.
constexpr int64_t kControlBody = (int64_t(1) << 20) - 1;

// One request in hand: what every handler writes its one reply to.
struct Connection {
    HTTPServer& server;
    int fd;
    const std::string& peerIP;
    const HTTPReq& req;
    // Pattern rows: the variable pieces in order; prefix rows: the path after the prefix.
    std::vector<std::string> captures;
    // Streamed rows only: the body bytes already read after the head, and the
    // announced length (the handler reads the rest from fd itself).
    std::string bodyStart;
    int64_t contentLength = 0;
    // Streamed rows only: set by a handler that read exactly contentLength bytes and
    // answered on a keep-alive request, so the connection reader goes on with the next one.
    bool handBack = false;
    // Streamed rows only: how slowly the body may arrive before it is cut.
    BodyPace pace = {};
    // Rows whose body is read before their handler only: work left for once the reply has
    // left (what a stored upload no longer needs). The connection reader runs it after the
    // replies held back with this one were let go, so that the sender never waits for it.
    std::function<void()> afterReply = {};
};

using RouteHandler = std::function<void(Connection&)>;
// A row's own refusals that need only the request head; false when one was written.
using RouteCheck = std::function<bool(Connection&)>;

// What the gates and the connection reader need to know of a route.
struct RouteFacts {
    bool teamGated = false;   // answers only while team mode ("nasExt") is on
    bool pinExempt = false;   // the device PIN is not asked
    bool originFree = false;  // pages of another origin may call it without the token
    bool streamed = false;    // handed over before its body is read, past every gate
    bool ownPreflight = false;  // answers OPTIONS itself: no generic 204, no origin gate for it
    // A longer announced body is never read: the gates and the row's headCheck answer
    // first, as for any request; then the connection closes.
    int64_t maxBody = kControlBody;
    // When set, a longer announced body that passed them is answered 413 {"error": this
    // text}, and the connection drained and closed, so that the client reads the reply.
    std::string oversizeError = {};
};

// How a row tests the path. Patterns are pieces between "/": literal text, "{hex}"
// (one or more of 0-9 a-f) or "{digits}" (one or more of 0-9); nothing backtracks.
class PathTest {
public:
    static PathTest exact(std::string path);
    static PathTest prefix(std::string prefix);
    static PathTest pattern(std::string_view pattern);
    static PathTest any();

    // Whether the path passes; fills captures when asked for.
    bool matches(std::string_view path, std::vector<std::string>* captures) const;

private:
    enum class Kind { exact, prefix, pattern, any };
    enum class Piece { literal, hex, digits };
    struct PatternPiece {
        Piece kind = Piece::literal;
        std::string text;
    };
    bool matchesPattern(std::string_view path, std::vector<std::string>* captures) const;

    Kind kind_ = Kind::any;
    std::string text_;
    std::vector<PatternPiece> pieces_;
};

struct Route {
    std::vector<std::string> methods;  // empty: any method
    PathTest path;
    RouteHandler handler;
    RouteFacts facts;
    // Runs before a body over the row's limit is refused, so that the refusals the
    // handler would make from the head alone (who may call it) keep their order.
    RouteCheck headCheck = {};

    bool takesMethod(std::string_view method) const;
};

// Where a row stands in the dispatch order (see route_table.cpp).
enum class RouteStage { dav, team, teamReserved, peer, nas, fallback };

class RouteTable {
public:
    // The engine's own rows: the peer routes, the paths kept for team mode and the
    // final 404 rows. Extensions add theirs with add().
    static RouteTable withEngineRoutes();

    void add(RouteStage stage, Route route);

    struct Match {
        const Route* route = nullptr;
        std::vector<std::string> captures;
    };
    // The row that handles the request: the first whose path and method match.
    Match find(std::string_view method, std::string_view path) const;
    // The facts the gates apply: those of the first row whose path matches.
    const RouteFacts& factsFor(std::string_view path) const;

    size_t size() const { return rows_.size(); }

private:
    struct Row {
        RouteStage stage;
        Route route;
    };
    std::vector<Row> rows_;
};

// The 404 with the hint to switch team mode on, for a team-mode row while "nasExt" is
// off; streamed rows, which pass no gate, send it themselves.
void refuseTeamMode(int fd);

// Adds the device's peer routes (info, peers, files, texts, chat, read-once notes,
// chunked upload, download, delete) to the peer stage.
void addPeerRoutes(RouteTable& table);

}  // namespace corvane
