// The chunked upload protocol, receiving side: status, meta, chunks, finish, abandon.

#include <set>
#include <thread>

#include "engine/routes_fixture.h"

namespace fs = std::filesystem;

namespace corvane::test {
namespace {

const std::string kID = "0123456789abcdef";

class RoutesUpload : public RouteTest {
protected:
    RawReply meta(const nlohmann::json& value, const std::string& id = kID) {
        return call("PUT", "/api/upload/" + id + "/meta", value.dump());
    }
    RawReply chunk(int64_t index, const std::string& bytes, const std::string& id = kID) {
        return call("PUT", "/api/upload/" + id + "/" + std::to_string(index), bytes);
    }
    RawReply finish(const std::string& id = kID) { return call("POST", "/api/upload/" + id + "/finish", "{}"); }
    nlohmann::json status(const std::string& id = kID) { return callJSON("GET", "/api/upload/" + id); }

    fs::path partFolder(const std::string& id = kID) const { return root / ".parts" / id; }

    std::vector<ReceiveTask> tasks() { return server->receiveTasksSnapshot(); }

    static nlohmann::json fileMeta(const std::string& name, int64_t size, const std::string& rel = "") {
        return {{"name", name}, {"rel", rel}, {"size", size}, {"chunks", 1}, {"mtime", 1700000000000}};
    }
};

const char* const kUnseen = R"({"chunkSize":4194304,"exists":false,"received":[]})";

TEST_F(RoutesUpload, StatusOfAnUnseenUploadHasNoMeta) {
    EXPECT_EQ(call("GET", "/api/upload/" + kID).body, kUnseen);
}

TEST_F(RoutesUpload, StatusAfterMetaAloneHandsTheMetaBack) {
    const nlohmann::json m = fileMeta("a.txt", 10);
    EXPECT_EQ(parse(meta(m)), nlohmann::json({{"ok", true}}));
    EXPECT_EQ(status(), nlohmann::json({{"exists", true}, {"received", nlohmann::json::array()}, {"chunkSize", 4194304},
                                        {"meta", m}}));
}

TEST_F(RoutesUpload, StatusListsTheHeldChunks) {
    chunk(3, "ddd");
    chunk(0, "aaa");
    writeFile(partFolder() / "notes.txt", "x");
    nlohmann::json received = status()["received"];
    std::sort(received.begin(), received.end());
    EXPECT_EQ(received, nlohmann::json({0, 3}));
    EXPECT_EQ(status()["meta"], nullptr);
}

TEST_F(RoutesUpload, IdsOf8To40HexDigitsAreAccepted) {
    const struct {
        std::string id;
        bool accepted;
    } cases[] = {{std::string(7, 'a'), false}, {std::string(8, 'a'), true}, {std::string(40, 'f'), true},
                 {std::string(41, 'f'), false}};
    for (const auto& c : cases) {
        const int want = c.accepted ? 200 : 400;
        const RawReply s = call("GET", "/api/upload/" + c.id);
        EXPECT_EQ(s.status, want) << c.id;
        const RawReply m = meta(fileMeta("a.txt", 1), c.id);
        EXPECT_EQ(m.status, want) << c.id;
        const RawReply ch = chunk(0, "x", c.id);
        EXPECT_EQ(ch.status, want) << c.id;
        const RawReply f = finish(c.id);
        EXPECT_EQ(f.status, c.accepted ? 200 : 400) << c.id << " " << f.body;
        if (!c.accepted) {
            EXPECT_EQ(s.body, R"({"error":"bad id"})");
            EXPECT_EQ(m.body, R"({"error":"bad id"})");
            EXPECT_EQ(ch.body, R"({"error":"bad id\/index"})");
            EXPECT_EQ(f.body, R"({"error":"bad id"})");
        }
    }
}

TEST_F(RoutesUpload, ChunkIndexRunsTo100000) {
    EXPECT_EQ(parse(chunk(100000, "xy")), nlohmann::json({{"ok", true}, {"index", 100000}, {"bytes", 2}}));
    EXPECT_EQ(readFile(partFolder() / "000000100000.part"), "xy");
    // Past the limit, and past 64 bits (which must never land on chunk 0).
    for (const std::string index : {"100001", "99999999999999999999999"}) {
        const RawReply reply = call("PUT", "/api/upload/" + kID + "/" + index, "zz");
        EXPECT_EQ(reply.status, 400) << index;
        EXPECT_EQ(reply.body, R"({"error":"bad id\/index"})") << index;
    }
    EXPECT_FALSE(fs::exists(partFolder() / "000000000000.part"));
}

TEST_F(RoutesUpload, ChunkBeforeMetaMakesANamelessTaskThatMetaNames) {
    chunk(0, "12345");
    auto seen = tasks();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].name, "");
    EXPECT_EQ(seen[0].size, 0);
    EXPECT_EQ(seen[0].received, 5);
    EXPECT_EQ(seen[0].from, "127.0.0.1");
    EXPECT_EQ(seen[0].state, "接收中");
    meta(fileMeta("late.bin", 5));
    seen = tasks();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].name, "late.bin");
    EXPECT_EQ(seen[0].size, 5);
    EXPECT_EQ(seen[0].received, 5);
}

TEST_F(RoutesUpload, MetaThatIsNotAnObjectIsStoredButMakesNoTask) {
    const struct {
        const char* body;
        const char* stored;
    } cases[] = {{"garbage", "{}"}, {"\"text\"", "{}"}, {"[1, 2]", "[1,2]"}, {"", "{}"}};
    for (const auto& c : cases) {
        const RawReply reply = call("PUT", "/api/upload/" + kID + "/meta", c.body);
        EXPECT_EQ(reply.body, R"({"ok":true})") << c.body;
        EXPECT_EQ(readFile(partFolder() / "meta.json"), c.stored) << c.body;
    }
    EXPECT_TRUE(tasks().empty());
}

TEST_F(RoutesUpload, MetaNamesTheTaskAfterTheLastPathComponent) {
    const struct {
        nlohmann::json meta;
        const char* name;
        int64_t size;
    } cases[] = {
        {{{"rel", ""}, {"name", "a.txt"}, {"size", 3}}, "a.txt", 3},
        {{{"rel", "docs/a.txt"}, {"name", "a.txt"}, {"size", 3.9}}, "a.txt", 3},
        {{{"rel", "docs/"}, {"size", "7"}}, "docs", 0},
        {{{"name", 5}}, "文件", 0},
        {nlohmann::json::object(), "文件", 0},
    };
    int n = 0;
    for (const auto& c : cases) {
        const std::string id = "abcdef0" + std::to_string(n++);
        meta(c.meta, id);
        const auto seen = tasks();
        ASSERT_EQ(seen.size(), size_t(n));
        EXPECT_EQ(seen.back().name, c.name) << c.meta;
        EXPECT_EQ(seen.back().size, c.size) << c.meta;
    }
}

TEST_F(RoutesUpload, WholeUploadWithChunksOutOfOrder) {
    meta(fileMeta("a.txt", 9));
    chunk(2, "ccc");
    chunk(0, "aaa");
    chunk(1, "bbb");
    const RawReply done = finish();
    ASSERT_EQ(done.status, 200) << done.body;
    const double t = clock() * 1000.0;
    EXPECT_EQ(parse(done), nlohmann::json({{"ok", true}, {"p", "a.txt"}, {"n", "a.txt"}, {"s", 9}, {"t", t}}));
    EXPECT_EQ(readFile(root / "a.txt"), "aaabbbccc");
    EXPECT_FALSE(fs::exists(partFolder()));

    const auto seen = events();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0], ServerEvent::fileReceived(FileItem{"a.txt", "a.txt", 9, t}));
    EXPECT_EQ(seen[1], ServerEvent::log("接收完成：a.txt（9 B）"));

    const auto task = tasks();
    ASSERT_EQ(task.size(), 1u);
    EXPECT_EQ(task[0].state, "已完成");
    EXPECT_EQ(task[0].received, 9);
    EXPECT_EQ(task[0].speed, 0);
    EXPECT_EQ(task[0].doneAt, clock());

    const RawReply again = finish();
    EXPECT_EQ(again.status, 404);
    EXPECT_EQ(again.body, R"({"error":"upload not found"})");
    EXPECT_EQ(status(), nlohmann::json::parse(kUnseen));
}

TEST_F(RoutesUpload, RelPathLandsInItsFolder) {
    meta(fileMeta("a.txt", 2, "docs/sub/a.txt"));
    chunk(0, "hi");
    EXPECT_EQ(parse(finish())["p"], "docs/sub/a.txt");
    EXPECT_EQ(readFile(root / "docs" / "sub" / "a.txt"), "hi");
    EXPECT_EQ(events().at(0).file.name, "a.txt");
}

TEST_F(RoutesUpload, NameClashTakesTheNextFreeNumber) {
    writeFile(root / "a.txt", "old");
    meta(fileMeta("a.txt", 3));
    chunk(0, "new");
    const nlohmann::json reply = parse(finish());
    EXPECT_EQ(reply["p"], "a (1).txt");
    EXPECT_EQ(reply["n"], "a (1).txt");
    EXPECT_EQ(readFile(root / "a.txt"), "old");
    EXPECT_EQ(readFile(root / "a (1).txt"), "new");
}

TEST_F(RoutesUpload, UploadsOfOneNameFinishingAtOnceNeverOverwriteEachOther) {
    constexpr int kUploads = 8;
    for (int k = 0; k < kUploads; ++k) {
        const std::string id = "cafe000" + std::to_string(k);
        meta(fileMeta("same.txt", 6), id);
        chunk(0, "body " + std::to_string(k), id);
    }
    std::vector<std::thread> finishers;
    for (int k = 0; k < kUploads; ++k) finishers.emplace_back([this, k] { finish("cafe000" + std::to_string(k)); });
    for (auto& t : finishers) t.join();
    std::set<std::string> contents;
    for (const auto& entry : fs::directory_iterator(root)) {
        if (entry.is_regular_file()) contents.insert(readFile(entry.path()));
    }
    EXPECT_EQ(contents.size(), size_t(kUploads));
}

TEST_F(RoutesUpload, PartFolderHoldsOnlyWholeChunksAndTheMeta) {
    meta(fileMeta("a.bin", 12));
    for (int k = 0; k < 3; ++k) chunk(k, "four");
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(partFolder())) names.insert(entry.path().filename().string());
    EXPECT_EQ(names, (std::set<std::string>{"000000000000.part", "000000000001.part", "000000000002.part", "meta.json"}));
}

TEST_F(RoutesUpload, TraversingRelLandsInsideTheReceiveFolder) {
    meta(fileMeta("x.txt", 1, "../../outside/x.txt"));
    chunk(0, "x");
    EXPECT_EQ(parse(finish())["p"], "outside/x.txt");
    EXPECT_TRUE(fs::exists(root / "outside" / "x.txt"));
    EXPECT_FALSE(fs::exists(sandbox / "outside"));
}

TEST_F(RoutesUpload, FinishRefusesTheTeamsPrivateFolders) {
    for (const std::string rel : {"_team/users.json", "_users/bob/a.txt", "_team"}) {
        meta(fileMeta("a.txt", 1, rel));
        chunk(0, "x");
        const RawReply reply = finish();
        EXPECT_EQ(reply.status, 400) << rel;
        EXPECT_EQ(reply.body, R"({"error":"bad path"})") << rel;
        EXPECT_TRUE(fs::exists(partFolder() / "000000000000.part")) << rel;
    }
    EXPECT_FALSE(fs::exists(root / "_team"));
    EXPECT_FALSE(fs::exists(root / "_users"));
}

TEST_F(RoutesUpload, FinishRefusesAnUnnamedUploadAndKeepsTheChunks) {
    for (const nlohmann::json& m : {nlohmann::json::object(), nlohmann::json{{"rel", "../.."}},
                                    nlohmann::json{{"name", "a:b.txt"}}, nlohmann::json{{"name", ".hidden"}}}) {
        meta(m);
        chunk(0, "x");
        const RawReply reply = finish();
        EXPECT_EQ(reply.status, 400) << m;
        EXPECT_EQ(reply.body, R"({"error":"bad stored name"})") << m;
        EXPECT_TRUE(fs::exists(partFolder() / "000000000000.part"));
    }
    fs::remove(partFolder() / "meta.json");
    EXPECT_EQ(finish().body, R"({"error":"bad stored name"})");
}

TEST_F(RoutesUpload, FinishWithoutChunksIsRefused) {
    meta(fileMeta("a.txt", 0));
    const RawReply reply = finish();
    EXPECT_EQ(reply.status, 400);
    EXPECT_EQ(reply.body, R"({"error":"no chunks"})");
}

TEST_F(RoutesUpload, FinishRefusesAnIncompleteUploadUntilItIsResumed) {
    const struct {
        std::vector<int64_t> held;
        int64_t size;
        const char* what;
    } cases[] = {
        {{0, 2}, 6, "a gap"},
        {{1, 2}, 4, "no chunk 0"},
        {{0}, 10, "fewer bytes than announced"},
        {{0, 1}, 2, "more bytes than announced"},
    };
    int n = 0;
    for (const auto& c : cases) {
        const std::string id = "feedbeef0" + std::to_string(n++);
        meta(fileMeta("f" + std::to_string(n) + ".bin", c.size), id);
        for (const int64_t index : c.held) chunk(index, "xx", id);
        const RawReply reply = finish(id);
        EXPECT_EQ(reply.status, 400) << c.what;
        EXPECT_EQ(reply.body, R"({"error":"incomplete upload"})") << c.what;
        EXPECT_TRUE(fs::exists(partFolder(id) / "meta.json")) << c.what;
        EXPECT_FALSE(fs::exists(root / ("f" + std::to_string(n) + ".bin"))) << c.what;
    }
    // Once the missing chunk has arrived, the same upload finishes.
    chunk(1, "yy", "feedbeef00");
    EXPECT_EQ(finish("feedbeef00").status, 200);
    EXPECT_EQ(readFile(root / "f1.bin"), "xxyyxx");
}

TEST_F(RoutesUpload, ZeroLengthChunkMakesAnEmptyFile) {
    meta(fileMeta("empty.txt", 0));
    EXPECT_EQ(parse(chunk(0, "")), nlohmann::json({{"ok", true}, {"index", 0}, {"bytes", 0}}));
    const nlohmann::json reply = parse(finish());
    EXPECT_EQ(reply["s"], 0);
    EXPECT_TRUE(fs::exists(root / "empty.txt"));
    EXPECT_EQ(fs::file_size(root / "empty.txt"), 0u);
}

TEST_F(RoutesUpload, MergeFailureLeavesNoFileAndKeepsTheParts) {
    meta({{"name", "a.txt"}});
    chunk(0, "aaa");
    fs::create_directories(partFolder() / "000000000001.part");  // unreadable as a chunk
    const RawReply reply = finish();
    EXPECT_EQ(reply.status, 500);
    EXPECT_EQ(reply.body, R"({"error":"merge failed"})");
    EXPECT_FALSE(fs::exists(root / "a.txt"));
    EXPECT_TRUE(fs::exists(partFolder() / "000000000000.part"));
    size_t leftovers = 0;
    for (const auto& entry : fs::directory_iterator(partFolder())) leftovers += entry.path().filename().string()[0] == '.';
    EXPECT_EQ(leftovers, 0u);
    EXPECT_TRUE(events().empty());
}

TEST_F(RoutesUpload, TargetThatCannotBeCreatedLeavesNoFile) {
    writeFile(root / "f.txt", "a file, not a folder");
    meta(fileMeta("x.txt", 1, "f.txt/x.txt"));
    chunk(0, "x");
    const RawReply reply = finish();
    EXPECT_EQ(reply.status, 500);
    EXPECT_EQ(reply.body, R"({"error":"open failed"})");
    EXPECT_EQ(readFile(root / "f.txt"), "a file, not a folder");
    EXPECT_TRUE(fs::exists(partFolder() / "000000000000.part"));
}

TEST_F(RoutesUpload, ChunkThatCannotBeWrittenLeavesNothing) {
    writeFile(partFolder(), "a file where the part folder belongs");
    const RawReply reply = chunk(0, "abc");
    EXPECT_EQ(reply.status, 500);
    EXPECT_EQ(reply.body, R"({"error":"write failed"})");
    EXPECT_TRUE(tasks().empty());
}

TEST_F(RoutesUpload, ChunkSentAgainReplacesItsFile) {
    chunk(0, "first version");
    chunk(0, "second");
    EXPECT_EQ(readFile(partFolder() / "000000000000.part"), "second");
    // A chunk sent twice counts twice.
    EXPECT_EQ(tasks().at(0).received, 19);
}

TEST_F(RoutesUpload, SpeedIsSmoothedOverChunks) {
    const double start = clock();
    const std::string fourMiB(4194304, 'x');
    const struct {
        double at;
        const std::string* body;
        double speed;
    } steps[] = {
        {0, &fourMiB, 0},                // the first chunk sets no speed
        {0.03125, &fourMiB, 0},          // too close to the previous one
        {2.03125, &fourMiB, 2097152},    // 4 MiB in 2 s
        {3.03125, &fourMiB, 3145728},    // half the old speed, half 4 MiB/s
    };
    for (size_t k = 0; k < std::size(steps); ++k) {
        setClock(start + steps[k].at);
        chunk(int64_t(k), *steps[k].body);
        EXPECT_DOUBLE_EQ(tasks().at(0).speed, steps[k].speed) << "step " << k;
        EXPECT_EQ(tasks().at(0).lastChunkAt, start + steps[k].at);
    }
}

TEST_F(RoutesUpload, AbandonRemovesThePartsAndKeepsTheTask) {
    meta(fileMeta("a.txt", 8));
    chunk(0, "half");
    EXPECT_EQ(parse(call("DELETE", "/api/upload/" + kID)), nlohmann::json({{"ok", true}}));
    EXPECT_FALSE(fs::exists(partFolder()));
    EXPECT_EQ(status(), nlohmann::json::parse(kUnseen));
    const auto seen = tasks();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].state, "接收中");
    EXPECT_EQ(seen[0].received, 4);
    // Nothing to remove is no error; the pattern alone applies.
    EXPECT_EQ(parse(call("DELETE", "/api/upload/abc")), nlohmann::json({{"ok", true}}));
}

TEST_F(RoutesUpload, MetaAfterFinishKeepsTheFinishedState) {
    meta(fileMeta("a.txt", 1));
    chunk(0, "a");
    finish();
    meta(fileMeta("b.txt", 5));
    const auto seen = tasks();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].name, "b.txt");
    EXPECT_EQ(seen[0].size, 5);
    EXPECT_EQ(seen[0].state, "已完成");
    EXPECT_EQ(seen[0].received, 1);
}

TEST_F(RoutesUpload, UploadOfTheSameFileAfterFinishIsStoredAgain) {
    for (int round = 0; round < 2; ++round) {
        meta(fileMeta("a.txt", 1));
        chunk(0, "a");
        EXPECT_EQ(parse(finish())["n"], round == 0 ? "a.txt" : "a (1).txt");
    }
}

}  // namespace
}  // namespace corvane::test
