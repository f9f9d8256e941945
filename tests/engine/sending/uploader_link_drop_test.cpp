// The send queue when the link to its receiver goes down mid-folder (a laptop that slept,
// a cable pulled) for longer than every time-out, then comes back. Each file not yet sent
// went out into the dead link one after another and failed "请求超时。", so that the
// folder never finished by itself once the link was back. Files that find no way to a
// receiver reached before now wait in their places and go once it answers again; only the
// files in flight when the link went fail, and all fail with their reason once the
// receiver has been out of reach longer than the queue waits.

#include <gtest/gtest.h>

#include <algorithm>

#include "engine/sending/uploader.h"
#include "engine/server/http_server.h"
#include "support/holding_relay.h"
#include "support/test_loop.h"
#include "support/test_support.h"

namespace corvane::test {
namespace {

using namespace std::chrono_literals;
using Kind = TransferState::Kind;

constexpr int kFiles = 8;
constexpr int64_t kFileSize = 200000;

class LinkDrop : public ::testing::Test {
protected:
    void SetUp() override {
        ServerOptions options;
        options.firstPort = testPortBase(20);
        options.lastPort = options.firstPort + 19;
        server = std::make_shared<HTTPServer>("dev", "Desk", "", "", sandbox / "recv", options);
        ASSERT_TRUE(server->start());
        relay = std::make_unique<HoldingRelay>(server->port(), "127.0.0.2");
        ASSERT_NE(relay->port(), 0);
        for (int k = 0; k < kFiles; ++k) {
            writeFile(sandbox / "out" / "album" / ("p" + std::to_string(k) + ".jpg"), test::patterned(kFileSize, char(k)));
        }
    }
    void TearDown() override {
        uploader.reset();
        relay.reset();
        if (server) stopAndDrain(*server);
    }

    // Sends the folder through the relay; requests time out after 300 ms to connect and
    // 1 s in all, and a receiver out of reach is tried again 100 ms after each try.
    void send(std::chrono::milliseconds giveUpAfter) {
        UploaderOptions options;
        options.timeouts = RequestTimeouts{300ms, 1000ms};
        options.retryPause = 100ms;
        options.giveUpAfter = giveUpAfter;
        uploader = std::make_unique<Uploader>(loop, TransferClock{}, options);
        uploader->onLog = [this](const std::string& line) { logs.push_back(line); };
        tasks = uploader->expandDirectory(sandbox / "out" / "album", std::nullopt).tasks;
        ASSERT_EQ(tasks.size(), size_t(kFiles));
        uploader->append(tasks);
        uploader->pump(std::nullopt, std::nullopt, "", relay->port());
    }
    // Once two files are stored the link goes down, for as long as the queue takes to open
    // `connections` connections into the silence: each after a request of its timed out.
    void dropLinkOnceTwoAreStored(int connections) {
        ASSERT_TRUE(loop.runUntil([&] { return count(Kind::done) >= 2; }));
        relay->goSilent();
        const int before = relay->connections();
        ASSERT_TRUE(loop.runUntil([&] { return relay->connections() >= before + connections; }, 60s))
            << relay->connections() - before << " connections into the silence";
    }
    bool ended() {
        return loop.runUntil([&] {
            return uploader->activeCount() == 0 &&
                   std::none_of(tasks.begin(), tasks.end(), [](const auto& t) { return t->state.active(); });
        }, 60s);
    }
    int count(Kind kind) const {
        return int(std::count_if(tasks.begin(), tasks.end(), [&](const auto& t) { return t->state.kind == kind; }));
    }
    std::string states() const {
        std::string text;
        for (const auto& t : tasks) text += t->fileName + " " + std::to_string(int(t->state.kind)) + t->state.message + "; ";
        return text;
    }
    bool storedWhole(const TransferTask& task) const {
        return readFile(sandbox / "recv" / "album" / task.fileName) == readFile(task.sourceURL);
    }

    Sandbox sandbox;
    std::shared_ptr<HTTPServer> server;
    std::unique_ptr<HoldingRelay> relay;
    TestLoop loop;
    std::unique_ptr<Uploader> uploader;
    std::vector<std::shared_ptr<TransferTask>> tasks;
    std::vector<std::string> logs;
};

TEST_F(LinkDrop, FilesNotYetSentWaitOutALinkDownLongerThanEveryTimeOutAndGoOnceItIsBack) {
    send(10min);
    // Eight connections: four rounds of time-outs at least, every file's share of them
    // had each file been tried and failed in turn.
    dropLinkOnceTwoAreStored(8);
    EXPECT_LE(count(Kind::failed), 2) << states();
    relay->comeBack();
    ASSERT_TRUE(ended()) << states();

    // Only the files whose requests were under way when the link went may fail, by time-out.
    EXPECT_LE(count(Kind::failed), 2) << states();
    EXPECT_EQ(count(Kind::done) + count(Kind::failed), kFiles) << states();
    for (const auto& task : tasks) {
        if (task->state.kind == Kind::failed) {
            EXPECT_EQ(task->state.message, "请求超时。") << task->fileName;
            continue;
        }
        EXPECT_TRUE(storedWhole(*task)) << task->fileName;
    }
}

TEST_F(LinkDrop, ALinkThatStaysDownFailsEveryFileLeftWithItsReasonOnceTheQueueStopsWaiting) {
    send(1500ms);
    dropLinkOnceTwoAreStored(2);
    ASSERT_TRUE(ended()) << states();
    EXPECT_GE(count(Kind::done), 2);
    EXPECT_EQ(count(Kind::done) + count(Kind::failed), kFiles) << states();
    for (const auto& task : tasks) {
        if (task->state.kind != Kind::failed) continue;
        EXPECT_EQ(task->state.message, "请求超时。") << task->fileName;
        EXPECT_NE(std::find(logs.begin(), logs.end(), "传输失败 " + task->fileName + "：Timeout was reached"), logs.end())
            << task->fileName;
    }
}

}  // namespace
}  // namespace corvane::test
