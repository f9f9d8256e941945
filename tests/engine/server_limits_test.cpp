// What one client may hold of the server: memory for bodies, time for a head,
// connections per address. Each limit once let a single client starve the rest.

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <thread>

#include "engine/http_response.h"
#include "engine/http_server.h"
#include "support/test_support.h"

using namespace corvane;
using namespace std::chrono_literals;

namespace {

class ServerLimits : public ::testing::Test {
protected:
    std::shared_ptr<HTTPServer> start(ServerOptions options) {
        options.firstPort = test::testPortBase(20);
        options.lastPort = options.firstPort + 19;
        server = std::make_shared<HTTPServer>("dev", "Desk", "tok", "", box / "recv", options);
        EXPECT_TRUE(server->start());
        return server;
    }
    void TearDown() override {
        if (server) test::stopAndDrain(*server);
    }
    static std::string post(size_t length) {
        return "POST /api/nothing HTTP/1.1\r\nContent-Length: " + std::to_string(length) + "\r\n\r\n";
    }

    test::Sandbox box;
    std::shared_ptr<HTTPServer> server;
};

TEST_F(ServerLimits, BodiesBeyondTheMemoryBudgetAreRefusedBeforeTheyAreRead) {
    // Eight connections sending most of 256 MiB each once took the server past 2 GB.
    ServerOptions options;
    options.bodyBudget = 1 << 20;
    start(options);
    test::RawClient holder(server->port());
    ASSERT_TRUE(holder.send(post(800000) + "partial"));  // holds 800,000 bytes of the budget
    ASSERT_TRUE(test::waitFor([&] { return server->bodyBytesHeld() == 800000; }));

    test::RawClient refused(server->port());
    ASSERT_TRUE(refused.send(post(300000)));
    ASSERT_TRUE(refused.send(std::string(100000, 'x')));  // part of the body, sent anyway
    const auto busy = refused.readReply();
    ASSERT_TRUE(busy) << "the refusal must be readable, not a reset";
    EXPECT_EQ(busy->status, 503);
    EXPECT_EQ(busy->body, R"({"error":"busy"})");
    EXPECT_TRUE(refused.closedByServer());

    ASSERT_TRUE(holder.send(std::string(800000 - 7, 'y')));
    const auto done = holder.readReply();
    ASSERT_TRUE(done);
    EXPECT_EQ(done->status, 404);
    // Handled requests give their share back.
    EXPECT_TRUE(test::waitFor([&] { return server->bodyBytesHeld() == 0; }));
    const auto again = test::httpRequest(server->port(), "POST", "/api/nothing", {}, std::string(300000, 'z'));
    ASSERT_TRUE(again);
    EXPECT_EQ(again->status, 404);
}

TEST_F(ServerLimits, AHeadTricklingInIsCutOffAtTheHeadTimeout) {
    // One byte every 100 s kept every slot busy: the idle limit only applies per read.
    ServerOptions options;
    options.headTimeout = 300ms;
    options.idleTimeout = 10s;
    start(options);
    test::RawClient slow(server->port());
    ASSERT_TRUE(slow.send("GET /api/info HTTP/1.1\r\n"));
    // A byte every 50 ms for five seconds, unless the server closes first (then a
    // send fails); the head never ends.
    bool cutOff = false;
    for (int k = 0; k < 100 && !cutOff; ++k) {
        std::this_thread::sleep_for(50ms);
        cutOff = ::send(slow.fd(), "X", 1, MSG_NOSIGNAL) != 1;
    }
    EXPECT_TRUE(cutOff) << "the connection outlived its head time-out";
    EXPECT_EQ(slow.readUntilClosed(), "");
    EXPECT_TRUE(test::waitFor([&] { return server->openConnections() == 0; }, 2s));
}

TEST_F(ServerLimits, OneAddressHoldsAtMostItsShareOfConnections) {
    ServerOptions options;
    options.maxPerAddress = 2;
    start(options);
    test::RawClient a(server->port()), b(server->port());
    ASSERT_TRUE(a.send("OPTIONS / HTTP/1.1\r\n\r\n") && a.readReply());
    ASSERT_TRUE(b.send("OPTIONS / HTTP/1.1\r\n\r\n") && b.readReply());
    test::RawClient third(server->port());
    third.send("OPTIONS / HTTP/1.1\r\n\r\n");
    EXPECT_EQ(third.readUntilClosed(), "");
    // Another device is not held back by the first one's connections.
    test::RawClient other(server->port(), "127.0.0.2");
    ASSERT_TRUE(other.send("OPTIONS / HTTP/1.1\r\n\r\n"));
    const auto reply = other.readReply();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 204);
}

}  // namespace
