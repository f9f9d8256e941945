// Read-once notes: storing, reading once through the API or the one-time page,
// expiry after 10 minutes, and the bounded store.

#include "engine/routes_fixture.h"

namespace corvane::test {
namespace {

const char* const kGone = R"({"error":"已焚毁或已过期"})";

class RoutesBurnNotes : public RouteTest {
protected:
    std::string post(const std::string& text) {
        const nlohmann::json reply = callJSON("POST", "/api/text", nlohmann::json{{"text", text}, {"burn", 1}}.dump());
        EXPECT_TRUE(reply["id"].is_string()) << reply;
        return reply.value("id", "");
    }
};

TEST_F(RoutesBurnNotes, PageShowsTheNoteOnceThenTheExpiredPage) {
    const std::string id = post("line one\nline two");
    RawReply page = call("GET", "/b/" + id);
    EXPECT_EQ(page.status, 200);
    EXPECT_EQ(page.headers["content-type"], "text/html; charset=utf-8");
    EXPECT_EQ(page.headers["cache-control"], "no-store");
    EXPECT_EQ(page.headers["referrer-policy"], "no-referrer");
    EXPECT_NE(page.body.find("<pre id=\"c\">\nline one\nline two</pre>"), std::string::npos) << page.body;
    EXPECT_NE(page.body.find("一次性消息 · 打开即焚"), std::string::npos);
    EXPECT_NE(page.body.find("来自 127.0.0.1 · 服务器已删除这条消息，刷新即失效"), std::string::npos);
    EXPECT_NE(page.body.find("<title>一次性消息</title>"), std::string::npos);

    RawReply expired = call("GET", "/b/" + id);
    EXPECT_EQ(expired.statusLine, "HTTP/1.1 404 Not Found");
    EXPECT_EQ(expired.headers["content-type"], "text/html; charset=utf-8");
    EXPECT_EQ(expired.headers["cache-control"], "no-store");
    EXPECT_NE(expired.body.find("消息已焚毁"), std::string::npos);
    EXPECT_NE(expired.body.find("这条一次性消息已被查看过，或者已超过 10 分钟有效期。<br>内容不会留下任何副本。"),
              std::string::npos);
    EXPECT_NE(expired.body.find("Corvane · 阅后即焚"), std::string::npos);
    EXPECT_EQ(expired.body.find("<script"), std::string::npos);
}

TEST_F(RoutesBurnNotes, PageShowsMarkupAsTextAndNamesAnUnknownSender) {
    const auto id = server->storeBurn("<script>alert(\"x\")</script> & 'q' <b>", "");
    ASSERT_TRUE(id);
    RawReply page = call("GET", "/b/" + *id);
    EXPECT_NE(page.body.find("&lt;script&gt;alert(&quot;x&quot;)&lt;/script&gt; &amp; 'q' &lt;b&gt;"),
              std::string::npos)
        << page.body;
    EXPECT_EQ(page.body.find("<script>alert"), std::string::npos);
    EXPECT_NE(page.body.find("来自 局域网设备 · "), std::string::npos);
}

TEST_F(RoutesBurnNotes, EachWayOfReadingUsesTheNoteUp) {
    std::string id = post("meet at 5");
    EXPECT_EQ(callJSON("GET", "/api/burn/" + id),
              nlohmann::json({{"ok", true}, {"text", "meet at 5"}, {"from", "127.0.0.1"}}));
    const RawReply again = call("GET", "/api/burn/" + id);
    EXPECT_EQ(again.status, 404);
    EXPECT_EQ(again.body, kGone);
    EXPECT_EQ(call("GET", "/api/burn/").body, kGone);
    EXPECT_EQ(call("GET", "/b/" + id).status, 404);

    id = post("b");
    EXPECT_EQ(call("GET", "/b/" + id).status, 200);
    EXPECT_EQ(call("GET", "/api/burn/" + id).body, kGone);

    id = post("c");
    EXPECT_EQ(callJSON("DELETE", "/api/burn/" + id), nlohmann::json({{"ok", true}}));
    EXPECT_EQ(call("GET", "/api/burn/" + id).body, kGone);
    EXPECT_EQ(callJSON("DELETE", "/api/burn/unknown"), nlohmann::json({{"ok", true}}));
}

TEST_F(RoutesBurnNotes, NotesExpireTenMinutesAfterStoring) {
    const double start = clock();
    const struct { double age; bool served; } cases[] = {
        {0, true}, {599, true}, {600, true}, {600.5, false}, {601, false}};
    for (const auto& c : cases) {
        setClock(start);
        const auto id = server->storeBurn("note", "10.0.0.2");
        ASSERT_TRUE(id);
        setClock(start + c.age);
        EXPECT_EQ(server->takeBurn(*id).has_value(), c.served) << "age " << c.age;
        // Taken or expired, it is gone either way.
        setClock(start);
        EXPECT_FALSE(server->takeBurn(*id).has_value()) << "age " << c.age;
    }
}

TEST_F(RoutesBurnNotes, FullStoreRefusesNewNotesKeepsTheUnreadAndMakesRoomOnExpiry) {
    const std::string first = post("note 0");
    for (int k = 1; k < 256; ++k) ASSERT_TRUE(server->storeBurn("note " + std::to_string(k), "x")) << k;
    const RawReply refused = call("POST", "/api/text", R"({"text":"one more","burn":true})");
    EXPECT_EQ(refused.statusLine, "HTTP/1.1 503 Service Unavailable");
    EXPECT_EQ(parse(refused), nlohmann::json({{"error", "一次性消息太多，请稍后再试"}}));
    EXPECT_EQ(events().size(), 1u) << "a refused note raises no event";
    EXPECT_FALSE(server->storeBurn("n", "x"));

    EXPECT_EQ(callJSON("GET", "/api/burn/" + first)["text"], "note 0");
    EXPECT_EQ(call("POST", "/api/text", R"({"text":"now fits","burn":true})").status, 200);
    EXPECT_FALSE(server->storeBurn("n", "x"));
    setClock(clock() + 600);
    EXPECT_TRUE(server->storeBurn("n", "x"));
}

class RoutesSmallBurnStore : public RoutesBurnNotes {
protected:
    RoutesSmallBurnStore() { burnLimits.maxBytes = 100; }
};

TEST_F(RoutesSmallBurnStore, StoreIsBoundedInBytes) {
    const std::string sixty(60, 'x');
    const std::string id = post(sixty);
    EXPECT_EQ(call("POST", "/api/text", nlohmann::json{{"text", sixty}, {"burn", 1}}.dump()).status, 503);
    EXPECT_TRUE(server->storeBurn(std::string(30, 'y'), ""));
    // Reading a note gives its bytes back.
    EXPECT_EQ(call("GET", "/api/burn/" + id).status, 200);
    EXPECT_EQ(call("POST", "/api/text", nlohmann::json{{"text", sixty}, {"burn", 1}}.dump()).status, 200);
}

}  // namespace
}  // namespace corvane::test
