#include <functional>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include "engine/server/handler_utils.h"
#include "engine/server/http_response.h"
#include "support/test_support.h"

namespace fs = std::filesystem;
using namespace corvane;

namespace {

TEST(ParseRange, SingleRangesAgainstASize) {
    using R = std::optional<std::pair<int64_t, int64_t>>;
    const struct { const char* header; R want; } cases[] = {
        {"bytes=0-99", R({0, 99})},       {"bytes=500-", R({500, 999})},   {"bytes=-100", R({900, 999})},
        {"bytes=990-2000", R({990, 999})}, {"bytes=1000-", std::nullopt},  {"bytes=5-2", std::nullopt},
        {"bytes=-2000", R({0, 999})},     {"items=0-1", std::nullopt},     {"bytes=", std::nullopt},
        {"bytes=-", std::nullopt},        {"bytes=0-1,5-9", R({0, 999})},  {"bytes=-0", std::nullopt},
        {"Bytes=0-1", std::nullopt},      {"bytes=x-1", std::nullopt},     {"bytes=0-x", R({0, 999})},
    };
    for (const auto& c : cases) EXPECT_EQ(parseRange(c.header, 1000), c.want) << c.header;
}

// Every status the servers send carries its own phrase; cadaver showed "201 OK" and "501 OK".
TEST(StatusText, ReasonPhrases) {
    const struct { int status; const char* text; } cases[] = {
        {200, "OK"}, {201, "Created"}, {204, "No Content"}, {206, "Partial Content"}, {207, "Multi-Status"},
        {304, "Not Modified"}, {400, "Bad Request"}, {401, "Unauthorized"}, {403, "Forbidden"}, {404, "Not Found"},
        {405, "Method Not Allowed"}, {409, "Conflict"}, {411, "Length Required"}, {412, "Precondition Failed"},
        {413, "Content Too Large"}, {415, "Unsupported Media Type"}, {416, "Range Not Satisfiable"}, {423, "Locked"},
        {429, "Too Many Requests"}, {500, "Internal Server Error"}, {501, "Not Implemented"}, {502, "Bad Gateway"},
        {503, "Service Unavailable"}, {507, "Insufficient Storage"}, {418, "Bad Request"}, {599, "Internal Server Error"},
    };
    for (const auto& c : cases) EXPECT_EQ(statusText(c.status), c.text) << c.status;
}

// What the reply writer puts on a socket, read back through a socket pair.
std::string written(const std::function<void(int)>& write) {
    int fds[2];
    EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    write(fds[0]);
    ::shutdown(fds[0], SHUT_WR);
    std::string out;
    char buf[4096];
    ssize_t n;
    while ((n = ::read(fds[1], buf, sizeof buf)) > 0) out.append(buf, size_t(n));
    ::close(fds[0]);
    ::close(fds[1]);
    return out;
}

TEST(SendJSON, CompactEscapedSafeOr500) {
    const auto bodyOf = [](const nlohmann::json& v, int status) {
        const std::string out = written([&](int fd) { sendJSON(fd, status, v); });
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

}  // namespace
