// DELETE /api/file: removing a file or folder of the receive folder.

#include "engine/routes_fixture.h"

namespace fs = std::filesystem;

namespace corvane::test {
namespace {

using RoutesFileDelete = RouteTest;

TEST_F(RoutesFileDelete, RefusesPathsOutsideOrPrivate) {
    writeFile(root / "_team" / "users.json", "{}");
    writeFile(root / "_users" / "bob" / "a.txt", "private");
    writeFile(root / ".parts" / "x" / "meta.json", "{}");
    for (const char* target : {"/api/file", "/api/file?p=", "/api/file?p=..", "/api/file?p=../..",
                               "/api/file?p=.parts", "/api/file?p=_team", "/api/file?p=_team/users.json",
                               "/api/file?p=_users/bob", "/api/file?p=a%3Ab"}) {
        const RawReply reply = call("DELETE", target);
        EXPECT_EQ(reply.status, 400) << target;
        EXPECT_EQ(reply.body, R"({"error":"bad path"})") << target;
    }
    EXPECT_TRUE(fs::exists(root / "_team" / "users.json"));
    EXPECT_TRUE(fs::exists(root / "_users" / "bob" / "a.txt"));
    EXPECT_TRUE(fs::exists(root / ".parts" / "x"));
    EXPECT_TRUE(events().empty());
}

TEST_F(RoutesFileDelete, RemovesAFolderWithEverythingInItOrALinkButNotItsTargetAndLogs) {
    writeFile(root / "a" / "b" / "c.txt", "c");
    writeFile(root / "a" / "keep.txt", "k");
    EXPECT_EQ(callJSON("DELETE", "/api/file?p=a/b"), nlohmann::json({{"ok", true}}));
    EXPECT_FALSE(fs::exists(root / "a" / "b"));
    EXPECT_TRUE(fs::exists(root / "a" / "keep.txt"));
    EXPECT_EQ(events(), std::vector<ServerEvent>{ServerEvent::log("删除：a/b")});

    writeFile(sandbox / "outside.txt", "o");
    fs::create_symlink(sandbox / "outside.txt", root / "link.txt");
    EXPECT_EQ(callJSON("DELETE", "/api/file?p=link.txt"), nlohmann::json({{"ok", true}}));
    EXPECT_FALSE(fs::is_symlink(root / "link.txt"));
    EXPECT_TRUE(fs::exists(sandbox / "outside.txt"));
}

}  // namespace
}  // namespace corvane::test
