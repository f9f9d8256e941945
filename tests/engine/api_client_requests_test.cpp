// What the peer client sends and how it reads replies, against a stand-in
// server that records each request and answers as the test says.

#include <gtest/gtest.h>

#include <functional>

#include "engine/api_client.h"
#include "support/scripted_http_server.h"

namespace corvane {
namespace {

using nlohmann::json;
using test::ScriptedHTTPServer;
using test::ScriptedReply;

// Each operation that sends a request, reduced to its error.
struct Operation {
    const char* name;
    std::function<std::optional<APIError>(const APIClient&)> call;
};

std::vector<Operation> failingOperations() {
    return {
        {"files", [](const APIClient& c) { return c.files().error; }},
        {"deletePath", [](const APIClient& c) { return c.deletePath("a.txt"); }},
        {"sendText", [](const APIClient& c) { return c.sendText("hi", false).error; }},
        {"discardBurn", [](const APIClient& c) { return c.discardBurn("n1"); }},
        {"sendChat", [](const APIClient& c) { return c.sendChat(json{{"text", "hi"}}); }},
        {"chatRead", [](const APIClient& c) { return c.chatRead("m1"); }},
        {"uploadStatus", [](const APIClient& c) { return c.uploadStatus("0123abcd").error; }},
        {"putMeta", [](const APIClient& c) { return c.putMeta("0123abcd", json{{"name", "a"}}); }},
        {"putChunk", [](const APIClient& c) { return c.putChunk("0123abcd", 0, "x"); }},
        {"finish", [](const APIClient& c) { return c.finish("0123abcd").error; }},
    };
}

TEST(APIClientRequests, CredentialHeadersGoOnlyWhenSet) {
    ScriptedHTTPServer server(ScriptedReply{200, "application/json", "{}"});
    const struct {
        const char* token;
        const char* pin;
    } cases[] = {{"", ""}, {"tok", ""}, {"", "1234"}, {"tok", "1234"}};
    for (const auto& c : cases) {
        const size_t before = server.requests().size();
        ASSERT_FALSE(APIClient(server.base(), c.token, c.pin).chatRead("m1").has_value());
        const auto requests = server.requests();
        ASSERT_EQ(requests.size(), before + 1);
        const auto& headers = requests.back().headers;
        EXPECT_EQ(headers.count("x-corvane-token"), std::string(c.token).empty() ? 0u : 1u) << c.token;
        EXPECT_EQ(headers.count("x-pin"), std::string(c.pin).empty() ? 0u : 1u) << c.pin;
        EXPECT_EQ(requests.back().header("x-corvane-token"), c.token);
        EXPECT_EQ(requests.back().header("x-pin"), c.pin);
        EXPECT_EQ(requests.back().query.size(), 0u) << "credentials never travel in the query of a request";
    }
}

TEST(APIClientRequests, EachOperationSendsItsMethodPathAndBody) {
    ScriptedHTTPServer server(ScriptedReply{200, "application/json", R"({"ok":true})"});
    const APIClient client(server.base(), "", "");
    const struct {
        const char* name;
        std::function<void()> call;
        const char* method;
        const char* target;
        const char* contentType;
        std::string body;
    } cases[] = {
        {"files", [&] { client.files(); }, "GET", "/api/files", "", ""},
        {"sendText", [&] { client.sendText("你好", true); }, "POST", "/api/text", "application/json",
         R"({"burn":true,"text":"你好"})"},
        {"discardBurn", [&] { client.discardBurn("abc123"); }, "DELETE", "/api/burn/abc123", "", ""},
        {"sendChat", [&] { client.sendChat(json{{"id", "m1"}, {"text", "hi"}}); }, "POST", "/api/chat",
         "application/json", R"({"id":"m1","text":"hi"})"},
        {"chatRead", [&] { client.chatRead("m1"); }, "POST", "/api/chat/burn", "application/json", R"({"id":"m1"})"},
        {"uploadStatus", [&] { client.uploadStatus("0123abcd"); }, "GET", "/api/upload/0123abcd", "", ""},
        {"putMeta", [&] { client.putMeta("0123abcd", json{{"size", 5}}); }, "PUT", "/api/upload/0123abcd/meta",
         "application/json", R"({"size":5})"},
        {"putChunk", [&] { client.putChunk("0123abcd", 7, std::string("a\0b\xff", 4)); }, "PUT",
         "/api/upload/0123abcd/7", "application/octet-stream", std::string("a\0b\xff", 4)},
        {"empty chunk", [&] { client.putChunk("0123abcd", 0, ""); }, "PUT", "/api/upload/0123abcd/0",
         "application/octet-stream", ""},
        {"finish", [&] { client.finish("0123abcd"); }, "POST", "/api/upload/0123abcd/finish", "application/json", "{}"},
        {"cancelUpload", [&] { client.cancelUpload("0123abcd"); }, "DELETE", "/api/upload/0123abcd", "", ""},
    };
    for (const auto& c : cases) {
        const size_t before = server.requests().size();
        c.call();
        const auto requests = server.requests();
        ASSERT_EQ(requests.size(), before + 1) << c.name;
        const HTTPReq& req = requests.back();
        EXPECT_EQ(req.method, c.method) << c.name;
        EXPECT_EQ(req.rawTarget, c.target) << c.name;
        EXPECT_EQ(req.header("content-type"), c.contentType) << c.name;
        EXPECT_EQ(req.body, c.body) << c.name;
    }
}

TEST(APIClientRequests, DeleteEncodesThePathStrictlyInTheQuery) {
    ScriptedHTTPServer server(ScriptedReply{200, "application/json", ""});
    ASSERT_FALSE(APIClient(server.base(), "", "").deletePath("a b/文件+1.txt").has_value());
    const HTTPReq req = server.requests().back();
    EXPECT_EQ(req.rawTarget, "/api/file?p=a%20b%2F%E6%96%87%E4%BB%B6%2B1.txt");
    EXPECT_EQ(req.param("p"), "a b/文件+1.txt");
}

TEST(APIClientRequests, BasePathAndQueryAreReplaced) {
    ScriptedHTTPServer server(ScriptedReply{200, "application/json", R"({"files":[]})"});
    const APIClient client("http://127.0.0.1:" + std::to_string(server.port()) + "/old/path?x=1", "", "");
    ASSERT_TRUE(client.files().ok());
    EXPECT_EQ(server.requests().back().rawTarget, "/api/files");
}

TEST(APIClientRequests, RefusalCarriesTheServersErrorText) {
    ScriptedHTTPServer server(ScriptedReply{404, "application/json", R"({"error":"not found"})"});
    const APIClient client(server.base(), "", "");
    for (const auto& op : failingOperations()) {
        const auto error = op.call(client);
        ASSERT_TRUE(error.has_value()) << op.name;
        EXPECT_EQ(*error, APIError::http(404, "not found")) << op.name;
        EXPECT_EQ(error->description(), "not found") << op.name;
    }
}

TEST(APIClientRequests, RefusalWithoutAnErrorTextShowsTheStatus) {
    const struct {
        ScriptedReply reply;
        const char* text;
    } cases[] = {
        {{502, "text/html", "<html><body>Bad Gateway</body></html>"}, "HTTP 502"},
        {{500, "application/json", ""}, "HTTP 500"},
        {{400, "application/json", R"({"error":7})"}, "HTTP 400"},
        {{400, "application/json", R"({"error":""})"}, "HTTP 400"},
        {{403, "application/json", R"({"error":"跨设备访问需要令牌"})"}, "跨设备访问需要令牌"},
    };
    for (const auto& c : cases) {
        ScriptedHTTPServer server(c.reply);
        const APIClient client(server.base(), "", "");
        for (const auto& op : failingOperations()) {
            const auto error = op.call(client);
            ASSERT_TRUE(error.has_value()) << op.name;
            EXPECT_EQ(error->kind, APIError::Kind::http) << op.name;
            EXPECT_EQ(error->status, c.reply.status) << op.name;
            EXPECT_EQ(error->description(), c.text) << op.name;
        }
    }
}

TEST(APIClientRequests, RepliesThatAreNotTheExpectedObjectFailToDecode) {
    const struct {
        const char* why;
        std::string body;
        std::function<std::optional<APIError>(const APIClient&)> call;
    } cases[] = {
        {"files as an array", "[]", [](const APIClient& c) { return c.files().error; }},
        {"files not JSON", "<html>", [](const APIClient& c) { return c.files().error; }},
        {"finish with an empty body", "", [](const APIClient& c) { return c.finish("0123abcd").error; }},
        {"status as a number", "5", [](const APIClient& c) { return c.uploadStatus("0123abcd").error; }},
        {"text reply as a string", R"("ok")", [](const APIClient& c) { return c.sendText("hi", false).error; }},
    };
    for (const auto& c : cases) {
        ScriptedHTTPServer server(ScriptedReply{200, "application/json", c.body});
        const auto error = c.call(APIClient(server.base(), "", ""));
        ASSERT_TRUE(error.has_value()) << c.why;
        EXPECT_EQ(*error, APIError::decode()) << c.why;
        EXPECT_EQ(error->description(), "返回数据格式错误") << c.why;
    }
}

TEST(APIClientRequests, RoutesWithoutAReadReplySucceedOnAnEmptyBody) {
    ScriptedHTTPServer server(ScriptedReply{200, "text/plain", ""});
    const APIClient client(server.base(), "", "");
    EXPECT_FALSE(client.deletePath("a.txt").has_value());
    EXPECT_FALSE(client.discardBurn("n").has_value());
    EXPECT_FALSE(client.sendChat(json::object()).has_value());
    EXPECT_FALSE(client.chatRead("m").has_value());
    EXPECT_FALSE(client.putMeta("0123abcd", json::object()).has_value());
    EXPECT_FALSE(client.putChunk("0123abcd", 1, "x").has_value());
}

TEST(APIClientRequests, FileListReadsLeniently) {
    const struct {
        const char* why;
        std::string body;
        std::vector<FileItem> files;
        bool truncated;
    } cases[] = {
        {"files not an array", R"({"files":3})", {}, false},
        {"no files key", R"({"truncated":"1"})", {}, true},
        {"an element that is not an object", R"({"files":[{"p":"a","n":"a","s":1,"t":2},5]})", {}, false},
        {"missing size", R"({"files":[{"p":"d/a.txt","n":"a.txt","t":1.5}],"truncated":true})",
         {{"d/a.txt", "a.txt", 0, 1.5}}, true},
        {"numbers as texts", R"({"files":[{"p":"b","n":"b","s":"12","t":"3.5"}],"truncated":0})",
         {{"b", "b", 12, 3.5}}, false},
        {"non-text name", R"({"files":[{"p":"c","n":4,"s":1,"t":1}]})", {{"c", "", 1, 1}}, false},
    };
    for (const auto& c : cases) {
        ScriptedHTTPServer server(ScriptedReply{200, "application/json", c.body});
        const auto list = APIClient(server.base(), "", "").files();
        ASSERT_TRUE(list.ok()) << c.why;
        EXPECT_EQ(list.value.files, c.files) << c.why;
        EXPECT_EQ(list.value.truncated, c.truncated) << c.why;
    }
}

TEST(APIClientRequests, FinishReturnsTheStoredFile) {
    ScriptedHTTPServer server(
        ScriptedReply{200, "application/json", R"({"ok":true,"p":"docs/a (1).txt","n":"a (1).txt","s":42,"t":1700000000123.5})"});
    const auto stored = APIClient(server.base(), "", "").finish("0123abcd");
    ASSERT_TRUE(stored.ok());
    EXPECT_EQ(stored.value, (FileItem{"docs/a (1).txt", "a (1).txt", 42, 1700000000123.5}));
}

TEST(APIClientRequests, BadAddressFailsBeforeAnyRequest) {
    for (const std::string base : {"", "not a url", "http://", "http://:8899/", "http://host:99999/",
                                   "http://a b:8899/", "://127.0.0.1:8899/", "http://host:12x/"}) {
        const APIClient client(base, "tok", "1234");
        for (const auto& op : failingOperations()) {
            const auto error = op.call(client);
            ASSERT_TRUE(error.has_value()) << base << " " << op.name;
            EXPECT_EQ(*error, APIError::badURL()) << base << " " << op.name;
            EXPECT_EQ(error->description(), "地址无效");
        }
        client.cancelUpload("0123abcd");
        EXPECT_EQ(client.downloadURL("a.txt").error, APIError::badURL()) << base;
    }
}

TEST(APIClientRequests, UnreachableDeviceGivesTheTransportText) {
    int port = 0;
    {
        ScriptedHTTPServer closed;  // a port that was free a moment ago and is closed now
        port = closed.port();
    }
    const APIClient client("http://127.0.0.1:" + std::to_string(port) + "/", "", "");
    for (const auto& op : failingOperations()) {
        const auto error = op.call(client);
        ASSERT_TRUE(error.has_value()) << op.name;
        EXPECT_EQ(error->kind, APIError::Kind::transport) << op.name;
        EXPECT_FALSE(error->description().empty()) << op.name;
    }
    client.cancelUpload("0123abcd");  // returns normally
}

TEST(APIClientRequests, StopFlagAbandonsTheRequest) {
    ScriptedHTTPServer server(ScriptedReply{200, "application/json", "{}"});
    auto stop = std::make_shared<std::atomic<bool>>(true);
    const auto error = APIClient(server.base(), "", "").stoppedBy(stop).putChunk("0123abcd", 0, "x");
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->kind, APIError::Kind::transport);
}

TEST(APIClientRequests, JSONBodyThatCannotBeEncodedIsNotSent) {
    ScriptedHTTPServer server(ScriptedReply{200, "application/json", "{}"});
    const auto error = APIClient(server.base(), "", "").putMeta("0123abcd", json{{"name", std::string("\xff\xfe")}});
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->kind, APIError::Kind::transport);
    EXPECT_TRUE(server.requests().empty());
}

TEST(APIClientRequests, DownloadURLCarriesCredentialsOnlyWhenSet) {
    const struct {
        const char* token;
        const char* pin;
        const char* path;
        const char* url;
    } cases[] = {
        {"", "", "a.txt", "http://10.0.0.5:8899/d/a.txt"},
        {"tok", "", "a.txt", "http://10.0.0.5:8899/d/a.txt?token=tok"},
        {"", "12 34", "a.txt", "http://10.0.0.5:8899/d/a.txt?pin=12%2034"},
        {"t+k", "1234", "a.txt", "http://10.0.0.5:8899/d/a.txt?pin=1234&token=t%2Bk"},
        {"", "", "照片/a b+c.jpg", "http://10.0.0.5:8899/d/%E7%85%A7%E7%89%87/a%20b%2Bc.jpg"},
    };
    for (const auto& c : cases) {
        const auto url = APIClient("http://10.0.0.5:8899/", c.token, c.pin).downloadURL(c.path);
        ASSERT_TRUE(url.ok()) << c.path;
        EXPECT_EQ(url.value, c.url);
    }
}

}  // namespace
}  // namespace corvane
