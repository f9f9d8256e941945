// What one client may hold of the server: memory for bodies, time for a head,
// connections per address. Each limit once let a single client starve the rest.

#include <gtest/gtest.h>

#include <condition_variable>
#include <deque>
#include <filesystem>
#include <mutex>
#include <poll.h>
#include <sys/socket.h>
#include <thread>

#include "engine/server/http_response.h"
#include "engine/server/http_server.h"
#include "support/test_support.h"

using namespace corvane;
using namespace std::chrono_literals;

namespace {

// Holds one connection of an address in its nth wait for a request, idle, before it reads,
// until released (at most ten seconds, so that a failing test still stops its server).
class IdleGate {
public:
    void hold(const std::string& address, int wait) {
        std::lock_guard lock(mutex_);
        address_ = address;
        wait_ = wait;
    }
    bool holding() {
        std::lock_guard lock(mutex_);
        return holding_;
    }
    void release() {
        std::lock_guard lock(mutex_);
        released_ = true;
        changed_.notify_all();
    }
    void pass(const std::string& address) {
        std::unique_lock lock(mutex_);
        if (address != address_ || --wait_ != 0) return;
        holding_ = true;
        changed_.wait_for(lock, std::chrono::seconds(10), [&] { return released_; });
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::string address_;
    int wait_ = 0;
    bool holding_ = false;
    bool released_ = false;
};

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

TEST_F(ServerLimits, BodiesBeyondTheMemoryBudgetAreRefusedAsTheirBytesCome) {
    // Eight connections sending most of 256 MiB each once took the server past 2 GB.
    ServerOptions options;
    options.bodyBudget = 1 << 20;
    start(options);
    // Four devices hold 195,993 bytes each of the budget: each within its fair share of the
    // 983,040 bytes larger bodies may take among five, so none is cut for a fifth.
    std::vector<std::unique_ptr<test::RawClient>> holders;
    for (const char* address : {"127.0.0.2", "127.0.0.3", "127.0.0.4", "127.0.0.5"}) {
        holders.push_back(std::make_unique<test::RawClient>(server->port(), address));
        ASSERT_TRUE(holders.back()->send(post(196000) + std::string(195993, 'p')));
    }
    test::RawClient& holder = *holders.front();
    ASSERT_TRUE(test::waitFor([&] { return server->bodyBytesHeld() == 4 * 195993; }));

    // A fifth device's body is read while it fits, and refused once its bytes pass the budget.
    test::RawClient refused(server->port(), "127.0.0.6");
    ASSERT_TRUE(refused.send(post(300000) + std::string(100000, 'x')));
    ASSERT_TRUE(test::waitFor([&] { return server->bodyBytesHeld() == 4 * 195993 + 100000; }));
    ASSERT_TRUE(refused.send(std::string(200000, 'x')));
    const auto busy = refused.readReply();
    ASSERT_TRUE(busy) << "the refusal must be readable, not a reset";
    EXPECT_EQ(busy->status, 503);
    EXPECT_EQ(busy->body, R"({"error":"busy"})");
    ::shutdown(refused.fd(), SHUT_WR);  // the server drains until the client is done
    EXPECT_TRUE(refused.closedByServer());
    EXPECT_TRUE(test::waitFor([&] { return server->bodyBytesHeld() == 4 * 195993; }));

    ASSERT_TRUE(holder.send(std::string(7, 'y')));
    const auto done = holder.readReply();
    ASSERT_TRUE(done);
    EXPECT_EQ(done->status, 404);
    holders.clear();
    // Handled requests give their share back.
    EXPECT_TRUE(test::waitFor([&] { return server->bodyBytesHeld() == 0; }));
    const auto again = test::httpRequestFrom("127.0.0.6", server->port(), "POST", "/api/nothing", std::string(250000, 'z'));
    ASSERT_TRUE(again);
    EXPECT_EQ(again->status, 404);
}

TEST_F(ServerLimits, OneAddressHoldsAtMostAQuarterOfTheBodyBudget) {
    // One connection announcing a huge body and trickling it once left every other
    // device answered "busy".
    ServerOptions options;
    options.bodyBudget = 1 << 20;
    start(options);
    test::RawClient holder(server->port(), "127.0.0.2");
    ASSERT_TRUE(holder.send(post(300000) + std::string(200000, 'h')));
    ASSERT_TRUE(test::waitFor([&] { return server->bodyBytesHeld() == 200000; }));

    test::RawClient sameDevice(server->port(), "127.0.0.2");
    ASSERT_TRUE(sameDevice.send(post(100000) + std::string(100000, 's')));
    const auto busy = sameDevice.readReply();
    ASSERT_TRUE(busy);
    EXPECT_EQ(busy->status, 503);

    const auto other = test::httpRequestFrom("127.0.0.3", server->port(), "POST", "/api/nothing", std::string(250000, 'o'));
    ASSERT_TRUE(other);
    EXPECT_EQ(other->status, 404);
}

TEST_F(ServerLimits, ATrickledBodyHoldsOnlyTheBytesItHasSent) {
    // Three connections from each of four devices announced texts of 25 MB and sent
    // 600 B/s: every other device's sign-in, text and chat was answered "busy", and the
    // announced bytes were taken from memory at once.
    ServerOptions options;
    options.bodyBudget = 1 << 20;
    start(options);
    const std::string text = "POST /api/text HTTP/1.1\r\nContent-Length: 25231360\r\n\r\n{\"text\":\"";
    std::vector<std::unique_ptr<test::RawClient>> trickles;
    for (const char* address : {"127.0.0.2", "127.0.0.3", "127.0.0.4", "127.0.0.5"}) {
        for (int k = 0; k < 3; ++k) {
            trickles.push_back(std::make_unique<test::RawClient>(server->port(), address));
            ASSERT_TRUE(trickles.back()->send(text));
        }
    }
    ASSERT_TRUE(test::waitFor([&] { return server->bodyBytesHeld() == 12 * 9; }));
    for (const auto& [target, body] : std::vector<std::pair<std::string, std::string>>{
             {"/api/text", R"({"text":"hello"})"}, {"/api/chat", R"({"text":"hi"})"}}) {
        const auto reply = test::httpRequestFrom("127.0.0.6", server->port(), "POST", target, body);
        ASSERT_TRUE(reply) << target;
        EXPECT_EQ(reply->status, 200) << target;
    }
    // Every trickle is still held once the answered requests gave their bytes back.
    EXPECT_TRUE(test::waitFor([&] { return server->bodyBytesHeld() == 12 * 9; }));

    // What came still counts: a device whose bytes pass its share is refused.
    test::RawClient& first = *trickles.front();
    ASSERT_TRUE(first.send(std::string(300000, 'a')));
    const auto busy = first.readReply();
    ASSERT_TRUE(busy);
    EXPECT_EQ(busy->status, 503);
}

TEST_F(ServerLimits, AChunkClosedForANewcomerLeavesNothing) {
    ServerOptions options;
    options.maxConnections = 2;
    options.clock = [] { return 1.7e9; };  // rates count the bytes moved (see below)
    start(options);
    // The text has moved more bytes than the chunk will have: the chunk is the one closed.
    test::RawClient text(server->port(), "127.0.0.2");
    ASSERT_TRUE(text.send(post(30000) + std::string(20000, 'x')));
    ASSERT_TRUE(test::waitFor([&] { return server->bodyBytesHeld() == 20000; }));
    // The chunk's head comes with a request before it, so its connection never waits idle.
    const std::string upload = "/api/upload/00112233aabbccdd";
    test::RawClient chunk(server->port(), "127.0.0.2");
    ASSERT_TRUE(chunk.send("GET /api/info HTTP/1.1\r\n\r\nPUT " + upload + "/0 HTTP/1.1\r\nContent-Length: 100\r\n\r\n" +
                           std::string(50, 'c')));
    ASSERT_TRUE(chunk.readReply());
    // The info's reply leaves before its handler returns, and a request being answered is
    // never closed: the newcomer comes once the chunk's bytes are being written.
    ASSERT_TRUE(test::waitFor([&] {
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator(box / "recv" / ".parts" / "00112233aabbccdd", ec)) {
            std::error_code sizeError;
            if (entry.is_regular_file(sizeError) && entry.file_size(sizeError) >= 50) return true;
        }
        return false;
    }));

    const auto newcomer = test::httpRequestFrom("127.0.0.3", server->port(), "GET", "/api/info");
    ASSERT_TRUE(newcomer);
    EXPECT_EQ(newcomer->status, 200);
    EXPECT_TRUE(chunk.closedByServer());
    ASSERT_TRUE(test::waitFor([&] { return server->openConnections() == 1; }));
    const auto status = test::httpRequestFrom("127.0.0.2", server->port(), "GET", upload);
    ASSERT_TRUE(status);
    EXPECT_EQ(nlohmann::json::parse(status->body)["received"], nlohmann::json::array());
    ASSERT_TRUE(text.send(std::string(10000, 'y')));
    const auto finished = text.readReply();
    ASSERT_TRUE(finished);
    EXPECT_EQ(finished->status, 404);
}

TEST_F(ServerLimits, AnOversizedBodyMeetsTheGatesBeforeItsAnswer) {
    // A page of another origin sending a long text got 413, which told it the route took
    // texts, instead of the origin gate's refusal.
    start(ServerOptions{});
    const struct { std::string target, headers; int status; std::string body; } cases[] = {
        {"/api/text", "Host: 127.0.0.1:8899\r\nOrigin: http://192.168.1.7:8899\r\n", 403, R"({"error":"跨设备访问需要令牌"})"},
        {"/api/text", "Host: evil.example:8899\r\n", 403, R"({"error":"host not allowed"})"},
        {"/api/text?token=tok", "Host: 127.0.0.1:8899\r\nOrigin: http://192.168.1.7:8899\r\n", 413,
         R"({"error":"文字过长，请改为发送文件"})"},
    };
    for (const auto& c : cases) {
        // Only the head is sent: the answer comes before any byte of the body.
        test::RawClient client(server->port());
        ASSERT_TRUE(client.send("POST " + c.target + " HTTP/1.1\r\n" + c.headers + "Content-Length: 30000000\r\n\r\n"));
        const auto reply = client.readReply();
        ASSERT_TRUE(reply) << c.headers;
        EXPECT_EQ(reply->status, c.status) << c.headers;
        EXPECT_EQ(reply->body, c.body) << c.headers;
        ::shutdown(client.fd(), SHUT_WR);
        EXPECT_TRUE(client.closedByServer()) << c.headers;
    }
}

TEST_F(ServerLimits, ABodyFallingBehindItsPaceIsCutAndLeavesNothing) {
    // 256 connections sending bodies a byte every 15 s held every slot.
    ServerOptions options;
    options.bodyGrace = 200ms;
    options.bodyMinRate = 1000;
    options.idleTimeout = 30s;
    start(options);
    const std::string upload = "/api/upload/00112233aabbccdd";
    const std::string chunkHead = "PUT " + upload + "/0 HTTP/1.1\r\nContent-Length: 100000\r\n\r\n";
    const std::string textHead = "POST /api/text HTTP/1.1\r\nContent-Length: 100000\r\n\r\n";
    for (const std::string& head : {textHead, chunkHead}) {
        test::RawClient slow(server->port());
        ASSERT_TRUE(slow.send(head + "{\"text\":\""));
        EXPECT_TRUE(slow.closedByServer()) << head;
    }
    // Nothing of the cut chunk stays in its part folder: no chunk, no temporary file.
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(box / "recv" / ".parts" / "00112233aabbccdd", ec)) {
        const std::string name = entry.path().filename().string();
        EXPECT_TRUE(name == "owner" || name == "meta.json") << name;
    }
    // A body that keeps its pace is read whole.
    test::RawClient quick(server->port());
    ASSERT_TRUE(quick.send(chunkHead + std::string(100000, 'q')));
    const auto stored = quick.readReply();
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->status, 200);
}

TEST_F(ServerLimits, AFullServerClosesItsLongestIdleConnectionForANewcomer) {
    // 1,000 idle keep-alive connections once kept a new client waiting 120 s.
    ServerOptions options;
    options.maxConnections = 3;
    // With the clock standing still a connection's rate is the bytes it moved over the
    // shortest span counted (0.1 s): the bodies below, 150 KB in, count as moving fast.
    options.clock = [] { return 1.7e9; };
    start(options);
    const std::string info = "GET /api/info HTTP/1.1\r\n\r\n";
    const std::string fastBody = post(200000) + std::string(150000, 'f');
    test::RawClient oldest(server->port());
    ASSERT_TRUE(oldest.send(info) && oldest.readReply());
    ASSERT_TRUE(test::waitFor([&] { return server->idleConnections() == 1; }));
    test::RawClient idle(server->port());
    ASSERT_TRUE(idle.send(info) && idle.readReply());
    test::RawClient busy(server->port());
    ASSERT_TRUE(busy.send(fastBody));  // in the middle of a request
    ASSERT_TRUE(test::waitFor([&] { return server->idleConnections() == 2 && server->bodyBytesHeld() == 150000; }));

    test::RawClient first(server->port());
    ASSERT_TRUE(first.send(info));
    const auto answered = first.readReply();
    ASSERT_TRUE(answered);
    EXPECT_EQ(answered->status, 200);
    EXPECT_TRUE(oldest.closedByServer());

    // The next newcomer takes the other idle one's slot; then only requests in hand are
    // left, each moving fast, and a newcomer is turned away.
    ASSERT_TRUE(test::waitFor([&] { return server->idleConnections() == 2; }));
    test::RawClient second(server->port());
    ASSERT_TRUE(second.send(info) && second.readReply());
    EXPECT_TRUE(idle.closedByServer());
    ASSERT_TRUE(second.send(fastBody));
    ASSERT_TRUE(first.send(fastBody));
    ASSERT_TRUE(test::waitFor([&] { return server->bodyBytesHeld() == 3 * 150000; }));
    test::RawClient refused(server->port());
    refused.send(info);
    EXPECT_TRUE(test::toldBusy(refused));

    ASSERT_TRUE(busy.send(std::string(50000, 'g')));
    const auto finished = busy.readReply();
    ASSERT_TRUE(finished);
    EXPECT_EQ(finished->status, 404);
}

TEST_F(ServerLimits, ARequestWaitingUnreadKeepsItsConnectionFromANewcomer) {
    // A kept-alive connection whose next request had come before its thread was back to
    // read it counted as idle: a newcomer closed it, and the Uploader's request failed.
    const std::string info = "GET /api/info HTTP/1.1\r\n\r\n";
    // The held connection's request moves more bytes than the other's half body.
    const std::string padded = "GET /api/info HTTP/1.1\r\nX-Pad: " + std::string(200, 'p') + "\r\n\r\n";
    const struct {
        const char* name;
        int heldWait;       // 1: a brand-new connection; 2: one kept alive after a request
        bool otherIdle;     // the other slot waits idle (else it is in the middle of a body)
        const char* newcomer;
    } cases[] = {
        {"kept alive, the other idle: the newcomer takes the other's slot", 2, true, "127.0.0.4"},
        {"brand new, the other busy and slower: the newcomer takes the other's slot", 1, false, "127.0.0.3"},
    };
    for (const auto& c : cases) {
        auto gate = std::make_shared<IdleGate>();
        ServerOptions options;
        options.maxConnections = 2;
        options.onIdle = [gate](const std::string& address) { gate->pass(address); };
        options.clock = [] { return 1.7e9; };  // rates count the bytes moved
        start(options);
        gate->hold("127.0.0.2", c.heldWait);
        test::RawClient other(server->port(), "127.0.0.3");
        if (!c.otherIdle) {
            ASSERT_TRUE(other.send(post(10) + "half")) << c.name;
            ASSERT_TRUE(test::waitFor([&] { return server->bodyBytesHeld() == 4; })) << c.name;
        }
        test::RawClient waiting(server->port(), "127.0.0.2");
        if (c.heldWait == 2) {
            ASSERT_TRUE(waiting.send(info) && waiting.readReply()) << c.name;
        }
        ASSERT_TRUE(test::waitFor([&] { return gate->holding(); })) << c.name;
        if (c.otherIdle) {
            // The other waits idle for less time than the held connection.
            ASSERT_TRUE(other.send(info) && other.readReply()) << c.name;
            ASSERT_TRUE(test::waitFor([&] { return server->idleConnections() == 2; })) << c.name;
        }
        ASSERT_TRUE(waiting.send(padded)) << c.name;
        ASSERT_TRUE(test::waitFor([&] { return waiting.allReceived(); })) << c.name;

        test::RawClient newcomer(server->port(), c.newcomer);
        ASSERT_TRUE(newcomer.send(info)) << c.name;
        const auto answered = newcomer.readReply();
        ASSERT_TRUE(answered) << c.name;
        EXPECT_EQ(answered->status, 200) << c.name;
        EXPECT_TRUE(other.closedByServer()) << c.name;
        gate->release();
        const auto reply = waiting.readReply();
        ASSERT_TRUE(reply) << c.name;
        EXPECT_EQ(reply->status, 200) << c.name;
    }
}

TEST_F(ServerLimits, ARequestArrivingAsItsIdleConnectionIsChosenKeepsIt) {
    // A request whose first bytes came after the accept thread had looked at its idle
    // connection, and before it marked it closed, was cut unanswered.
    const std::string info = "GET /api/info HTTP/1.1\r\n\r\n";
    auto gate = std::make_shared<IdleGate>();
    std::unique_ptr<test::RawClient> kept;
    ServerOptions options;
    options.maxConnections = 2;
    options.onIdle = [gate](const std::string& address) { gate->pass(address); };
    options.clock = [] { return 1.7e9; };  // rates count the bytes moved
    // The kept connection's next request arrives just as the accept thread has chosen it.
    options.onIdleChosen = [&](const std::string&) {
        ASSERT_TRUE(kept->send(info));
        ASSERT_TRUE(test::waitFor([&] { return kept->allReceived(); }));
    };
    start(options);
    // The other slot is in the middle of a body, having moved fewer bytes than the kept
    // connection's request and reply.
    test::RawClient other(server->port(), "127.0.0.3");
    ASSERT_TRUE(other.send(post(10) + "half"));
    ASSERT_TRUE(test::waitFor([&] { return server->bodyBytesHeld() == 4; }));
    gate->hold("127.0.0.2", 2);  // its serving thread waits before it looks for bytes
    kept = std::make_unique<test::RawClient>(server->port(), "127.0.0.2");
    ASSERT_TRUE(kept->send(info) && kept->readReply());
    ASSERT_TRUE(test::waitFor([&] { return gate->holding(); }));

    // The kept connection, no longer idle, is not closed: the slower one is.
    test::RawClient newcomer(server->port(), "127.0.0.4");
    ASSERT_TRUE(newcomer.send(info));
    const auto answered = newcomer.readReply();
    ASSERT_TRUE(answered);
    EXPECT_EQ(answered->status, 200);
    EXPECT_TRUE(other.closedByServer());
    gate->release();
    const auto reply = kept->readReply();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 200);
}

TEST_F(ServerLimits, AFullServerClosesForANewcomerTheSlowestConnectionAnywhereNeverAFastOneOfAFewHeld) {
    // 256 bodies kept at 600 B/s from 8 addresses left a ninth reset every time; then
    // newcomers closed the most recently opened connection, a sender's resend included;
    // then only a connection of the addresses holding the most, so that an address holding
    // two fast ones shielded every slow one; then the address holding the most gave its
    // least-progressing connection first, so that a device sending two files lost them to
    // newcomers while slow single holders stayed.
    ServerOptions options;
    options.maxConnections = 5;
    // With the clock standing still a connection's rate is the bytes it moved over the
    // shortest span counted (0.1 s), so 100 KB count as 1 MB/s, whatever the load.
    options.clock = [] { return 1.7e9; };
    start(options);
    // Each connection stands in the middle of a body, `sent` bytes of it in; the bytes held
    // tell which connections the server still reads from.
    struct Held {
        std::unique_ptr<test::RawClient> client;
        int64_t sent;
    };
    std::deque<Held> open;  // references to its elements stay valid as it grows
    int64_t held = 0;
    const int64_t announced = 400000;
    const auto holdBody = [&](const char* address, int64_t sent) {
        open.push_back({std::make_unique<test::RawClient>(server->port(), address), sent});
        EXPECT_TRUE(open.back().client->send(post(size_t(announced)) + std::string(size_t(sent), 'x')));
        held += sent;
    };
    const auto heldAsExpected = [&] { return test::waitFor([&] { return server->bodyBytesHeld() == held; }); };
    for (const auto& [address, sent] : std::vector<std::pair<const char*, int64_t>>{
             {"127.0.0.2", 300}, {"127.0.0.2", 40}, {"127.0.0.2", 200000}, {"127.0.0.3", 10}, {"127.0.0.4", 40}}) {
        holdBody(address, sent);
        ASSERT_TRUE(heldAsExpected());
    }
    ASSERT_EQ(server->idleConnections(), 0);

    // The connection that moved the fewest below 64 KB/s goes, wherever it is, whatever
    // its address holds; of those alike, the most recently opened. The fast one stays.
    // (A newcomer sends other than the one it closes, so the bytes held tell that it is served.)
    const struct { const char* newcomer; int64_t sent; size_t closed; } turns[] = {
        {"127.0.0.5", 40, 3},  // the 10 of .3, though .2 holds three
        {"127.0.0.6", 45, 5},  // of the 40s, .5's, opened last
        {"127.0.0.6", 50, 4},  // of the 40s left, .4's
    };
    for (const auto& turn : turns) {
        holdBody(turn.newcomer, turn.sent);
        Held& closed = open[turn.closed];
        EXPECT_TRUE(closed.client->closedByServer()) << turn.newcomer << " " << turn.sent;
        held -= closed.sent;
        ASSERT_TRUE(heldAsExpected()) << turn.newcomer << " " << turn.sent;
    }
    for (size_t survivor : {0, 1, 2, 6, 7}) {
        Held& s = open[survivor];
        ASSERT_TRUE(s.client->send(std::string(size_t(announced - s.sent), 'y')));
        const auto reply = s.client->readReply();
        ASSERT_TRUE(reply) << survivor;
        EXPECT_EQ(reply->status, 404) << survivor;
    }
}

TEST_F(ServerLimits, AConnectionClosedForANewcomerHoldsItsSlotUntilItsThreadLetsGo) {
    // A connection closed for a newcomer stopped counting at once, while its handler,
    // not touching the socket, kept its thread and descriptor: newcomers could each close
    // one more, past the server's count of threads.
    auto gate = std::make_shared<IdleGate>();
    ServerOptions options;
    options.maxConnections = 2;
    options.clock = [] { return 1.7e9; };  // rates count the bytes moved
    // A streamed row (its body is the handler's to read, so it may be closed) that holds
    // its thread until released, then answers.
    options.addRoutes = [gate](RouteTable& table) {
        const auto held = [gate](Connection& c) {
            gate->pass(c.peerIP);
            sendJSON(c.fd, 200, nlohmann::json::object());
        };
        table.add(RouteStage::peer, Route{{"GET"}, PathTest::exact("/api/held"), held, RouteFacts{.streamed = true}});
    };
    start(options);
    gate->hold("127.0.0.2", 1);
    test::RawClient handled(server->port(), "127.0.0.2");
    ASSERT_TRUE(handled.send("GET /api/held HTTP/1.1\r\n\r\n"));
    ASSERT_TRUE(test::waitFor([&] { return gate->holding(); }));
    // The other slot is in the middle of a body, 10,000 bytes in: above the floor.
    test::RawClient steady(server->port(), "127.0.0.3");
    ASSERT_TRUE(steady.send(post(200000) + std::string(10000, 's')));
    ASSERT_TRUE(test::waitFor([&] { return server->bodyBytesHeld() == 10000; }));

    // The handled connection, the slower, is closed for the newcomer, who waits for its slot.
    const std::string info = "GET /api/info HTTP/1.1\r\n\r\n";
    test::RawClient newcomer(server->port(), "127.0.0.4");
    ASSERT_TRUE(newcomer.send(info));
    EXPECT_TRUE(handled.closedByServer());
    // The newcomer waiting holds the slot closed for it, and the body moves above the
    // floor: the next one is told busy rather than either cut.
    test::RawClient turnedAway(server->port(), "127.0.0.5");
    turnedAway.send(info);
    EXPECT_TRUE(test::toldBusy(turnedAway));
    EXPECT_EQ(server->openConnections(), 2);
    pollfd waiting{newcomer.fd(), POLLIN, 0};
    EXPECT_EQ(::poll(&waiting, 1, 0), 0) << "served before the closed connection's thread let go";

    gate->release();
    const auto answered = newcomer.readReply();
    ASSERT_TRUE(answered);
    EXPECT_EQ(answered->status, 200);
    EXPECT_EQ(server->openConnections(), 2);
    ASSERT_TRUE(steady.send(std::string(190000, 'g')));
    const auto finished = steady.readReply();
    ASSERT_TRUE(finished);
    EXPECT_EQ(finished->status, 404);
}

TEST_F(ServerLimits, AFinishBeingJoinedIsAnsweredWhileNewcomersCloseConnectionsStillReading) {
    // A finish moves no bytes while it joins: on a full server it was the first closed for
    // a newcomer, its reply lost while the file was stored, and the newcomer waited in its
    // slot until the join ended, the slowest, so that every later one was turned away.
    auto gate = std::make_shared<IdleGate>();
    gate->hold("join", 1);
    ServerOptions options;
    options.maxConnections = 4;
    options.clock = [] { return 1.7e9; };  // rates count the bytes moved
    options.onFinishStep = [gate](FinishStep step) {
        if (step == FinishStep::built) gate->pass("join");
    };
    start(options);
    const std::string upload = "/api/upload/0123456789abcdef";
    const int port = server->port();
    ASSERT_EQ(test::httpRequestFrom("127.0.0.2", port, "PUT", upload + "/meta", R"({"name":"a.bin","size":5})")->status, 200);
    ASSERT_EQ(test::httpRequestFrom("127.0.0.2", port, "PUT", upload + "/0", "hello")->status, 200);
    std::vector<std::unique_ptr<test::RawClient>> bodies;
    for (const char* address : {"127.0.0.3", "127.0.0.4", "127.0.0.5"}) {
        bodies.push_back(std::make_unique<test::RawClient>(port, address));
        ASSERT_TRUE(bodies.back()->send(post(400000) + std::string(2000, 'b')));
    }
    ASSERT_TRUE(test::waitFor([&] { return server->bodyBytesHeld() == 6000; }));
    test::RawClient finish(port, "127.0.0.2");
    ASSERT_TRUE(finish.send("POST " + upload + "/finish HTTP/1.1\r\nContent-Length: 2\r\n\r\n{}"));
    ASSERT_TRUE(test::waitFor([&] { return gate->holding(); }));

    // Each newcomer closes a body still being read, never the finish, and is answered.
    std::deque<test::RawClient> newcomers;  // kept open, so that each holds its slot
    for (const char* newcomer : {"127.0.0.6", "127.0.0.7", "127.0.0.8"}) {
        test::RawClient& client = newcomers.emplace_back(port, newcomer);
        ASSERT_TRUE(client.send("GET /api/info HTTP/1.1\r\n\r\n"));
        const auto reply = client.readReply();
        ASSERT_TRUE(reply) << newcomer;
        EXPECT_EQ(reply->status, 200) << newcomer;
    }
    gate->release();
    const auto stored = finish.readReply();
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->status, 200);
    EXPECT_EQ(test::readFile(box / "recv" / "a.bin"), "hello");
    EXPECT_FALSE(std::filesystem::exists(box / "recv" / "a (1).bin"));
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
    EXPECT_TRUE(test::toldBusy(third));
    // Another device is not held back by the first one's connections.
    test::RawClient other(server->port(), "127.0.0.2");
    ASSERT_TRUE(other.send("OPTIONS / HTTP/1.1\r\n\r\n"));
    const auto reply = other.readReply();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 204);
}

}  // namespace
