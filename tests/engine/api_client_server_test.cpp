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

const std::string kID = "0123456789abcdef";

TEST(APIClientServer, PinIsAskedForAndAcceptedFromTheHeader) {
    LoopbackServer device("device-token", "4321");
    ASSERT_TRUE(device.started());
    const auto refused = APIClient(device.base(), "device-token", "").files();
    ASSERT_TRUE(refused.error.has_value());
    EXPECT_EQ(refused.error->status, 401);
    EXPECT_EQ(refused.error->description(), "需要访问口令");
    EXPECT_EQ(APIClient(device.base(), "", "0000").files().error->description(), "需要访问口令");
    EXPECT_TRUE(APIClient(device.base(), "", "4321").files().ok());
}

TEST(APIClientServer, ServerRefusalsReachTheCallerAsTheirText) {
    LoopbackServer device;
    ASSERT_TRUE(device.started());
    const APIClient client(device.base(), "", "");
    const struct {
        const char* why;
        std::optional<APIError> error;
        int status;
        const char* text;
    } cases[] = {
        {"upload id outside the route", client.uploadStatus("XYZ").error, 404, "not found"},
        {"upload id too short", client.uploadStatus("abc").error, 400, "bad id"},
        {"finish of an unknown upload", client.finish(kID).error, 404, "upload not found"},
        {"path leaving the folder", client.deletePath(".."), 400, "bad path"},
        {"blank text", client.sendText("  ", false).error, 400, "empty text"},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(c.error.has_value()) << c.why;
        EXPECT_EQ(c.error->status, c.status) << c.why;
        EXPECT_EQ(c.error->description(), c.text) << c.why;
    }
}

TEST(APIClientServer, UploadProtocolRoundTrip) {
    LoopbackServer device;
    ASSERT_TRUE(device.started());
    const APIClient client(device.base(), "", "");

    const auto fresh = client.uploadStatus(kID);
    ASSERT_TRUE(fresh.ok());
    EXPECT_EQ(fresh.value, (json{{"exists", false}, {"received", json::array()}, {"chunkSize", 4194304}}));

    const json meta{{"name", "a+b 报告.txt"}, {"rel", "docs/a+b 报告.txt"}, {"size", 6}, {"chunks", 2}, {"mtime", 0}};
    ASSERT_FALSE(client.putMeta(kID, meta).has_value());
    ASSERT_FALSE(client.putChunk(kID, 1, "def").has_value());
    const auto partial = client.uploadStatus(kID);
    ASSERT_TRUE(partial.ok());
    EXPECT_EQ(partial.value["exists"], true);
    EXPECT_EQ(partial.value["received"], json::array({1}));
    EXPECT_EQ(partial.value["meta"], meta);

    ASSERT_FALSE(client.putChunk(kID, 0, "abc").has_value());
    const auto stored = client.finish(kID);
    ASSERT_TRUE(stored.ok()) << stored.error->description();
    EXPECT_EQ(stored.value.path, "docs/a+b 报告.txt");
    EXPECT_EQ(stored.value.name, "a+b 报告.txt");
    EXPECT_EQ(stored.value.size, 6);
    EXPECT_EQ(readFile(device.root() / "docs" / "a+b 报告.txt"), "abcdef");
}

TEST(APIClientServer, CancelUploadDropsThePartialUpload) {
    LoopbackServer device;
    ASSERT_TRUE(device.started());
    const APIClient client(device.base(), "", "");
    ASSERT_FALSE(client.putChunk(kID, 0, "abc").has_value());
    ASSERT_TRUE(std::filesystem::exists(device.partFolder(kID)));
    client.cancelUpload(kID);
    EXPECT_FALSE(std::filesystem::exists(device.partFolder(kID)));
    EXPECT_EQ(client.uploadStatus(kID).value["exists"], false);
}

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
