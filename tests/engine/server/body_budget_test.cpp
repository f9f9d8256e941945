// Who gets the memory for bodies when the budget is full. Four addresses holding texts of
// 16 MB once kept every newcomer's text, chat and sign-in answered "busy".

#include <gtest/gtest.h>

#include <atomic>
#include <deque>
#include <memory>
#include <sys/socket.h>

#include "engine/server/http_server.h"
#include "support/test_support.h"

using namespace corvane;

namespace {

class BodyShares : public ::testing::Test {
protected:
    void SetUp() override {
        ServerOptions options;
        options.firstPort = test::testPortBase(20);
        options.lastPort = options.firstPort + 19;
        // 4 MiB unless a test says otherwise: 256 KiB kept for small bodies, a quarter
        // (1 MiB) per address.
        options.bodyBudget = budget;
        // How fast a body moves is read on this clock: bodies that came at one second and
        // are looked at 1.5 s later, younger than the rate's window, move at their
        // bytes / 1.5 s.
        options.clock = [seconds = seconds_] { return seconds->load(); };
        server = std::make_shared<HTTPServer>("dev", "Desk", "tok", "", box / "recv", options);
        ASSERT_TRUE(server->start());
    }
    void TearDown() override {
        if (server) test::stopAndDrain(*server);
    }

    struct Body {
        std::unique_ptr<test::RawClient> client;
        size_t length;
        size_t sent;
    };
    // A text of `length` bytes from the address, `sent` of them sent.
    Body& hold(const std::string& address, size_t length, size_t sent) {
        bodies.push_back({std::make_unique<test::RawClient>(server->port(), address), length, sent});
        const std::string head = "POST /api/text HTTP/1.1\r\nContent-Length: " + std::to_string(length) + "\r\n\r\n";
        EXPECT_TRUE(bodies.back().client->send(head + "{\"text\":\"" + std::string(sent - 9, 'x')));
        return bodies.back();
    }
    // Sends the rest of the text; its reply's status (0: none).
    static int finish(Body& body) {
        if (!body.client->send(std::string(body.length - body.sent - 2, 'x') + "\"}")) return 0;
        const auto reply = body.client->readReply();
        return reply ? reply->status : 0;
    }
    bool holds(int64_t bytes) {
        return test::waitFor([&] { return server->bodyBytesHeld() == bytes; });
    }

    int64_t budget = 4 << 20;  // set by a test's fixture before SetUp
    std::shared_ptr<std::atomic<double>> seconds_ = std::make_shared<std::atomic<double>>(1000);
    test::Sandbox box;
    std::shared_ptr<HTTPServer> server;
    std::deque<Body> bodies;  // references to its elements stay valid as it grows
};

TEST_F(BodyShares, SmallBodiesAlwaysFindRoomAndANewcomerCutsTheSlowestBodyOfTheAddressesHoldingTheMost) {
    // 4 addresses × 4 texts hold 3,782,000 of the 3,932,160 bytes larger bodies may take.
    const struct { const char* address; size_t sent[4]; } holders[] = {
        {"127.0.0.2", {245000, 215000, 260000, 262000}},  // the most: 982,000
        {"127.0.0.3", {240000, 240000, 240000, 180000}},  // the slowest body of all
        {"127.0.0.4", {240000, 240000, 230000, 250000}},
        {"127.0.0.5", {235000, 235000, 235000, 235000}},
    };
    int64_t held = 0;
    for (const auto& holder : holders) {
        for (size_t sent : holder.sent) {
            hold(holder.address, 300000, sent);
            held += int64_t(sent);
        }
    }
    ASSERT_TRUE(holds(held)) << server->bodyBytesHeld();
    *seconds_ = 1001.5;

    // Each newcomer's text makes room for all it announced (300,000) by cutting the slowest
    // body of the addresses holding the most bodies, however many bytes they hold.
    const struct { const char* newcomer; std::vector<size_t> cut; } turns[] = {
        {"127.0.0.6", {7}},      // all hold four: .3's 180,000, though .2 holds the most bytes
        {"127.0.0.7", {1, 10}},  // .3 holds three: .2's 215,000, then .4's 230,000
    };
    for (const auto& turn : turns) {
        hold(turn.newcomer, 300000, 262144);
        held += 262144;
        for (size_t k : turn.cut) {
            Body& cut = bodies[k];
            EXPECT_TRUE(cut.client->closedByServer()) << turn.newcomer << " " << k;
            held -= int64_t(cut.sent);
        }
        ASSERT_TRUE(holds(held)) << turn.newcomer << ": " << server->bodyBytesHeld() << " held";
    }

    // An address that would hold as many as the most once admitted finds no room, and none
    // taken from the small bodies'.
    Body& beyond = hold("127.0.0.2", 300000, 262144);
    const auto busy = beyond.client->readReply();
    ASSERT_TRUE(busy);
    EXPECT_EQ(busy->status, 503);
    ::shutdown(beyond.client->fd(), SHUT_WR);
    EXPECT_TRUE(beyond.client->closedByServer());
    ASSERT_TRUE(holds(held)) << server->bodyBytesHeld();

    // Small bodies (sign-in, chat, a short text) find room, three of 64 KiB held at once.
    std::vector<Body*> small;
    for (const char* address : {"127.0.0.8", "127.0.0.9", "127.0.0.10"}) {
        small.push_back(&hold(address, 65536, 65533));
        held += 65533;
    }
    ASSERT_TRUE(holds(held)) << server->bodyBytesHeld();
    for (const auto& [target, body] : std::vector<std::pair<std::string, std::string>>{
             {"/api/text", R"({"text":"hello"})"}, {"/api/chat", R"({"text":"hi"})"}}) {
        const auto reply = test::httpRequestFrom("127.0.0.11", server->port(), "POST", target, body);
        ASSERT_TRUE(reply) << target;
        EXPECT_EQ(reply->status, 200) << target;
    }
    for (Body* body : small) EXPECT_EQ(finish(*body), 200);
    // The newcomers' texts are answered.
    EXPECT_EQ(finish(bodies[16]), 200);
    EXPECT_EQ(finish(bodies[17]), 200);
}

TEST_F(BodyShares, OfAddressesHoldingAlikeTheSlowestBodyGoesHoweverManyBytesTheFastOnesHold) {
    // Three addresses have held their texts for a second and a half; the one that will
    // hold the most sends its four at once, now, so they move at megabytes a second.
    const struct { const char* address; size_t sent; } slow[] = {
        {"127.0.0.3", 240000}, {"127.0.0.3", 240000}, {"127.0.0.3", 240000}, {"127.0.0.3", 200000},
        {"127.0.0.4", 225000}, {"127.0.0.4", 225000}, {"127.0.0.4", 225000}, {"127.0.0.4", 225000},
        {"127.0.0.5", 220000}, {"127.0.0.5", 220000}, {"127.0.0.5", 220000}, {"127.0.0.5", 220000},
    };
    int64_t held = 0;
    for (const auto& body : slow) {
        hold(body.address, 300000, body.sent);
        held += int64_t(body.sent);
    }
    ASSERT_TRUE(holds(held)) << server->bodyBytesHeld();
    *seconds_ = 1001.5;
    for (int k = 0; k < 4; ++k) hold("127.0.0.2", 300000, 245000);
    held += 4 * 245000;
    ASSERT_TRUE(holds(held)) << server->bodyBytesHeld();

    // .2 holds the most bytes (980,000) but moves fast: of the four bodies each address
    // holds, .3's slowest goes.
    hold("127.0.0.6", 300000, 262144);
    EXPECT_TRUE(bodies[3].client->closedByServer());
    held += 262144 - 200000;
    ASSERT_TRUE(holds(held)) << server->bodyBytesHeld();
    // Each finished text lets go of its memory once answered; the next waits for that.
    for (size_t k = 12; k < 16; ++k) {
        EXPECT_EQ(finish(bodies[k]), 200) << k;
        held -= 245000;
        ASSERT_TRUE(holds(held)) << k << ": " << server->bodyBytesHeld();
    }
}

TEST_F(BodyShares, TheSmallBodiesRoomTakesBodiesOfUpTo64KiBWhenTheSharedRoomIsFull) {
    // Four addresses fill the larger bodies' room exactly, each at its fair share.
    int64_t held = 0;
    for (const char* address : {"127.0.0.2", "127.0.0.3", "127.0.0.4", "127.0.0.5"}) {
        for (int k = 0; k < 4; ++k) hold(address, 300000, 245760);
        held += 4 * 245760;
    }
    ASSERT_TRUE(holds(held)) << server->bodyBytesHeld();
    *seconds_ = 1001.5;
    // One byte past 64 KiB is a larger body: none of the room kept for small ones, and its
    // address may cut nothing, every body moving above the floor.
    Body& larger = hold("127.0.0.2", 65537, 65535);
    const auto busy = larger.client->readReply();
    ASSERT_TRUE(busy);
    EXPECT_EQ(busy->status, 503);
    Body& small = hold("127.0.0.2", 65536, 65534);
    ASSERT_TRUE(holds(held + 65534)) << server->bodyBytesHeld();
    EXPECT_EQ(finish(small), 200);
}

// A budget where a body can burst past 1 MB/s for seconds: 16 MiB, a quarter per address.
class BurstBodies : public BodyShares {
protected:
    BurstBodies() { budget = 16 << 20; }
};

TEST_F(BurstBodies, ABodyThatBurstAndStalledIsCutForANewcomerOneStillMovingIsNot) {
    // Bodies that came whole within a second and stalled were weighed over their lives:
    // 3.5 MB over 2.5 s is fast, so none could be cut, and the newcomer got 503 for about
    // as many seconds as each had megabytes. (Sizes in whole pages: a large body holds
    // whole pages of memory.)
    const int64_t burst = 855 * 4096;
    int64_t held = 0;
    // One after another, so that of the bodies alike the first held is the first listed.
    for (const char* address : {"127.0.0.2", "127.0.0.3", "127.0.0.4", "127.0.0.5"}) {
        hold(address, 4000000, size_t(burst));
        held += burst;
        ASSERT_TRUE(holds(held)) << address << ": " << server->bodyBytesHeld();
    }
    // .2 goes on sending, 100 KB a second, and holds the most; the others stall.
    for (const double at : {1001.5, 1002.5}) {
        *seconds_ = at;
        ASSERT_TRUE(bodies[0].client->send(std::string(102400, 'm')));
        bodies[0].sent += 102400;
        held += 102400;
        ASSERT_TRUE(holds(held)) << server->bodyBytesHeld();
    }
    // .2 moved 3.7 MB over the last 2.5 s and stays; the slowest of the next address goes.
    const int64_t newcomer = 733 * 4096;
    hold("127.0.0.6", 4000000, size_t(newcomer));
    EXPECT_TRUE(bodies[1].client->closedByServer());
    held += newcomer - burst;
    ASSERT_TRUE(holds(held)) << server->bodyBytesHeld();
    EXPECT_EQ(finish(bodies[0]), 200);
}

}  // namespace

namespace {

TEST_F(BodyShares, TheRoomCutForABodyStaysItsOwnUntilItHasTakenItAll) {
    // The room made for a body's rest was promised only until its first piece came: a
    // body from another address then took it, and the first body, finding nothing left to
    // cut, was told busy halfway.
    int64_t held = 0;
    for (const char* address : {"127.0.0.2", "127.0.0.3", "127.0.0.4"}) {
        hold(address, 1040000, 999424);  // fast, one body each: never cut
        held += 999424;
    }
    const size_t slowFrom = bodies.size();
    for (const char* address : {"127.0.0.5", "127.0.0.6", "127.0.0.7", "127.0.0.8"}) {
        for (int k = 0; k < 2; ++k) hold(address, 200000, 96000);  // below the floor
        held += 2 * 96000;
    }
    ASSERT_TRUE(holds(held)) << server->bodyBytesHeld();
    *seconds_ = 1001.5;
    // Its first piece finds no room: every slow body is cut for the rest of it.
    Body& promised = hold("127.0.0.9", 900000, 262144);
    for (size_t k = slowFrom; k < slowFrom + 8; ++k) EXPECT_TRUE(bodies[k].client->closedByServer()) << k;
    ASSERT_TRUE(holds(3 * 999424 + 262144)) << server->bodyBytesHeld();
    // A body moving fast from another address finds the rest promised.
    Body& intruder = hold("127.0.0.10", 400000, 300000);
    const auto busy = intruder.client->readReply();
    EXPECT_EQ(busy ? busy->status : 0, 503);
    EXPECT_EQ(finish(promised), 200);
}

}  // namespace
