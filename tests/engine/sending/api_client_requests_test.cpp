// What the peer client sends and how it reads replies, against a stand-in
// server that records each request and answers as the test says.

#include <gtest/gtest.h>

#include <functional>
#include <set>

#include "engine/sending/api_client.h"
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
    const struct { const char* token; const char* pin; } cases[] = {
        {"", ""}, {"tok", ""}, {"", "1234"}, {"tok", "1234"}};
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

TEST(APIClientRequests, RefusalShowsTheServersErrorTextOrElseTheStatus) {
    const struct { ScriptedReply reply; const char* text; } cases[] = {
        {{404, "application/json", R"({"error":"not found"})"}, "not found"},
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
            ASSERT_TRUE(error.has_value()) << c.text << ": " << op.name;
            EXPECT_EQ(error->kind, APIError::Kind::http) << c.text << ": " << op.name;
            EXPECT_EQ(error->status, c.reply.status) << c.text << ": " << op.name;
            EXPECT_EQ(error->description(), c.text) << c.text << ": " << op.name;
        }
    }
}

TEST(APIClientRequests, RepliesThatAreNotTheExpectedObjectFailToDecode) {
    using Call = std::function<std::optional<APIError>(const APIClient&)>;
    const struct { const char* why; std::string body; Call call; } cases[] = {
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

TEST(APIClientRequests, StopFlagAbandonsTheRequest) {
    ScriptedHTTPServer server(ScriptedReply{200, "application/json", "{}"});
    auto stop = std::make_shared<std::atomic<bool>>(true);
    const auto error = APIClient(server.base(), "", "").stoppedBy(stop).putChunk("0123abcd", 0, "x");
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->kind, APIError::Kind::transport);
}

TEST(APIClientRequests, OnlyTheSendQueuesCopySendsUploadRequestsAgainAfterAnUnansweredClose) {
    // Each connection is closed once its request is read: a plain client sends every
    // request once; the send queue's copy sends the four upload requests three times on
    // new connections, and every other request once.
    ScriptedHTTPServer server(ScriptedReply{.closeUnanswered = true});
    const std::set<std::string> uploads = {"uploadStatus", "putMeta", "putChunk", "finish"};
    const APIClient plain(server.base(), "", "");
    for (const bool repeating : {false, true}) {
        const APIClient client = repeating ? plain.repeatingUploads() : plain;
        for (const auto& op : failingOperations()) {
            const size_t before = server.requests().size();
            const auto error = op.call(client);
            ASSERT_TRUE(error.has_value()) << op.name;
            EXPECT_EQ(error->kind, APIError::Kind::transport) << op.name;
            const size_t expected = repeating && uploads.count(op.name) ? 3 : 1;
            EXPECT_EQ(server.requests().size() - before, expected) << op.name << (repeating ? " (send queue)" : "");
        }
    }
}

TEST(APIClientRequests, DownloadURLCarriesCredentialsOnlyWhenSet) {
    const struct { const char* token; const char* pin; const char* path; const char* url; } cases[] = {
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
