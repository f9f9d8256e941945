// The send queue when the link to its receiver goes down mid-folder (a laptop that slept,
// a cable pulled) for longer than every time-out, then comes back. Each file not yet sent
// went out into the dead link one after another and failed "请求超时。", so that the
// folder never finished by itself once the link was back; later the files in flight when
// the link went still failed "请求超时。" and were never tried again. Files that find no
// way to a receiver reached before, in flight or not, now wait in their places, marked as
// waiting for it, and go once it answers again (a file cut mid-send resuming from the
// chunks the receiver holds); all fail with their reason once the receiver has been out
// of reach longer than the queue waits.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <iterator>
#include <latch>

#include "engine/sending/file_id.h"
#include "engine/sending/uploader.h"
#include "engine/server/http_server.h"
#include "support/holding_relay.h"
#include "support/test_loop.h"
#include "support/test_support.h"

namespace corvane::test {
namespace {

namespace fs = std::filesystem;

using namespace std::chrono_literals;
using Kind = TransferState::Kind;

constexpr int kFiles = 8;
constexpr int64_t kFileSize = 200000;

// Holds the first finish that stores a file once it is stored, before its reply, until opened.
struct FinishGate {
    std::atomic<bool> armed{false}, holding{false}, opened{false};
    std::latch open{1};
    void pass(FinishStep step) {
        if (armed && step == FinishStep::setAside && !holding.exchange(true)) open.wait();
    }
    void release() {
        if (!opened.exchange(true)) open.count_down();
    }
};

class LinkDrop : public ::testing::Test {
protected:
    void SetUp() override {
        ServerOptions options;
        options.firstPort = testPortBase(20);
        options.lastPort = options.firstPort + 19;
        options.onFinishStep = [gate = gate](FinishStep step) { gate->pass(step); };
        server = std::make_shared<HTTPServer>("dev", "Desk", "", "", sandbox / "recv", options);
        ASSERT_TRUE(server->start());
        relay = std::make_unique<HoldingRelay>(server->port(), "127.0.0.2");
        ASSERT_NE(relay->port(), 0);
        for (int k = 0; k < kFiles; ++k) {
            writeFile(sandbox / "out" / "album" / ("p" + std::to_string(k) + ".jpg"), test::patterned(kFileSize, char(k)));
        }
    }
    void TearDown() override {
        gate->release();
        uploader.reset();
        relay.reset();
        if (server) stopAndDrain(*server);
    }

    // Sends the folder through the relay; requests time out after 300 ms to connect and
    // 1 s in all, and a receiver out of reach is tried again 100 ms after each try.
    void send(std::chrono::milliseconds giveUpAfter, const std::string& folder = "album",
              std::chrono::milliseconds requestTime = 1000ms) {
        UploaderOptions options;
        options.timeouts = RequestTimeouts{300ms, requestTime};
        options.retryPause = 100ms;
        options.giveUpAfter = giveUpAfter;
        uploader = std::make_unique<Uploader>(loop, TransferClock{}, options);
        uploader->onLog = [this](const std::string& line) { logs.push_back(line); };
        tasks = uploader->expandDirectory(sandbox / "out" / folder, std::nullopt).tasks;
        ASSERT_FALSE(tasks.empty());
        uploader->append(tasks);
        uploader->pump(std::nullopt, std::nullopt, "", relay->port());
    }
    std::string idOf(const TransferTask& t) const {
        return FileID::hash(t.fileName, t.totalSize, Uploader::fileMTime(t.sourceURL), t.relPath);
    }
    // Every waiting task is marked as waiting for its receiver (at least `atLeast` of them).
    bool allWaitingMarked(int atLeast) const {
        int marked = 0;
        for (const auto& t : tasks) {
            if (t->state.kind != Kind::waiting) continue;
            if (!t->receiverOutOfReach) return false;
            ++marked;
        }
        return marked >= atLeast;
    }
    int marked() const {
        return int(std::count_if(tasks.begin(), tasks.end(), [](const auto& t) { return t->receiverOutOfReach; }));
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
    bool storedWhole(const TransferTask& task, const std::string& folder = "album") const {
        return readFile(sandbox / "recv" / folder / task.fileName) == readFile(task.sourceURL);
    }
    long filesIn(const std::string& folder) const {
        return long(std::distance(fs::directory_iterator(sandbox / "recv" / folder), fs::directory_iterator{}));
    }
    // The status request of the file, as its request line shows it.
    std::string statusOf(const std::string& folder, const std::string& name) const {
        const fs::path file = sandbox / "out" / folder / name;
        return "/api/upload/" + idOf(TransferTask(name, folder + "/" + name, kFileSize, file, std::nullopt)) + " ";
    }

    Sandbox sandbox;
    std::shared_ptr<FinishGate> gate = std::make_shared<FinishGate>();
    std::shared_ptr<HTTPServer> server;
    std::unique_ptr<HoldingRelay> relay;
    TestLoop loop;
    std::unique_ptr<Uploader> uploader;
    std::vector<std::shared_ptr<TransferTask>> tasks;
    std::vector<std::string> logs;
};

TEST_F(LinkDrop, FilesNotYetSentOrInFlightWaitOutALinkDownLongerThanEveryTimeOutAndGoOnceItIsBack) {
    send(10min);
    // Eight connections: four rounds of time-outs at least, every file's share of them
    // had each file been tried and failed in turn.
    dropLinkOnceTwoAreStored(8);
    EXPECT_EQ(count(Kind::failed), 0) << states();
    // The files in flight came back to wait too: all but the two stored (and two being tried) wait, marked.
    EXPECT_TRUE(loop.runUntil([&] { return allWaitingMarked(kFiles - 4); })) << states();
    relay->comeBack();
    ASSERT_TRUE(ended()) << states();

    EXPECT_EQ(count(Kind::done), kFiles) << states();
    EXPECT_EQ(marked(), 0) << states();
    for (const auto& task : tasks) EXPECT_TRUE(storedWhole(*task)) << task->fileName;
}

TEST_F(LinkDrop, AFileCutMidSendWaitsAndResumesFromTheChunksTheReceiverHolds) {
    const int64_t size = 3 * kChunkSize + 1000;  // four chunks
    writeFile(sandbox / "out" / "big" / "big.bin", test::patterned(size, 7));
    relay->hold("/api/upload/" + idOf(TransferTask("big.bin", "big/big.bin", size, sandbox / "out" / "big" / "big.bin",
                                                   std::nullopt)) + "/2 ", 1000);
    send(10min, "big", 2000ms);
    ASSERT_EQ(tasks.size(), 1u);
    const std::string chunk2 = "/api/upload/" + idOf(*tasks[0]) + "/2 ";
    ASSERT_TRUE(loop.runUntil([&] { return relay->holding(chunk2); })) << states();
    relay->goSilent();
    relay->release(chunk2);
    // The chunk times out: the file waits for its receiver, marked, and is tried (and waits) again.
    const int before = relay->connections();
    ASSERT_TRUE(loop.runUntil([&] { return relay->connections() > before && allWaitingMarked(1); }, 30s)) << states();
    relay->comeBack();
    ASSERT_TRUE(ended()) << states();

    EXPECT_EQ(tasks[0]->state.kind, Kind::done) << states();
    // Chunks 0 and 1, and chunk 2 too when its bytes held in the link reached the receiver once it came back.
    EXPECT_GE(tasks[0]->resumedChunks, 2);
    EXPECT_FALSE(tasks[0]->receiverOutOfReach);
    EXPECT_EQ(readFile(sandbox / "recv" / "big" / "big.bin"), readFile(tasks[0]->sourceURL));
    // Requests written ahead into the dead link and delivered once it came back store no second copy.
    EXPECT_EQ(filesIn("big"), 1);
}

TEST_F(LinkDrop, AFileWhoseFinishStoredItWhileItsReplyWasLostIsStoredOnceWhenTriedAgain) {
    writeFile(sandbox / "out" / "one" / "a.jpg", test::patterned(kFileSize, 9));
    // The reply waits until the file ended: its sender times out on it and tries again.
    gate->armed = true;
    send(10min, "one", 500ms);
    ASSERT_TRUE(loop.runUntil([&] { return gate->holding.load(); })) << states();
    ASSERT_TRUE(ended()) << states();
    gate->release();

    EXPECT_EQ(tasks[0]->state.kind, Kind::done) << states();
    EXPECT_TRUE(storedWhole(*tasks[0], "one"));
    EXPECT_EQ(filesIn("one"), 1);
}

TEST_F(LinkDrop, AFileAskedAboutBeforeItsReceiverFirstAnsweredWaitsForTheLinkAsTheOthersDo) {
    for (const char* name : {"a.jpg", "b.jpg"}) writeFile(sandbox / "out" / "two" / name, test::patterned(kFileSize, 5));
    // a.jpg's status request waits in the link while b.jpg is answered and stored.
    const std::string statusA = statusOf("two", "a.jpg");
    relay->hold(statusA, 0);
    send(10min, "two", 2000ms);
    ASSERT_EQ(tasks.size(), 2u);
    ASSERT_TRUE(loop.runUntil([&] { return relay->holding(statusA) && count(Kind::done) == 1; })) << states();
    relay->goSilent();
    relay->release(statusA);
    ASSERT_TRUE(loop.runUntil([&] { return allWaitingMarked(1); }, 30s)) << states();
    relay->comeBack();
    ASSERT_TRUE(ended()) << states();

    EXPECT_EQ(count(Kind::done), 2) << states();
    for (const auto& task : tasks) EXPECT_TRUE(storedWhole(*task, "two")) << task->fileName;
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
    EXPECT_EQ(marked(), 0) << states();
}

}  // namespace
}  // namespace corvane::test
