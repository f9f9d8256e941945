// Team file transfer: the ranged download with its own head and the streamed upload.

#include <set>
#include <sys/socket.h>
#include <thread>

#include "team_routes_fixture.h"

namespace fs = std::filesystem;

namespace corvane::test {
namespace {

using nlohmann::json;

class TeamTransfer : public TeamSpaceTest {
protected:
    RawReply get(const std::string& target, const std::map<std::string, std::string>& extra = {}) {
        std::map<std::string, std::string> headers{{"Cookie", "qp_s=" + amy}};
        headers.insert(extra.begin(), extra.end());
        return call("GET", target, "", headers);
    }
    std::string putHead(const std::string& target, const std::string& length, const std::string& token) {
        std::string text = "PUT " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n";
        if (!length.empty()) text += "Content-Length: " + length + "\r\n";
        if (!token.empty()) text += "Cookie: qp_s=" + token + "\r\n";
        return text + "\r\n";
    }
    // Sends the head only: the reply must come without the body.
    RawReply refusedWithoutBody(const std::string& target, const std::string& length, const std::string& token) {
        RawClient client(server->port());
        EXPECT_TRUE(client.send(putHead(target, length, token)));
        return client.readReply().value_or(RawReply{});
    }
    json upload(const std::string& query, const std::string& body) {
        return parse(call("PUT", "/api/tf/up" + query, body, {{"Cookie", "qp_s=" + amy}}));
    }

    static std::string headerOf(const RawReply& r, const std::string& name) {
        const auto it = r.headers.find(name);
        return it == r.headers.end() ? "" : it->second;
    }
    std::vector<std::string> logs() {
        std::vector<std::string> texts;
        for (const ServerEvent& e : events()) {
            if (e.kind == ServerEvent::Kind::log) texts.push_back(e.text);
        }
        return texts;
    }

};

TEST_F(TeamTransfer, RangesOfAThousandBytes) {
    std::string bytes(1000, '\0');
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = char('a' + i % 26);
    writeFile(shared / "k.bin", bytes);
    const struct { const char* range; int status; const char* contentRange; int64_t start, length; } cases[] = {
        {"", 200, "", 0, 1000},
        {"bytes=0-99", 206, "bytes 0-99/1000", 0, 100},
        {"bytes=900-", 206, "bytes 900-999/1000", 900, 100},
        {"bytes=-100", 206, "bytes 900-999/1000", 900, 100},
        {"bytes=-5000", 206, "bytes 0-999/1000", 0, 1000},
        {"bytes=0-5000", 206, "bytes 0-999/1000", 0, 1000},
        {"bytes=0-abc", 206, "bytes 0-999/1000", 0, 1000},
        {"bytes=0-1,5-6", 206, "bytes 0-999/1000", 0, 1000},
        {"bytes=1000-", 416, "bytes */1000", 0, 0},
        {"bytes=5-2", 416, "bytes */1000", 0, 0},
        {"bytes=abc", 416, "bytes */1000", 0, 0},
        {"Bytes=0-1", 416, "bytes */1000", 0, 0},
        {"bytes=-0", 416, "bytes */1000", 0, 0},
        {"bytes=--5", 416, "bytes */1000", 0, 0},
        {"bytes=99999999999999999999-", 416, "bytes */1000", 0, 0},
    };
    for (const auto& c : cases) {
        std::map<std::string, std::string> headers;
        if (*c.range) headers["Range"] = c.range;
        const RawReply r = get("/api/tf/d?path=k.bin", headers);
        EXPECT_EQ(r.status, c.status) << c.range;
        EXPECT_EQ(headerOf(r, "content-range"), c.contentRange) << c.range;
        const std::string expected = c.status == 416 ? "" : bytes.substr(size_t(c.start), size_t(c.length));
        EXPECT_EQ(r.body, expected) << c.range;
    }
    // An empty file: every range that yields none is a whole (empty) reply.
    writeFile(shared / "empty.txt", "");
    for (const char* range : {"bytes=0-", "bytes=-1", "bytes=abc", "bytes=-0"}) {
        const RawReply r = get("/api/tf/d?path=empty.txt", {{"Range", range}});
        EXPECT_EQ(r.status, 200) << range;
        EXPECT_EQ(headerOf(r, "content-length"), "0") << range;
    }
}

TEST_F(TeamTransfer, TheHeadInItsOrderWithTheTwoSafetyLines) {
    writeFile(shared / "a b.txt", "hello");
    writeFile(shared / "报告.pdf", "%PDF");
    writeFile(shared / "café.svg", "<svg/>");
    RawClient client(server->port());
    const std::string cookie = "Cookie: qp_s=" + amy + "\r\n";
    ASSERT_TRUE(client.send("HEAD /api/tf/d?path=a%20b.txt&inline=1 HTTP/1.1\r\n" + cookie + "\r\n"));
    const auto head = client.readReply(true);
    ASSERT_TRUE(head);
    EXPECT_EQ(head->head,
              "HTTP/1.1 200 OK\r\n"
              "Content-Type: text/plain; charset=utf-8\r\n"
              "Accept-Ranges: bytes\r\n"
              "Cache-Control: private, max-age=0\r\n"
              "Content-Disposition: inline; filename=\"a b.txt\"; filename*=UTF-8''a%20b%2Etxt\r\n"
              "Content-Length: 5\r\n"
              "Content-Security-Policy: sandbox\r\n"
              "X-Content-Type-Options: nosniff\r\n"
              "Connection: keep-alive");
    // The same connection goes on with a GET: HEAD sent no body.
    ASSERT_TRUE(client.send("GET /api/tf/d?path=a%20b.txt HTTP/1.1\r\n" + cookie + "\r\n"));
    const auto whole = client.readReply();
    ASSERT_TRUE(whole);
    EXPECT_EQ(whole->body, "hello");
    EXPECT_EQ(headerOf(*whole, "content-disposition"), "attachment; filename=\"a b.txt\"; filename*=UTF-8''a%20b%2Etxt");

    const struct { const char* query; const char* disposition; const char* type; } cases[] = {
        {"?path=%E6%8A%A5%E5%91%8A.pdf&inline=true", "attachment; filename=\"__.pdf\"; filename*=UTF-8''%E6%8A%A5%E5%91%8A%2Epdf",
         "application/pdf"},
        {"?path=caf%C3%A9.svg&inline=1", "inline; filename=\"caf_.svg\"; filename*=UTF-8''caf%C3%A9%2Esvg", "image/svg+xml"},
    };
    for (const auto& c : cases) {
        RawReply r = get(std::string("/api/tf/d") + c.query);
        EXPECT_EQ(headerOf(r, "content-disposition"), c.disposition) << c.query;
        EXPECT_EQ(headerOf(r, "content-type"), c.type) << c.query;
        EXPECT_EQ(r.headers.count("access-control-allow-origin"), 0u);
    }
}

TEST_F(TeamTransfer, DownloadRefusals) {
    fs::create_directories(shared / "dir");
    writeFile(box.path() / "secret.txt", "s");
    fs::create_symlink(box.path() / "secret.txt", shared / "out.txt");
    writeFile(shared / "in.txt", "in");
    fs::create_symlink("in.txt", shared / "link.txt");
    const struct { const char* query; int status; const char* error; } cases[] = {
        {"?path=", 404, "文件不存在"},
        {"?path=dir", 404, "文件不存在"},
        {"?path=none", 404, "文件不存在"},
        {"?path=link.txt", 404, "文件不存在"},
        {"?path=out.txt", 400, "路径不正确"},
        {"?scope=x&path=in.txt", 400, "路径不正确"},
        {"?path=.", 400, "路径不正确"},
    };
    for (const auto& c : cases) {
        const RawReply r = get(std::string("/api/tf/d") + c.query);
        EXPECT_EQ(r.status, c.status) << c.query;
        EXPECT_EQ(parse(r), json({{"error", c.error}})) << c.query;
    }
}

TEST_F(TeamTransfer, ADroppedDownloadLeavesTheServerServing) {
    writeFile(shared / "big.bin", std::string(16 * 1048576, 'z'));
    {
        RawClient client(server->port());
        ASSERT_TRUE(client.send("GET /api/tf/d?path=big.bin HTTP/1.1\r\nCookie: qp_s=" + amy + "\r\n\r\n"));
        char some[4096];
        ASSERT_GT(::recv(client.fd(), some, sizeof some, 0), 0);
    }
    EXPECT_EQ(get("/api/tf/d?path=big.bin", {{"Range", "bytes=0-3"}}).body, "zzzz");
}

TEST_F(TeamTransfer, UploadChecksInOrderWithoutReadingTheBody) {
    const std::string over = "68719476737";
    const struct { std::string target; std::string length; std::string token; int status; const char* error; } cases[] = {
        {"/api/tf/up?name=a.txt", over, "", 401, "请先登录"},
        {"/api/tf/up?name=a.txt", over, "nope", 401, "请先登录"},
        {"/api/tf/up?name=a.txt&scope=all", over, amy, 400, "路径不正确"},
        {"/api/tf/up?name=a.txt&path=.x", over, amy, 400, "路径不正确"},
        {"/api/tf/up?name=.a&path=x", over, amy, 400, "文件名不合法"},
        {"/api/tf/up?path=x", over, amy, 400, "文件名不合法"},
        {"/api/tf/up?name=a.txt", over, amy, 400, "文件过大"},
        {"/api/tf/up?name=a.txt", "-1", amy, 400, "文件过大"},
        {"/api/tf/up?name=nothere/a.txt", "10", amy, 500, "无法写入"},
    };
    for (const auto& c : cases) {
        const RawReply r = refusedWithoutBody(c.target, c.length, c.token);
        EXPECT_EQ(r.status, c.status) << c.target;
        EXPECT_EQ(parse(r), json({{"error", c.error}})) << c.target;
    }
    EXPECT_TRUE(fs::is_empty(shared));
    // Team mode off does not stop the upload, nor a missing session's refusal.
    controls->nasExt = false;
    EXPECT_EQ(refusedWithoutBody("/api/tf/up?name=a.txt", "3", "").status, 401);
    EXPECT_EQ(upload("?name=off.txt", "off")["ok"], true);
    EXPECT_EQ(readFile(shared / "off.txt"), "off");
}

TEST_F(TeamTransfer, AnUploadFromAPageOfAnotherOriginNeedsTheDeviceToken) {
    // A page elsewhere, in a member's browser, once stored files with the member's cookie.
    const std::map<std::string, std::string> foreign{{"Cookie", "qp_s=" + amy}, {"Origin", "http://evil.example"}};
    const RawReply refused = call("PUT", "/api/tf/up?name=x.txt", "evil", foreign);
    EXPECT_EQ(refused.status, 403);
    EXPECT_EQ(parse(refused), json({{"error", "跨设备访问需要令牌"}}));
    EXPECT_TRUE(fs::is_empty(shared));
    EXPECT_EQ(call("PUT", "/api/tf/up?name=x.txt&token=tok", "mine", foreign).status, 200);
}

TEST_F(TeamTransfer, UploadsStoreUnderFreeNamesAndMakeTheirFolders) {
    const struct { std::string query; std::string body; std::string name; fs::path file; } cases[] = {
        {"?name=a.txt", "one", "a.txt", "_shared/a.txt"},
        {"?name=a.txt&scope=shared&path=", "two", "a (1).txt", "_shared/a (1).txt"},
        {"?name=a.txt", "", "a (2).txt", "_shared/a (2).txt"},
        {"?name=README", "r", "README", "_shared/README"},
        {"?name=README", "r2", "README (1)", "_shared/README (1)"},
        {"?name=p.jpg&scope=me&path=trip%2Fday1", "jpg", "p.jpg", "_users/" + amyId + "/trip/day1/p.jpg"},
        {"?name=..%2Fb.txt&path=new", "b", "b.txt", "_shared/new/b.txt"},
    };
    for (const auto& c : cases) {
        const json r = upload(c.query, c.body);
        EXPECT_EQ(r, json({{"ok", true}, {"name", c.name}, {"size", c.body.size()}})) << c.query;
        EXPECT_EQ(readFile(root / c.file), c.body) << c.query;
    }
    EXPECT_EQ(logs().front(), "amy 上传 a.txt（3 B）");
}

TEST_F(TeamTransfer, ABodyLongerThanAnnouncedStoresOnlyTheAnnouncedBytes) {
    RawClient client(server->port());
    ASSERT_TRUE(client.send(putHead("/api/tf/up?name=five.txt", "5", amy) + "0123456789"));
    const auto reply = client.readReply();
    ASSERT_TRUE(reply);
    EXPECT_EQ(parse(*reply), json({{"ok", true}, {"name", "five.txt"}, {"size", 5}}));
    EXPECT_EQ(readFile(shared / "five.txt"), "01234");
}

TEST_F(TeamTransfer, ABodyCutShortLeavesNoFile) {
    RawClient client(server->port());
    ASSERT_TRUE(client.send(putHead("/api/tf/up?name=cut.bin", "1000000", amy) + std::string(5000, 'c')));
    ::shutdown(client.fd(), SHUT_WR);
    const auto reply = client.readReply();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 500);
    EXPECT_EQ(parse(*reply), json({{"error", "上传中断"}}));
    EXPECT_TRUE(fs::is_empty(shared));
    EXPECT_TRUE(logs().empty());
}

TEST_F(TeamTransfer, TenSimultaneousUploadsOfOneNameGiveTenWholeFiles) {
    constexpr int kUploads = 10;
    std::vector<std::string> bodies;
    for (int i = 0; i < kUploads; ++i) bodies.push_back(std::string(1048576 + 7 * i, char('a' + i)));
    std::vector<std::thread> threads;
    std::vector<int> statuses(kUploads);
    for (int i = 0; i < kUploads; ++i) {
        threads.emplace_back([&, i] {
            const auto r = httpRequest(server->port(), "PUT", "/api/tf/up?name=same.bin", {{"Cookie", "qp_s=" + amy}},
                                       bodies[i]);
            statuses[i] = r ? r->status : 0;
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(statuses, std::vector<int>(kUploads, 200));
    std::set<std::string> stored;
    for (const auto& entry : fs::directory_iterator(shared)) stored.insert(readFile(entry.path()));
    EXPECT_EQ(stored, std::set<std::string>(bodies.begin(), bodies.end()));
}

TEST_F(TeamTransfer, AChunkedUploadNeverReachesTheHandler) {
    RawClient client(server->port());
    ASSERT_TRUE(client.send("PUT /api/tf/up?name=t.txt HTTP/1.1\r\nTransfer-Encoding: chunked\r\nCookie: qp_s=" + amy +
                            "\r\n\r\n3\r\nabc\r\n0\r\n\r\n"));
    const auto reply = client.readReply();
    ASSERT_TRUE(reply);
    EXPECT_EQ(parse(*reply), json({{"error", "unsupported transfer-encoding"}}));
    EXPECT_TRUE(fs::is_empty(shared));
}

}  // namespace
}  // namespace corvane::test
