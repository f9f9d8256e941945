// The parts of the send queue that need no receiver: chunk counts, the held
// chunks of a status reply, chunk reads, clients per target, tasks and folders.

#include <gtest/gtest.h>

#include <algorithm>
#include <fcntl.h>
#include <fstream>
#include <sys/stat.h>

#include "engine/uploader.h"
#include "support/test_loop.h"
#include "support/test_support.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using test::Sandbox;
using test::writeFile;

TEST(UploaderParts, ChunkCountRoundsUpAndGivesAnEmptyFileOne) {
    const struct {
        int64_t size, chunks;
    } cases[] = {{0, 1}, {1, 1}, {4194304, 1}, {4194305, 2}, {3 * 4194304, 3}, {3 * 4194304 + 1, 4}};
    for (const auto& c : cases) EXPECT_EQ(chunkCount(c.size), c.chunks) << c.size;
}

TEST(UploaderParts, HeldChunksFollowTheStatusReply) {
    const int64_t size = 3 * 4194304 - 10;  // three chunks
    const struct {
        const char* why;
        json status;
        std::set<int64_t> held;
    } cases[] = {
        {"nothing there", {{"exists", false}, {"received", {0, 1}}}, {}},
        {"exists as text", {{"exists", "1"}, {"received", {0, 2}}}, {0, 2}},
        {"matching meta", {{"exists", true}, {"received", {2, 0}}, {"meta", {{"size", size}}}}, {0, 2}},
        {"meta size as text", {{"exists", true}, {"received", {1}}, {"meta", {{"size", std::to_string(size)}}}}, {1}},
        {"another size", {{"exists", true}, {"received", {0, 2}}, {"meta", {{"size", 999}}}}, {}},
        {"meta null keeps", {{"exists", true}, {"received", {1}}, {"meta", nullptr}}, {1}},
        {"meta without size", {{"exists", true}, {"received", {1}}, {"meta", json::object()}}, {}},
        {"elements that are not numbers", {{"exists", true}, {"received", {"0", 1, nullptr, 2.0}}}, {1, 2}},
        {"received not an array", {{"exists", true}, {"received", 3}}, {}},
        {"indices the file does not have", {{"exists", true}, {"received", {-1, 1, 3, 100}}}, {1}},
        {"not an object", json::array({0, 1}), {}},
    };
    for (const auto& c : cases) EXPECT_EQ(heldChunks(c.status, size), c.held) << c.why;
}

TEST(UploaderParts, ChunkReadGivesTheBytesOrSaysWhyNot) {
    Sandbox box;
    writeFile(box / "f.bin", "0123456789");
    const struct {
        const char* why;
        fs::path file;
        int64_t offset, length;
        std::string bytes;
        std::optional<std::string> error;
    } cases[] = {
        {"whole file", box / "f.bin", 0, 10, "0123456789", std::nullopt},
        {"inner piece", box / "f.bin", 4, 3, "456", std::nullopt},
        {"empty chunk", box / "f.bin", 0, 0, "", std::nullopt},
        {"file got shorter", box / "f.bin", 8, 5, "", "文件在发送过程中被修改"},
        {"offset past the end", box / "f.bin", 20, 5, "", "文件在发送过程中被修改"},
        {"missing file", box / "gone.bin", 0, 1, "", "No such file or directory"},
    };
    for (const auto& c : cases) {
        const ChunkRead read = readChunk(c.file, c.offset, c.length);
        EXPECT_EQ(read.bytes, c.bytes) << c.why;
        EXPECT_EQ(read.error, c.error) << c.why;
    }
}

TEST(UploaderParts, ClientForTargetUsesPeerCredentialsOrOwnLoopback) {
    Peer peer;
    peer.ip = "192.168.1.7";
    peer.port = 8900;
    peer.token = "peer-token";
    const auto remote = clientForTarget(peer, "1234", 8899);
    ASSERT_TRUE(remote.has_value());
    EXPECT_EQ(remote->base(), "http://192.168.1.7:8900/");
    EXPECT_EQ(remote->token(), "peer-token");
    EXPECT_EQ(remote->pin(), "1234");

    const auto local = clientForTarget(std::nullopt, "1234", 8905);
    ASSERT_TRUE(local.has_value());
    EXPECT_EQ(local->base(), "http://127.0.0.1:8905/");
    EXPECT_EQ(local->token(), "");
    EXPECT_EQ(local->pin(), "");

    peer.ip = "";
    EXPECT_FALSE(clientForTarget(peer, "", 0).has_value());
    peer.ip = "bad host";
    EXPECT_FALSE(clientForTarget(peer, "", 0).has_value());
}

TEST(UploaderParts, MakeTaskReadsNameAndSize) {
    Sandbox box;
    writeFile(box / "报告 1.pdf", std::string(1234, 'x'));
    const auto task = Uploader::makeTask(box / "报告 1.pdf", "", std::nullopt);
    ASSERT_TRUE(task);
    EXPECT_EQ(task->fileName, "报告 1.pdf");
    EXPECT_EQ(task->relPath, "");
    EXPECT_EQ(task->totalSize, 1234);
    EXPECT_EQ(task->state, TransferState::waiting());
    EXPECT_EQ(task->sent, 0);
    EXPECT_EQ(task->resumedChunks, 0);
    EXPECT_FALSE(task->target.has_value());
    EXPECT_NE(task->id, Uploader::makeTask(box / "报告 1.pdf", "", std::nullopt)->id) << "each task has its own id";
    EXPECT_FALSE(Uploader::makeTask(box / "missing", "", std::nullopt));
}

TEST(UploaderParts, FileMTimeIsMillisecondsWithFraction) {
    Sandbox box;
    writeFile(box / "f", "x");
    const timespec times[2] = {{1700000000, 123456789}, {1700000000, 123456789}};
    ASSERT_EQ(utimensat(AT_FDCWD, (box / "f").c_str(), times, 0), 0);
    EXPECT_DOUBLE_EQ(Uploader::fileMTime(box / "f"), 1700000000123.456789);
    EXPECT_EQ(Uploader::fileMTime(box / "missing"), 0.0);
}

class UploaderFolders : public ::testing::Test {
protected:
    std::vector<std::string> relPaths(const std::vector<std::shared_ptr<TransferTask>>& tasks) {
        std::vector<std::string> out;
        for (const auto& t : tasks) out.push_back(t->relPath);
        std::sort(out.begin(), out.end());
        return out;
    }

    Sandbox box;
    test::TestLoop loop;
    Uploader uploader{loop};
    std::vector<std::string> logs;
    void SetUp() override {
        uploader.onLog = [this](const std::string& line) { logs.push_back(line); };
    }
};

TEST_F(UploaderFolders, FolderGivesOneTaskPerVisibleRegularFile) {
    writeFile(box / "Photos" / "2024" / "a.jpg", "a");
    writeFile(box / "Photos" / "b c+d.txt", "bb");
    writeFile(box / "Photos" / ".cache" / "x", "x");
    writeFile(box / "Photos" / ".DS_Store", "x");
    writeFile(box / "Photos" / "2024" / ".hidden" / "deep.txt", "x");
    writeFile(box / "elsewhere.txt", "x");
    fs::create_directories(box / "Photos" / "empty");
    fs::create_symlink(box / "elsewhere.txt", box / "Photos" / "link.txt");

    const auto tasks = uploader.expandDirectory(box / "Photos", std::nullopt);
    EXPECT_EQ(relPaths(tasks), (std::vector<std::string>{"Photos/2024/a.jpg", "Photos/b c+d.txt"}));
    for (const auto& t : tasks) {
        EXPECT_EQ(t->fileName, fs::path(t->relPath).filename().string());
        EXPECT_EQ(t->totalSize, t->fileName == "a.jpg" ? 1 : 2);
    }
    EXPECT_TRUE(logs.empty());
    EXPECT_TRUE(uploader.tasks().empty()) << "the caller appends the tasks itself";
}

TEST_F(UploaderFolders, TrailingSlashNamesTheSameFolder) {
    writeFile(box / "Docs" / "a.txt", "a");
    const auto tasks = uploader.expandDirectory(box.path().string() + "/Docs/", std::nullopt);
    EXPECT_EQ(relPaths(tasks), (std::vector<std::string>{"Docs/a.txt"}));
}

TEST_F(UploaderFolders, MissingFolderGivesNoTasks) {
    EXPECT_TRUE(uploader.expandDirectory(box / "nothing", std::nullopt).empty());
}

TEST_F(UploaderFolders, LargeFolderIsCutAt3000AndSaysSo) {
    const struct {
        int files;
        size_t tasks;
        bool logged;
    } cases[] = {{3000, 3000, false}, {3001, 3000, true}, {5000, 3000, true}};
    for (const auto& c : cases) {
        const fs::path folder = box / ("Many" + std::to_string(c.files));
        fs::create_directories(folder);
        for (int k = 0; k < c.files; ++k) std::ofstream(folder / ("f" + std::to_string(k))) << k;
        logs.clear();
        const auto tasks = uploader.expandDirectory(folder, std::nullopt);
        EXPECT_EQ(tasks.size(), c.tasks) << c.files;
        ASSERT_EQ(logs.size(), c.logged ? 1u : 0u) << c.files;
        if (c.logged) {
            EXPECT_EQ(logs[0], "文件夹 " + folder.filename().string() + " 超过 3000 个文件，只加入前 3000 个");
        }
    }
}

TEST_F(UploaderFolders, ClearFinishedKeepsActiveTasksInOrder) {
    writeFile(box / "f", "x");
    const TransferState states[] = {TransferState::done(),      TransferState::waiting(),
                                    TransferState::cancelled(), TransferState::running(),
                                    TransferState::failed("x"), TransferState::finishing()};
    std::vector<std::shared_ptr<TransferTask>> made;
    for (const auto& state : states) {
        made.push_back(Uploader::makeTask(box / "f", "", std::nullopt));
        made.back()->state = state;
    }
    uploader.append(made);
    int changes = 0;
    uploader.onChange = [&] { ++changes; };
    uploader.clearFinished();
    EXPECT_EQ(uploader.tasks(), (std::vector<std::shared_ptr<TransferTask>>{made[1], made[3], made[5]}));
    EXPECT_EQ(changes, 1);
}

}  // namespace
}  // namespace corvane
