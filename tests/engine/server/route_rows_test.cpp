// Routes as rows: path tests, dispatch order, and the gates and the connection
// reader acting on the facts of the matched row.

#include <gtest/gtest.h>
#include <thread>

#include "engine/server/http_response.h"
#include "engine/server/http_server.h"
#include "support/test_support.h"

namespace fs = std::filesystem;
using namespace corvane;

namespace {

TEST(PathTest, PatternsSplitAtSlashesAndCheckEachPiece) {
    const PathTest chunk = PathTest::pattern("/api/upload/{hex}/{digits}");
    const struct { const char* path; bool matches; std::vector<std::string> captures; } cases[] = {
        {"/api/upload/0a1b/12", true, {"0a1b", "12"}},
        {"/api/upload/0A1B/12", false, {}},       // upper-case hex is not an id
        {"/api/upload/0a1b/", false, {}},         // an empty piece
        {"/api/upload//12", false, {}},
        {"/api/upload/0a1b/12/", false, {}},      // one piece too many
        {"/api/upload/0a1b/1x", false, {}},
        {"/api/upload/0a1b", false, {}},          // one piece too few
        {"/api/uploads/0a1b/12", false, {}},
        {"/api/upload/0a1b/\xd9\xa3", false, {}},  // digits of another script
    };
    for (const auto& c : cases) {
        std::vector<std::string> captures;
        EXPECT_EQ(chunk.matches(c.path, &captures), c.matches) << c.path;
        if (c.matches) {
            EXPECT_EQ(captures, c.captures) << c.path;
        }
    }
    std::vector<std::string> rest;
    EXPECT_TRUE(PathTest::prefix("/b/").matches("/b/abc/d", &rest));
    EXPECT_EQ(rest, std::vector<std::string>{"abc/d"});
    EXPECT_FALSE(PathTest::exact("/api/info").matches("/api/info/", nullptr));
}

TEST(PathTest, AVeryLongPieceIsCheckedWithoutRecursion) {
    // A backtracking matcher ran out of stack on paths of this size.
    const std::string id(1 << 20, 'a');
    std::vector<std::string> captures;
    EXPECT_TRUE(PathTest::pattern("/api/upload/{hex}").matches("/api/upload/" + id, &captures));
    EXPECT_EQ(captures.at(0).size(), id.size());
    EXPECT_FALSE(PathTest::pattern("/api/upload/{hex}/meta").matches("/api/upload/" + id + "x/meta", nullptr));
}

Route answering(std::vector<std::string> methods, PathTest path, const char* name, RouteFacts facts = {}) {
    return Route{std::move(methods), std::move(path), [name](Connection& c) { sendJSON(c.fd, 200, {{"row", name}}); },
                 facts};
}

TEST(RouteRows, StagesKeepTheDispatchOrderWhateverTheOrderOfAdding) {
    RouteTable table;
    table.add(RouteStage::nas, answering({"GET"}, PathTest::prefix("/x"), "nas"));
    table.add(RouteStage::team, answering({"GET"}, PathTest::prefix("/x"), "team"));
    table.add(RouteStage::dav, answering({"PUT"}, PathTest::prefix("/x"), "dav"));
    table.add(RouteStage::team, answering({"GET"}, PathTest::exact("/x/y"), "team second"));
    // The first row whose path and method both match handles the request.
    ASSERT_TRUE(table.find("GET", "/x/y").route);
    EXPECT_EQ(table.find("GET", "/x/y").route, table.find("GET", "/x").route);
    EXPECT_EQ(table.find("GET", "/x").captures, std::vector<std::string>{""});
    EXPECT_FALSE(table.find("POST", "/x").route);
    // The gates read the facts of the first row whose path matches, whatever its method.
    table.add(RouteStage::dav, answering({"DELETE"}, PathTest::exact("/z"), "z", RouteFacts{.pinExempt = true}));
    EXPECT_TRUE(table.factsFor("/z").pinExempt);
    EXPECT_FALSE(table.factsFor("/nothing").pinExempt);
}

// A server with one test row per fact beside the peer rows.
class RowFacts : public ::testing::Test {
protected:
    void SetUp() override {
        ServerOptions options;
        options.firstPort = test::testPortBase(20);
        options.lastPort = options.firstPort + 19;
        options.nasExt = [this] { return teamMode.load(); };
        options.addRoutes = [this](RouteTable& table) {
            table.add(RouteStage::team, answering({"GET"}, PathTest::exact("/t/gated"), "gated", {.teamGated = true}));
            table.add(RouteStage::team, answering({"GET"}, PathTest::exact("/api/t/open"), "open", {.pinExempt = true}));
            table.add(RouteStage::nas, answering({"GET"}, PathTest::exact("/api/t/free"), "free", {.originFree = true}));
            table.add(RouteStage::nas, answering({"POST"}, PathTest::exact("/api/t/small"), "small", {.maxBody = 10}));
            table.add(RouteStage::nas, answering({}, PathTest::exact("/api/t/told"), "told",
                                                 {.maxBody = 10, .oversizeError = "too big"}));
            table.add(RouteStage::nas, Route{{"PUT"}, PathTest::exact("/api/t/stream"), [this](Connection& c) {
                                                 streamedLength = c.contentLength;
                                                 sendJSON(c.fd, 200, {{"row", "stream"}});
                                             }, RouteFacts{.streamed = true}});
        };
        server = std::make_shared<HTTPServer>("dev", "Desk", "tok", "", box / "recv", options);
        ASSERT_TRUE(server->start());
    }
    void TearDown() override { test::stopAndDrain(*server); }

    int status(const std::string& method, const std::string& target, const std::map<std::string, std::string>& headers = {},
               const std::string& body = "") {
        const auto reply = test::httpRequest(server->port(), method, target, headers, body);
        return reply ? reply->status : 0;
    }

    test::Sandbox box;
    std::atomic<bool> teamMode{false};
    std::atomic<int64_t> streamedLength{-1};
    std::shared_ptr<HTTPServer> server;
};

TEST_F(RowFacts, EachGateAnswersFromTheMatchedRow) {
    const std::map<std::string, std::string> foreign{{"Origin", "http://10.0.0.9:8899"}, {"Host", "10.0.0.1:8899"}};
    server->setPin("2468");
    const struct { const char* what; const char* method; const char* target; std::map<std::string, std::string> headers; int want; } cases[] = {
        // The PIN: asked on peer rows and plain test rows, not on an exempt row or the burn page.
        {"peer row, no PIN", "GET", "/api/info", {}, 401},
        {"peer row with PIN", "GET", "/api/info?pin=2468", {}, 200},
        {"exempt row", "GET", "/api/t/open", {}, 200},
        {"burn page", "GET", "/b/unknown", {}, 404},
        {"unknown path", "GET", "/api/nothing", {}, 401},
        // Other origins: refused on guarded rows, let through on free ones.
        {"foreign page, peer row", "GET", "/api/info?pin=2468", foreign, 403},
        {"foreign page, free row", "GET", "/api/t/free?pin=2468", foreign, 200},
        {"foreign page, burn page", "GET", "/b/unknown", foreign, 404},
        {"foreign page, token", "GET", "/api/info?pin=2468&token=tok", foreign, 200},
        // Team mode off: the gated row answers the hint's 404 whatever the PIN.
        {"gated row, team mode off", "GET", "/t/gated?pin=2468", {}, 404},
    };
    for (const auto& c : cases) EXPECT_EQ(status(c.method, c.target, c.headers), c.want) << c.what;
    teamMode = true;
    EXPECT_EQ(status("GET", "/t/gated?pin=2468"), 200);
}

TEST_F(RowFacts, TheReaderHonoursTheRowsBodyLimitAndStreamedRows) {
    EXPECT_EQ(status("POST", "/api/t/small", {}, "0123456789"), 200);
    test::RawClient c(server->port());
    ASSERT_TRUE(c.send("POST /api/t/small HTTP/1.1\r\nContent-Length: 11\r\n\r\n01234567890"));
    EXPECT_EQ(c.readUntilClosed(), "");  // closed without a reply, as for any body too long
    // Streamed: handed over before the body and past the PIN, whatever its length.
    server->setPin("2468");
    test::RawClient s(server->port());
    ASSERT_TRUE(s.send("PUT /api/t/stream HTTP/1.1\r\nContent-Length: 999999999999\r\n\r\nabc"));
    const auto reply = s.readReply();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 200);
    EXPECT_EQ(streamedLength.load(), 999999999999);
    EXPECT_EQ(s.readUntilClosed(), "");
}

TEST_F(RowFacts, ARowWithAnOversizeTextAnswers413BeforeTheBodyAndDrains) {
    EXPECT_EQ(status("POST", "/api/t/told", {}, "0123456789"), 200);
    // 8 MiB announced, 1 MiB sent: the reply comes before the body, and the client reads
    // it whole rather than a reset, although it keeps sending.
    test::RawClient c(server->port());
    ASSERT_TRUE(c.send("POST /api/t/told HTTP/1.1\r\nContent-Length: 8388608\r\n\r\n"));
    ASSERT_TRUE(c.send(std::string(1 << 20, 'x')));
    const auto reply = c.readReply();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->statusLine, "HTTP/1.1 413 Content Too Large");
    EXPECT_EQ(reply->headers.at("content-type"), "application/json; charset=utf-8");
    EXPECT_EQ(reply->body, R"({"error":"too big"})");
    EXPECT_TRUE(c.closedByServer());
    // HEAD: the same head, no body.
    test::RawClient h(server->port());
    ASSERT_TRUE(h.send("HEAD /api/t/told HTTP/1.1\r\nContent-Length: 11\r\n\r\n"));
    const auto head = h.readReply(true);
    ASSERT_TRUE(head);
    EXPECT_EQ(head->status, 413);
    EXPECT_EQ(head->headers.at("content-length"), "19");
    EXPECT_EQ(h.readUntilClosed(), "");
}

TEST_F(RowFacts, AHugeUploadPathIsAnsweredAndTheServerLivesOn) {
    // About 26,000 characters under "/api/upload/" once ended the process from any web page.
    const std::string hexID(26000, 'a');
    const std::string other(26000, 'z');
    for (const char* method : {"GET", "PUT", "POST", "DELETE"}) {
        EXPECT_EQ(status(method, "/api/upload/" + other), 404) << method;
        EXPECT_EQ(status(method, "/api/upload/" + hexID + "/finish"), std::string(method) == "POST" ? 400 : 404) << method;
    }
    EXPECT_EQ(status("GET", "/api/upload/" + hexID), 400);  // matched, and refused as a bad id
    EXPECT_EQ(status("GET", "/api/info"), 200);
}

TEST_F(RowFacts, StopEndsIdleConnectionsAndJoinsTheirThreads) {
    test::RawClient idle(server->port());
    ASSERT_TRUE(idle.send("OPTIONS / HTTP/1.1\r\n\r\n") && idle.readReply());
    test::RawClient half(server->port());
    ASSERT_TRUE(half.send("GET /api/in"));  // a head that never ends
    ASSERT_TRUE(test::waitFor([&] { return server->openConnections() == 2; }));
    server->stop();  // returns only once both threads ended
    EXPECT_EQ(server->openConnections(), 0);
    EXPECT_TRUE(idle.closedByServer());
    EXPECT_TRUE(half.closedByServer());
}

}  // namespace
