// Requests an attacker on the network, or a web page in a colleague's browser, can
// send: each case once did harm (a crash, lost data, a file outside the folder).

#include <set>
#include <thread>

#include "base/client_paths.h"
#include "base/file_names.h"
#include "base/unicode_text.h"
#include "engine/handler_utils.h"
#include "engine/routes_fixture.h"

namespace fs = std::filesystem;

namespace corvane::test {
namespace {

using ServerAttacks = RouteTest;

TEST(PrivateArea, CaseDoesNotOpenTheTeamsFolders) {
    // On a case-insensitive receive folder "_TEAM" is "_team".
    for (const char* rel : {"_team", "_TEAM/sessions.json", "_Users/bob", "_uSeRs"}) EXPECT_TRUE(isPrivateArea(rel)) << rel;
    for (const char* rel : {"_shared", "x/_team", "_teams", "team"}) EXPECT_FALSE(isPrivateArea(rel)) << rel;
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

}  // namespace
}  // namespace corvane::test
