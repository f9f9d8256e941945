// Bodies the server holds in memory: the memory they hold is what the body budget
// counted, and they keep the pace streamed bodies keep. Twelve texts trickled at 600 B/s
// once held 2.5 times the budget.

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <filesystem>
#include <memory>

#include "engine/server/held_body.h"
#include "engine/server/http_server.h"
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
    // Whether the folder holds a file of `size` bytes.
    static bool fileOf(const std::filesystem::path& folder, uintmax_t size) {
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
            if (entry.is_regular_file(ec) && entry.file_size(ec) == size) return true;
        }
        return false;
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

TEST_F(HeldBodies, ABodyKeepingItsPaceIsNeverCutForTimeHeldInMemoryOrStreamed) {
    // A 4 MiB text at 50 KB/s was closed a minute after its head, unanswered, while a
    // streamed body at that pace went on. The pace here is the shipped one (t seconds after
    // its head a body has sent 500 × (t − 20) bytes), on a clock the test moves.
    const auto seconds = std::make_shared<std::atomic<int>>(0);
    const auto epoch = std::chrono::steady_clock::now();
    ServerOptions options;
    options.bodyClock = [seconds, epoch] { return epoch + std::chrono::seconds(seconds->load()); };
    start(options);
    constexpr size_t kLength = 40000;
    const std::string textHead = postText(kLength) + "{\"text\":\"";
    const std::string bodies[] = {textHead, "PUT /api/upload/00112233aabbccdd/0 HTTP/1.1\r\nContent-Length: 40000\r\n\r\n",
                                  textHead, "PUT /api/upload/8899aabbccddeeff/0 HTTP/1.1\r\nContent-Length: 40000\r\n\r\n"};
    // Held in memory, streamed to disk; each steady, then each falling behind.
    std::vector<std::unique_ptr<test::RawClient>> clients;
    std::vector<size_t> sent;
    for (size_t k = 0; k < 4; ++k) {
        clients.push_back(std::make_unique<test::RawClient>(server->port(), "127.0.0." + std::to_string(2 + k)));
        ASSERT_TRUE(clients[k]->send(bodies[k]));
        sent.push_back(bodies[k].size() - bodies[k].find("\r\n\r\n") - 4);
    }
    const auto sendUpTo = [&](size_t k, size_t total) {
        const size_t last = total == kLength && k % 2 == 0 ? 2 : 0;  // a text ends its JSON
        ASSERT_TRUE(clients[k]->send(std::string(total - sent[k] - last, 'x') + std::string(last ? "\"}" : "")));
        sent[k] = total;
    };
    // The held text's bytes are read at each step's second (the budget shows them) or
    // later; the streamed chunk's maybe later too, so each step keeps the pace of the next.
    const struct { int at; size_t total; } steady[] = {{0, 12000}, {40, 22000}, {61, 29000}, {75, 36000}, {90, kLength}};
    for (const auto& step : steady) {
        *seconds = step.at;
        for (size_t k : {0, 1}) sendUpTo(k, step.total);
        if (step.at == 0) {
            for (size_t k : {2, 3}) sendUpTo(k, step.total);
            // The chunk's pace begins before its bytes reach its file.
            ASSERT_TRUE(test::waitFor([&] { return fileOf(box / "recv" / ".parts" / "8899aabbccddeeff", 12000); }));
        }
        if (step.total < kLength) {
            ASSERT_TRUE(holds(int64_t(step.total) + 12000)) << "at " << step.at << " s: " << heldText();
        }
    }
    for (size_t k : {0, 1}) {
        const auto reply = clients[k]->readReply();
        ASSERT_TRUE(reply) << "a steady body was cut: " << bodies[k];
        EXPECT_EQ(reply->status, 200) << bodies[k];
    }
    // Behind the pace (12,001 bytes where 90,000 were due), each is cut at its next byte.
    *seconds = 200;
    for (size_t k : {2, 3}) {
        sendUpTo(k, 12001);
        EXPECT_TRUE(clients[k]->closedByServer()) << bodies[k];
    }
    EXPECT_TRUE(holds(0)) << heldText();
}

}  // namespace
