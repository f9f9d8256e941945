// Requests an attacker on the network, or a web page in a colleague's browser, can
// send: each case once did harm (a crash, lost data, a file outside the folder).

#include <set>
#include <tuple>
#include <unistd.h>
#include <thread>

#include "base/client_paths.h"
#include "base/file_names.h"
#include "base/unicode_text.h"
#include "engine/server/handler_utils.h"
#include "engine/routes_fixture.h"

namespace fs = std::filesystem;

namespace corvane::test {
namespace {

using ServerAttacks = RouteTest;

TEST(PrivateArea, CaseDoesNotOpenThePrivateFolders) {
    // On a case-insensitive receive folder "_TEAM" is "_team".
    for (const char* rel : {"_team", "_TEAM/sessions.json", "_Users/bob", "_uSeRs", ".parts", ".PARTS/0123/meta.json"}) {
        EXPECT_TRUE(isPrivateArea(rel)) << rel;
    }
    for (const char* rel : {"_shared", "x/_team", "_teams", "team", "x/.parts", ".parts-notes", "parts"}) {
        EXPECT_FALSE(isPrivateArea(rel)) << rel;
    }
}

TEST_F(ServerAttacks, TeamFoldersInAnyCaseAreNeitherServedNorDeleted) {
    writeFile(root / "_TEAM" / "sessions.json", "secret");
    EXPECT_EQ(call("GET", "/d/_TEAM/sessions.json").status, 404);
    EXPECT_EQ(call("DELETE", "/api/file?p=_TEAM").status, 400);
    EXPECT_EQ(call("DELETE", "/api/file?p=_Users").status, 400);
    EXPECT_TRUE(fs::exists(root / "_TEAM" / "sessions.json"));
}

TEST(NumberedName, NamesLongerThanTheFileSystemAllowsAreShortenedKeepingTheExtension) {
    std::string cjk;
    for (int k = 0; k < 100; ++k) cjk += "名";  // 300 bytes, 100 characters
    const std::string name = cjk + ".txt";
    for (const int n : {0, 1, 9999}) {
        const std::string candidate = numberedName(name, n);
        EXPECT_LE(candidate.size(), kMaxNameBytes) << n;
        EXPECT_TRUE(candidate.ends_with((n ? " (" + std::to_string(n) + ")" : std::string()) + ".txt")) << candidate;
        EXPECT_TRUE(isValidUTF8(candidate)) << n;  // cut between characters, never inside one
    }
    EXPECT_EQ(numberedName("a.txt", 2), "a (2).txt");  // short names as before
}

TEST_F(ServerAttacks, AnUploadWithAVeryLongCJKNameIsStored) {
    std::string cjk;
    for (int k = 0; k < 100; ++k) cjk += "名";
    const std::string id = "00aa00aa00aa00aa";
    const nlohmann::json meta{{"name", cjk + ".txt"}, {"rel", ""}, {"size", 3}, {"chunks", 1}, {"mtime", 0}};
    ASSERT_EQ(call("PUT", "/api/upload/" + id + "/meta", meta.dump()).status, 200);
    ASSERT_EQ(call("PUT", "/api/upload/" + id + "/0", "abc").status, 200);
    const RawReply reply = call("POST", "/api/upload/" + id + "/finish", "{}");
    ASSERT_EQ(reply.status, 200) << reply.body;
    const std::string stored = parse(reply)["n"];
    EXPECT_LE(stored.size(), kMaxNameBytes);
    EXPECT_TRUE(stored.ends_with(".txt"));
    EXPECT_EQ(readFile(root / stored), "abc");
}

TEST_F(ServerAttacks, OneHugeGraphemeDoesNotMakeAHugeChatMessage) {
    // "a" and five million combining marks count as one character.
    std::string text = "a";
    for (int k = 0; k < 5000000; ++k) text += "\xcc\x81";
    EXPECT_EQ(callJSON("POST", "/api/chat", nlohmann::json{{"text", text}}.dump()), nlohmann::json({{"ok", true}}));
    const auto seen = events();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_LE(seen[0].text.size(), 16384u);
    EXPECT_TRUE(isValidUTF8(seen[0].text));
}

TEST(ParseRange, NumbersFromOutsideNeverOverflowOrInvert) {
    using R = std::optional<std::pair<int64_t, int64_t>>;
    const struct { const char* header; int64_t size; R want; } cases[] = {
        {"bytes=--9223372036854775807", 1000, std::nullopt},
        {"bytes=-9223372036854775807", 1000, R({0, 999})},
        {"bytes=--5", 1000, std::nullopt},
        {"bytes=-0", 1000, std::nullopt},
        {"bytes=-5", 0, std::nullopt},
        {"bytes=-9223372036854775808", 1000, std::nullopt},
        {"bytes=-1-5", 1000, std::nullopt},
        {"bytes=9223372036854775807-", 1000, std::nullopt},
        {"bytes=0-", INT64_MIN, std::nullopt},  // a size that is no size: no "size - 1"
        {"bytes=0-", -1, std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(parseRange(c.header, c.size), c.want) << c.header << " of " << c.size;
}

TEST_F(ServerAttacks, AnEmptySuffixRangeIsNoRange) {
    writeFile(root / "t.bin", std::string(10, 'x'));
    writeFile(root / "empty.bin", "");
    const std::map<std::string, std::string> zero{{"Range", "bytes=-0"}};
    EXPECT_EQ(call("GET", "/d/t.bin", "", zero).status, 416);
    EXPECT_EQ(call("GET", "/d/t.bin", "", {{"Range", "bytes=--5"}}).status, 416);
    const RawReply empty = call("GET", "/d/empty.bin", "", {{"Range", "bytes=-5"}});
    EXPECT_EQ(empty.status, 200);
    EXPECT_EQ(empty.body, "");
}

TEST_F(ServerAttacks, AnUploadBelongsToTheAddressThatSentItsMeta) {
    // Another device once replaced chunk 0 of a running transfer; the finish then
    // answered 200 with a file that began with the intruder's bytes.
    const std::string id = "0123456789abcdef";
    const int port = server->port();
    const nlohmann::json meta{{"name", "a.bin"}, {"rel", ""}, {"size", 8}, {"chunks", 2}, {"mtime", 0}};
    ASSERT_EQ(httpRequestFrom("127.0.0.1", port, "PUT", "/api/upload/" + id + "/meta", meta.dump())->status, 200);
    ASSERT_EQ(httpRequestFrom("127.0.0.1", port, "PUT", "/api/upload/" + id + "/0", "good")->status, 200);
    for (const auto& [method, target, body] : std::vector<std::tuple<std::string, std::string, std::string>>{
             {"PUT", "/api/upload/" + id + "/0", "evil"},
             {"POST", "/api/upload/" + id + "/finish", "{}"},
             {"DELETE", "/api/upload/" + id, ""}}) {
        const auto reply = httpRequestFrom("127.0.0.2", port, method, target, body);
        ASSERT_TRUE(reply) << method;
        EXPECT_EQ(reply->status, 403) << method << " " << target;
        EXPECT_EQ(reply->body, R"({"error":"forbidden"})");
    }
    ASSERT_EQ(httpRequestFrom("127.0.0.1", port, "PUT", "/api/upload/" + id + "/1", "rest")->status, 200);
    const auto finished = httpRequestFrom("127.0.0.1", port, "POST", "/api/upload/" + id + "/finish", "{}");
    ASSERT_EQ(finished->status, 200) << finished->body;
    EXPECT_EQ(readFile(root / "a.bin"), "goodrest");
}

TEST_F(ServerAttacks, OfTwoFirstChunksAtOnceOnlyOneSenderOwnsTheUpload) {
    // A part folder made by a chunk recorded no owner, so any address could add to it,
    // finish it or cancel it.
    const std::string devices[] = {"127.0.0.2", "127.0.0.3"};
    const auto from = [&](int device, const std::string& method, const std::string& target, const std::string& body) {
        return httpRequestFrom(devices[device], server->port(), method, target, body).value_or(RawReply{});
    };
    for (int round = 0; round < 16; ++round) {
        const std::string id = "abcd00000000" + std::to_string(1000 + round);
        const std::string upload = "/api/upload/" + id;
        RawReply replies[2];
        std::thread second([&] { replies[1] = from(1, "PUT", upload + "/0", devices[1]); });
        replies[0] = from(0, "PUT", upload + "/0", devices[0]);
        second.join();
        ASSERT_EQ((std::multiset<int>{replies[0].status, replies[1].status}), (std::multiset<int>{200, 403})) << round;
        const int loser = replies[0].status == 403 ? 0 : 1;
        EXPECT_EQ(replies[loser].body, R"({"error":"forbidden"})");
        EXPECT_EQ(readFile(root / ".parts" / id / "000000000000.part"), devices[1 - loser]);
        EXPECT_EQ(from(loser, "POST", upload + "/finish", "{}").status, 403);
        EXPECT_EQ(from(loser, "DELETE", upload, "").status, 403);
    }
}

TEST_F(ServerAttacks, AMetaFromAnotherAddressStartsTheUploadAfresh) {
    const std::string id = "fedcba9876543210";
    const int port = server->port();
    const nlohmann::json meta{{"name", "b.bin"}, {"rel", ""}, {"size", 4}, {"chunks", 1}, {"mtime", 0}};
    ASSERT_EQ(httpRequestFrom("127.0.0.2", port, "PUT", "/api/upload/" + id + "/0", "evil")->status, 200);
    setClock(clock() + UploadRecords::kQuietBeforeTakeover);  // only a quiet upload is taken over
    ASSERT_EQ(httpRequestFrom("127.0.0.1", port, "PUT", "/api/upload/" + id + "/meta", meta.dump())->status, 200);
    // The stranger's chunk is gone: the sender sees nothing held and sends it itself.
    EXPECT_EQ(parse(call("GET", "/api/upload/" + id))["received"], nlohmann::json::array());
    ASSERT_EQ(httpRequestFrom("127.0.0.1", port, "PUT", "/api/upload/" + id + "/0", "mine")->status, 200);
    ASSERT_EQ(httpRequestFrom("127.0.0.1", port, "POST", "/api/upload/" + id + "/finish", "{}")->status, 200);
    EXPECT_EQ(readFile(root / "b.bin"), "mine");
}

TEST_F(ServerAttacks, LinksInsideTheReceiveFolderLeadNowhereOutside) {
    // A link "linkdir" to a folder outside once served, deleted and received files there.
    const fs::path outside = sandbox / "outside";
    writeFile(outside / "o.txt", "outside");
    fs::create_directory_symlink(outside, root / "linkdir");
    fs::create_symlink(outside / "o.txt", root / "linkfile.txt");

    EXPECT_EQ(call("GET", "/d/linkdir/o.txt").status, 404);
    EXPECT_EQ(call("GET", "/d/linkfile.txt").status, 404);
    EXPECT_EQ(call("DELETE", "/api/file?p=linkdir/o.txt").status, 400);
    EXPECT_TRUE(fs::exists(outside / "o.txt"));

    const std::string id = "1111222233334444";
    const nlohmann::json meta{{"name", "evil.txt"}, {"rel", "linkdir/evil.txt"}, {"size", 1}, {"chunks", 1}, {"mtime", 0}};
    ASSERT_EQ(call("PUT", "/api/upload/" + id + "/meta", meta.dump()).status, 200);
    ASSERT_EQ(call("PUT", "/api/upload/" + id + "/0", "e").status, 200);
    const RawReply finished = call("POST", "/api/upload/" + id + "/finish", "{}");
    EXPECT_EQ(finished.status, 400);
    EXPECT_EQ(finished.body, R"({"error":"bad path"})");
    EXPECT_FALSE(fs::exists(outside / "evil.txt"));

    // The links themselves are entries of the folder: deleting one removes only the link.
    EXPECT_EQ(call("DELETE", "/api/file?p=linkdir").status, 200);
    EXPECT_FALSE(fs::exists(fs::symlink_status(root / "linkdir")));
    EXPECT_TRUE(fs::exists(outside / "o.txt"));
    // Real folders still work as before.
    writeFile(root / "real" / "r.txt", "r");
    EXPECT_EQ(call("GET", "/d/real/r.txt").body, "r");
}

TEST(ReadOnceNotes, NotesTheApplicationStillHoldsCountAgainstTheLimits) {
    // A 4 MiB note read through its page, 200 times, once left 200 copies waiting in the
    // application: the page emptied the store, the queue kept growing.
    Sandbox box;
    ServerOptions options;
    options.firstPort = testPortBase(20);
    options.lastPort = options.firstPort + 19;
    options.burnLimits.maxNotes = 2;
    options.burnsAwaitDisplay = true;
    auto server = std::make_shared<HTTPServer>("dev", "Desk", "tok", "", box / "recv", options);
    std::vector<std::string> told;
    server->onEvent = [&](const ServerEvent& e) { told.push_back(e.id); };
    ASSERT_TRUE(server->start());
    const auto postNote = [&] {
        const auto reply = httpRequest(server->port(), "POST", "/api/text", {}, R"({"text":"secret","burn":true})");
        return reply ? reply->status : 0;
    };
    ASSERT_EQ(postNote(), 200);
    ASSERT_EQ(postNote(), 200);
    for (const auto& id : told) EXPECT_EQ(httpRequest(server->port(), "GET", "/b/" + id)->status, 200);
    EXPECT_EQ(postNote(), 503);  // both still wait to be shown
    server->burnShown(told[0]);
    EXPECT_EQ(server->burnsAwaitingDisplay(), 1);
    EXPECT_EQ(postNote(), 200);
    stopAndDrain(*server);
}

TEST(HostAllowed, OnlyNamesOfThisDevicePass) {
    char own[256] = {};
    ::gethostname(own, sizeof own - 1);
    const struct { std::string host; bool allowed; } cases[] = {
        {"192.168.1.5:8899", true}, {"10.0.0.1", true},         {"[::1]:8899", true},    {"[fe80::1]", true},
        {"localhost:8899", true},   {"LocalHost", true},         {"laptop.local:8899", true}, {std::string(own), true},
        {"", true},                 {"evil.example:8899", false}, {"evil.example", false}, {".local", false},
        {"192.168.1.5.evil.example", false}, {"[not-an-address]:1", false}, {"[::1", false},
    };
    for (const auto& c : cases) EXPECT_EQ(HTTPServer::hostAllowed(c.host), c.allowed) << "Host: " << c.host;
}

TEST_F(ServerAttacks, ARebindingPageGetsNothingWithoutTheToken) {
    // A page whose own name resolves to the device sends its own name as Host.
    writeFile(root / "keep.txt", "x");
    const std::map<std::string, std::string> rebinding{{"Host", "evil.example:8899"}, {"Origin", "http://evil.example:8899"}};
    for (const auto& [method, target] : std::vector<std::pair<std::string, std::string>>{
             {"GET", "/api/files"}, {"DELETE", "/api/file?p=keep.txt"}, {"OPTIONS", "/api/files"}}) {
        const RawReply reply = call(method, target, "", rebinding);
        EXPECT_EQ(reply.status, 403) << method << " " << target;
        EXPECT_EQ(reply.body, R"({"error":"host not allowed"})");
    }
    EXPECT_TRUE(fs::exists(root / "keep.txt"));
    EXPECT_EQ(call("GET", "/api/files", "", {{"Host", "192.168.1.5:8899"}}).status, 200);
}

class UploadShares : public RouteTest {
protected:
    UploadShares() { uploadLimits = UploadLimits{7, 3}; uploadLimits.betweenChunks = 0; }

    // Device d (0, 1, ...) is the address 127.0.0.(2 + d); its k-th upload's id is its
    // letter 15 times, then k.
    static std::string address(int device) { return "127.0.0." + std::to_string(2 + device); }
    static std::string idOf(int device, int k) { return std::string(15, char('a' + device)) + std::to_string(k); }

    int start(int device, int k) {
        // Two chunks: the upload keeps a part folder from its meta on, as heldUploads sees.
        const nlohmann::json meta{{"name", "x.bin"}, {"rel", ""}, {"size", 4194305}, {"chunks", 2}, {"mtime", 0}};
        const auto reply = httpRequestFrom(address(device), server->port(), "PUT", "/api/upload/" + idOf(device, k) + "/meta",
                                           meta.dump());
        return reply ? reply->status : 0;
    }
    std::set<std::string> held() const { return heldUploads(root / ".parts"); }
    // The folder and what it holds last changed `ago` before now.
    void changedAgo(const std::string& id, std::chrono::seconds ago) {
        const auto when = fs::file_time_type::clock::now() - ago;
        const fs::path folder = root / ".parts" / id;
        for (const auto& entry : fs::directory_iterator(folder)) fs::last_write_time(entry.path(), when);
        fs::last_write_time(folder, when);
    }
};

TEST_F(UploadShares, NoDeviceIsRefusedForAnotherDevicesUploadsAcrossRestarts) {
    // One address made 1,000 part folders in 0.8 s, and every other device's meta and
    // chunk got 503 "busy" for a week, across restarts.
    const auto ids = [](std::initializer_list<std::pair<int, int>> uploads) {
        std::set<std::string> out;
        for (const auto& [device, k] : uploads) out.insert(idOf(device, k));
        return out;
    };
    for (int k = 0; k < 3; ++k) ASSERT_EQ(start(0, k), 200);
    ASSERT_EQ(httpRequestFrom(address(0), server->port(), "PUT", "/api/upload/" + idOf(0, 0) + "/0", "x")->status, 200);
    ASSERT_EQ(start(0, 3), 200);  // beyond its share: its least recently changed upload goes
    EXPECT_EQ(held(), ids({{0, 0}, {0, 2}, {0, 3}}));

    for (const auto& [device, k] : {std::pair{1, 0}, {1, 1}, {2, 0}, {2, 1}}) ASSERT_EQ(start(device, k), 200);
    ASSERT_EQ(start(3, 0), 200);  // all are held: of those that stored least, the one changed longest ago goes
    EXPECT_EQ(held(), ids({{0, 0}, {0, 3}, {1, 0}, {1, 1}, {2, 0}, {2, 1}, {3, 0}}));
    ASSERT_EQ(httpRequestFrom(address(3), server->port(), "DELETE", "/api/upload/" + idOf(3, 0))->status, 200);
    ASSERT_EQ(start(0, 4), 200);

    // After a restart the owners and the order of changes come from the disk.
    changedAgo(idOf(0, 4), std::chrono::seconds(300));
    changedAgo(idOf(0, 0), std::chrono::seconds(200));
    changedAgo(idOf(0, 3), std::chrono::seconds(100));
    // From here the clock is the disk's, which tells how long each has been quiet.
    setClock(std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count());
    server->stop();
    ASSERT_TRUE(server->start());
    ASSERT_EQ(start(0, 5), 200);
    EXPECT_EQ(held(), ids({{0, 0}, {0, 3}, {0, 5}, {1, 0}, {1, 1}, {2, 0}, {2, 1}}));
    ASSERT_EQ(start(4, 0), 200);
    EXPECT_EQ(held(), ids({{0, 3}, {0, 5}, {1, 0}, {1, 1}, {2, 0}, {2, 1}, {4, 0}}));
}

}  // namespace
}  // namespace corvane::test
