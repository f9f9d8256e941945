// The NAS file API: listing, folders and renames in the receive folder.

#include <fcntl.h>
#include <sys/stat.h>

#include "held_upload.h"
#include "storage/nas_paths.h"
#include "storage_server_fixture.h"

namespace fs = std::filesystem;

namespace corvane::test {
namespace {

using NasFiles = StorageServerTest;

TEST_F(NasFiles, ListsTheRootForAnEmptyPathAndRefusesPathsWithNothingLeft) {
    writeFile(root / "a.txt", "abc");
    fs::create_directory(root / "docs");
    for (const char* target : {"/api/fs", "/api/fs?path="}) {
        EXPECT_EQ(callJSON("GET", target)["path"], "") << target;
        EXPECT_EQ(callJSON("GET", target)["dirs"], nlohmann::json({"docs"})) << target;
    }
    for (const char* target : {"/api/fs?path=/", "/api/fs?path=.", "/api/fs?path=..", "/api/fs?path=.trash",
                               "/api/fs?path=docs/.x", "/api/fs?path=a%3Ab"}) {
        const RawReply reply = call("GET", target);
        EXPECT_EQ(reply.status, 400) << target;
        EXPECT_EQ(reply.body, errorBody("bad path")) << target;
    }
    // Only while team mode is off or on alike.
    controls->nasExt = true;
    EXPECT_EQ(call("GET", "/api/fs").status, 200);
}

TEST_F(NasFiles, CleansThePathAndListsAFileOrMissingFolderAsEmpty) {
    writeFile(root / "a" / "b" / "c" / "x.txt", "x");
    writeFile(root / "f.txt", "f");
    const auto listed = callJSON("GET", "/api/fs?path=a/./b//c");
    EXPECT_EQ(listed["path"], "a/b/c");
    ASSERT_EQ(listed["files"].size(), 1u);
    EXPECT_EQ(listed["files"][0]["n"], "x.txt");
    EXPECT_EQ(callJSON("GET", "/api/fs?path=a/../b")["path"], "a/b");
    for (const char* target : {"/api/fs?path=f.txt", "/api/fs?path=missing"}) {
        const auto reply = callJSON("GET", target);
        EXPECT_EQ(reply["dirs"], nlohmann::json::array()) << target;
        EXPECT_EQ(reply["files"], nlohmann::json::array()) << target;
    }
}

TEST_F(NasFiles, SortsNaturallyHidesDotEntriesAndGivesExactSizesAndTimes) {
    for (const char* name : {"file10", "file2", "File1", ".hidden"}) writeFile(root / name, std::string(7, 'x'));
    for (const char* name : {"dir10", "Dir1", "dir2", ".trash"}) fs::create_directory(root / name);
    const timespec times[2] = {{1600000000, 250000000}, {1600000000, 250000000}};
    ASSERT_EQ(::utimensat(AT_FDCWD, (root / "file2").c_str(), times, 0), 0);
    const auto listed = callJSON("GET", "/api/fs");
    EXPECT_EQ(listed["dirs"], nlohmann::json({"Dir1", "dir2", "dir10"}));
    ASSERT_EQ(listed["files"].size(), 3u);
    EXPECT_EQ(listed["files"][0]["n"], "File1");
    EXPECT_EQ(listed["files"][1], nlohmann::json({{"n", "file2"}, {"s", 7}, {"t", 1600000000250.0}}));
    EXPECT_EQ(listed["files"][2]["n"], "file10");
}

TEST_F(NasFiles, ListingTextIsWhatTheJSONTreeWriterGivesForAwkwardNamesSizesAndTimes) {
    // The reply is written as text directly; it must stay byte for byte the tree's reply.
    struct Entry {
        std::string name;
        bool folder;
        int64_t size;
        timespec mtime;
    };
    const std::vector<Entry> entries = {
        {"quote \" and back\\slash", false, 0, {1600000000, 0}},
        {"tab\there\x01" "ctl\x1f", false, 5, {1600000000, 1}},
        {"照片 😀 +&<>", false, 5000000000, {1700000000, 999999999}},
        {"dir \"q\"", true, 0, {0, 0}},
        {"子目录", true, 0, {0, 0}},
        {"a/b", false, 1, {1, 500000000}},  // a slash is never in a name: the path part of it
    };
    nlohmann::json dirs = nlohmann::json::array();
    nlohmann::json files = nlohmann::json::array();
    fs::create_directory(root / "x");
    for (const Entry& e : entries) {
        const fs::path path = root / "x" / e.name;
        if (e.folder) {
            fs::create_directories(path);
            continue;
        }
        fs::create_directories(path.parent_path());
        writeFile(path, "");
        ASSERT_EQ(::truncate(path.c_str(), e.size), 0) << e.name;
        const timespec times[2] = {e.mtime, e.mtime};
        ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << e.name;
    }
    const nlohmann::json listing = callJSON("GET", "/api/fs?path=x");
    for (const auto& listed : listing["dirs"]) dirs.push_back(listed);
    for (const auto& listed : listing["files"]) {
        const fs::path path = root / "x" / listed["n"].get<std::string>();
        struct stat st {};
        ASSERT_EQ(::stat(path.c_str(), &st), 0) << path;
        files.push_back({{"n", listed["n"]}, {"s", int64_t(st.st_size)}, {"t", mtimeMillis(st)}});
    }
    EXPECT_EQ(dirs, nlohmann::json({"a", "dir \"q\"", "子目录"}));
    EXPECT_EQ(files.size(), 3u);
    const auto tree = encodeJSONBody({{"path", "x"}, {"dirs", dirs}, {"files", files}});
    ASSERT_TRUE(tree.has_value());
    EXPECT_EQ(call("GET", "/api/fs?path=x").body, *tree);
    EXPECT_EQ(call("GET", "/api/fs?path=x%2Fa").body, R"({"dirs":[],"files":[{"n":"b","s":1,"t":1500.0}],"path":"x\/a"})");
}

TEST_F(NasFiles, LeavesOutPrivateFoldersLinksLeadingOutAndNamesThatAreNotUTF8) {
    for (const char* folder : {"_team", "_users", "_shared", "x"}) fs::create_directory(root / folder);
    fs::create_directory(root / "x" / "_team");
    fs::create_directory(sandbox / "outside");
    fs::create_directory_symlink(sandbox / "outside", root / "out");
    fs::create_directory_symlink(root / "x", root / "in");
    fs::create_directory_symlink(root, root / "x" / "loop");
    writeFile(root / "bad\xff.txt", "b");
    const auto listed = callJSON("GET", "/api/fs");
    EXPECT_EQ(listed["dirs"], nlohmann::json({"_shared", "in", "x"}));
    EXPECT_EQ(listed["files"], nlohmann::json::array());
    EXPECT_EQ(callJSON("GET", "/api/fs?path=x")["dirs"], nlohmann::json({"_team"}));  // only at the top
    for (const char* target : {"/api/fs?path=_team", "/api/fs?path=_users/bob", "/api/fs?path=out",
                               "/api/fs?path=out/sub",
                               "/api/fs?path=x/loop", "/api/fs?path=out/recv"}) {
        EXPECT_EQ(call("GET", target).status, 400) << target;
    }
}

TEST_F(NasFiles, TheStagingFolderOfUploadsIsNeitherListedNorReachedInAnyCase) {
    writeFile(root / "a.txt", "a");
    HeldUpload held(server->port(), root);
    const std::string part = std::string(".parts/") + HeldUpload::id;
    const struct {
        const char* method;
        std::string target;
        std::string body;
        std::string error;
    } cases[] = {
        {"GET", "/api/fs?path=.parts", "", "bad path"},
        {"GET", "/api/fs?path=.PARTS/" + std::string(HeldUpload::id), "", "bad path"},
        {"GET", "/api/fs?path=x/../.parts", "", "bad path"},
        {"POST", "/api/fs/mkdir", R"({"path":")" + part + R"(/new"})", "bad path"},
        {"POST", "/api/fs/mkdir", R"({"path":".Parts"})", "bad path"},
        {"POST", "/api/fs/rename", R"({"from":")" + part + R"(/meta.json","to":")" + part + R"(/m"})", "bad path"},
        {"POST", "/api/fs/rename", R"({"from":"a.txt","to":".PARTS"})", "bad path"},
        {"PUT", "/api/fs/upload?path=" + part + "&name=meta.json", "x", "bad path"},
        {"PUT", "/api/fs/upload?name=.parts/" + std::string(HeldUpload::id) + "/000000000000.part", "x", "bad name"},
    };
    for (const auto& c : cases) {
        const RawReply reply = call(c.method, c.target, c.body);
        EXPECT_EQ(reply.status, 400) << c.method << " " << c.target;
        EXPECT_EQ(reply.body, errorBody(c.error)) << c.method << " " << c.target;
    }
    EXPECT_EQ(callJSON("GET", "/api/fs")["dirs"], nlohmann::json::array());
    EXPECT_EQ(namesIn(root), (std::vector<std::string>{".parts", "a.txt"}));
    held.expectUntouchedAndFinishing();
}

TEST_F(NasFiles, MakesOneFolderLevelAndRefusesWhatItCannot) {
    EXPECT_EQ(post("/api/fs/mkdir", {{"path", "new"}}).body, R"({"ok":true})");
    EXPECT_TRUE(fs::is_directory(root / "new"));
    EXPECT_EQ(logs(), std::vector<std::string>{"新建文件夹：new"});
    fs::create_directory_symlink(sandbox.path(), root / "out");
    const struct {
        std::string body;
        int status;
        std::string error;
    } cases[] = {
        {R"({"path":"new"})", 500, "已存在或创建失败"},
        {R"({"path":"a/b"})", 500, "已存在或创建失败"},
        {R"(["new2"])", 400, "bad path"},
        {R"({"path":7})", 400, "bad path"},
        {R"({"path":""})", 400, "bad path"},
        {R"({"path":"/"})", 400, "bad path"},
        {R"({"path":".x"})", 400, "bad path"},
        {R"({"path":"_team"})", 400, "bad path"},
        {R"({"path":"_users/bob"})", 400, "bad path"},
        {R"({"path":"out/x"})", 400, "bad path"},
        {"not json", 400, "bad path"},
    };
    for (const auto& c : cases) {
        const RawReply reply = call("POST", "/api/fs/mkdir", c.body);
        EXPECT_EQ(reply.status, c.status) << c.body;
        EXPECT_EQ(reply.body, errorBody(c.error)) << c.body;
    }
    EXPECT_FALSE(fs::exists(root / "_team"));
    EXPECT_FALSE(fs::exists(sandbox / "x"));
    EXPECT_EQ(logs().size(), 1u);
    EXPECT_EQ(post("/api/fs/mkdir", {{"path", "_shared"}}).status, 200);
    EXPECT_EQ(post("/api/fs/mkdir", {{"path", "new/_team"}}).status, 200);
}

TEST_F(NasFiles, RenamesWithinAFolderOntoAFreeName) {
    writeFile(root / "x.txt", "x");
    EXPECT_EQ(post("/api/fs/rename", {{"from", "x.txt"}, {"to", "y.txt"}}).body, R"({"ok":true})");
    EXPECT_EQ(readFile(root / "y.txt"), "x");
    EXPECT_EQ(logs(), std::vector<std::string>{"重命名：x.txt → y.txt"});

    writeFile(root / "d" / "a.txt", "a");
    writeFile(root / "d" / "b.txt", "b");
    EXPECT_EQ(post("/api/fs/rename", {{"from", "d/a.txt"}, {"to", "d/b.txt"}}).status, 200);
    EXPECT_EQ(readFile(root / "d" / "b.txt"), "b");
    EXPECT_EQ(readFile(root / "d" / "b (1).txt"), "a");
    EXPECT_EQ(logs().back(), "重命名：d/a.txt → d/b (1).txt");
    // Its own name counts as taken.
    EXPECT_EQ(post("/api/fs/rename", {{"from", "d/b.txt"}, {"to", "d/b.txt"}}).status, 200);
    EXPECT_EQ(namesIn(root / "d"), (std::vector<std::string>{"b (1).txt", "b (2).txt"}));
}

TEST_F(NasFiles, RefusesRenamesAcrossFoldersOutOfTheRootOrThatFail) {
    writeFile(root / "a" / "x.txt", "x");
    writeFile(root / "x.txt", "top");
    fs::create_directory(root / "_team");
    fs::create_directory_symlink(sandbox.path(), root / "out");
    const struct {
        nlohmann::json body;
        int status;
        std::string error;
    } cases[] = {
        {{{"from", "a/x.txt"}, {"to", "b/x.txt"}}, 400, "只能同目录重命名"},
        {{{"from", "a/x.txt"}, {"to", "y.txt"}}, 400, "只能同目录重命名"},
        {{{"from", "a/x.txt"}}, 400, "bad path"},
        {{{"from", "a/x.txt"}, {"to", 3}}, 400, "bad path"},
        {{{"from", "a/x.txt"}, {"to", "a/.y"}}, 400, "bad path"},
        {{{"from", "x.txt"}, {"to", "_team"}}, 400, "bad path"},
        {{{"from", "_team"}, {"to", "team"}}, 400, "bad path"},
        {{{"from", "out"}, {"to", "out2"}}, 400, "bad path"},
        {{{"from", "a/missing"}, {"to", "a/z"}}, 500, "重命名失败"},
        {nlohmann::json::array({"x.txt", "y.txt"}), 400, "bad path"},
    };
    for (const auto& c : cases) {
        const RawReply reply = post("/api/fs/rename", c.body);
        EXPECT_EQ(reply.status, c.status) << c.body;
        EXPECT_EQ(reply.body, errorBody(c.error)) << c.body;
    }
    EXPECT_EQ(readFile(root / "a" / "x.txt"), "x");
    EXPECT_TRUE(fs::is_directory(root / "_team"));
    EXPECT_TRUE(logs().empty());
}

}  // namespace
}  // namespace corvane::test
