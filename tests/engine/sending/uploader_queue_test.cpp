// The send queue against the engine's own server on loopback: the test thread
// plays the main thread and runs the posted work.

#include <gtest/gtest.h>

#include <algorithm>

#include "engine/sending/file_id.h"
#include "engine/sending/uploader.h"
#include "support/loopback_server.h"
#include "support/test_loop.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using test::LoopbackServer;
using test::readFile;
using test::Sandbox;
using test::writeFile;
using Kind = TransferState::Kind;
using TaskList = std::vector<std::shared_ptr<TransferTask>>;

constexpr int64_t MiB4 = 4194304;

class UploaderQueue : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(device.started());
        uploader = std::make_unique<Uploader>(loop);
        uploader->onLog = [this](const std::string& line) { logs.push_back(line); };
        uploader->onFinished = [this](const FileItem& item, const std::optional<Peer>& target) {
            finished.push_back(item);
            finishedTargets.push_back(target);
        };
        uploader->onChange = [this] { record(); };
    }

    void TearDown() override { uploader.reset(); }

    // Notes, at every change, which tasks run and which ever started.
    void record() {
        int running = 0;
        for (size_t k = 0; k < uploader->tasks().size(); ++k) {
            const auto& task = uploader->tasks()[k];
            if (task->state.kind == Kind::running || task->state.kind == Kind::finishing) ++running;
            if (task->state.kind == Kind::running &&
                std::find(startOrder.begin(), startOrder.end(), task.get()) == startOrder.end()) {
                startOrder.push_back(task.get());
            }
            sentSeen[task.get()].push_back(task->sent);
        }
        mostRunning = std::max(mostRunning, running);
    }

    Peer devicePeer() const {
        Peer p;
        p.id = "loopback-device";
        p.name = "Loopback";
        p.ip = "127.0.0.1";
        p.port = device.port();
        return p;
    }

    std::shared_ptr<TransferTask> fileTask(const std::string& name, const std::string& bytes,
                                           const std::optional<Peer>& target = std::nullopt) {
        writeFile(source / name, bytes);
        return Uploader::makeTask(source / name, "", target);
    }

    void send(const TaskList& tasks, const std::optional<Peer>& target = std::nullopt,
              const std::optional<std::string>& pin = std::nullopt) {
        uploader->append(tasks);
        uploader->pump(target, pin, "my-token", device.port());
    }

    bool allFinished() const {
        return uploader->activeCount() == 0 &&
               std::none_of(uploader->tasks().begin(), uploader->tasks().end(),
                            [](const auto& t) { return t->state.active(); });
    }

    void runToEnd() { ASSERT_TRUE(loop.runUntil([&] { return allFinished(); })) << "the queue did not finish"; }

    std::string idOf(const TransferTask& task) const {
        return FileID::hash(task.fileName, task.totalSize, Uploader::fileMTime(task.sourceURL), task.relPath);
    }

    LoopbackServer device;
    Sandbox sandbox;
    fs::path source = sandbox / "outbox";
    test::TestLoop loop;
    std::unique_ptr<Uploader> uploader;
    std::vector<std::string> logs;
    std::vector<FileItem> finished;
    std::vector<std::optional<Peer>> finishedTargets;
    std::vector<const TransferTask*> startOrder;
    std::map<const TransferTask*, std::vector<int64_t>> sentSeen;
    int mostRunning = 0;
};

TEST_F(UploaderQueue, TwoTransfersAtATimeInQueueOrder) {
    TaskList tasks;
    for (int k = 0; k < 5; ++k) tasks.push_back(fileTask("f" + std::to_string(k), test::patterned(2 * MiB4 + k, char(k))));
    send(tasks);
    const std::vector<Kind> afterPump = {tasks[0]->state.kind, tasks[1]->state.kind, tasks[2]->state.kind,
                                         tasks[3]->state.kind, tasks[4]->state.kind};
    EXPECT_EQ(afterPump, (std::vector<Kind>{Kind::running, Kind::running, Kind::waiting, Kind::waiting, Kind::waiting}));
    uploader->pump(std::nullopt, std::nullopt, "my-token", device.port());
    EXPECT_EQ(tasks[2]->state.kind, Kind::waiting) << "a pump while two run changes nothing";
    EXPECT_EQ(uploader->activeCount(), 2);

    runToEnd();
    EXPECT_EQ(mostRunning, 2);
    std::vector<const TransferTask*> expected;
    for (const auto& t : tasks) expected.push_back(t.get());
    EXPECT_EQ(startOrder, expected);
    for (int k = 0; k < 5; ++k) {
        EXPECT_EQ(tasks[size_t(k)]->state, TransferState::done()) << k;
        EXPECT_EQ(readFile(device.root() / ("f" + std::to_string(k))), test::patterned(2 * MiB4 + k, char(k))) << k;
    }
}

TEST_F(UploaderQueue, ResumeSendsOnlyTheMissingChunks) {
    const int64_t size = 2 * MiB4 + 5000;
    auto task = fileTask("movie.mov", test::patterned(size));
    const std::string id = idOf(*task);
    // The receiver already holds chunks 0 and 2; they carry other bytes, so a resent one would show.
    const APIClient client(device.base(), "", "");
    ASSERT_FALSE(client.putMeta(id, json{{"name", "movie.mov"}, {"rel", ""}, {"size", size}, {"chunks", 3}}));
    const std::string held0 = std::string(size_t(MiB4), 'A');
    const std::string held2 = std::string(5000, 'C');
    ASSERT_FALSE(client.putChunk(id, 0, held0));
    ASSERT_FALSE(client.putChunk(id, 2, held2));

    send({task});
    runToEnd();
    EXPECT_EQ(task->state, TransferState::done());
    EXPECT_EQ(task->resumedChunks, 2);
    EXPECT_EQ(readFile(device.root() / "movie.mov"), held0 + test::patterned(size).substr(size_t(MiB4), size_t(MiB4)) + held2);
    ASSERT_FALSE(logs.empty());
    EXPECT_EQ(logs[0], "续传 movie.mov：已有 2/3 块");
    const auto& sent = sentSeen[task.get()];
    const auto firstSent = std::find_if(sent.begin(), sent.end(), [](int64_t s) { return s > 0; });
    ASSERT_NE(firstSent, sent.end());
    EXPECT_EQ(*firstSent, 2 * MiB4) << "sent starts at the held chunks";
}

TEST_F(UploaderQueue, ReceiverHoldingAnotherSizeGetsEverythingAgain) {
    const int64_t size = MiB4 + 10;
    auto task = fileTask("data.bin", test::patterned(size));
    const std::string id = idOf(*task);
    const APIClient client(device.base(), "", "");
    ASSERT_FALSE(client.putMeta(id, json{{"name", "data.bin"}, {"size", 999}}));
    ASSERT_FALSE(client.putChunk(id, 0, std::string(size_t(MiB4), 'Z')));

    send({task});
    runToEnd();
    EXPECT_EQ(task->state, TransferState::done());
    EXPECT_EQ(task->resumedChunks, 0);
    EXPECT_EQ(readFile(device.root() / "data.bin"), test::patterned(size));
    EXPECT_TRUE(std::none_of(logs.begin(), logs.end(), [](const std::string& l) { return l.rfind("续传", 0) == 0; }));
}

TEST_F(UploaderQueue, CancelledWaitingPeerTransferSendsDeleteAndNeverStarts) {
    const Peer peer = devicePeer();
    TaskList tasks{fileTask("a", test::patterned(MiB4 * 2), peer), fileTask("b", test::patterned(MiB4 * 2, 1), peer),
                   fileTask("c", test::patterned(100), peer)};
    const std::string waitingID = idOf(*tasks[2]);
    ASSERT_FALSE(APIClient(device.base(), "", "").putChunk(waitingID, 0, "partial"));
    send(tasks, peer);
    ASSERT_EQ(tasks[2]->state.kind, Kind::waiting);
    uploader->cancel(tasks[2]);
    EXPECT_EQ(tasks[2]->state, TransferState::cancelled());

    ASSERT_TRUE(loop.runUntil([&] { return allFinished() && !fs::exists(device.partFolder(waitingID)); }));
    EXPECT_EQ(tasks[0]->state, TransferState::done());
    EXPECT_EQ(tasks[1]->state, TransferState::done());
    EXPECT_EQ(tasks[2]->state, TransferState::cancelled());
    EXPECT_EQ(std::count(startOrder.begin(), startOrder.end(), tasks[2].get()), 0) << "never launched";
    EXPECT_FALSE(fs::exists(device.root() / "c"));
    ASSERT_EQ(finishedTargets.size(), 2u);
    EXPECT_EQ(finishedTargets[0], peer);
}

TEST_F(UploaderQueue, EmptyFileArrivesAsAnEmptyFileAndIsReported) {
    auto task = fileTask("empty 报告+1.txt", "");
    send({task});
    runToEnd();
    EXPECT_EQ(task->state, TransferState::done());
    EXPECT_EQ(task->sent, task->totalSize);
    EXPECT_EQ(task->speed, 0.0);
    ASSERT_TRUE(fs::exists(device.root() / "empty 报告+1.txt"));
    EXPECT_EQ(fs::file_size(device.root() / "empty 报告+1.txt"), 0u);
    ASSERT_EQ(finished.size(), 1u);
    EXPECT_EQ(finished[0].path, "empty 报告+1.txt");
    EXPECT_EQ(finished[0].size, 0);
    EXPECT_FALSE(finishedTargets[0].has_value());
    EXPECT_EQ(logs, (std::vector<std::string>{"已发送 empty 报告+1.txt → 本机"}));
    EXPECT_FALSE(fs::exists(device.partFolder(idOf(*task))));
}

TEST_F(UploaderQueue, FolderSentToOwnServerLandsWithItsTree) {
    const std::map<std::string, std::string> files{
        {"Photos/2024/a.jpg", test::patterned(3000)},
        {"Photos/b c+d.txt", "text"},
        {"Photos/nested/deeper/相片.bin", test::patterned(MiB4 + 1, 3)},
        {"Photos/empty.dat", ""},
    };
    for (const auto& [rel, bytes] : files) writeFile(source / rel, bytes);
    writeFile(source / "Photos" / ".cache" / "x", "hidden");

    const auto tasks = uploader->expandDirectory(source / "Photos", std::nullopt).tasks;
    ASSERT_EQ(tasks.size(), files.size());
    send(tasks);
    runToEnd();
    for (const auto& [rel, bytes] : files) {
        ASSERT_TRUE(fs::exists(device.root() / rel)) << rel;
        EXPECT_EQ(readFile(device.root() / rel), bytes) << rel;
    }
    EXPECT_FALSE(fs::exists(device.root() / "Photos" / ".cache"));
    std::vector<std::string> stored;
    for (const auto& item : finished) stored.push_back(item.path);
    std::sort(stored.begin(), stored.end());
    EXPECT_EQ(stored, (std::vector<std::string>{"Photos/2024/a.jpg", "Photos/b c+d.txt", "Photos/empty.dat",
                                                "Photos/nested/deeper/相片.bin"}));
}

TEST_F(UploaderQueue, FileThatShrankWhileQueuedFailsInsteadOfArrivingShort) {
    auto task = fileTask("growing.log", test::patterned(MiB4 + 500));
    writeFile(source / "growing.log", test::patterned(100));
    send({task});
    runToEnd();
    EXPECT_EQ(task->state, TransferState::failed("文件在发送过程中被修改"));
    EXPECT_EQ(logs, (std::vector<std::string>{"传输失败 growing.log：文件在发送过程中被修改"}));
    EXPECT_FALSE(fs::exists(device.root() / "growing.log"));
    EXPECT_TRUE(finished.empty());
}

TEST_F(UploaderQueue, PeerPinGoesWithEveryRequestOfThePump) {
    LoopbackServer guarded("", "2468");
    ASSERT_TRUE(guarded.started());
    Peer peer = devicePeer();
    peer.port = guarded.port();
    auto withPin = fileTask("with-pin.txt", "x", peer);
    send({withPin}, peer, std::string("2468"));
    runToEnd();
    EXPECT_EQ(withPin->state, TransferState::done());
    EXPECT_EQ(readFile(guarded.root() / "with-pin.txt"), "x");

    auto withoutPin = fileTask("without-pin.txt", "y", peer);
    send({withoutPin}, peer);
    runToEnd();
    EXPECT_EQ(withoutPin->state, TransferState::failed("需要访问口令"));
    EXPECT_EQ(logs.back(), "传输失败 without-pin.txt：需要访问口令");
}

TEST_F(UploaderQueue, AClosedPortFailsInChineseWhileTheLogKeepsLibcurlsText) {
    Peer closed = devicePeer();
    closed.port = 1;  // nothing listens there in the test's namespace
    auto task = fileTask("closed.txt", "x", closed);
    send({task}, closed);
    runToEnd();
    EXPECT_EQ(task->state, TransferState::failed("未能连接到服务器。"));
    EXPECT_EQ(logs, (std::vector<std::string>{"传输失败 closed.txt：Couldn't connect to server"}));
}

}  // namespace
}  // namespace corvane
