// POST /api/text and POST /api/chat.

#include <regex>
#include <set>
#include <thread>

#include "engine/routes_fixture.h"

namespace fs = std::filesystem;

namespace corvane::test {
namespace {

using RoutesText = RouteTest;
using RoutesChat = RouteTest;

std::string textBody(const std::string& text) { return nlohmann::json{{"text", text}}.dump(); }

std::vector<std::string> filesIn(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.path().filename().string()[0] != '.') names.push_back(entry.path().filename().string());
    }
    return names;
}

TEST_F(RoutesText, RefusesBodiesWithoutText) {
    const char* bodies[] = {"", "not json", "[]", "\"text\"", "{}", R"({"text":5})", R"({"text":null})",
                            R"({"text":"   "})", "{\"text\":\"\\n\\t \\u3000\\u00a0\"}"};
    for (const char* body : bodies) {
        const RawReply reply = call("POST", "/api/text", body);
        EXPECT_EQ(reply.status, 400) << body;
        EXPECT_EQ(reply.body, R"({"error":"empty text"})") << body;
    }
    EXPECT_TRUE(filesIn(root).empty());
}

TEST_F(RoutesText, StoresTheTextUntrimmedAndReportsIt) {
    const nlohmann::json reply = callJSON("POST", "/api/text", textBody("  hello\n"));
    ASSERT_EQ(reply["ok"], true) << reply;
    const std::string name = reply["p"];
    EXPECT_TRUE(std::regex_match(name, std::regex("剪贴板-\\d{8}-\\d{6}\\.txt"))) << name;
    EXPECT_EQ(reply["n"], name);
    EXPECT_EQ(reply["s"], 8);
    EXPECT_EQ(reply["t"], clock() * 1000.0);
    EXPECT_EQ(readFile(root / name), "  hello\n");
    const auto seen = events();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0], ServerEvent::textReceived(FileItem{name, name, 8, clock() * 1000.0}));
}

TEST_F(RoutesText, LengthLimitCountsUTF8Bytes) {
    // 1398101 three-byte characters and one "a": exactly 4194304 bytes.
    std::string text;
    for (int k = 0; k < 1398101; ++k) text += "文";
    text += "a";
    ASSERT_EQ(text.size(), 4194304u);
    const RawReply accepted = call("POST", "/api/text", textBody(text));
    EXPECT_EQ(accepted.status, 200);
    EXPECT_EQ(parse(accepted)["s"], 4194304);

    const RawReply refused = call("POST", "/api/text", textBody(text + "b"));
    EXPECT_EQ(refused.statusLine, "HTTP/1.1 413 Content Too Large");
    EXPECT_EQ(parse(refused), nlohmann::json({{"error", "文字过长，请改为发送文件"}}));
    EXPECT_EQ(filesIn(root).size(), 1u);
}

TEST_F(RoutesText, BurnFlagChoosesBetweenNoteAndFile) {
    const struct { nlohmann::json burn; bool note; } cases[] = {
        {"YES", true}, {"yes", true}, {"True", true}, {"1", true},   {1, true},       {true, true},
        {0.5, true},   {"no", false}, {0, false},     {false, false}, {"maybe", false}, {nullptr, false},
        {"", false},   {nlohmann::json::array({1}), false},
    };
    size_t files = 0;
    for (const auto& c : cases) {
        const nlohmann::json body{{"text", "hi"}, {"burn", c.burn}};
        const nlohmann::json reply = callJSON("POST", "/api/text", body.dump());
        EXPECT_EQ(reply["ok"], true) << c.burn;
        EXPECT_EQ(reply.contains("burn"), c.note) << "burn " << c.burn << " gave " << reply;
        if (!c.note) ++files;
    }
    EXPECT_EQ(filesIn(root).size(), files);
}

TEST_F(RoutesText, ReadOnceNoteIsKeptInMemoryOnly) {
    const nlohmann::json reply = callJSON("POST", "/api/text", R"({"text":"secret","burn":"1"})");
    ASSERT_TRUE(reply["id"].is_string()) << reply;
    const std::string id = reply["id"];
    EXPECT_EQ(reply, nlohmann::json({{"ok", true}, {"burn", true}, {"id", id}, {"n", "一次性消息"}, {"s", 6},
                                     {"t", clock() * 1000.0}}));
    EXPECT_TRUE(filesIn(root).empty());
    const auto seen = events();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0], ServerEvent::burnText(id, "secret", "127.0.0.1"));
}

TEST_F(RoutesText, TenTextsAtOnceGiveTenFiles) {
    std::vector<std::thread> senders;
    std::mutex lock;
    std::set<std::string> names;
    for (int k = 0; k < 10; ++k) {
        senders.emplace_back([&, k] {
            const auto reply = httpRequest(server->port(), "POST", "/api/text", {}, textBody("text " + std::to_string(k)));
            if (!reply) return;
            std::lock_guard guard(lock);
            names.insert(nlohmann::json::parse(reply->body, nullptr, false).value("p", ""));
        });
    }
    for (auto& t : senders) t.join();
    EXPECT_EQ(names.size(), 10u);
    std::set<std::string> contents;
    for (const auto& name : filesIn(root)) contents.insert(readFile(root / name));
    EXPECT_EQ(contents.size(), 10u);
}

TEST_F(RoutesChat, ChatEventCarriesTheMessageWithMissingFieldsFilledAndLongTextCut) {
    const nlohmann::json full{{"id", "m1"}, {"from", "p2"}, {"fromName", "Laptop"}, {"to", "dev-1"},
                              {"text", "hello"}, {"burn", true}, {"ts", 1234.5}};
    EXPECT_EQ(callJSON("POST", "/api/chat", full.dump()), nlohmann::json({{"ok", true}}));
    std::string longText;
    for (int k = 0; k < 5000; ++k) longText += "字";
    const nlohmann::json sparse{{"text", longText}, {"to", 7}, {"ts", "1"}};
    EXPECT_EQ(callJSON("POST", "/api/chat", sparse.dump()), nlohmann::json({{"ok", true}}));
    const auto seen = events();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0], ServerEvent::chat("m1", "p2", "Laptop", "dev-1", "hello", true, 1234.5));
    const std::string cut = longText.substr(0, 4000 * std::string("字").size());  // 4000 characters
    EXPECT_EQ(seen[1], ServerEvent::chat("", "", "", "all", cut, false, clock() * 1000.0));
}

}  // namespace
}  // namespace corvane::test
