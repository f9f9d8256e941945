// The peer client against the engine's own server on loopback.

#include <gtest/gtest.h>

#include <algorithm>
#include <fcntl.h>

#include "base/unique_fd.h"
#include "engine/sending/api_client.h"
#include "engine/sending/curl_http.h"
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

// A chunk sent from a file: the slice's exact bytes arrive, and a file shorter than its
// slice aborts the request, so the receiver never keeps a short chunk.
TEST(APIClientServer, ChunksFromAFileArriveExactOrNotAtAll) {
    LoopbackServer device;
    ASSERT_TRUE(device.started());
    const APIClient client = APIClient(device.base(), "", "").withSession(std::make_shared<CurlSession>());
    const std::string id = "00112233aabbccdd";
    std::string bytes(5 * 1024 * 1024 + 17, '\0');
    for (size_t k = 0; k < bytes.size(); ++k) bytes[k] = char(k * 7 + k / 1000);
    test::Sandbox box;
    writeFile(box / "source.bin", bytes);
    const UniqueFd file(::open((box / "source.bin").c_str(), O_RDONLY | O_CLOEXEC));
    ASSERT_FALSE(client.putMeta(id, {{"name", "s.bin"}, {"rel", ""}, {"size", 4194304 + 2000}, {"chunks", 2}, {"mtime", 0}}));

    ASSERT_FALSE(client.putChunk(id, 0, FileSlice{file.get(), 1000, 4194304}));
    EXPECT_TRUE(client.putChunk(id, 1, FileSlice{file.get(), int64_t(bytes.size()) - 100, 2000}).has_value());
    const auto held = client.uploadStatus(id);
    ASSERT_TRUE(held.ok());
    EXPECT_EQ(held.value["received"], json::array({0}));
    ASSERT_FALSE(client.putChunk(id, 1, FileSlice{file.get(), 7, 2000}));  // a resend of the chunk is kept
    const auto stored = client.finish(id);
    ASSERT_TRUE(stored.ok());
    EXPECT_EQ(readFile(device.root() / "s.bin"), bytes.substr(1000, 4194304) + bytes.substr(7, 2000));
}

}  // namespace
}  // namespace corvane
