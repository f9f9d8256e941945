// Bodies the server holds in memory: the memory they hold is what the body budget
// counted, and they must be whole in time. Twelve texts trickled at 600 B/s once held
// 2.5 times the budget, and kept it for as long as they trickled.

#include <gtest/gtest.h>

#include <array>
#include <memory>

#include "engine/held_body.h"
#include "engine/http_server.h"
#include "support/test_support.h"

using namespace corvane;
using namespace std::chrono_literals;

namespace {

class HeldBodies : public ::testing::Test {
protected:
    void start(ServerOptions options) {
        options.firstPort = test::testPortBase(20);
        options.lastPort = options.firstPort + 19;
        server = std::make_shared<HTTPServer>("dev", "Desk", "tok", "", box / "recv", options);
        ASSERT_TRUE(server->start());
    }
    void TearDown() override {
        if (server) test::stopAndDrain(*server);
    }
    // A text's head: the row takes bodies of up to 24 MiB.
    static std::string postText(size_t length) {
        return "POST /api/text HTTP/1.1\r\nContent-Length: " + std::to_string(length) + "\r\n\r\n";
    }
    // Whether the budget and the bodies' memory both come to `expected`.
    bool holds(int64_t expected) {
        return test::waitFor([&] { return server->bodyBytesHeld() == expected && HeldBody::memoryInUse() == expected; });
    }
    std::string heldText() {
        return "budget " + std::to_string(server->bodyBytesHeld()) + ", memory " + std::to_string(HeldBody::memoryInUse());
    }

    test::Sandbox box;
    std::shared_ptr<HTTPServer> server;
};

TEST_F(HeldBodies, TheMemoryABodyHoldsIsWhatTheBudgetCountedAsItsBytesCome) {
    start(ServerOptions{});
    // Three devices' bodies: one trickling, one that leaves the heap for pages of its
    // own, one long; sent piece by piece, then finished or dropped.
    constexpr size_t kAnnounced[] = {100, 400000, 3000000};
    std::array<std::unique_ptr<test::RawClient>, 3> clients;
    std::array<size_t, 3> sent{};
    const char* addresses[] = {"127.0.0.2", "127.0.0.3", "127.0.0.4"};
    for (size_t k = 0; k < clients.size(); ++k) {
        clients[k] = std::make_unique<test::RawClient>(server->port(), addresses[k]);
        ASSERT_TRUE(clients[k]->send(postText(kAnnounced[k])));
    }
    const auto expected = [&] {
        int64_t total = 0;
        for (size_t k = 0; k < clients.size(); ++k) total += clients[k] ? int64_t(HeldBody::memoryFor(sent[k])) : 0;
        return total;
    };
    const struct { size_t client; size_t bytes; } steps[] = {
        {0, 9}, {1, 200000}, {2, 1000000}, {0, 1}, {2, 1234567}, {1, 100000}, {2, 3}, {1, 99999}, {2, 700000},
    };
    for (const auto& step : steps) {
        ASSERT_TRUE(clients[step.client]->send(std::string(step.bytes, 'b')));
        sent[step.client] += step.bytes;
        ASSERT_TRUE(holds(expected())) << "after " << sent[step.client] << " bytes of body " << step.client << ": "
                                       << heldText() << ", expected " << expected();
    }
    // A finished body and a dropped one give back all they held.
    ASSERT_TRUE(clients[0]->send(std::string(kAnnounced[0] - sent[0], 'b')));
    const auto reply = clients[0]->readReply();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 400);  // no JSON
    clients[0].reset();
    ASSERT_TRUE(holds(expected())) << heldText();
    clients[2].reset();
    ASSERT_TRUE(holds(expected())) << heldText();
    clients[1].reset();
    EXPECT_TRUE(holds(0)) << heldText();
}

TEST_F(HeldBodies, ABodyHeldInMemoryIsCutWhenNotWholeInTimeWhileAStreamedOneKeepsItsPace) {
    // The pace alone let 25 MB texts, sent all but their last bytes at once, hold the
    // budget for hours.
    ServerOptions options;
    options.heldBodyLimit = 300ms;
    options.bodyGrace = 60s;  // no body here falls behind its pace
    options.idleTimeout = 60s;
    start(options);
    // The chunk's body goes to disk, so the limit of bodies held in memory is not its.
    const std::string upload = "/api/upload/00112233aabbccdd";
    test::RawClient chunk(server->port());
    ASSERT_TRUE(chunk.send("PUT " + upload + "/0 HTTP/1.1\r\nContent-Length: 100000\r\n\r\n" + std::string(500, 'c')));
    ASSERT_TRUE(test::waitFor([&] {
        const auto status = test::httpRequestFrom("127.0.0.1", server->port(), "GET", upload);
        return status && nlohmann::json::parse(status->body, nullptr, false).value("exists", false);
    }));

    // Begun after the chunk: once it is cut, the chunk has outlived the limit too.
    test::RawClient text(server->port(), "127.0.0.2");
    ASSERT_TRUE(text.send(postText(100000) + "{\"text\":\"" + std::string(500, 't')));
    EXPECT_TRUE(text.closedByServer()) << "a body held in memory outlived its limit";
    EXPECT_TRUE(test::waitFor([&] { return server->bodyBytesHeld() == 0 && HeldBody::memoryInUse() == 0; }))
        << heldText();

    ASSERT_TRUE(chunk.send(std::string(100000 - 500, 'c')));
    const auto stored = chunk.readReply();
    ASSERT_TRUE(stored) << "the streamed chunk was cut";
    EXPECT_EQ(stored->status, 200);
}

}  // namespace
