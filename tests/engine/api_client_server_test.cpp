// The peer client against the engine's own server on loopback.

#include <gtest/gtest.h>

#include <algorithm>

#include "engine/api_client.h"
#include "engine/curl_http.h"
#include "support/loopback_server.h"

namespace corvane {
namespace {

using nlohmann::json;
using test::LoopbackServer;
using test::readFile;
using test::writeFile;

TEST(APIClientServer, PathsWithSpacesCJKAndPlusRoundTrip) {
    LoopbackServer device;
    ASSERT_TRUE(device.started());
    const APIClient client(device.base(), "", "");
    const std::vector<std::string> paths{"a b/c d.txt", "文件夹/报告+1.txt", "1+1=2.txt", "x%20y.txt"};
    for (const auto& p : paths) writeFile(device.root() / p, "content of " + p);

    const auto list = client.files();
    ASSERT_TRUE(list.ok());
    std::vector<std::string> listed;
    for (const auto& f : list.value.files) listed.push_back(f.path);
    for (const auto& p : paths) {
        EXPECT_NE(std::find(listed.begin(), listed.end(), p), listed.end()) << p;
        const auto url = client.downloadURL(p);
        ASSERT_TRUE(url.ok());
        CurlRequest get;
        get.url = url.value;
        const CurlResult fetched = curlPerform(get);
        EXPECT_EQ(fetched.status, 200) << p << " " << url.value;
        EXPECT_EQ(fetched.body, "content of " + p) << p;
    }
    for (const auto& p : paths) {
        EXPECT_FALSE(client.deletePath(p).has_value()) << p;
        EXPECT_FALSE(std::filesystem::exists(device.root() / p)) << p;
    }
}

TEST(APIClientServer, TextChatAndNotesReachTheServer) {
    LoopbackServer device;
    ASSERT_TRUE(device.started());
    const APIClient client(device.base(), "", "");

    const auto text = client.sendText("你好 + 世界", false);
    ASSERT_TRUE(text.ok());
    EXPECT_EQ(text.value["ok"], true);
    EXPECT_EQ(readFile(device.root() / text.value["p"].get<std::string>()), "你好 + 世界");

    const auto note = client.sendText("read once", true);
    ASSERT_TRUE(note.ok());
    ASSERT_TRUE(note.value["id"].is_string());
    EXPECT_FALSE(client.discardBurn(note.value["id"].get<std::string>()).has_value());

    EXPECT_FALSE(client.sendChat(json{{"id", "m1"}, {"from", "d"}, {"text", "hi"}}).has_value());
    EXPECT_FALSE(client.chatRead("m1").has_value());
    const auto events = device.events();
    EXPECT_TRUE(std::any_of(events.begin(), events.end(), [](const ServerEvent& e) {
        return e.kind == ServerEvent::Kind::chat && e.text == "hi";
    }));
    EXPECT_TRUE(std::any_of(events.begin(), events.end(), [](const ServerEvent& e) {
        return e.kind == ServerEvent::Kind::chatBurn && e.id == "m1";
    }));
}

}  // namespace
}  // namespace corvane
