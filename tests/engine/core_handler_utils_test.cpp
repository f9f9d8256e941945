#include <gtest/gtest.h>

#include <fcntl.h>
#include <set>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "engine/handler_utils.h"
#include "engine/http_response.h"
#include "support/test_support.h"

namespace fs = std::filesystem;
using namespace corvane;

namespace {

TEST(Sanitize, CleansOrRefusesClientPaths) {
    const std::string long120(120, 'x');
    const std::string long121(121, 'x');
    const struct {
        std::string in;
        std::optional<std::string> want;
    } cases[] = {
        {"a/../b", "a/b"},     {"/a//b/", "a/b"},     {"./x", "x"},          {"..", std::nullopt},
        {".hidden/x", std::nullopt}, {"a:b", std::nullopt}, {"a\\b", "a/b"}, {long121, std::nullopt},
        {long120, long120},    {"", std::nullopt},    {"/", std::nullopt},   {"..x/y", std::nullopt},
        {"a/.parts/b", std::nullopt}, {"a\tb", std::nullopt}, {"q?", std::nullopt}, {"s*", std::nullopt},
        {"<a>", std::nullopt}, {"a|b", std::nullopt}, {"\"q\"", std::nullopt}, {"中文/文件.txt", "中文/文件.txt"},
        {"a+b c", "a+b c"},
    };
    for (const auto& c : cases) EXPECT_EQ(sanitize(c.in), c.want) << c.in;
    // 120 user-perceived characters may take far more bytes.
    std::string flags;
    for (int k = 0; k < 120; ++k) flags += "🇨🇳";
    EXPECT_EQ(sanitize(flags), flags);
    EXPECT_EQ(sanitize(flags + "a"), std::nullopt);
}

TEST(ParseRange, SingleRangesAgainstASize) {
    using R = std::optional<std::pair<int64_t, int64_t>>;
    const struct {
        const char* header;
        R want;
    } cases[] = {
        {"bytes=0-99", R({0, 99})},       {"bytes=500-", R({500, 999})},   {"bytes=-100", R({900, 999})},
        {"bytes=990-2000", R({990, 999})}, {"bytes=1000-", std::nullopt},  {"bytes=5-2", std::nullopt},
        {"bytes=-2000", R({0, 999})},     {"items=0-1", std::nullopt},     {"bytes=", std::nullopt},
        {"bytes=-", std::nullopt},        {"bytes=0-1,5-9", R({0, 999})},  {"bytes=-0", R({1000, 999})},
        {"Bytes=0-1", std::nullopt},      {"bytes=x-1", std::nullopt},     {"bytes=0-x", R({0, 999})},
    };
    for (const auto& c : cases) EXPECT_EQ(parseRange(c.header, 1000), c.want) << c.header;
}

TEST(UniqueName, NumbersBeforeTheLastExtension) {
    test::Sandbox box;
    EXPECT_EQ(uniqueName(box.path(), "report.pdf"), "report.pdf");
    test::writeFile(box / "report.pdf", "");
    test::writeFile(box / "report (1).pdf", "");
    EXPECT_EQ(uniqueName(box.path(), "report.pdf"), "report (2).pdf");
    test::writeFile(box / "README", "");
    EXPECT_EQ(uniqueName(box.path(), "README"), "README (1)");
    test::writeFile(box / "archive.tar.gz", "");
    EXPECT_EQ(uniqueName(box.path(), "archive.tar.gz"), "archive.tar (1).gz");
    // A dangling link takes its name too.
    fs::create_symlink(box / "nowhere", box / "link.txt");
    EXPECT_EQ(uniqueName(box.path(), "link.txt"), "link (1).txt");
}

TEST(UniqueName, ConcurrentCreatorsNeverShareAFile) {
    test::Sandbox box;
    std::vector<std::thread> threads;
    std::vector<std::string> names(10);
    for (int k = 0; k < 10; ++k) {
        threads.emplace_back([&, k] {
            const UniqueFile f = openUnique(box.path(), "note.txt");
            ASSERT_GE(f.fd, 0);
            const std::string body = std::to_string(k);
            ASSERT_EQ(::write(f.fd, body.data(), body.size()), ssize_t(body.size()));
            ::close(f.fd);
            names[size_t(k)] = f.name;
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(std::set<std::string>(names.begin(), names.end()).size(), 10u);
    std::set<std::string> bodies;
    for (const auto& name : names) bodies.insert(test::readFile(box / name));
    EXPECT_EQ(bodies.size(), 10u);
}

TEST(MoveUnique, NeverReplacesAnExistingFile) {
    test::Sandbox box;
    test::writeFile(box / "dst" / "a.txt", "old");
    test::writeFile(box / "src.bin", "new");
    const auto name = moveUnique(box / "src.bin", box / "dst", "a.txt");
    ASSERT_EQ(name, "a (1).txt");
    EXPECT_EQ(test::readFile(box / "dst" / "a.txt"), "old");
    EXPECT_EQ(test::readFile(box / "dst" / "a (1).txt"), "new");
    EXPECT_FALSE(fs::exists(box / "src.bin"));
    EXPECT_FALSE(renameNoReplace(box / "dst" / "a (1).txt", box / "dst" / "a.txt"));
}

TEST(MimeType, ByLowerCasedExtension) {
    EXPECT_EQ(mimeType("Photo.JPG"), "image/jpeg");
    EXPECT_EQ(mimeType("archive.tar.gz"), "application/octet-stream");
    EXPECT_EQ(mimeType("dir.d/README"), "application/octet-stream");
    EXPECT_EQ(mimeType("a/b.txt"), "text/plain; charset=utf-8");
    EXPECT_EQ(mimeType("x.apk"), "application/vnd.android.package-archive");
}

TEST(RandomHex, LowerCaseDigitsOfTwiceTheLength) {
    const std::string h = randomHex(12);
    EXPECT_EQ(h.size(), 24u);
    EXPECT_EQ(h.find_first_not_of("0123456789abcdef"), std::string::npos) << h;
    EXPECT_NE(randomHex(12), h);
    EXPECT_EQ(randomHex(0), "");
}

TEST(RouteMatch, CapturesByGroupCount) {
    EXPECT_EQ(match("/api/upload/abc123", "^/api/upload/([a-f0-9]+)$"), "abc123");
    EXPECT_EQ(match("/api/upload/ABC", "^/api/upload/([a-f0-9]+)$"), std::nullopt);
    EXPECT_EQ(match2("/api/upload/ab/12", "^/api/upload/([a-f0-9]+)/(\\d+)$"),
              std::make_pair(std::string("ab"), std::string("12")));
    EXPECT_EQ(match("/api/upload/ab/12", "^/api/upload/([a-f0-9]+)/(\\d+)$"), std::nullopt);  // two groups
    EXPECT_EQ(match("x", "("), std::nullopt);  // does not compile
}

TEST(Timestamp, Shape) {
    const std::string t = timestampString();
    ASSERT_EQ(t.size(), 15u);
    EXPECT_EQ(t[8], '-');
}

// Reply writer tests read what respond() writes through a socket pair.
struct Pair {
    int a = -1, b = -1;
    Pair() {
        int fds[2];
        EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
        a = fds[0];
        b = fds[1];
    }
    ~Pair() {
        if (a >= 0) ::close(a);
        if (b >= 0) ::close(b);
    }
    std::string drain() {
        ::shutdown(a, SHUT_WR);
        std::string out;
        char buf[4096];
        ssize_t n;
        while ((n = ::read(b, buf, sizeof buf)) > 0) out.append(buf, size_t(n));
        return out;
    }
};

TEST(StatusText, ReasonPhrases) {
    const struct {
        int status;
        const char* text;
    } cases[] = {{200, "OK"}, {201, "OK"}, {204, "No Content"}, {206, "Partial Content"}, {400, "Bad Request"},
                 {401, "Unauthorized"}, {403, "Forbidden"}, {404, "Not Found"}, {413, "OK"},
                 {416, "Range Not Satisfiable"}, {500, "Internal Server Error"}, {503, "OK"}};
    for (const auto& c : cases) EXPECT_EQ(statusText(c.status), c.text) << c.status;
}

TEST(Respond, HeadLinesInOrderWithOneLength) {
    Pair p;
    respond(p.a, 201, {{"X-A", "1"}}, "hello");
    EXPECT_EQ(p.drain(),
              std::string("HTTP/1.1 201 OK\r\nX-A: 1\r\nContent-Length: 5\r\n") + test::kCrossOriginLines +
                  "\r\n\r\nhello");
}

TEST(Respond, CallersLengthAndHeadOnly) {
    Pair p;
    respond(p.a, 200, {{"content-LENGTH", "99"}}, "abc", true);
    const std::string out = p.drain();
    EXPECT_NE(out.find("content-LENGTH: 99\r\n"), std::string::npos);
    EXPECT_EQ(out.find("Content-Length: 3"), std::string::npos);
    EXPECT_EQ(out.substr(out.size() - 4), "\r\n\r\n");

    Pair q;
    respond(q.a, 200, {}, "abc", true);
    const std::string head = q.drain();
    EXPECT_NE(head.find("Content-Length: 3\r\n"), std::string::npos);
    EXPECT_EQ(head.substr(head.size() - 4), "\r\n\r\n");
}

TEST(SendJSON, CompactEscapedSafeOr500) {
    const auto bodyOf = [](const nlohmann::json& v, int status) {
        Pair p;
        sendJSON(p.a, status, v);
        const std::string out = p.drain();
        return std::make_pair(out.substr(0, out.find("\r\n")), out.substr(out.find("\r\n\r\n") + 4));
    };
    auto [line, body] = bodyOf({{"u", "a/b"}, {"n", std::nan("")}, {"i", INFINITY}, {"l", {1, 2}}}, 200);
    EXPECT_EQ(line, "HTTP/1.1 200 OK");
    EXPECT_EQ(body, R"({"i":0,"l":[1,2],"n":0,"u":"a\/b"})");
    std::tie(line, body) = bodyOf("bare text", 200);
    EXPECT_EQ(line, "HTTP/1.1 500 Internal Server Error");
    EXPECT_EQ(body, R"({"error":"json encode failed"})");
    std::tie(line, body) = bodyOf({{"bad", std::string("\xff")}}, 200);
    EXPECT_EQ(body, R"({"error":"json encode failed"})");
    std::tie(line, body) = bodyOf({{"b", true}, {"z", 0.5}}, 404);
    EXPECT_EQ(line, "HTTP/1.1 404 Not Found");
    EXPECT_EQ(body, R"({"b":true,"z":0.5})");
}

TEST(WriteAll, ReportsAVanishedPeerWithoutASignal) {
    Pair p;
    ::close(p.b);
    p.b = -1;
    EXPECT_FALSE(writeAll(p.a, std::string(100000, 'x')));
    EXPECT_TRUE(writeAll(p.a, ""));
}

}  // namespace
