// The file pane's actions: sending to this device, search and total size,
// downloads into the receive folder, opening, deleting, and a stale listing
// that must not win.
#include <sys/socket.h>

#include <fstream>

#include "actions_fixture.h"
#include "app/remote_download.h"
#include "held_port.h"
#include "support/loopback_server.h"
#include "support/scripted_http_server.h"

namespace fs = std::filesystem;

namespace corvane::test {
namespace {

std::vector<std::string> paths(const std::vector<FileItem>& files) {
    std::vector<std::string> out;
    for (const FileItem& f : files) out.push_back(f.path);
    return out;
}

TEST(SavedFileName, isTheLastPieceOfTheCleanedNameElseOfThePathElseDownload) {
    const std::pair<FileItem, std::string> cases[] = {
        {{"photos/a.jpg", "a.jpg", 1, 0}, "a.jpg"},
        {{"x", "../../etc/passwd", 1, 0}, "passwd"},
        {{"x", "docs\\\\evil.txt", 1, 0}, "evil.txt"},
        {{"photos/b.png", "../../.bashrc", 1, 0}, "b.png"},
        {{"../../.bashrc", "../../.bashrc", 1, 0}, "download"},
        {{"", "", 1, 0}, "download"},
    };
    for (const auto& [item, name] : cases) EXPECT_EQ(savedFileName(item), name) << item.name;
}

TEST_F(ActionsTest, aFolderAndAFileSentToThisDeviceLandWithTheirTreeAndTheListReloads) {
    AppState& s = startWithFakes();
    writeFile(box / "outbox" / "hello.txt", "hello");
    writeFile(box / "outbox" / "album" / "a.jpg", "jpg");
    int queueChanges = 0;
    QObject::connect(&s, &AppState::uploaderChanged, [&] { ++queueChanges; });
    s.send({box / "outbox" / "album", box / "outbox" / "hello.txt"});
    ASSERT_EQ(s.uploader().tasks().size(), 2u);
    EXPECT_EQ(s.uploader().tasks()[0]->relPath, "album/a.jpg");  // the folder's files first, as dropped
    EXPECT_EQ(s.uploader().tasks()[1]->relPath, "");
    EXPECT_EQ(s.toast(), std::optional<std::string>("已加入 2 个文件到传输队列"));  // the files, not the dropped items
    ASSERT_TRUE(qtWaitFor([&] { return listed("hello.txt") && listed("album/a.jpg") && !s.loadingFiles(); },
                          std::chrono::seconds(20)));
    EXPECT_EQ(readFile(s.root() / "hello.txt"), "hello");
    EXPECT_EQ(readFile(s.root() / "album" / "a.jpg"), "jpg");
    EXPECT_GT(queueChanges, 0);
}

TEST_F(ActionsTest, aFolderCutAtTheQueuesLimitIsToldInTheToastAndTheLog) {
    AppState& s = makeWithFakes();  // no server: the uploads fail at once, which is beside the point
    const struct { const char* folder; int files; size_t queued; const char* toast; } cases[] = {
        {"相册 甲", 3000, 3000, "已加入 3000 个文件到传输队列"},
        {"相册 乙", 3001, 6000, "「相册 乙」超过 3000 个文件，只发送了前 3000 个"},
    };
    for (const auto& c : cases) {
        const fs::path folder = box / "outbox" / c.folder;
        fs::create_directories(folder);
        for (int k = 0; k < c.files; ++k) std::ofstream(folder / ("f" + std::to_string(k))) << k;
        s.send({folder});
        EXPECT_EQ(s.uploader().tasks().size(), c.queued) << c.folder;
        EXPECT_EQ(s.toast(), std::optional<std::string>(c.toast)) << c.folder;
    }
    const std::string log = readFile(s.environment().appSupport / "boot.log");
    EXPECT_NE(log.find("  「相册 乙」超过 3000 个文件，只发送了前 3000 个\n"), std::string::npos) << log;
    EXPECT_EQ(log.find("相册 甲"), std::string::npos) << "a folder of exactly 3,000 files is whole";
}

TEST_F(ActionsTest, searchMatchesWholePathsIgnoringCaseAndTheTotalCountsEverything) {
    AppState& s = makeWithFakes();
    s.setFiles({{"docs/Report.pdf", "Report.pdf", 100, 0}, {"photo.jpg", "photo.jpg", 20, 0}, {"Docs.txt", "Docs.txt", 3, 0}});
    const std::pair<std::string, std::vector<std::string>> cases[] = {
        {"  PDF\t", {"docs/Report.pdf"}},
        {"docs", {"docs/Report.pdf", "Docs.txt"}},
        {"   ", {"docs/Report.pdf", "photo.jpg", "Docs.txt"}},
        {"\npdf", {}},  // only spaces and tabs are trimmed
    };
    for (const auto& [query, expected] : cases) {
        s.setSearchText(query);
        EXPECT_EQ(paths(s.filteredFiles()), expected) << "query: [" << query << "]";
        EXPECT_EQ(s.totalSize(), 123);
    }
}

TEST_F(ActionsTest, aListingCutAtItsLimitIsMarkedTruncatedHereAndFromAPeer) {
    // A folder of 50,000 files was counted as the 5,000 listed, with no sign of the rest.
    const auto fill = [](const fs::path& folder, int from, int to) {
        fs::create_directories(folder);
        for (int k = from; k < to; ++k) std::ofstream(folder / ("f" + std::to_string(k))) << k;
    };
    AppState& s = startWithFakes();
    LoopbackServer peerServer;
    ASSERT_TRUE(peerServer.started());
    fill(peerServer.root(), 0, 5000);
    const Peer peer = testPeer("p1", "127.0.0.1", peerServer.port());
    const struct { const char* what; int files; bool remote; bool truncated; } steps[] = {
        {"here, one below the limit", 4999, false, false},
        {"here, at the limit", 5000, false, true},
        {"here, past it", 5001, false, true},
        {"a peer's, at the limit", 5000, true, true},
        {"here again", 5001, false, true},
    };
    int filled = 0;
    for (const auto& step : steps) {
        if (!step.remote) fill(s.root(), filled, step.files);
        if (!step.remote) filled = std::max(filled, step.files);
        s.setFiles({});
        s.switchTarget(step.remote ? Target::of(peer) : Target::local());
        s.refreshFiles();
        ASSERT_TRUE(qtWaitFor([&] { return !s.loadingFiles() && !s.files().empty(); })) << step.what;
        EXPECT_EQ(s.files().size(), size_t(std::min(step.files, 5000))) << step.what;
        EXPECT_EQ(s.filesTruncated(), step.truncated) << step.what;
    }
}

TEST_F(ActionsTest, twoDownloadsOfOneFileKeepBothCopiesAtTheTop) {
    LoopbackServer peerServer;
    ASSERT_TRUE(peerServer.started());
    writeFile(peerServer.root() / "photos" / "a.jpg", "jpeg-bytes");
    AppState& s = startWithFakes();
    s.setTarget(Target::of(testPeer("p1", "127.0.0.1", peerServer.port())));
    const FileItem item{"photos/a.jpg", "a.jpg", 10, 0};
    s.download(item);
    s.download(item);
    s.download({"photos/missing.jpg", "missing.jpg", 1, 0});  // 404: nothing kept, nothing shown
    ASSERT_TRUE(qtWaitFor([&] { return fs::exists(s.root() / "a (1).jpg"); }));
    EXPECT_EQ(readFile(s.root() / "a.jpg"), "jpeg-bytes");
    EXPECT_EQ(readFile(s.root() / "a (1).jpg"), "jpeg-bytes");
    qtSpin(std::chrono::milliseconds(300));
    EXPECT_EQ(folderEntries(s.root()), (std::vector<std::string>{".parts", "a (1).jpg", "a.jpg"}));
    EXPECT_TRUE(toasts.empty());
}

TEST_F(ActionsTest, aListedNameThatClimbsOutIsSavedInsideUnderASafeName) {
    ScriptedHTTPServer evil({200, "application/octet-stream", "payload"});
    AppState& s = startWithFakes();
    s.setTarget(Target::of(testPeer("evil", "127.0.0.1", evil.port())));
    s.download({"../../.bashrc", "../../.bashrc", 7, 0});
    ASSERT_TRUE(qtWaitFor([&] { return fs::exists(s.root() / "download"); }));
    EXPECT_EQ(readFile(s.root() / "download"), "payload");
    EXPECT_FALSE(fs::exists(home() / ".bashrc"));
    EXPECT_FALSE(fs::exists(s.root().parent_path() / ".bashrc"));
}

TEST_F(ActionsTest, openingARemoteFileDownloadsAndOpensItOrSaysWhy) {
    LoopbackServer peerServer;
    ASSERT_TRUE(peerServer.started());
    writeFile(peerServer.root() / "a.pdf", "pdf");
    AppState& s = startWithFakes();
    s.setTarget(Target::of(testPeer("p1", "127.0.0.1", peerServer.port())));

    s.open({"a.pdf", "a.pdf", 3, 0});
    EXPECT_EQ(s.toast(), "正在下载「a.pdf」…");
    ASSERT_TRUE(qtWaitFor([&] { return !opened.empty(); }));
    EXPECT_EQ(opened[0], s.root() / "a.pdf");

    openSucceeds = false;
    s.open({"a.pdf", "a.pdf", 3, 0});
    ASSERT_TRUE(qtWaitFor([&] { return s.toast() == "已下载，但没有能打开它的应用"; }));
    EXPECT_EQ(opened.back(), s.root() / "a (1).pdf");

    s.open({"gone.pdf", "gone.pdf", 3, 0});
    ASSERT_TRUE(qtWaitFor([&] { return s.toast() == "打开失败：下载失败 HTTP 404"; }));

    s.setTarget(Target::of(testPeer("dead", "127.0.0.1", 1)));
    s.open({"a.pdf", "a.pdf", 3, 0});
    ASSERT_TRUE(qtWaitFor([&] { return s.toast() && s.toast()->rfind("打开失败：", 0) == 0; }));
    EXPECT_EQ(s.toast(), "打开失败：未能连接到服务器。");
}

TEST_F(ActionsTest, openingALocalFileUsesTheCleanedPathAndAMissingOneReloads) {
    AppState& s = startWithFakes();
    writeFile(s.root() / "docs" / "a.txt", "a");
    writeFile(box / "outside.txt", "o");

    s.open({"./docs//a.txt", "a.txt", 1, 0});
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0], s.root() / "docs" / "a.txt");

    openSucceeds = false;
    s.open({"docs/a.txt", "a.txt", 1, 0});
    EXPECT_EQ(s.toast(), "没有能打开「a.txt」的应用");

    s.setFiles({{"gone.txt", "gone.txt", 1, 0}});
    for (const std::string path : {"gone.txt", "../../outside.txt", ""}) {
        s.open({path, "gone.txt", 1, 0});
        EXPECT_EQ(s.toast(), "文件不存在：gone.txt") << path;
    }
    EXPECT_EQ(opened.size(), 2u);  // nothing outside the receive folder was opened
    ASSERT_TRUE(qtWaitFor([&] { return !s.loadingFiles() && listed("docs/a.txt") && !listed("gone.txt"); }));
}

TEST_F(ActionsTest, localDeletesStayInsideTheReceiveFolder) {
    AppState& s = startWithFakes();
    writeFile(s.root() / "a.txt", "a");
    writeFile(s.root() / "keep.txt", "k");
    writeFile(s.root() / "sub" / "b.txt", "b");
    writeFile(box / "outside.txt", "o");
    s.refreshFiles();
    ASSERT_TRUE(qtWaitFor([&] { return listed("sub/b.txt"); }));

    s.deleteFiles({{"", "", 0, 0}, {"../../outside.txt", "outside.txt", 1, 0}, {"a.txt", "a.txt", 1, 0},
                   {"sub//b.txt", "b.txt", 1, 0}});
    ASSERT_TRUE(qtWaitFor([&] { return !s.loadingFiles() && !listed("a.txt") && !listed("sub/b.txt"); }));
    EXPECT_TRUE(listed("keep.txt"));
    EXPECT_TRUE(fs::is_directory(s.root()));
    EXPECT_EQ(readFile(box / "outside.txt"), "o");
}

TEST_F(ActionsTest, aSlowListingOfAnEarlierTargetNeverReplacesTheCurrentOne) {
    AppState& s = startWithFakes();
    writeFile(s.root() / "mine.txt", "m");
    const int silentPort = firstPort + 12;
    auto silent = std::make_unique<HeldPort>(silentPort, SOCK_STREAM);  // accepts nothing, answers nothing
    ASSERT_TRUE(silent->held());
    s.switchTarget(Target::of(testPeer("slow", "127.0.0.1", silentPort)));
    qtSpin(std::chrono::milliseconds(100));  // its request is on the way
    s.switchTarget(Target::local());
    ASSERT_TRUE(qtWaitFor([&] { return !s.loadingFiles() && listed("mine.txt"); }));
    silent.reset();  // the waiting listing now fails: its empty answer must not land
    qtSpin(std::chrono::milliseconds(400));
    EXPECT_TRUE(listed("mine.txt"));
    EXPECT_FALSE(s.loadingFiles());
}

}  // namespace
}  // namespace corvane::test
