// What a person reads when a receiver refuses an upload or stops taking its bytes.
// A sender whose address changed mid-send read "失败：forbidden" for two and a half
// minutes, while the old row showed "传输中 · 45.5 MB/s" with no byte moving.

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>

#include "engine/sending/file_id.h"
#include "engine/format.h"
#include "engine/server/http_response.h"
#include "engine/server/http_server.h"
#include "engine/sending/uploader.h"
#include "support/server_controls.h"
#include "support/test_loop.h"
#include "support/test_support.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr int64_t MiB4 = 4194304;
const char* const kHeldElsewhere = "对方正在接收另一台设备发来的同一文件，请稍后再发";
const char* const kBusy = "对方正忙，请稍后再发";

// A route of the upload protocol, as a row placed ahead of the engine's own.
struct UploadRoute {
    const char* method;
    const char* pattern;
    bool streamed;
};
const UploadRoute kMeta{"PUT", "/api/upload/{hex}/meta", false};
const UploadRoute kChunk{"PUT", "/api/upload/{hex}/{digits}", true};
const UploadRoute kFinish{"POST", "/api/upload/{hex}/finish", false};

// A row that answers every request of the route with the reply; a chunk's unread body
// is drained, as the engine's own refusals do, so that the sender reads the reply.
std::function<void(RouteTable&)> refusing(UploadRoute route, int status, std::string text) {
    return [=](RouteTable& table) {
        const auto answer = [status, text](Connection& c) {
            sendJSON(c.fd, status, errorJSON(text));
            if (c.contentLength > 0) drainBeforeClose(c.fd);
        };
        table.add(RouteStage::dav, Route{{route.method}, PathTest::pattern(route.pattern), answer,
                                         RouteFacts{.streamed = route.streamed}});
    };
}

class UploaderRefusals : public ::testing::Test {
protected:
    void start(ServerOptions options = {}) {
        options.firstPort = test::testPortBase(20);
        options.lastPort = options.firstPort + 19;
        test::useControls(options, controls);
        server = std::make_shared<HTTPServer>("dev", "Desk", "", "", sandbox / "recv", options);
        ASSERT_TRUE(server->start());
        uploader = std::make_unique<Uploader>(loop, [clock = clock] { return clock->load(); });
        uploader->onLog = [this](const std::string& line) { logs.push_back(line); };
    }
    void stopServer() {
        uploader.reset();
        if (server) test::stopAndDrain(*server);
        server.reset();
    }
    void TearDown() override { stopServer(); }

    std::shared_ptr<TransferTask> fileTask(const std::string& name, int64_t size) {
        test::writeFile(sandbox / "out" / name, std::string(size_t(size), 'x'));
        return Uploader::makeTask(sandbox / "out" / name, "", std::nullopt);
    }
    static std::string idOf(const TransferTask& task) {
        return FileID::hash(task.fileName, task.totalSize, Uploader::fileMTime(task.sourceURL), task.relPath);
    }
    // Sends the task to this device's own server until it ended.
    void send(const std::shared_ptr<TransferTask>& task) {
        uploader->append({task});
        uploader->pump(std::nullopt, std::nullopt, "", server->port());
        ASSERT_TRUE(loop.runUntil([&] { return uploader->activeCount() == 0 && !task->state.active(); }));
    }

    test::Sandbox sandbox;
    std::shared_ptr<test::ServerControls> controls = std::make_shared<test::ServerControls>();
    std::shared_ptr<std::atomic<double>> clock = std::make_shared<std::atomic<double>>(1000.0);
    std::shared_ptr<HTTPServer> server;
    test::TestLoop loop;
    std::unique_ptr<Uploader> uploader;
    std::vector<std::string> logs;
};

TEST_F(UploaderRefusals, TheOwnerAndShareRefusalsReadAsWhatToDoAndEveryOtherTextAsItStands) {
    const struct {
        const char* what;
        UploadRoute route;
        int status;
        const char* text;
        const char* shown;
    } cases[] = {
        {"meta of an upload another device holds", kMeta, 403, "forbidden", kHeldElsewhere},
        {"chunk of an upload another device took over", kChunk, 403, "forbidden", kHeldElsewhere},
        {"finish of an upload another device took over", kFinish, 403, "forbidden", kHeldElsewhere},
        {"meta with no room for one more upload", kMeta, 503, "busy", kBusy},
        {"chunk while the upload finishes", kChunk, 503, "busy", kBusy},
        {"finish with no room", kFinish, 503, "busy", kBusy},
        {"the gate's token refusal", kMeta, 403, "跨设备访问需要令牌", "跨设备访问需要令牌"},
        {"a chunk that could not be written", kChunk, 500, "write failed", "write failed"},
        {"a chunk index out of range", kChunk, 400, "bad id/index", "bad id/index"},
        {"a finish of nothing", kFinish, 404, "upload not found", "upload not found"},
        {"a failed join", kFinish, 500, "merge failed", "merge failed"},
        {"a 503 without text", kFinish, 503, "", "HTTP 503"},
        {"the word under another status", kChunk, 500, "busy", "busy"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ServerOptions options;
        options.addRoutes = refusing(c.route, c.status, c.text);
        start(options);
        logs.clear();
        const auto task = fileTask("a.bin", MiB4 + 10);
        send(task);
        EXPECT_EQ(task->state.kind, TransferState::Kind::failed);
        EXPECT_EQ(task->state.message, c.shown);
        EXPECT_EQ(logs, std::vector<std::string>{"传输失败 a.bin：" + std::string(c.shown)});
        stopServer();
    }
}

TEST_F(UploaderRefusals, TheEnginesOwnRefusalsKeepTheirWireWordsAndReachTheUserInChinese) {
    // Another device (127.0.0.3) made the upload of the same id a moment ago: the
    // sender's meta is refused 403 until the upload has been quiet.
    const std::string meta = R"({"name":"held.bin","rel":"","size":100,"chunks":1})";
    // The reply another device gets keeps the wire words; the sender reads the Chinese line.
    const auto expectRefusal = [&](const std::optional<test::RawReply>& reply, int status, const std::string& body,
                                   const std::shared_ptr<TransferTask>& task, const std::string& shown) {
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->status, status);
        EXPECT_EQ(reply->body, body);
        send(task);
        EXPECT_EQ(task->state.message, shown);
        EXPECT_EQ(logs.back(), "传输失败 " + task->fileName + "：" + shown);
    };
    start();
    const auto held = fileTask("held.bin", 100);
    ASSERT_EQ(test::httpRequestFrom("127.0.0.3", server->port(), "PUT", "/api/upload/" + idOf(*held) + "/meta", meta)
                  ->status, 200);
    expectRefusal(test::httpRequestFrom("127.0.0.4", server->port(), "PUT", "/api/upload/" + idOf(*held) + "/meta", meta),
                  403, R"({"error":"forbidden"})", held, kHeldElsewhere);
    stopServer();

    // A body budget too small for a meta: every upload is answered 503.
    ServerOptions tight;
    tight.bodyBudget = 16;
    start(tight);
    const auto crowded = fileTask("crowded.bin", 100);
    expectRefusal(test::httpRequest(server->port(), "PUT", "/api/upload/" + idOf(*crowded) + "/meta", {}, meta), 503,
                  R"({"error":"busy"})", crowded, kBusy);
}

// A receiver that stores chunk 0, then stops reading chunk 1 until released; chunk 0's
// arrival moves the sender's clock on by a second, so the row has a speed to show.
struct StoppingReceiver {
    std::shared_ptr<std::atomic<double>> clock;
    std::mutex lock;
    std::condition_variable changed;
    bool stuck = false;
    bool released = false;

    void chunk(Connection& c) {
        if (c.captures.at(1) == "0") {
            clock->store(clock->load() + 1.0);
            c.server.uploadChunk(c);
            return;
        }
        std::unique_lock guard(lock);
        stuck = true;
        changed.notify_all();
        changed.wait(guard, [&] { return released; });
    }
    void release() {
        std::lock_guard guard(lock);
        released = true;
        changed.notify_all();
    }
    bool waitUntilStuck() {
        std::unique_lock guard(lock);
        return changed.wait_for(guard, 20s, [&] { return stuck; });
    }
};

TEST_F(UploaderRefusals, ARowWhoseBytesStoppedMovingShowsNoSpeed) {
    auto receiver = std::make_shared<StoppingReceiver>();
    receiver->clock = clock;
    ServerOptions options;
    options.addRoutes = [receiver](RouteTable& table) {
        table.add(RouteStage::dav, Route{{"PUT"}, PathTest::pattern(kChunk.pattern),
                                         [receiver](Connection& c) { receiver->chunk(c); }, RouteFacts{.streamed = true}});
    };
    start(options);
    const auto task = fileTask("stuck.bin", 2 * MiB4);
    uploader->append({task});
    uploader->pump(std::nullopt, std::nullopt, "", server->port());

    ASSERT_TRUE(loop.runUntil([&] { return task->sent == MiB4 && task->speed > 0; }));
    EXPECT_EQ(humanSpeed(task->speed), "4.00 MB/s");
    ASSERT_TRUE(receiver->waitUntilStuck());
    // The sender's clock moves on while the receiver reads nothing: once the chunk's
    // bytes have stood still for a few of its seconds, the row shows "—".
    bool noSpeed = false;
    for (int round = 0; round < 100 && !noSpeed; ++round) {
        clock->store(clock->load() + 1.0);
        noSpeed = loop.runUntil([&] { return task->speed == 0; }, 200ms);
    }
    const TransferState::Kind kindThen = task->state.kind;
    receiver->release();
    EXPECT_EQ(kindThen, TransferState::Kind::running);
    EXPECT_TRUE(noSpeed) << "the row kept showing " << humanSpeed(task->speed);
    EXPECT_EQ(humanSpeed(task->speed), "—");
    EXPECT_EQ(task->sent, MiB4);
}

}  // namespace
}  // namespace corvane
