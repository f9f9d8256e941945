// PUT /api/fs/upload: the streamed upload into the receive folder.

#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>

#include "storage_server_fixture.h"

namespace fs = std::filesystem;

namespace corvane::test {
namespace {

class NasUpload : public StorageServerTest {
protected:
    std::string head(const std::string& target, const std::string& length,
                     const std::map<std::string, std::string>& headers = {}) {
        std::string text = "PUT " + target + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(server->port()) + "\r\n";
        if (!length.empty()) text += "Content-Length: " + length + "\r\n";
        for (const auto& [name, value] : headers) text += name + ": " + value + "\r\n";
        return text + "\r\n";
    }

    // Sends the head only and reads the reply, which must come without the body.
    RawReply refusedWithoutBody(const std::string& target, const std::string& length,
                                const std::map<std::string, std::string>& headers = {}) {
        RawClient client(server->port());
        EXPECT_TRUE(client.send(head(target, length, headers)));
        return client.readReply().value_or(RawReply{});
    }

    ReceiveTask task(const std::string& id) {
        for (const ReceiveTask& t : server->receiveTasksSnapshot()) {
            if (t.id == id) return t;
        }
        return ReceiveTask("missing");
    }
};

TEST_F(NasUpload, ChecksInOrderBeforeReadingAnyBody) {
    fs::create_directory_symlink(sandbox.path(), root / "out");
    const std::string over = "68719476737";
    const struct {
        std::string target;
        std::string length;
        std::map<std::string, std::string> headers;
        int status;
        std::string error;
    } cases[] = {
        {"/api/fs/upload?name=a.txt", over, {{"Origin", "http://evil.example"}}, 403, "跨设备访问需要令牌"},
        {"/api/fs/upload?name=a.txt", over, {}, 400, "文件过大"},
        {"/api/fs/upload?name=a.txt", "-1", {}, 400, "文件过大"},
        {"/api/fs/upload?name=a.txt&token=tok", over, {{"Origin", "http://evil.example"}}, 400, "文件过大"},
        {"/api/fs/upload", "10", {}, 400, "bad name"},
        {"/api/fs/upload?name=.x", "10", {}, 400, "bad name"},
        {"/api/fs/upload?name=a%3Ab", "10", {}, 400, "bad name"},
        {"/api/fs/upload?name=a.txt&path=.x", "10", {}, 400, "bad path"},
        {"/api/fs/upload?name=a.txt&path=_team", "10", {}, 400, "bad path"},
        {"/api/fs/upload?name=_users/bob/a.txt", "10", {}, 400, "bad path"},
        {"/api/fs/upload?name=a.txt&path=out", "10", {}, 400, "bad path"},
        {"/api/fs/upload?name=a.txt&path=/", "10", {}, 400, "bad path"},
    };
    for (const auto& c : cases) {
        const RawReply reply = refusedWithoutBody(c.target, c.length, c.headers);
        EXPECT_EQ(reply.status, c.status) << c.target << " " << c.length;
        EXPECT_EQ(reply.body, errorBody(c.error)) << c.target;
    }
    server->setPin("2468");
    EXPECT_EQ(refusedWithoutBody("/api/fs/upload?name=a.txt", over).status, 401);  // the PIN before the size
    EXPECT_EQ(refusedWithoutBody("/api/fs/upload?name=a.txt&pin=2468", over).status, 400);
    EXPECT_EQ(refusedWithoutBody("/api/fs/upload?name=a.txt", over, {{"X-Pin", "2468"}}).status, 400);
    EXPECT_EQ(namesIn(root), (std::vector<std::string>{".parts", "out"}));
    EXPECT_TRUE(server->receiveTasksSnapshot().empty());
}

TEST_F(NasUpload, StoresTheBodyWithTheBytesThatCameWithTheHeadAndAnnouncesIt) {
    const std::string body(3 * 1048576 + 17, 'q');
    RawClient client(server->port());
    ASSERT_TRUE(client.send(head("/api/fs/upload?path=new/sub&name=clip.bin", std::to_string(body.size()),
                                 {{"Origin", "http://127.0.0.1:" + std::to_string(server->port())}}) +
                            body.substr(0, 1000)));
    ASSERT_TRUE(client.send(body.substr(1000)));
    const auto reply = nlohmann::json::parse(client.readReply().value_or(RawReply{}).body, nullptr, false);
    EXPECT_EQ(reply, nlohmann::json({{"ok", true}, {"p", "new/sub/clip.bin"}, {"n", "clip.bin"},
                                     {"s", body.size()}, {"incomplete", false}}));
    EXPECT_TRUE(client.closedByServer());
    EXPECT_EQ(readFile(root / "new" / "sub" / "clip.bin"), body);
    const ReceiveTask t = task("web-1700000000");
    EXPECT_EQ(t.state, "已完成");
    EXPECT_EQ(t.name, "clip.bin");
    EXPECT_EQ(t.size, int64_t(body.size()));
    EXPECT_EQ(t.received, int64_t(body.size()));
    EXPECT_EQ(t.from, "127.0.0.1");
    EXPECT_EQ(t.doneAt, 1700000000.0);
    const auto seen = events();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0], ServerEvent::fileReceived(FileItem{"new/sub/clip.bin", "clip.bin", int64_t(body.size()),
                                                           1700000000000.0}));
    EXPECT_EQ(seen[1], ServerEvent::log("网页上传：new/sub/clip.bin（3.00 MB）"));
}

TEST_F(NasUpload, EmptyBodiesTakenNamesAndSubFolderNames) {
    writeFile(root / "a.txt", "old");
    fs::create_directory(root / "sub");
    const struct {
        std::string target;
        std::string body;
        std::string p;
    } cases[] = {
        {"/api/fs/upload?name=a.txt", "", "a (1).txt"},
        {"/api/fs/upload?name=a.txt&path=", "two", "a (2).txt"},
        {"/api/fs/upload?name=sub/a.txt", "three", "sub/a.txt"},
        {"/api/fs/upload?name=sub/a.txt", "four", "sub/a (1).txt"},
        {"/api/fs/upload?name=x.d/README&path=sub", "five", "sub/x.d/README"},
    };
    fs::create_directory(root / "sub" / "x.d");
    for (const auto& c : cases) {
        const auto reply = parse(call("PUT", c.target, c.body));
        EXPECT_EQ(reply["p"], c.p) << c.target;
        EXPECT_EQ(reply["s"], c.body.size()) << c.target;
        EXPECT_EQ(readFile(root / c.p), c.body) << c.p;
    }
    EXPECT_EQ(readFile(root / "a.txt"), "old");
    EXPECT_EQ(logs().at(0), "网页上传：a (1).txt（0 B）");
    // The named sub-folder must exist: the open fails otherwise.
    const RawReply missing = call("PUT", "/api/fs/upload?name=nothere/a.txt", "x");
    EXPECT_EQ(missing.status, 500);
    EXPECT_EQ(missing.body, errorBody("open failed"));
}

TEST_F(NasUpload, ABodyCutShortKeepsThePartialFileAndEndsTheTaskAsInterrupted) {
    // Exactly 64 GiB is accepted.
    RawClient client(server->port());
    const std::string part(3 * 1024 * 1024 + 3, 'p');  // past the first blocks reserved ahead
    ASSERT_TRUE(client.send(head("/api/fs/upload?name=huge.bin", "68719476736") + part));
    ::shutdown(client.fd(), SHUT_WR);
    const auto reply = nlohmann::json::parse(client.readReply().value_or(RawReply{}).body, nullptr, false);
    EXPECT_EQ(reply, nlohmann::json({{"ok", false}, {"p", "huge.bin"}, {"n", "huge.bin"}, {"s", part.size()}, {"incomplete", true}}));
    EXPECT_TRUE(readFile(root / "huge.bin") == part);
    struct stat st {};
    ASSERT_EQ(::stat((root / "huge.bin").c_str(), &st), 0);
    EXPECT_LE(st.st_blocks * 512, int64_t(part.size()) + 65536) << "blocks reserved ahead stayed with the partial file";
    const ReceiveTask t = task("web-1700000000");
    EXPECT_EQ(t.state, "中断");
    EXPECT_EQ(t.received, int64_t(part.size()));
    EXPECT_EQ(t.size, 68719476736);
    EXPECT_TRUE(events().empty());
}

class NasUploadPace : public NasUpload {
protected:
    NasUploadPace() { bodyGrace = std::chrono::milliseconds(300); }
};

TEST_F(NasUploadPace, ABodyTheServerCutsForTricklingLeavesNoFile) {
    // Bodies sent a byte every 15 s once held every connection slot.
    RawClient client(server->port());
    ASSERT_TRUE(client.send(head("/api/fs/upload?name=slow.bin", "100000") + "abc"));
    EXPECT_TRUE(client.closedByServer());
    EXPECT_TRUE(waitFor([&] { return task("web-1700000000").state == "中断"; }));
    EXPECT_FALSE(fs::exists(root / "slow.bin"));
}

TEST_F(NasUpload, ExpectContinueComesOnlyForAnUploadThatPassedItsChecks) {
    RawClient accepted(server->port());
    ASSERT_TRUE(accepted.send(head("/api/fs/upload?name=c.txt", "5", {{"Expect", "100-continue"}})));
    const auto interim = accepted.readReply();
    ASSERT_TRUE(interim);
    EXPECT_EQ(interim->statusLine, "HTTP/1.1 100 Continue");
    ASSERT_TRUE(accepted.send("hello"));
    EXPECT_EQ(accepted.readReply().value_or(RawReply{}).status, 200);
    EXPECT_EQ(readFile(root / "c.txt"), "hello");

    const RawReply refused = refusedWithoutBody("/api/fs/upload?name=.c", "5", {{"Expect", "100-continue"}});
    EXPECT_EQ(refused.status, 400);
}

TEST_F(NasUpload, SimultaneousUploadsOfOneNameInOneSecondKeepEveryFileAndTaskApart) {
    constexpr int kUploads = 4;
    std::vector<std::string> bodies;
    for (int i = 0; i < kUploads; ++i) bodies.push_back(std::string(2 * 1048576 + i, char('a' + i)));
    std::vector<std::thread> threads;
    std::vector<int> statuses(kUploads);
    for (int i = 0; i < kUploads; ++i) {
        threads.emplace_back([&, i] {
            const auto reply = httpRequest(server->port(), "PUT", "/api/fs/upload?name=same.bin", {}, bodies[i]);
            statuses[i] = reply ? reply->status : 0;
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(statuses, std::vector<int>(kUploads, 200));
    std::set<std::string> stored;
    for (const std::string& name : namesIn(root)) {
        if (name != ".parts") stored.insert(readFile(root / name));
    }
    EXPECT_EQ(stored, std::set<std::string>(bodies.begin(), bodies.end()));
    std::set<std::string> ids;
    for (const ReceiveTask& t : server->receiveTasksSnapshot()) {
        ids.insert(t.id);
        EXPECT_EQ(t.state, "已完成") << t.id;
    }
    EXPECT_EQ(ids, (std::set<std::string>{"web-1700000000", "web-1700000000-1", "web-1700000000-2",
                                          "web-1700000000-3"}));
}

TEST_F(NasUpload, ATransferEncodingNeverReachesTheUpload) {
    RawClient client(server->port());
    ASSERT_TRUE(client.send(head("/api/fs/upload?name=t.txt", "", {{"Transfer-Encoding", "chunked"}}) + "3\r\nabc\r\n0\r\n\r\n"));
    EXPECT_EQ(client.readReply().value_or(RawReply{}).status, 400);
    EXPECT_FALSE(fs::exists(root / "t.txt"));
}

}  // namespace
}  // namespace corvane::test
