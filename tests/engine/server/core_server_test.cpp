#include <arpa/inet.h>
#include <csignal>
#include <gtest/gtest.h>
#include <mutex>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

#include "engine/server/http_response.h"
#include "engine/server/http_server.h"
#include "support/test_support.h"

namespace fs = std::filesystem;
using namespace corvane;
using namespace std::chrono_literals;

namespace {

// Holds a TCP port so that the server under test cannot bind it.
struct PortBlocker {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    explicit PortBlocker(int port) {
        // Connections an earlier test of the process closed may wait on the port; a
        // listening socket blocks it all the same.
        const int on = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(uint16_t(port));
        if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 1) != 0) {
            ::close(std::exchange(fd, -1));
        }
    }
    ~PortBlocker() { ::close(fd); }
};

// Records what reaches a streamed upload row, and answers with a reply of a chosen size.
class RecordingStorage {
public:
    std::mutex lock;
    std::string bodyStart;
    int64_t length = -2;
    std::string path;
    size_t replySize = 2;

    void streamUpload(Connection& c) {
        {
            std::lock_guard guard(lock);
            bodyStart = c.bodyStart;
            length = c.contentLength;
            path = c.req.path;
        }
        respond(c.fd, 200, {}, std::string(replySize, 'z'));
    }

    // The row a storage extension registers for its streamed upload.
    void addRoutes(RouteTable& table) {
        table.add(RouteStage::nas, Route{{"PUT"}, PathTest::exact("/api/fs/upload"),
                                         [this](Connection& c) { streamUpload(c); }, RouteFacts{.streamed = true}});
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
        if (!options.addRoutes) options.addRoutes = [s = storage](RouteTable& table) { s->addRoutes(table); };
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
    ASSERT_TRUE(a.fd >= 0 && b.fd >= 0);
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
    // The third request's unreadable length counts as zero.
    ASSERT_TRUE(c.send("OPTIONS /a HTTP/1.1\r\n\r\nPOST /zz/none HTTP/1.1\r\nContent-Length: 3\r\n\r\nabc"
                       "POST /zz HTTP/1.1\r\nContent-Length: abc\r\n\r\nOPTIONS / HTTP/1.1\r\n\r\n"));
    const char* const notFound = R"({"error":"not found"})";
    const struct { int status; const char* body; } want[] = {{204, ""}, {404, notFound}, {404, notFound}, {204, ""}};
    for (const auto& w : want) {
        const auto reply = c.readReply();
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->status, w.status);
        EXPECT_EQ(reply->body, w.body);
    }
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

TEST_F(ServerTest, ARowsLargestBodyIsReadInFullAndOneByteMoreIsNot) {
    // The text row takes a 4 MiB text with every byte escaped, and a little more.
    auto server = startServer();
    const size_t largest = 6 * (size_t(4) << 20) + 65536;
    const std::string head = "POST /api/text HTTP/1.1\r\nContent-Length: ";
    test::RawClient c(server->port(), 60s);
    ASSERT_TRUE(c.send(head + std::to_string(largest) + "\r\n\r\n"));
    ASSERT_TRUE(c.send("{\"text\":\"" + std::string(largest - 11, 'b') + "\"}"));
    ASSERT_TRUE(c.send("OPTIONS / HTTP/1.1\r\n\r\n"));
    const auto first = c.readReply();
    const auto second = c.readReply();
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->status, 413);  // the handler's own refusal of the long text
    EXPECT_EQ(second->status, 204);

    test::RawClient over(server->port());
    ASSERT_TRUE(over.send(head + std::to_string(largest + 1) + "\r\n\r\n"));
    const auto refused = over.readReply();
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->status, 413);
    EXPECT_EQ(refused->body, R"({"error":"文字过长，请改为发送文件"})");
    EXPECT_TRUE(over.closedByServer());
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
    const auto get = [&](const std::string& target, const std::string& origin, const std::string& token) {
        std::string req = "GET " + target + " HTTP/1.1\r\nHost: 192.168.1.5:8899\r\n";
        if (!origin.empty()) req += "Origin: " + origin + "\r\n";
        if (!token.empty()) req += "X-Corvane-Token: " + token + "\r\n";
        test::RawClient c(server->port());
        c.send(req + "\r\n");
        return c.readReply();
    };
    const std::string foreign = "http://192.168.1.7:8899";
    const struct { const char* target; std::string origin; const char* token; bool refused; } cases[] = {
        {"/api/info", foreign, "", true},          {"/d/a.txt", foreign, "", true},
        {"/dav", foreign, "", true},               {"/dav/x.txt", foreign, "", true},
        {"/api/info?token=tok", foreign, "", false}, {"/api/info?token=tok", foreign, "nope", true},
        {"/b/abc", foreign, "", false},            {"/davx", foreign, "", false},
        {"/", foreign, "", false},                 {"/api/info", "http://192.168.1.5", "", false},
        {"/api/info", "", "", false},
    };
    for (const auto& c : cases) {
        const auto r = get(c.target, c.origin, c.token);
        ASSERT_TRUE(r) << c.target;
        EXPECT_EQ(r->status == 403, c.refused) << c.target << " from " << c.origin << " gave " << r->status;
        if (!c.refused) continue;
        EXPECT_EQ(r->body, R"({"error":"跨设备访问需要令牌"})") << c.target;
        EXPECT_EQ(r->headers.at("content-type"), "application/json; charset=utf-8") << c.target;
    }
}

TEST_F(ServerTest, PinGate) {
    auto server = startServer({}, "4321");
    const auto status = [&](const std::string& target, const std::map<std::string, std::string>& headers = {}) {
        const auto r = test::httpRequest(server->port(), "GET", target, headers);
        EXPECT_TRUE(r) << target << " got no reply";
        return r ? r->status : 0;
    };
    const auto refused = test::httpRequest(server->port(), "GET", "/api/info");
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->status, 401);
    EXPECT_EQ(refused->body, R"({"error":"需要访问口令"})");
    EXPECT_NE(status("/api/info?pin=4321"), 401);
    EXPECT_NE(status("/api/info", {{"X-Pin", "4321"}}), 401);
    EXPECT_EQ(status("/api/info?pin=4322", {{"X-Pin", "432"}}), 401);
    for (const char* exempt : {"/", "/web", "/team", "/login", "/api/team", "/api/team/logo", "/api/team/set",
                               "/b/x", "/api/auth/login", "/api/tf/list", "/api/mail/test"}) {
        EXPECT_NE(status(exempt), 401) << exempt;
    }
    for (const char* guarded : {"/api/teams", "/webx", "/api/files"}) EXPECT_EQ(status(guarded), 401) << guarded;
    // A changed PIN applies from the next request on.
    server->setPin("");
    EXPECT_NE(status("/api/info"), 401);
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

TEST_F(ServerTest, ConnectionsBeyondTheLimitAreToldBusyAtOnce) {
    ServerOptions options;
    options.maxConnections = 2;
    // With the clock standing still a connection's rate is the bytes it moved over 0.1 s:
    // the bodies below, 150 KB in, count as moving past 1 MB/s.
    options.clock = [] { return 1.7e9; };
    auto server = startServer(options);
    // Both connections are in the middle of a request, moving fast: neither is closed for
    // a newcomer.
    test::RawClient a(server->port()), b(server->port());
    const std::string fastBody = "POST /zz HTTP/1.1\r\nContent-Length: 200000\r\n\r\n" + std::string(150000, 'f');
    ASSERT_TRUE(a.send(fastBody));
    ASSERT_TRUE(b.send(fastBody));
    ASSERT_TRUE(test::waitFor([&] { return server->bodyBytesHeld() == 300000; }));
    test::RawClient third(server->port());
    third.send("OPTIONS / HTTP/1.1\r\n\r\n");
    EXPECT_TRUE(test::toldBusy(third));
    a.close();
    ASSERT_TRUE(test::waitFor([&] { return server->openConnections() == 1; }));
    test::RawClient fourth(server->port());
    ASSERT_TRUE(fourth.send("OPTIONS / HTTP/1.1\r\n\r\n"));
    const auto r = fourth.readReply();
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 204);
}

}  // namespace
