#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "engine/http_response.h"
#include "engine/http_server.h"
#include "support/test_support.h"

namespace fs = std::filesystem;
using namespace corvane;
using namespace std::chrono_literals;

namespace {

// Holds a TCP port so that the server under test cannot bind it.
struct PortBlocker {
    int fd = -1;
    explicit PortBlocker(int port) {
        fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(uint16_t(port));
        addr.sin_addr.s_addr = htonl(INADDR_ANY);
        if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 1) != 0) {
            ::close(fd);
            fd = -1;
        }
    }
    ~PortBlocker() {
        if (fd >= 0) ::close(fd);
    }
};

// Records what reaches the streamed-upload hook, and answers with a reply of a chosen size.
class RecordingStorage : public StubStorageHooks {
public:
    std::mutex lock;
    std::string bodyStart;
    int64_t length = -2;
    std::string path;
    size_t replySize = 2;

    void streamUpload(HTTPServer&, int fd, const HTTPReq& req, const std::string& start, int64_t contentLength,
                      const std::string&) override {
        {
            std::lock_guard guard(lock);
            bodyStart = start;
            length = contentLength;
            path = req.path;
        }
        respond(fd, 200, {}, std::string(replySize, 'z'));
    }
};

class ServerTest : public ::testing::Test {
protected:
    test::Sandbox box;
    int base = test::testPortBase(20);
    std::shared_ptr<RecordingStorage> storage = std::make_shared<RecordingStorage>();

    std::vector<std::shared_ptr<HTTPServer>> servers;

    void TearDown() override {
        for (auto& server : servers) test::stopAndDrain(*server);
    }

    std::shared_ptr<HTTPServer> makeServer(ServerOptions options = {}, const std::string& pin = "") {
        options.firstPort = base;
        options.lastPort = base + 19;
        if (!options.storage) options.storage = storage;
        servers.push_back(std::make_shared<HTTPServer>("dev-id", "Studio", "tok", pin, box / "recv", options));
        return servers.back();
    }
    std::shared_ptr<HTTPServer> startServer(ServerOptions options = {}, const std::string& pin = "") {
        auto server = makeServer(options, pin);
        EXPECT_TRUE(server->start());
        return server;
    }
};

TEST_F(ServerTest, TakesTheFirstFreePortOfTheRange) {
    PortBlocker a(base), b(base + 1);
    ASSERT_GE(a.fd, 0);
    ASSERT_GE(b.fd, 0);
    auto server = startServer();
    EXPECT_EQ(server->port(), base + 2);
    EXPECT_TRUE(server->running());
    EXPECT_TRUE(fs::is_directory(box / "recv" / ".parts"));
}

TEST_F(ServerTest, AllPortsTakenGivesFalse) {
    std::vector<std::unique_ptr<PortBlocker>> blockers;
    for (int k = 0; k < 20; ++k) blockers.push_back(std::make_unique<PortBlocker>(base + k));
    auto server = makeServer();
    EXPECT_FALSE(server->start());
    EXPECT_EQ(server->port(), 0);
    EXPECT_EQ(server->listenFD(), -1);
    EXPECT_FALSE(server->running());
}

TEST_F(ServerTest, PipelinedRequestsAnsweredInOrder) {
    auto server = startServer();
    test::RawClient c(server->port());
    ASSERT_TRUE(c.send("OPTIONS /a HTTP/1.1\r\n\r\nPOST /zz/none HTTP/1.1\r\nContent-Length: 3\r\n\r\nabc"
                       "GET /zz/other HTTP/1.1\r\n\r\n"));
    const auto first = c.readReply();
    const auto second = c.readReply();
    const auto third = c.readReply();
    ASSERT_TRUE(first && second && third);
    EXPECT_EQ(first->status, 204);
    EXPECT_EQ(second->status, 404);
    EXPECT_EQ(second->body, R"({"error":"not found"})");
    EXPECT_EQ(third->status, 404);
}

TEST_F(ServerTest, OptionsGivesNoContentWithTheCrossOriginBlock) {
    auto server = startServer({}, "1234");
    test::RawClient c(server->port());
    ASSERT_TRUE(c.send("OPTIONS /api/info HTTP/1.1\r\nOrigin: http://10.9.9.9:8899\r\nHost: 10.0.0.1:8899\r\n\r\n"));
    const auto reply = c.readReply();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->head, std::string("HTTP/1.1 204 No Content\r\nContent-Length: 0\r\n") + test::kCrossOriginLines);
    EXPECT_TRUE(reply->body.empty());
}

TEST_F(ServerTest, MalformedFramingClosesWithoutAReply) {
    auto server = startServer();
    const std::string cases[] = {
        "GET /" + std::string(300000, 'a'),  // no blank line within the head limit
        "POST /x HTTP/1.1\r\nContent-Length: -1\r\n\r\n",
        "POST /x HTTP/1.1\r\nContent-Length: 268435456\r\n\r\n",
        "POST /x HTTP/1.1\r\nContent-Length: 99999999999999999999\r\n\r\n",
        "GET\r\n\r\n",
        std::string("GET /\xff HTTP/1.1\r\n\r\n"),
    };
    for (const auto& request : cases) {
        test::RawClient c(server->port());
        c.send(request);
        EXPECT_EQ(c.readUntilClosed(), "") << request.substr(0, 60);
    }
}

TEST_F(ServerTest, UnreadableLengthCountsAsZero) {
    auto server = startServer();
    test::RawClient c(server->port());
    ASSERT_TRUE(c.send("POST /zz HTTP/1.1\r\nContent-Length: abc\r\n\r\nOPTIONS / HTTP/1.1\r\n\r\n"));
    const auto first = c.readReply();
    const auto second = c.readReply();
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->status, 404);
    EXPECT_EQ(second->status, 204);
}

TEST_F(ServerTest, LargestBodyIsReadInFull) {
    auto server = startServer();
    test::RawClient c(server->port(), 60s);
    const size_t length = (size_t(1) << 28) - 1;
    ASSERT_TRUE(c.send("POST /zz HTTP/1.1\r\nContent-Length: " + std::to_string(length) + "\r\n\r\n"));
    std::string body(length, 'b');
    ASSERT_TRUE(c.send(body));
    body.clear();
    body.shrink_to_fit();
    ASSERT_TRUE(c.send("OPTIONS / HTTP/1.1\r\n\r\n"));
    const auto first = c.readReply();
    const auto second = c.readReply();
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->status, 404);
    EXPECT_EQ(second->status, 204);
}

TEST_F(ServerTest, ChunkedBodiesAreRefused) {
    auto server = startServer();
    test::RawClient c(server->port());
    ASSERT_TRUE(c.send("POST /zz HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n"));
    const auto reply = c.readReply();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 400);
    EXPECT_EQ(reply->body, R"({"error":"unsupported transfer-encoding"})");
    EXPECT_EQ(c.readUntilClosed(), "");
}

TEST_F(ServerTest, OriginGate) {
    auto server = startServer();
    const std::map<std::string, std::string> foreign{{"Origin", "http://192.168.1.7:8899"}};
    const auto h = [&](const std::string& target, std::map<std::string, std::string> headers) {
        headers["Host"] = "192.168.1.5:8899";
        test::RawClient c(server->port());
        std::string req = "GET " + target + " HTTP/1.1\r\n";
        for (const auto& [k, v] : headers) req += k + ": " + v + "\r\n";
        c.send(req + "\r\n");
        return c.readReply();
    };
    const std::string refused = R"({"error":"跨设备访问需要令牌"})";
    auto r = h("/api/info", foreign);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 403);
    EXPECT_EQ(r->body, refused);
    EXPECT_EQ(r->headers["content-type"], "application/json; charset=utf-8");
    for (const char* guarded : {"/d/a.txt", "/dav", "/dav/x.txt"}) {
        r = h(guarded, foreign);
        ASSERT_TRUE(r);
        EXPECT_EQ(r->status, 403) << guarded;
    }
    r = h("/api/info?token=tok", foreign);
    EXPECT_NE(r->status, 403);
    auto wrongHeader = foreign;
    wrongHeader["X-Corvane-Token"] = "nope";
    r = h("/api/info?token=tok", wrongHeader);
    EXPECT_EQ(r->status, 403);
    for (const char* open : {"/b/abc", "/davx", "/"}) {
        r = h(open, foreign);
        ASSERT_TRUE(r);
        EXPECT_NE(r->status, 403) << open;
    }
    r = h("/api/info", {{"Origin", "http://192.168.1.5"}});
    EXPECT_NE(r->status, 403);
    r = h("/api/info", {});
    EXPECT_NE(r->status, 403);
}

TEST_F(ServerTest, EmptyTokenRefusesEveryCrossOriginApiCall) {
    ServerOptions options;
    options.firstPort = base;
    options.lastPort = base + 19;
    auto server = std::make_shared<HTTPServer>("id", "n", "", "", box / "recv", options);
    servers.push_back(server);
    ASSERT_TRUE(server->start());
    const auto r = test::httpRequest(server->port(), "GET", "/api/info?token=",
                                     {{"Origin", "http://192.168.1.7:8899"}});
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 403);
}

TEST_F(ServerTest, PinGate) {
    auto server = startServer({}, "4321");
    const std::string refused = R"({"error":"需要访问口令"})";
    auto r = test::httpRequest(server->port(), "GET", "/api/info");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 401);
    EXPECT_EQ(r->body, refused);
    r = test::httpRequest(server->port(), "GET", "/api/info?pin=4321");
    EXPECT_NE(r->status, 401);
    r = test::httpRequest(server->port(), "GET", "/api/info", {{"X-Pin", "4321"}});
    EXPECT_NE(r->status, 401);
    r = test::httpRequest(server->port(), "GET", "/api/info?pin=4322", {{"X-Pin", "432"}});
    EXPECT_EQ(r->status, 401);
    for (const char* exempt : {"/", "/web", "/team", "/login", "/api/team", "/api/team/logo", "/api/team/set",
                               "/b/x", "/api/auth/login", "/api/tf/list", "/api/mail/test"}) {
        r = test::httpRequest(server->port(), "GET", exempt);
        ASSERT_TRUE(r);
        EXPECT_NE(r->status, 401) << exempt;
    }
    for (const char* guarded : {"/api/teams", "/webx", "/api/files"}) {
        r = test::httpRequest(server->port(), "GET", guarded);
        EXPECT_EQ(r->status, 401) << guarded;
    }
    // A changed PIN applies from the next request on.
    server->setPin("");
    r = test::httpRequest(server->port(), "GET", "/api/info");
    EXPECT_NE(r->status, 401);
}

TEST_F(ServerTest, ConnectionCloseClosesAfterTheReplyEvenWhenRefused) {
    auto server = startServer({}, "1");
    test::RawClient c(server->port());
    ASSERT_TRUE(c.send("GET /api/info HTTP/1.1\r\nConnection: keep-alive, Close\r\n\r\nOPTIONS / HTTP/1.1\r\n\r\n"));
    const auto reply = c.readReply();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 401);
    EXPECT_EQ(c.readUntilClosed(), "");
}

TEST_F(ServerTest, StreamedUploadIsHandedOverBeforeItsBody) {
    auto server = startServer();
    test::RawClient c(server->port());
    // A length far beyond the body limit: the hook reads the body itself.
    ASSERT_TRUE(c.send("PUT /api/fs/upload?path=&name=a.bin HTTP/1.1\r\nContent-Length: 1000000000\r\n\r\nfirst"));
    const auto reply = c.readReply();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 200);
    {
        std::lock_guard guard(storage->lock);
        EXPECT_EQ(storage->length, 1000000000);
        EXPECT_EQ(storage->path, "/api/fs/upload");
        EXPECT_EQ(storage->bodyStart.substr(0, 5), "first");
    }
    EXPECT_EQ(c.readUntilClosed(), "");  // closed after the hook returns

    test::RawClient d(server->port());
    ASSERT_TRUE(d.send("PUT /api/fs/upload HTTP/1.1\r\nContent-Length: 0\r\n\r\nleftover"));
    ASSERT_TRUE(d.readReply());
    std::lock_guard guard(storage->lock);
    EXPECT_EQ(storage->length, 0);
    EXPECT_EQ(storage->bodyStart, "");  // no body bytes for a length of 0
}

TEST_F(ServerTest, ClientVanishingMidReplyLeavesTheServerServing) {
    storage->replySize = 64 << 20;
    auto server = startServer();
    // Any write without MSG_NOSIGNAL would now end the test process.
    std::signal(SIGPIPE, SIG_DFL);
    for (int k = 0; k < 3; ++k) {
        test::RawClient c(server->port());
        ASSERT_TRUE(c.send("PUT /api/fs/upload HTTP/1.1\r\nContent-Length: 0\r\n\r\n"));
        char some[1024];
        ASSERT_GT(::recv(c.fd(), some, sizeof some, 0), 0);
        c.close();
    }
    const auto r = test::httpRequest(server->port(), "OPTIONS", "/");
    std::signal(SIGPIPE, SIG_IGN);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 204);
}

TEST_F(ServerTest, SilentClientIsDroppedAfterTheIdleTimeout) {
    ServerOptions options;
    options.idleTimeout = 300ms;
    auto server = startServer(options);
    test::RawClient c(server->port());
    ASSERT_TRUE(c.send("GET /zz HT"));  // half a head, then silence
    EXPECT_EQ(c.readUntilClosed(), "");
    EXPECT_TRUE(test::waitFor([&] { return server->openConnections() == 0; }));
}

TEST_F(ServerTest, ConnectionsBeyondTheLimitAreClosedAtOnce) {
    ServerOptions options;
    options.maxConnections = 2;
    auto server = startServer(options);
    test::RawClient a(server->port()), b(server->port());
    ASSERT_TRUE(a.send("OPTIONS / HTTP/1.1\r\n\r\n") && a.readReply());
    ASSERT_TRUE(b.send("OPTIONS / HTTP/1.1\r\n\r\n") && b.readReply());
    test::RawClient third(server->port());
    third.send("OPTIONS / HTTP/1.1\r\n\r\n");
    EXPECT_EQ(third.readUntilClosed(), "");
    a.close();
    ASSERT_TRUE(test::waitFor([&] { return server->openConnections() == 1; }));
    test::RawClient fourth(server->port());
    ASSERT_TRUE(fourth.send("OPTIONS / HTTP/1.1\r\n\r\n"));
    const auto r = fourth.readReply();
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 204);
}

TEST_F(ServerTest, StopEndsTheAcceptLoopAndOpenConnectionsAfterTheirNextRequest) {
    auto server = startServer();
    const int port = server->port();
    test::RawClient open(port);
    ASSERT_TRUE(open.send("OPTIONS / HTTP/1.1\r\n\r\n") && open.readReply());
    // Let the connection go back to waiting for its next request before stopping.
    std::this_thread::sleep_for(100ms);
    server->stop();
    EXPECT_FALSE(server->running());
    EXPECT_EQ(server->listenFD(), -1);
    test::RawClient late(port);
    EXPECT_FALSE(late.connected());
    // The waiting connection answers its next request, then closes.
    ASSERT_TRUE(open.send("OPTIONS / HTTP/1.1\r\n\r\n"));
    const auto last = open.readReply();
    ASSERT_TRUE(last);
    EXPECT_EQ(last->status, 204);
    EXPECT_EQ(open.readUntilClosed(), "");
}

TEST_F(ServerTest, GuardedFieldsChangeTogether) {
    auto server = makeServer();
    server->setRoot(box / "other");
    EXPECT_EQ(server->root(), box / "other");
    EXPECT_EQ(server->parts(), box / "other" / ".parts");
    server->setDeviceName("Renamed");
    EXPECT_EQ(server->deviceName(), "Renamed");
    EXPECT_EQ(HTTPServer::peerIP(-1), "");
}

}  // namespace
