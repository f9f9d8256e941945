// The file list of the target and sends through the send queue, as wired by
// the application state.
#include "app_state_fixture.h"
#include "support/loopback_server.h"

namespace fs = std::filesystem;

namespace corvane::test {
namespace {

bool listed(const AppState& s, const std::string& name) {
    return std::any_of(s.files().begin(), s.files().end(), [&name](const FileItem& f) { return f.name == name; });
}

TEST_F(AppStateTest, aPeersListingComesFromItsServer) {
    LoopbackServer peer("peer-token");
    ASSERT_TRUE(peer.started());
    writeFile(peer.root() / "docs" / "report.pdf", "pdf");
    AppState& s = make();
    s.start();
    s.switchTarget(Target::of(testPeer("p1", "127.0.0.1", peer.port(), false, "peer-token")));
    EXPECT_TRUE(s.loadingFiles());
    ASSERT_TRUE(qtWaitFor([&] { return !s.loadingFiles() && listed(s, "report.pdf"); }));
    EXPECT_EQ(s.files()[0].path, "docs/report.pdf");
}

TEST_F(AppStateTest, anUnreachablePeerShowsAnEmptyList) {
    AppState& s = make();
    s.start();
    writeFile(s.root() / "local.txt", "x");
    ASSERT_TRUE(qtWaitFor([&] { return !s.loadingFiles() && listed(s, "local.txt"); }));
    s.switchTarget(Target::of(testPeer("p1", "127.0.0.1", 1)));
    ASSERT_TRUE(qtWaitFor([&] { return !s.loadingFiles(); }));
    EXPECT_TRUE(s.files().empty());
}

TEST_F(AppStateTest, aPeerThatAsksForAPinIsPromptedFirst) {
    AppState& s = make();
    const Peer locked = testPeer("p1", "127.0.0.1", 1, true);
    s.setPinInput("old");
    s.switchTarget(Target::of(locked));
    EXPECT_TRUE(s.target().isLocal());
    EXPECT_EQ(s.pinPromptFor(), locked);
    EXPECT_EQ(s.pinInput(), "");
}

TEST_F(AppStateTest, filesSentToThisDeviceLandInTheReceiveFolderAndTheListReloads) {
    AppState& s = make();
    s.start();
    writeFile(box / "outbox" / "hello.txt", "hello");
    writeFile(box / "outbox" / "album" / "a.jpg", "jpg");
    int queueChanges = 0;
    QObject::connect(&s, &AppState::uploaderChanged, [&] { ++queueChanges; });
    s.send({box / "outbox" / "album", box / "outbox" / "hello.txt"});
    ASSERT_EQ(s.uploader().tasks().size(), 2u);
    EXPECT_EQ(s.uploader().tasks()[0]->relPath, "album/a.jpg");  // the folder's files first, as dropped
    EXPECT_EQ(s.uploader().tasks()[1]->relPath, "");
    ASSERT_TRUE(qtWaitFor([&] { return listed(s, "hello.txt") && listed(s, "a.jpg") && !s.loadingFiles(); },
                          std::chrono::seconds(20)));
    EXPECT_EQ(readFile(s.root() / "hello.txt"), "hello");
    EXPECT_EQ(readFile(s.root() / "album" / "a.jpg"), "jpg");
    EXPECT_GT(queueChanges, 0);
}

TEST_F(AppStateTest, inTeamModeWithTheCenterOfflineNothingIsSent) {
    writeConfig(R"({"centerId":"offline-device"})");
    AppState& s = make();
    s.setNas(true);
    writeFile(box / "outbox" / "a.txt", "a");
    s.send({box / "outbox" / "a.txt"});
    EXPECT_TRUE(s.uploader().tasks().empty());
    EXPECT_EQ(s.toast(), "中心设备不在线，请到「设置」重新选择");
}

TEST_F(AppStateTest, unreadableItemsQueueNothing) {
    AppState& s = make();
    s.send({box / "missing.txt"});
    s.send({});
    EXPECT_TRUE(s.uploader().tasks().empty());
}

}  // namespace
}  // namespace corvane::test
