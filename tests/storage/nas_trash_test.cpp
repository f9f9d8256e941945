// The NAS recycle bin: delete into ".trash", list, restore, remove for good, empty.

#include "held_upload.h"
#include "storage_server_fixture.h"

namespace fs = std::filesystem;

namespace corvane::test {
namespace {

using NasTrash = StorageServerTest;

const std::string kSlash = "\xE2\x88\x95";  // U+2215 DIVISION SLASH

bool isStamp(const std::string& text) {
    if (text.size() != 15 || text[8] != '-') return false;
    for (size_t i = 0; i < text.size(); ++i) {
        if (i != 8 && !std::isdigit(static_cast<unsigned char>(text[i]))) return false;
    }
    return true;
}

TEST_F(NasTrash, RoundTripOfAFileIntoTheBinAndBackBesideANewerOne) {
    writeFile(root / "a" / "b.txt", "old");
    EXPECT_EQ(post("/api/fs/delete", {{"path", "a/b.txt"}}).body, R"({"ok":true})");
    const auto bin = namesIn(root / ".trash");
    ASSERT_EQ(bin.size(), 1u);
    EXPECT_TRUE(isStamp(bin[0].substr(0, 15))) << bin[0];
    EXPECT_EQ(bin[0].substr(15), "-a" + kSlash + "b.txt");

    const auto items = callJSON("GET", "/api/trash")["items"];
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0]["n"], bin[0]);
    EXPECT_EQ(items[0]["orig"], "a/b.txt");
    EXPECT_EQ(items[0]["s"], 3);
    EXPECT_GT(items[0]["t"].get<double>(), 1e12);
    EXPECT_EQ(callJSON("GET", "/api/fs?path=")["dirs"], nlohmann::json({"a"}));  // the bin stays hidden

    fs::remove_all(root / "a");
    writeFile(root / "a" / "b.txt", "new");
    EXPECT_EQ(post("/api/trash/restore", {{"name", bin[0]}}).body, R"({"ok":true})");
    EXPECT_EQ(readFile(root / "a" / "b.txt"), "new");
    EXPECT_EQ(readFile(root / "a" / "b (1).txt"), "old");
    EXPECT_EQ(logs(), (std::vector<std::string>{"移入回收站：a/b.txt", "从回收站还原：a/b.txt"}));
    EXPECT_TRUE(namesIn(root / ".trash").empty());

    // A folder that is gone by then is made again.
    EXPECT_EQ(post("/api/fs/delete", {{"path", "a"}}).status, 200);
    const std::string folderEntry = namesIn(root / ".trash").at(0);
    EXPECT_EQ(post("/api/trash/restore", {{"name", folderEntry}}).status, 200);
    EXPECT_EQ(namesIn(root / "a"), (std::vector<std::string>{"b (1).txt", "b.txt"}));
}

TEST_F(NasTrash, LongPathsKeepOnlyTheirLastComponentAndDivisionSlashesComeBackAsFolders) {
    // 9 components of 20 bytes and 8 slashes of 3 bytes: 16 + 180 + 24 bytes.
    std::string deep;
    for (int i = 0; i < 9; ++i) deep += (i ? "/" : "") + std::string(19, char('a' + i)) + "z";
    writeFile(root / deep, "deep");
    writeFile(root / ("x" + kSlash + "y"), "xy");
    EXPECT_EQ(post("/api/fs/delete", {{"path", deep}}).status, 200);
    EXPECT_EQ(post("/api/fs/delete", {{"path", "x" + kSlash + "y"}}).status, 200);
    const auto items = callJSON("GET", "/api/trash")["items"];
    ASSERT_EQ(items.size(), 2u);
    std::map<std::string, std::string> names;
    for (const auto& item : items) names[item["orig"]] = item["n"];
    const std::string last = std::string(19, 'i') + "z";
    ASSERT_TRUE(names.count(last));
    EXPECT_EQ(names[last].substr(15), "-" + last);
    ASSERT_TRUE(names.count("x/y"));

    EXPECT_EQ(post("/api/trash/restore", {{"name", names[last]}}).status, 200);
    EXPECT_EQ(readFile(root / last), "deep");
    EXPECT_EQ(post("/api/trash/restore", {{"name", names["x/y"]}}).status, 200);
    EXPECT_EQ(readFile(root / "x" / "y"), "xy");
}

TEST_F(NasTrash, RefusesPathsTheBinCannotTakeAndReportsAFailedMove) {
    writeFile(root / ".trash" / "old", "o");
    writeFile(root / "_team" / "accounts.json", "{}");
    fs::create_directory_symlink(sandbox.path(), root / "out");
    for (const nlohmann::json& path : {nlohmann::json("out"), nlohmann::json("out/recv"),nlohmann::json(""), nlohmann::json("/"), nlohmann::json(".trash"),
                                       nlohmann::json(".trash/old"), nlohmann::json("a/.b"), nlohmann::json(5),
                                       nlohmann::json("_team"), nlohmann::json("_users/bob/x")}) {
        const RawReply reply = post("/api/fs/delete", {{"path", path}});
        EXPECT_EQ(reply.status, 400) << path;
        EXPECT_EQ(reply.body, errorBody("bad path")) << path;
    }
    EXPECT_TRUE(fs::exists(root / "_team" / "accounts.json"));
    fs::remove_all(root / ".trash");
    const RawReply missing = post("/api/fs/delete", {{"path", "missing.txt"}});
    EXPECT_EQ(missing.status, 500);
    EXPECT_EQ(missing.body, errorBody("移入回收站失败"));
    EXPECT_TRUE(fs::is_directory(root / ".trash"));
    EXPECT_TRUE(logs().empty());
}

TEST_F(NasTrash, TheStagingFolderOfUploadsNeitherGoesIntoTheBinNorComesBackFromIt) {
    HeldUpload held(server->port(), root);
    const std::string part = std::string(".parts/") + HeldUpload::id;
    for (const std::string& path : {std::string(".parts"), std::string(".PARTS"), part, part + "/meta.json",
                                    "x/../.Parts/" + std::string(HeldUpload::id)}) {
        const RawReply reply = post("/api/fs/delete", {{"path", path}});
        EXPECT_EQ(reply.status, 400) << path;
        EXPECT_EQ(reply.body, errorBody("bad path")) << path;
    }
    // Entries whose names lead back to the staging folder, such as a share client may write.
    const std::string forged = "20250101-000000-.parts";
    const std::string upper = "20250101-000000-x" + kSlash + ".." + kSlash + ".PARTS";
    writeFile(root / ".trash" / forged / HeldUpload::id / "meta.json", R"({"rel":"Desktop/payload.sh"})");
    writeFile(root / ".trash" / upper, "u");
    const auto before = namesIn(root);
    for (const std::string& name : {forged, upper}) {
        const RawReply reply = post("/api/trash/restore", {{"name", name}});
        EXPECT_EQ(reply.status, 400) << name;
        EXPECT_EQ(reply.body, errorBody("bad path")) << name;
    }
    EXPECT_EQ(namesIn(root), before);
    EXPECT_EQ(namesIn(root / ".trash"), (std::vector<std::string>{forged, upper}));
    EXPECT_TRUE(logs().empty());
    held.expectUntouchedAndFinishing();
}

TEST_F(NasTrash, RestoreAndDeleteTakeOnlyWellFormedNames) {
    fs::create_directory_symlink(sandbox.path(), root / "out");
    // Names of grapheme clusters: "é" written as e and a combining accent is one character.
    const std::string accent = "e\xCC\x81";
    std::string of200;
    for (int i = 0; i < 200; ++i) of200 += accent;
    const struct {
        nlohmann::json name;
        int restoreStatus;
        std::string restoreBody;
        int deleteStatus;
    } cases[] = {
        {"", 400, errorBody("bad name"), 400},
        {".hidden", 400, errorBody("bad name"), 400},
        {"a/b", 400, errorBody("bad name"), 400},
        {of200 + "x", 400, errorBody("bad name"), 400},
        {7, 400, errorBody("bad name"), 400},
        {of200, 500, errorBody("还原失败"), 200},
        {"20250101-000000-", 400, errorBody("bad path"), 200},     // 16 characters: the empty path
        {"20250101-000000-..", 400, errorBody("bad path"), 200},   // falls back to "..", outside
        {"20250101-000000-_team", 400, errorBody("bad path"), 200},
        {"20250101-000000-a:b" + kSlash + "_users", 400, errorBody("bad path"), 200},  // the fallback component
        {"20250101-000000-out" + kSlash + "x", 400, errorBody("bad path"), 200},  // a folder leading out
        {"20250101-000000-a" + kSlash + "_team", 500, errorBody("还原失败"), 200},  // ordinary, but not in the bin
    };
    for (const auto& c : cases) {
        const RawReply restore = post("/api/trash/restore", {{"name", c.name}});
        EXPECT_EQ(restore.status, c.restoreStatus) << c.name;
        EXPECT_EQ(restore.body, c.restoreBody) << c.name;
        EXPECT_EQ(post("/api/trash/delete", {{"name", c.name}}).status, c.deleteStatus) << c.name;
    }
    EXPECT_FALSE(fs::exists(root / "_team"));
}

TEST_F(NasTrash, AnEntryWhosePathTheCleanerRefusesComesBackAtTheTop) {
    writeFile(root / ".trash" / ("20250101-000000-a" + kSlash + "b:c"), "colon");
    EXPECT_EQ(post("/api/trash/restore", {{"name", "20250101-000000-a" + kSlash + "b:c"}}).status, 200);
    EXPECT_EQ(readFile(root / "b:c"), "colon");
    EXPECT_EQ(logs(), std::vector<std::string>{"从回收站还原：b:c"});
}

TEST_F(NasTrash, ListsInFileManagerOrderHidingDotEntriesAndEmptiesEverything) {
    for (const char* name : {"20250101-000000-file10", "20250101-000000-file2", "20241231-235959-z", ".keep"}) {
        writeFile(root / ".trash" / name, "x");
    }
    fs::create_directories(root / ".trash" / "20250101-000001-folder" / "inner");
    const auto items = callJSON("GET", "/api/trash")["items"];
    std::vector<std::string> order;
    for (const auto& item : items) order.push_back(item["n"]);
    EXPECT_EQ(order, (std::vector<std::string>{"20241231-235959-z", "20250101-000000-file2", "20250101-000000-file10",
                                                "20250101-000001-folder"}));
    EXPECT_EQ(items[3]["orig"], "folder");

    EXPECT_EQ(post("/api/trash/delete", {{"name", "20241231-235959-z"}}).body, R"({"ok":true})");
    EXPECT_EQ(namesIn(root / ".trash").size(), 4u);
    EXPECT_EQ(call("POST", "/api/trash/empty", "ignored").body, R"({"ok":true})");
    EXPECT_TRUE(namesIn(root / ".trash").empty());
    EXPECT_TRUE(fs::is_directory(root / ".trash"));
    fs::remove(root / ".trash");
    EXPECT_EQ(call("POST", "/api/trash/empty").status, 200);
    EXPECT_EQ(callJSON("GET", "/api/trash"), nlohmann::json({{"items", nlohmann::json::array()}}));
    EXPECT_EQ(logs(), (std::vector<std::string>{"已清空回收站", "已清空回收站"}));
}

}  // namespace
}  // namespace corvane::test
