// The team file spaces: scopes and client paths, listing, folders, deletion and moves.

#include <sys/stat.h>

#include "held_upload.h"
#include "team_routes_fixture.h"

namespace fs = std::filesystem;

namespace corvane::test {
namespace {

using nlohmann::json;

class TeamFiles : public TeamSpaceTest {
protected:
    RawReply post(const std::string& route, const json& body) { return as(amy, "POST", "/api/tf/" + route, body); }
    json list(const std::string& query) { return parse(as(amy, "GET", "/api/tf/list" + query)); }
};

TEST_F(TeamFiles, ScopesAndPathsRefuseWithEachRoutesOwnText) {
    fs::create_directories(shared / "docs");
    writeFile(shared / "docs" / "a.txt", "a");
    const json badScopes[] = {"Shared", "", "all", "ME", json(1)};
    for (const json& scope : badScopes) {
        const std::string q = scope.is_string() ? scope.get<std::string>() : "1";
        EXPECT_EQ(parse(as(amy, "GET", "/api/tf/list?scope=" + q)), json({{"error", "路径不正确"}})) << scope;
        EXPECT_EQ(parse(post("mkdir", {{"scope", scope}, {"path", ""}, {"name", "n"}})), json({{"error", "名称不合法"}}));
        EXPECT_EQ(parse(post("del", {{"scope", scope}, {"path", "docs"}})), json({{"error", "路径不正确"}}));
        EXPECT_EQ(parse(post("mv", {{"scope", scope}, {"path", "docs"}, {"to", "d2"}})), json({{"error", "名称不合法"}}));
        EXPECT_EQ(as(amy, "GET", "/api/tf/d?scope=" + q + "&path=docs/a.txt").status, 400);
    }
    // "/" and "." clean to nothing: not the root.
    for (const char* path : {"/", ".", "./..", ".trash", "a/.x", "a:b"}) {
        const RawReply r = as(amy, "GET", std::string("/api/tf/list?path=") + path);
        EXPECT_EQ(r.status, 400) << path;
        EXPECT_EQ(post("del", {{"scope", "shared"}, {"path", path}}).status, 400) << path;
    }
    EXPECT_TRUE(fs::exists(shared / "docs" / "a.txt"));
    // A body that is not an object counts as empty: no scope.
    EXPECT_EQ(call("POST", "/api/tf/mkdir", "[1]", {{"Cookie", "qp_s=" + amy}}).status, 400);
}

TEST_F(TeamFiles, ListingOrderHidingAndTheSpacesItReaches) {
    for (const char* d : {"b10", "B2", "_team", ".trash", "a"}) fs::create_directories(shared / d);
    writeFile(shared / "_team_file", "x");
    writeFile(shared / "_team" / "secret.txt", "x");
    writeFile(shared / "File 10.txt", "0123456789");
    writeFile(shared / "file 9.txt", "9");
    writeFile(shared / ".hidden", "h");
    fs::create_symlink("/etc/hostname", shared / "out-link");
    fs::create_symlink("file 9.txt", shared / "in-link");
    fs::create_symlink("nowhere", shared / "dangling");
    const json top = list("");
    EXPECT_EQ(top["ok"], true);
    EXPECT_EQ(top["scope"], "shared");
    EXPECT_EQ(top["path"], "");
    EXPECT_EQ(top["dirs"], json({"a", "B2", "b10"}));
    std::vector<std::string> names;
    for (const json& f : top["files"]) names.push_back(f["n"]);
    EXPECT_EQ(names, (std::vector<std::string>{"_team_file", "file 9.txt", "File 10.txt", "in-link"}));
    EXPECT_EQ(top["files"][2]["s"], 10);
    EXPECT_GT(top["files"][2]["t"].get<double>(), 1e12);

    // ".." is dropped, so the path stays in the space; the shared "_team" is a folder of the space.
    EXPECT_EQ(list("?path=a/../../_team")["files"].size(), 0u);
    EXPECT_EQ(list("?path=b10/..")["dirs"], json::array());  // cleans to "b10"
    // Missing folders, files and a personal space never made answer empty lists.
    for (const char* q : {"?path=nothere", "?path=file%209.txt", "?scope=me", "?scope=me&path=x"}) {
        const json r = list(q);
        EXPECT_EQ(r["dirs"], json::array()) << q;
        EXPECT_EQ(r["files"], json::array()) << q;
    }
    // The team's own files are not reachable through any scope.
    writeFile(root / "_users" / amyId / "mine.txt", "m");
    EXPECT_EQ(list("?scope=me")["files"][0]["n"], "mine.txt");
    EXPECT_FALSE(list("?scope=me&path=..%2F..%2F_team").contains("error"));
    EXPECT_EQ(list("?scope=me&path=..%2F..%2F_team")["files"], json::array());
}

TEST_F(TeamFiles, MakingFolders) {
    fs::create_directories(shared / "docs");
    writeFile(shared / "taken.txt", "x");
    const struct { json body; int status; json reply; } cases[] = {
        {{{"scope", "shared"}, {"path", ""}, {"name", "new"}}, 200, {{"ok", true}, {"name", "new"}}},
        {{{"scope", "shared"}, {"path", ""}, {"name", "new"}}, 400, {{"error", "创建失败，可能已存在同名文件夹"}}},
        {{{"scope", "shared"}, {"path", ""}, {"name", "taken.txt"}}, 400, {{"error", "创建失败，可能已存在同名文件夹"}}},
        {{{"scope", "shared"}, {"path", "docs"}, {"name", "../x/./y"}}, 400, {{"error", "创建失败，可能已存在同名文件夹"}}},
        {{{"scope", "shared"}, {"path", ""}, {"name", "docs/inner"}}, 200, {{"ok", true}, {"name", "docs/inner"}}},
        {{{"scope", "shared"}, {"path", ""}, {"name", "_team"}}, 200, {{"ok", true}, {"name", "_team"}}},
        {{{"scope", "shared"}, {"path", ""}, {"name", ""}}, 400, {{"error", "名称不合法"}}},
        {{{"scope", "shared"}, {"path", ""}, {"name", ".git"}}, 400, {{"error", "名称不合法"}}},
        {{{"scope", "shared"}, {"path", ""}, {"name", 5}}, 400, {{"error", "名称不合法"}}},
        // The first folder of a personal space makes the space itself.
        {{{"scope", "me"}, {"path", ""}, {"name", "photos"}}, 200, {{"ok", true}, {"name", "photos"}}},
        {{{"scope", "me"}, {"path", "photos"}, {"name", "2024"}}, 200, {{"ok", true}, {"name", "2024"}}},
    };
    for (const auto& c : cases) {
        const RawReply r = post("mkdir", c.body);
        EXPECT_EQ(r.status, c.status) << c.body;
        EXPECT_EQ(parse(r), c.reply) << c.body;
    }
    EXPECT_TRUE(fs::is_directory(shared / "docs" / "inner"));
    EXPECT_TRUE(fs::is_directory(root / "_users" / amyId / "photos" / "2024"));
    EXPECT_TRUE(fs::is_directory(shared / "_team"));
    EXPECT_EQ(list("")["dirs"], json({"docs", "new"}));  // "_team" made, never listed
}

TEST_F(TeamFiles, DeletingNeverFollowsLinksNorTakesTheSpace) {
    fs::create_directories(shared / "docs" / "deep");
    writeFile(shared / "docs" / "deep" / "f.txt", "x");
    const fs::path outside = box.path() / "outside";
    fs::create_directories(outside);
    writeFile(outside / "keep.txt", "k");
    fs::create_directory_symlink(outside, shared / "out");
    fs::create_directory_symlink(shared / "docs", shared / "in");

    EXPECT_EQ(parse(post("del", {{"scope", "shared"}, {"path", ""}})), json({{"error", "路径不正确"}}));
    EXPECT_EQ(post("del", {{"scope", "shared"}, {"path", "out/keep.txt"}}).status, 400);  // leads out
    EXPECT_EQ(parse(post("del", {{"scope", "shared"}, {"path", "none"}})), json({{"error", "文件不存在或已被删除"}}));
    const RawReply linkGone = post("del", {{"scope", "shared"}, {"path", "in"}});
    EXPECT_EQ(linkGone.status, 200);
    EXPECT_TRUE(fs::exists(shared / "docs" / "deep" / "f.txt"));  // the link went, not its folder
    clearEvents();
    EXPECT_EQ(parse(post("del", {{"scope", "shared"}, {"path", "docs"}})), json({{"ok", true}}));
    EXPECT_FALSE(fs::exists(shared / "docs"));
    EXPECT_EQ(events(), std::vector<ServerEvent>{ServerEvent::log("amy 删除 docs")});
    EXPECT_TRUE(fs::exists(outside / "keep.txt"));
    EXPECT_TRUE(fs::is_directory(shared));
}

TEST_F(TeamFiles, RenamesNeverReplaceAndStayInTheSpace) {
    fs::create_directories(shared / "sub");
    fs::create_directories(shared / "empty");
    writeFile(shared / "a.txt", "a");
    writeFile(shared / "b.txt", "b");
    const fs::path outside = box.path() / "outside";
    fs::create_directories(outside);
    fs::create_directory_symlink(outside, shared / "out");
    const struct { json body; int status; std::string error; } cases[] = {
        {{{"scope", "shared"}, {"path", "a.txt"}, {"to", "b.txt"}}, 400, "重命名失败"},
        {{{"scope", "shared"}, {"path", "a.txt"}, {"to", "empty"}}, 400, "重命名失败"},
        {{{"scope", "shared"}, {"path", "a.txt"}, {"to", "nothere/a.txt"}}, 400, "重命名失败"},
        {{{"scope", "shared"}, {"path", "none"}, {"to", "c.txt"}}, 400, "重命名失败"},
        {{{"scope", "shared"}, {"path", ""}, {"to", "x"}}, 400, "名称不合法"},
        {{{"scope", "shared"}, {"path", "a.txt"}, {"to", ""}}, 400, "名称不合法"},
        {{{"scope", "shared"}, {"path", "a.txt"}, {"to", "out/a.txt"}}, 400, "名称不合法"},
        {{{"scope", "shared"}, {"path", "a.txt"}, {"to", "../../_team/a.txt"}}, 400, "重命名失败"},
        {{{"scope", "shared"}, {"path", "a.txt"}, {"to", "sub/a2.txt"}}, 200, ""},
        {{{"scope", "shared"}, {"path", "b.txt"}, {"to", "c.txt"}}, 200, ""},
    };
    for (const auto& c : cases) {
        const RawReply r = post("mv", c.body);
        EXPECT_EQ(r.status, c.status) << c.body;
        EXPECT_EQ(parse(r), c.error.empty() ? json({{"ok", true}}) : json({{"error", c.error}})) << c.body;
    }
    EXPECT_EQ(readFile(shared / "sub" / "a2.txt"), "a");
    EXPECT_EQ(readFile(shared / "c.txt"), "b");
    EXPECT_TRUE(fs::is_directory(shared / "empty"));
    EXPECT_TRUE(fs::is_empty(outside));
    EXPECT_FALSE(fs::exists(root / "_team" / "a.txt"));
}

TEST_F(TeamFiles, TheStagingFolderOfUploadsLiesInNoSpace) {
    writeFile(shared / "a.txt", "a");
    HeldUpload held(server->port(), root);
    const std::string part = std::string("..%2F.parts%2F") + HeldUpload::id;
    const struct {
        const char* method;
        std::string target;
        json body;
        std::string error;
    } cases[] = {
        {"GET", "/api/tf/list?path=.parts", {}, "路径不正确"},
        {"GET", "/api/tf/list?path=..%2F.PARTS", {}, "路径不正确"},
        {"GET", "/api/tf/list?scope=me&path=..%2F..%2F" + part, {}, "路径不正确"},
        {"GET", "/api/tf/d?path=" + part + "%2Fmeta.json", {}, "路径不正确"},
        {"PUT", "/api/tf/up?path=" + part + "&name=meta.json", {}, "路径不正确"},
        {"PUT", "/api/tf/up?name=..%2F.parts%2Fx.sh", {}, "文件名不合法"},
        {"POST", "/api/tf/mkdir", {{"scope", "shared"}, {"path", ""}, {"name", "../.Parts"}}, "名称不合法"},
        {"POST", "/api/tf/del", {{"scope", "shared"}, {"path", "../.parts"}}, "路径不正确"},
        {"POST", "/api/tf/mv", {{"scope", "shared"}, {"path", "../.PARTS"}, {"to", "gone"}}, "名称不合法"},
        {"POST", "/api/tf/mv", {{"scope", "shared"}, {"path", "a.txt"}, {"to", "../.parts/x/a.txt"}}, "名称不合法"},
    };
    for (const auto& c : cases) {
        const RawReply r = as(amy, c.method, c.target, c.body);
        EXPECT_EQ(r.status, 400) << c.method << " " << c.target << " " << c.body;
        EXPECT_EQ(parse(r), json({{"error", c.error}})) << c.method << " " << c.target << " " << c.body;
    }
    EXPECT_EQ(readFile(shared / "a.txt"), "a");
    held.expectUntouchedAndFinishing();
}

TEST_F(TeamFiles, SignedOutCallsGetTheFramesRefusal) {
    for (const char* target : {"/api/tf/list", "/api/tf/d?path=a"}) {
        EXPECT_EQ(parse(call("GET", target)), json({{"error", "请先登录"}, {"needLogin", true}})) << target;
    }
}

}  // namespace
}  // namespace corvane::test
