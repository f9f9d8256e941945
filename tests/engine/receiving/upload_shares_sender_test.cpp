// The send queue sending a folder (two files at once) to a server that holds all the
// unfinished uploads it may, beside devices at other loopback addresses. A relay holds
// the sender's requests so that each arrives at the moment the case needs. A newcomer's
// meta dropped one of the device's uploads mid-chunk, and the folder's second file
// dropped its own first, so that neither was stored.

#include <gtest/gtest.h>

#include <set>

#include "engine/sending/file_id.h"
#include "engine/server/http_server.h"
#include "engine/sending/uploader.h"
#include "support/holding_relay.h"
#include "support/server_controls.h"
#include "support/test_loop.h"
#include "support/test_support.h"

namespace corvane::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr int64_t kChunk = 4194304;
constexpr int64_t kHeldPart = 1 << 20;  // what a held chunk has sent
const std::string kDevice = "127.0.0.2";
const char* const kBusy = "对方正忙，请稍后再发";

class UploadsBeingWritten : public ::testing::Test {
protected:
    void start(UploadLimits limits) {
        ServerOptions options;
        options.firstPort = testPortBase(20);
        options.lastPort = options.firstPort + 19;
        options.uploadLimits = limits;
        useControls(options, controls);
        server = std::make_shared<HTTPServer>("dev", "Desk", "", "", sandbox / "recv", options);
        ASSERT_TRUE(server->start());
        relay = std::make_unique<HoldingRelay>(server->port(), kDevice);
        ASSERT_NE(relay->port(), 0);
        uploader = std::make_unique<Uploader>(loop);
        for (const char* name : {"a.bin", "b.bin"}) {
            std::string bytes(size_t(kChunk + 10), '\0');
            for (size_t k = 0; k < bytes.size(); ++k) bytes[k] = char((k * 7 + name[0]) & 0xff);
            writeFile(sandbox / "out" / "pics" / name, bytes);
        }
        tasks = uploader->expandDirectory(sandbox / "out" / "pics", std::nullopt).tasks;
        ASSERT_EQ(tasks.size(), 2u);
    }
    void TearDown() override {
        uploader.reset();
        relay.reset();
        if (server) stopAndDrain(*server);
    }

    std::string idOf(size_t task) const {
        const TransferTask& t = *tasks[task];
        return FileID::hash(t.fileName, t.totalSize, Uploader::fileMTime(t.sourceURL), t.relPath);
    }
    // The relay stops the task's first chunk once part of it has gone on.
    void holdFirstChunk(size_t task) { relay->hold("/api/upload/" + idOf(task) + "/0 ", kHeldPart); }
    void send() {
        uploader->append(tasks);
        uploader->pump(std::nullopt, std::nullopt, "", relay->port());
    }
    // Waits, running the send queue's posted work meanwhile.
    bool waitUntil(const std::function<bool()>& done) {
        return waitFor([&] {
            loop.runPending();
            return done();
        }, 60s);
    }
    // The server writes the task's held chunk.
    bool beingWritten(size_t task) {
        return waitUntil([&] {
            return relay->holding("/api/upload/" + idOf(task) + "/0 ") && writes(idOf(task), kHeldPart);
        });
    }
    // Whether a file of the upload's part folder holds at least `bytes`.
    bool writes(const std::string& id, int64_t bytes) const {
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(sandbox / "recv" / ".parts" / id, ec)) {
            std::error_code sizeError;
            if (entry.is_regular_file(sizeError) && int64_t(entry.file_size(sizeError)) >= bytes) return true;
        }
        return false;
    }
    int meta(const std::string& address, const std::string& id) {
        // Two chunks: the upload keeps a part folder from its meta on, as held() sees.
        const std::string body = R"({"name":")" + id + R"(.bin","rel":"","size":4194305,"chunks":2})";
        const auto reply = httpRequestFrom(address, server->port(), "PUT", "/api/upload/" + id + "/meta", body);
        lastBody = reply ? reply->body : "";
        return reply ? reply->status : 0;
    }
    // A meta on a connection the address keeps open.
    int metaOn(RawClient& client, const std::string& id, int64_t size) {
        const std::string body =
            R"({"name":")" + id + R"(.bin","rel":"","size":)" + std::to_string(kChunk + size) + R"(,"chunks":2})";
        client.send("PUT /api/upload/" + id + "/meta HTTP/1.1\r\nContent-Length: " + std::to_string(body.size()) +
                    "\r\n\r\n" + body);
        const auto reply = client.readReply();
        return reply ? reply->status : 0;
    }
    // Waits until the server holds only the connections the case keeps open.
    bool connectionsAre(int count) {
        return waitFor([&] { return server->openConnections() == count; });
    }
    std::set<std::string> held() const {
        std::set<std::string> ids;
        for (const auto& entry : fs::directory_iterator(sandbox / "recv" / ".parts")) {
            const std::string name = entry.path().filename().string();
            if (!name.starts_with(".")) ids.insert(name);
        }
        return ids;
    }
    bool stored(size_t task) const {
        return readFile(sandbox / "recv" / "pics" / tasks[task]->fileName) == readFile(tasks[task]->sourceURL);
    }

    Sandbox sandbox;
    std::shared_ptr<ServerControls> controls = std::make_shared<ServerControls>();
    std::shared_ptr<HTTPServer> server;
    std::unique_ptr<HoldingRelay> relay;
    TestLoop loop;
    std::unique_ptr<Uploader> uploader;
    std::vector<std::shared_ptr<TransferTask>> tasks;
    std::string lastBody;
};

TEST_F(UploadsBeingWritten, NewcomersNeverDropTheUploadsOfADeviceSendingAFolder) {
    start(UploadLimits{6, 100});
    holdFirstChunk(0);
    holdFirstChunk(1);
    send();
    ASSERT_TRUE(beingWritten(0) && beingWritten(1));
    // Another address holds two quiet uploads made after the device's, two more one each.
    for (const char* id : {"3333333333333330", "3333333333333331"}) ASSERT_EQ(meta("127.0.0.3", id), 200);
    ASSERT_EQ(meta("127.0.0.4", "4444444444444440"), 200);
    ASSERT_EQ(meta("127.0.0.5", "5555555555555550"), 200);

    // Of the two addresses holding two, the one not writing gives way.
    ASSERT_TRUE(connectionsAre(2));
    ASSERT_EQ(meta("127.0.0.6", "6666666666666660"), 200) << lastBody;
    EXPECT_EQ(held(), (std::set<std::string>{idOf(0), idOf(1), "3333333333333331", "4444444444444440",
                                             "5555555555555550", "6666666666666660"}));
    // The next newcomer takes the place of an upload that stored nothing, never one of
    // the device's.
    EXPECT_EQ(meta("127.0.0.7", "7777777777777770"), 200) << lastBody;
    EXPECT_TRUE(held().count(idOf(0)) && held().count(idOf(1)));

    relay->release("/api/upload/" + idOf(0) + "/0 ");
    relay->release("/api/upload/" + idOf(1) + "/0 ");
    ASSERT_TRUE(waitUntil([&] { return uploader->activeCount() == 0; }));
    for (size_t task = 0; task < 2; ++task) {
        EXPECT_EQ(tasks[task]->state.kind, TransferState::Kind::done) << tasks[task]->state.message;
        EXPECT_TRUE(stored(task)) << tasks[task]->fileName;
    }
}

TEST_F(UploadsBeingWritten, TheSecondFileOfAFolderNeverDropsTheFirstAndIsToldBusy) {
    // Three other addresses hold one upload each, storing at the floor: the device's
    // share is one.
    UploadLimits limits{4, 100};
    limits.progressFloor = 1;
    start(limits);
    for (const char* address : {"127.0.0.3", "127.0.0.4", "127.0.0.5"}) {
        const std::string id(16, address[8]);
        ASSERT_EQ(meta(address, id), 200);
        ASSERT_EQ(httpRequestFrom(address, server->port(), "PUT", "/api/upload/" + id + "/0", "x")->status, 200);
    }
    holdFirstChunk(0);
    relay->hold("/api/upload/" + idOf(1) + "/meta ", 0);
    send();
    ASSERT_TRUE(beingWritten(0));
    ASSERT_TRUE(waitUntil([&] { return relay->holding("/api/upload/" + idOf(1) + "/meta "); }));

    relay->release("/api/upload/" + idOf(1) + "/meta ");
    ASSERT_TRUE(waitUntil([&] { return !tasks[1]->state.active(); }));
    EXPECT_EQ(tasks[1]->state.kind, TransferState::Kind::failed);
    EXPECT_EQ(tasks[1]->state.message, kBusy);
    EXPECT_TRUE(held().count(idOf(0)));

    relay->release("/api/upload/" + idOf(0) + "/0 ");
    ASSERT_TRUE(waitUntil([&] { return uploader->activeCount() == 0; }));
    EXPECT_EQ(tasks[0]->state.kind, TransferState::Kind::done) << tasks[0]->state.message;
    EXPECT_TRUE(stored(0));
    EXPECT_FALSE(fs::exists(sandbox / "recv" / "pics" / tasks[1]->fileName));
}

TEST_F(UploadsBeingWritten, AnUploadBetweenTwoChunksIsKeptByTheConnectionWaitingToSendTheNext) {
    start(UploadLimits{5, 100});
    // The first file's first chunk is stored; its second waits before its head goes on.
    relay->hold("/api/upload/" + idOf(0) + "/1 ", 0);
    holdFirstChunk(1);
    send();
    ASSERT_TRUE(waitUntil([&] { return relay->holding("/api/upload/" + idOf(0) + "/1 "); }));
    ASSERT_TRUE(beingWritten(1));
    // Another address makes two uploads over the one connection it keeps open, and sends
    // the second's chunk over it, held; a third holds one.
    RawClient kept(server->port(), "127.0.0.3");
    ASSERT_EQ(metaOn(kept, "3333333333333330", 1), 200);
    ASSERT_EQ(metaOn(kept, "3333333333333331", 1000), 200);
    ASSERT_TRUE(kept.send("PUT /api/upload/3333333333333331/0 HTTP/1.1\r\nContent-Length: 1000\r\n\r\n" +
                          std::string(500, 'x')));
    ASSERT_TRUE(waitFor([&] { return writes("3333333333333331", 500); }));
    ASSERT_EQ(meta("127.0.0.4", "4444444444444440"), 200);
    ASSERT_TRUE(connectionsAre(3));

    // The device's two connections keep both its uploads, one in flight and one between
    // chunks; the other address's one connection keeps only the upload it writes into,
    // so its earlier one gives way.
    ASSERT_EQ(meta("127.0.0.6", "6666666666666660"), 200) << lastBody;
    EXPECT_EQ(held(), (std::set<std::string>{idOf(0), idOf(1), "3333333333333331", "4444444444444440",
                                             "6666666666666660"}));
    EXPECT_EQ(meta("127.0.0.7", "7777777777777770"), 200) << lastBody;
    EXPECT_TRUE(held().count(idOf(0)) && held().count(idOf(1)) && held().count("3333333333333331"));

    relay->release("/api/upload/" + idOf(0) + "/1 ");
    relay->release("/api/upload/" + idOf(1) + "/0 ");
    ASSERT_TRUE(waitUntil([&] { return uploader->activeCount() == 0; }));
    for (size_t task = 0; task < 2; ++task) {
        EXPECT_EQ(tasks[task]->state.kind, TransferState::Kind::done) << tasks[task]->state.message;
        EXPECT_TRUE(stored(task)) << tasks[task]->fileName;
    }
}

}  // namespace
}  // namespace corvane::test
