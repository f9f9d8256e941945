// The ranged file download on "/d/".

#include <fcntl.h>
#include <unistd.h>

#include "base/lan_socket.h"
#include "engine/receiving/file_download.h"
#include "engine/routes_fixture.h"

namespace fs = std::filesystem;

namespace corvane::test {
namespace {

class RoutesDownload : public RouteTest {
protected:
    void SetUp() override {
        RouteTest::SetUp();
        for (int k = 0; k < 1000; ++k) thousand += char('a' + k % 26);
        writeFile(root / "t.bin", thousand);
    }
    RawReply get(const std::string& target, const std::string& range = "") {
        return call("GET", target, "", range.empty() ? std::map<std::string, std::string>{}
                                                     : std::map<std::string, std::string>{{"Range", range}});
    }
    std::string thousand;
};

TEST_F(RoutesDownload, RangesOfAThousandByteFile) {
    const struct { const char* range; int status; const char* contentRange; int64_t start, length; } cases[] = {
        {"", 200, "", 0, 1000}, {"bytes=0-99", 206, "bytes 0-99/1000", 0, 100},
        {"bytes=500-", 206, "bytes 500-999/1000", 500, 500}, {"bytes=-100", 206, "bytes 900-999/1000", 900, 100},
        {"bytes=0-1,5-9", 206, "bytes 0-999/1000", 0, 1000}, {"bytes=990-2000", 206, "bytes 990-999/1000", 990, 10},
        {"bytes=-2000", 206, "bytes 0-999/1000", 0, 1000}, {"bytes=999-999", 206, "bytes 999-999/1000", 999, 1},
        {"bytes=1000-", 416, "bytes */1000", 0, 0}, {"bytes=5-2", 416, "bytes */1000", 0, 0},
        {"items=0-1", 416, "bytes */1000", 0, 0}, {"bytes=abc", 416, "bytes */1000", 0, 0},
    };
    for (const auto& c : cases) {
        RawReply reply = get("/d/t.bin", c.range);
        EXPECT_EQ(reply.status, c.status) << c.range;
        EXPECT_EQ(reply.headers["content-range"], c.contentRange) << c.range;
        EXPECT_EQ(reply.headers["content-length"], std::to_string(c.length)) << c.range;
        if (c.status == 416) {
            EXPECT_EQ(reply.statusLine, "HTTP/1.1 416 Range Not Satisfiable");
            EXPECT_EQ(reply.body, "") << c.range;
            continue;
        }
        EXPECT_EQ(reply.body, thousand.substr(size_t(c.start), size_t(c.length))) << c.range;
        EXPECT_EQ(reply.headers["accept-ranges"], "bytes");
    }
}

TEST_F(RoutesDownload, RepliesGoUnpacedAndALargerDownloadUnderTheSystemsCongestionControl) {
    // Small replies leave at once; a larger body may meet a lossy link, for which the
    // system's choice may do better.
    writeFile(root / "big.bin", std::string(size_t(unpacedBytes) + 1, 'b'));
    const std::string& systemChoice = systemCongestionControl();
    RawClient client(server->port());
    const struct { const char* target; std::string congestion; } cases[] = {
        {"/d/t.bin", "reno"}, {"/d/big.bin", systemChoice}};
    for (const auto& c : cases) {
        ASSERT_TRUE(client.send(std::string("GET ") + c.target + " HTTP/1.1\r\n\r\n"));
        const auto reply = client.readReply();
        ASSERT_TRUE(reply && reply->status == 200) << c.target;
        EXPECT_EQ(congestionControlOf(otherEndOf(client.fd())), c.congestion) << c.target;
    }
}

TEST_F(RoutesDownload, HeadMatchesTheExactHeadOfAPartialReply) {
    writeFile(root / "a.txt", "0123456789");
    RawClient client(server->port());
    ASSERT_TRUE(client.send("HEAD /d/a.txt HTTP/1.1\r\nRange: bytes=2-5\r\n\r\n"
                            "GET /d/a.txt HTTP/1.1\r\nRange: bytes=2-5\r\n\r\n"));
    const auto head = client.readReply(true);
    const auto full = client.readReply();
    ASSERT_TRUE(head && full);
    const std::string expected =
        "HTTP/1.1 206 Partial Content\r\n"
        "Content-Type: text/plain; charset=utf-8\r\n"
        "Accept-Ranges: bytes\r\n"
        "Content-Disposition: attachment; filename=\"a.txt\"; filename*=UTF-8''a%2Etxt\r\n"
        "Content-Range: bytes 2-5/10\r\n"
        "Content-Length: 4\r\n"
        "Content-Security-Policy: sandbox\r\n"
        "X-Content-Type-Options: nosniff\r\n"
        "Access-Control-Allow-Origin: *\r\n"
        "Access-Control-Expose-Headers: content-length, content-range, content-disposition, accept-ranges\r\n"
        "Connection: keep-alive";
    EXPECT_EQ(head->head, expected);
    // The HEAD reply sent no body: the GET reply follows it directly.
    EXPECT_EQ(full->head, expected);
    EXPECT_EQ(full->body, "2345");
}

TEST_F(RoutesDownload, HeadOfARefusedPathSendsNoBody) {
    RawClient client(server->port());
    ASSERT_TRUE(client.send("HEAD /d/missing.txt HTTP/1.1\r\n\r\nHEAD /d/ HTTP/1.1\r\n\r\n"
                            "GET /d/t.bin HTTP/1.1\r\nRange: bytes=0-2\r\n\r\n"));
    const auto missing = client.readReply(true);
    const auto bad = client.readReply(true);
    const auto next = client.readReply();
    ASSERT_TRUE(missing && bad && next);
    EXPECT_EQ(missing->status, 404);
    EXPECT_EQ(missing->headers.at("content-length"), "21");  // the length GET would get: {"error":"not found"}
    EXPECT_EQ(bad->status, 400);
    EXPECT_EQ(next->status, 206);
    EXPECT_EQ(next->body, "abc");
}

TEST_F(RoutesDownload, EmptyFileIsSentWholeEvenWithABadRange) {
    writeFile(root / "empty.txt", "");
    for (const char* range : {"", "bytes=0-10", "bytes=x"}) {
        const RawReply reply = get("/d/empty.txt", range);
        EXPECT_EQ(reply.status, 200) << range;
        EXPECT_EQ(reply.headers.count("content-range"), 0u) << range;
        EXPECT_EQ(reply.headers.at("content-length"), "0") << range;
    }
}

TEST_F(RoutesDownload, InlineOnlyForInlineOneWithTheNameEncodedBothWays) {
    writeFile(root / "报告.pdf", "pdf");
    const char* const names = "filename=\"__.pdf\"; filename*=UTF-8''%E6%8A%A5%E5%91%8A%2Epdf";
    const struct { const char* query; const char* disposition; } cases[] = {
        {"?inline=1", "inline"}, {"?inline=true", "attachment"}, {"?inline=0", "attachment"}, {"", "attachment"}};
    for (const auto& c : cases) {
        const RawReply reply = get(std::string("/d/%E6%8A%A5%E5%91%8A.pdf") + c.query);
        EXPECT_EQ(reply.headers.at("content-disposition"), std::string(c.disposition) + "; " + names) << c.query;
        EXPECT_EQ(reply.headers.at("content-type"), "application/pdf") << c.query;
    }
}

TEST(RoutesContentDisposition, NamesAreGivenAsASCIIAndAsEncodedUTF8) {
    const struct { const char* name; bool inlineView; const char* value; } cases[] = {
        {"a\"b.txt", false, "attachment; filename=\"a_b.txt\"; filename*=UTF-8''a%22b%2Etxt"},
        {"报告.pdf", false, "attachment; filename=\"__.pdf\"; filename*=UTF-8''%E6%8A%A5%E5%91%8A%2Epdf"},
        {"my file-1.txt", true, "inline; filename=\"my file-1.txt\"; filename*=UTF-8''my%20file%2D1%2Etxt"},
        {"Report2024", false, "attachment; filename=\"Report2024\"; filename*=UTF-8''Report2024"},
        {"e\xcc\x81.txt", false, "attachment; filename=\"e_.txt\"; filename*=UTF-8''e%CC%81%2Etxt"},
    };
    for (const auto& c : cases) EXPECT_EQ(contentDisposition(c.name, c.inlineView), c.value) << c.name;
}

TEST_F(RoutesDownload, RefusedPaths) {
    writeFile(root / ".parts" / "0123456789abcdef" / "000000000000.part", "part");
    writeFile(root / "_team" / "users.json", "{}");
    writeFile(root / "_users" / "bob" / "a.txt", "private");
    writeFile(sandbox / "secret.txt", "outside");
    fs::create_directories(root / "folder");
    fs::create_symlink(sandbox / "secret.txt", root / "link.txt");
    const struct { const char* target; int status; const char* body; } cases[] = {
        {"/d/", 400, R"({"error":"bad path"})"},
        {"/d/..", 400, R"({"error":"bad path"})"},
        {"/d/a:b.txt", 400, R"({"error":"bad path"})"},
        {"/d/.parts/0123456789abcdef/000000000000.part", 400, R"({"error":"bad path"})"},
        {"/d/folder", 404, R"({"error":"not found"})"},
        {"/d/link.txt", 404, R"({"error":"not found"})"},
        {"/d/missing.txt", 404, R"({"error":"not found"})"},
        {"/d/../secret.txt", 404, R"({"error":"not found"})"},
        {"/d/_team/users.json", 404, R"({"error":"not found"})"},
        {"/d/_users/bob/a.txt", 404, R"({"error":"not found"})"},
    };
    for (const auto& c : cases) {
        const RawReply reply = get(c.target);
        EXPECT_EQ(reply.status, c.status) << c.target;
        EXPECT_EQ(reply.body, c.body) << c.target;
    }
}

TEST_F(RoutesDownload, BodyCutShortClosesTheConnection) {
    // A large sparse file shrinks after its head went out.
    const fs::path big = root / "big.bin";
    {
        const int fd = ::open(big.c_str(), O_CREAT | O_WRONLY, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, off_t(1) << 30), 0);
        ::close(fd);
    }
    RawClient client(server->port());
    ASSERT_TRUE(client.send("GET /d/big.bin HTTP/1.1\r\n\r\n"));
    const auto head = client.readReply(true);
    ASSERT_TRUE(head);
    EXPECT_EQ(head->headers.at("content-length"), std::to_string(int64_t(1) << 30));
    fs::resize_file(big, 0);
    const std::string rest = client.readUntilClosed();
    EXPECT_LT(rest.size(), size_t(1) << 30);
    EXPECT_TRUE(client.closedByServer());
}

}  // namespace
}  // namespace corvane::test
