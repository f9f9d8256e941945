#include <gtest/gtest.h>

#include "engine/server/http_request.h"
#include "engine/server/http_server.h"
#include "engine/server/reply_batch.h"

using namespace corvane;

namespace {

TEST(ParseHead, TargetPathAndQuery) {
    const auto req = parseHead("get /d/a%20b.txt?x=1+2&y&x=3 HTTP/1.1\r\nHost: h\r\n\r\n");
    ASSERT_TRUE(req);
    EXPECT_EQ(req->method, "GET");
    EXPECT_EQ(req->rawTarget, "/d/a%20b.txt?x=1+2&y&x=3");
    EXPECT_EQ(req->path, "/d/a b.txt");
    EXPECT_EQ(req->query.at("x"), "3");
    EXPECT_EQ(req->query.at("y"), "");
    EXPECT_EQ(req->query.size(), 2u);
    EXPECT_TRUE(req->body.empty());
}

TEST(ParseHead, DecodingRules) {
    const struct { const char* target; const char* path; } paths[] = {
        {"/d/100%", "/d/100%"}, {"/a+b", "/a+b"}, {"/%E4%B8%AD", "/中"}, {"/%ff", "/%ff"}, {"/%4", "/%4"}};
    for (const auto& c : paths) {
        const auto req = parseHead(std::string("GET ") + c.target + " HTTP/1.1\r\n\r\n");
        ASSERT_TRUE(req) << c.target;
        EXPECT_EQ(req->path, c.path) << c.target;
    }
    const auto req = parseHead("GET /?a=1%2B1&b=x+y&c=%zz+q&%41=v&%zz=w&&n%41 HTTP/1.1\r\n\r\n");
    ASSERT_TRUE(req);
    EXPECT_EQ(req->query.at("a"), "1+1");
    EXPECT_EQ(req->query.at("b"), "x y");
    EXPECT_EQ(req->query.at("c"), "%zz+q");  // undecodable: as sent, "+" kept
    EXPECT_EQ(req->query.at("A"), "v");
    EXPECT_EQ(req->query.at("%zz"), "w");
    EXPECT_EQ(req->query.at("n%41"), "");  // a name without "=" is not decoded
}

TEST(ParseHead, Headers) {
    const auto req = parseHead(
        "POST /x HTTP/1.1\r\nContent-Length: 5\r\ncontent-length: 7\r\nAccept:   text/html \t\r\n"
        " : empty\r\nno colon line\r\nX-Multi: a:b\r\n\r\n");
    ASSERT_TRUE(req);
    EXPECT_EQ(req->headers.at("content-length"), "7");
    EXPECT_EQ(req->headers.at("accept"), "text/html");
    EXPECT_EQ(req->headers.at("x-multi"), "a:b");
    EXPECT_EQ(req->headers.count(""), 0u);
    EXPECT_EQ(req->headers.size(), 3u);
}

TEST(ParseHead, RefusedHeads) {
    EXPECT_FALSE(parseHead("GET\r\n\r\n"));
    EXPECT_FALSE(parseHead("\r\n\r\n"));
    EXPECT_FALSE(parseHead(std::string("GET /\xff HTTP/1.1\r\n\r\n")));
    EXPECT_TRUE(parseHead("GET   /x\r\n\r\n"));  // extra blanks, no version
}

TEST(HostMatches, SameHostAndPort) {
    const struct { const char* origin; const char* host; bool want; } cases[] = {
        {"http://192.168.1.7:8899", "192.168.1.5:8899", false}, {"http://192.168.1.5", "192.168.1.5:8899", true},
        {"http://192.168.1.5:9000", "192.168.1.5:8899", false}, {"http://localhost:8899", "127.0.0.1:8899", false},
        {"http://192.168.1.5:8899", "192.168.1.5:8899", true}, {"http://192.168.1.5:80", "192.168.1.5", true},
        {"http://192.168.1.5:81", "192.168.1.5", false}, {"http://192.168.1.5:8899", "192.168.1.5:abc", false},
        {"null", "192.168.1.5:8899", false}, {"", "", false},
        {"http://Host:1", "host:1", false},
    };
    for (const auto& c : cases) EXPECT_EQ(HTTPServer::hostMatches(c.origin, c.host), c.want) << c.origin << " vs " << c.host;
}

TEST(TokenCheck, HeaderFirstThenQuery) {
    auto server = std::make_shared<HTTPServer>("id", "name", "tok", "", "/tmp/unused-root");
    HTTPReq req;
    EXPECT_FALSE(server->tokenOK(req));
    req.query["token"] = "tok";
    EXPECT_TRUE(server->tokenOK(req));
    req.headers["x-corvane-token"] = "wrong";
    EXPECT_FALSE(server->tokenOK(req));  // a non-empty header wins even when wrong
    req.headers["x-corvane-token"] = "tok";
    EXPECT_TRUE(server->tokenOK(req));
    req.headers["x-corvane-token"] = "tok2";
    EXPECT_FALSE(server->tokenOK(req));

    auto tokenless = std::make_shared<HTTPServer>("id", "name", "", "", "/tmp/unused-root");
    HTTPReq empty;
    empty.query["token"] = "";
    EXPECT_FALSE(tokenless->tokenOK(empty));
}

// Replies wait for the next request's only while it is whole in the buffer: a wrong yes
// holds them while the server waits for the network.
TEST(WholeRequest, OnlyAHeadWithItsWholeBodyCounts) {
    const struct { const char* bytes; bool whole; } cases[] = {
        {"", false},
        {"GET / HTTP/1.1\r\nHost: h\r\n", false},
        {"GET / HTTP/1.1\r\nHost: h\r\n\r\n", true},
        {"GET / HTTP/1.1\r\n\r\n", true},
        {"PUT /a HTTP/1.1\r\nContent-Length: 5\r\n\r\nabcd", false},
        {"PUT /a HTTP/1.1\r\nContent-Length: 5\r\n\r\nabcde", true},
        {"PUT /a HTTP/1.1\r\nContent-Length: 5\r\n\r\nabcdeGET", true},
        {"PUT /a HTTP/1.1\r\ncontent-length:\t5 \r\n\r\nabcd", false},
        {"PUT /a HTTP/1.1\r\nCONTENT-LENGTH: 5\r\n\r\nabcde", true},
        {"PUT /a HTTP/1.1\r\nX-Content-Length: 0\r\nContent-Length: 3\r\n\r\nab", false},
        {"PUT /a HTTP/1.1\r\nContent-Length: 99999999999999999999\r\n\r\nab", false},
        {"PUT /a HTTP/1.1\r\nContent-Length: -1\r\n\r\n", false},
        {"PUT /a HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n", false},
    };
    for (const auto& c : cases) EXPECT_EQ(beginsWithWholeRequest(c.bytes), c.whole) << c.bytes;
}

}  // namespace
