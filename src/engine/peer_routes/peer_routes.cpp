// The device's own routes, in the order they are tried. Handlers live in one file
// per family: peer_info_routes, receive_tasks, receive_listing, message_routes,
// burn_notes, upload_receiver, file_download, file_delete.

#include "engine/server/http_response.h"
#include "engine/server/http_server.h"
#include "engine/server/storage_gate.h"
#include "engine/server/route_table.h"

namespace corvane {

namespace {

// A row whose handler is a member of the server.
Route row(std::vector<std::string> methods, PathTest path, void (HTTPServer::*handler)(Connection&),
          RouteFacts facts = {}) {
    return Route{std::move(methods), std::move(path), [handler](Connection& c) { (c.server.*handler)(c); }, facts};
}

void burnPageRow(Connection& c) { c.server.burnPage(c.fd, c.captures.at(0)); }

void burnDeleteRow(Connection& c) {
    c.server.takeBurn(c.captures.at(0));  // gone or not, the note is no longer there
    sendJSON(c.fd, 200, {{"ok", true}});
}

void downloadRow(Connection& c) { c.server.download(c.fd, c.captures.at(0), c.req); }

// A text of 4 MiB (the most a text takes) with every byte escaped as \u00XX, and room
// for the other fields. Chat messages are cut rather than refused, so they take as much.
constexpr int64_t kTextBody = 6 * (int64_t(4) << 20) + 65536;
const RouteFacts kText{.maxBody = kTextBody, .oversizeError = "文字过长，请改为发送文件"};
const RouteFacts kChat{.maxBody = kTextBody};

}  // namespace

void addPeerRoutes(RouteTable& table) {
    const RouteStage peer = RouteStage::peer;
    table.add(peer, row({"GET"}, PathTest::exact("/api/receive-tasks"), &HTTPServer::routeReceiveTasks));
    table.add(peer, row({"GET"}, PathTest::exact("/api/info"), &HTTPServer::routeInfo));
    table.add(peer, row({"GET"}, PathTest::exact("/api/peers"), &HTTPServer::routePeers));
    table.add(peer, Route{{"GET"}, PathTest::exact("/api/files"), onStorage([](Connection& c) { c.server.routeFiles(c); }), {}});
    table.add(peer, row({"POST"}, PathTest::exact("/api/text"), &HTTPServer::routeText, kText));
    table.add(peer, row({"POST"}, PathTest::exact("/api/chat"), &HTTPServer::routeChat, kChat));
    table.add(peer, row({"POST"}, PathTest::exact("/api/chat/burn"), &HTTPServer::routeChatBurn));
    // The one-time page is opened in any browser, with no PIN and from any page.
    table.add(peer, Route{{"GET"}, PathTest::prefix("/b/"), burnPageRow, RouteFacts{.pinExempt = true, .originFree = true}});
    table.add(peer, row({"GET"}, PathTest::prefix("/api/burn/"), &HTTPServer::routeBurnRead));
    table.add(peer, Route{{"DELETE"}, PathTest::prefix("/api/burn/"), burnDeleteRow, {}});
    table.add(peer, row({"GET"}, PathTest::pattern("/api/upload/{hex}"), &HTTPServer::uploadStatus));
    table.add(peer, row({"DELETE"}, PathTest::pattern("/api/upload/{hex}"), &HTTPServer::routeDeleteUpload));
    table.add(peer, row({"PUT"}, PathTest::pattern("/api/upload/{hex}/meta"), &HTTPServer::uploadMeta));
    table.add(peer, row({"POST"}, PathTest::pattern("/api/upload/{hex}/finish"), &HTTPServer::uploadFinish));
    // Chunks stream from the socket to disk; the handler applies the gates itself.
    table.add(peer, row({"PUT"}, PathTest::pattern("/api/upload/{hex}/{digits}"), &HTTPServer::uploadChunk,
                        RouteFacts{.streamed = true}));
    table.add(peer, Route{{"GET", "HEAD"}, PathTest::prefix("/d/"), downloadRow, {}});
    table.add(peer, row({"DELETE"}, PathTest::exact("/api/file"), &HTTPServer::routeDeleteFile));
}

}  // namespace corvane
