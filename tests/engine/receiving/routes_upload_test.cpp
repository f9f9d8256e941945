// The chunked upload protocol, receiving side: status, meta, chunks and finish.

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

TEST_F(RoutesUpload, StatusGivesTheMetaAndTheHeldChunks) {
    EXPECT_EQ(call("GET", "/api/upload/" + kID).body, kUnseen);
    const nlohmann::json m = fileMeta("a.txt", 10);
    EXPECT_EQ(parse(meta(m)), nlohmann::json({{"ok", true}}));
    EXPECT_EQ(status(), nlohmann::json({{"exists", true}, {"received", nlohmann::json::array()}, {"chunkSize", 4194304},
                                        {"meta", m}}));

    const std::string other = "0123456789abcdee";
    chunk(3, "ddd", other);
    chunk(0, "aaa", other);
    writeFile(partFolder(other) / "notes.txt", "x");
    nlohmann::json received = status(other)["received"];
    std::sort(received.begin(), received.end());
    EXPECT_EQ(received, nlohmann::json({0, 3}));
    EXPECT_EQ(status(other)["meta"], nullptr);
}

TEST_F(RoutesUpload, IdsOf8To40HexDigitsAreAccepted) {
    const struct { std::string id; bool accepted; } cases[] = {
        {std::string(7, 'a'), false}, {std::string(8, 'a'), true},
        {std::string(40, 'f'), true}, {std::string(41, 'f'), false}};
    const char* const refusals[] = {R"({"error":"bad id"})", R"({"error":"bad id"})", R"({"error":"bad id\/index"})",
                                    R"({"error":"bad id"})"};
    for (const auto& c : cases) {
        // Status, meta, chunk and finish, in that order.
        const RawReply replies[] = {call("GET", "/api/upload/" + c.id), meta(fileMeta("a.txt", 1), c.id),
                                    chunk(0, "x", c.id), finish(c.id)};
        for (size_t k = 0; k < std::size(replies); ++k) {
            EXPECT_EQ(replies[k].status, c.accepted ? 200 : 400) << c.id << " request " << k << ": " << replies[k].body;
            if (!c.accepted) { EXPECT_EQ(replies[k].body, refusals[k]) << c.id << " request " << k; }
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

    // The same finish again (its reply lost) hears the same reply; the upload is gone.
    const RawReply again = finish();
    EXPECT_EQ(again.status, 200);
    EXPECT_EQ(again.body, done.body);
    EXPECT_EQ(status(), nlohmann::json::parse(kUnseen));
}

TEST_F(RoutesUpload, AChunkBeforeTheMetaIsKeptWhenTheMetaComesFromTheSameSender) {
    // The meta once threw the earlier chunk away: status went from [1] to [] and the
    // finish answered 400 while the task still counted the chunk's bytes.
    chunk(1, "rest");
    meta(fileMeta("a.bin", 8));
    EXPECT_EQ(status()["received"], nlohmann::json({1}));
    chunk(0, "good");
    const RawReply done = finish();
    ASSERT_EQ(done.status, 200) << done.body;
    EXPECT_EQ(readFile(root / "a.bin"), "goodrest");
    EXPECT_EQ(tasks().at(0).received, 8);
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
    // The owner is an attribute of the folder, not an entry.
    EXPECT_EQ(names, (std::set<std::string>{"000000000000.part", "000000000001.part", "000000000002.part", "meta.json"}));
}

TEST_F(RoutesUpload, AReusedPartFolderKeepsNothingOfTheUploadBefore) {
    // Spent part folders are kept for the next uploads; none may bring the last
    // upload's owner, meta or chunks along.
    const auto spares = [&] {
        size_t count = 0;
        for (const auto& entry : fs::directory_iterator(root / ".parts")) {
            count += entry.path().filename().string().starts_with(".spare-");
        }
        return count;
    };
    const std::string first = "1111222233334444";
    chunk(0, "first", first);  // a chunk before its meta makes a part folder
    meta(fileMeta("first.bin", 5), first);
    ASSERT_EQ(finish(first).status, 200);
    // The spent folder is emptied and kept once the reply is out, before its connection
    // ends; the folder aside alone shows before that.
    ASSERT_TRUE(waitFor([&] { return server->openConnections() == 0; }));
    ASSERT_EQ(spares(), 1u);

    const std::string next = "5555666677778888";
    const auto late = httpRequestFrom("127.0.0.2", server->port(), "PUT", "/api/upload/" + next + "/1", "late");
    ASSERT_TRUE(late);
    EXPECT_EQ(late->status, 200);
    EXPECT_EQ(spares(), 0u);
    const auto ownStatus = httpRequestFrom("127.0.0.2", server->port(), "GET", "/api/upload/" + next);
    ASSERT_TRUE(ownStatus);
    EXPECT_EQ(parse(*ownStatus),
              nlohmann::json({{"exists", true}, {"received", {1}}, {"chunkSize", 4194304}, {"meta", nullptr}}));
    EXPECT_EQ(finish(next).status, 403);  // its owner is the address of its first chunk
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
        EXPECT_EQ(status()["received"], nlohmann::json::array({0})) << rel;
    }
    EXPECT_FALSE(fs::exists(root / "_team"));
    EXPECT_FALSE(fs::exists(root / "_users"));
}

TEST_F(RoutesUpload, FinishRefusesAnEmptyOrIncompleteUploadUntilItIsResumed) {
    const struct { std::vector<int64_t> held; int64_t size; const char *what, *error; } cases[] = {
        {{0, 2}, 6, "a gap", "incomplete upload"},
        {{1, 2}, 4, "no chunk 0", "incomplete upload"},
        {{0}, 10, "fewer bytes than announced", "incomplete upload"},
        {{0, 1}, 2, "more bytes than announced", "incomplete upload"},
        {{}, 0, "no chunks at all", "no chunks"},
    };
    int n = 0;
    for (const auto& c : cases) {
        const std::string id = "feedbeef0" + std::to_string(n++);
        meta(fileMeta("f" + std::to_string(n) + ".bin", c.size), id);
        for (const int64_t index : c.held) chunk(index, "xx", id);
        const RawReply reply = finish(id);
        EXPECT_EQ(reply.status, 400) << c.what;
        EXPECT_EQ(parse(reply), nlohmann::json({{"error", c.error}})) << c.what;
        EXPECT_EQ(status(id)["meta"], fileMeta("f" + std::to_string(n) + ".bin", c.size)) << c.what;
        EXPECT_FALSE(fs::exists(root / ("f" + std::to_string(n) + ".bin"))) << c.what;
    }
    // Once the missing chunk has arrived, the same upload finishes.
    chunk(1, "yy", "feedbeef00");
    EXPECT_EQ(finish("feedbeef00").status, 200);
    EXPECT_EQ(readFile(root / "f1.bin"), "xxyyxx");
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
    EXPECT_EQ(status()["received"], nlohmann::json::array({0}));
}

TEST_F(RoutesUpload, OverlappingFinishesOfOneUploadStoreItOnce) {
    // Two finishes of one upload (the same file queued twice gets the same id) once
    // stored it as "a.bin" and "a (1).bin". Both now hear the reply of the one store.
    const std::string piece(1 << 20, 'q');
    for (int round = 0; round < 12; ++round) {
        const std::string name = "race" + std::to_string(round) + ".bin";
        meta(fileMeta(name, int64_t(piece.size()) * 4));
        for (int k = 0; k < 4; ++k) chunk(k, piece);
        RawReply first, second;
        std::thread other([&] { second = finish(); });
        first = finish();
        other.join();
        EXPECT_EQ(first.status, 200) << "round " << round;
        EXPECT_EQ(second.body, first.body) << "round " << round;
        EXPECT_TRUE(fs::exists(root / name));
        EXPECT_FALSE(fs::exists(root / ("race" + std::to_string(round) + " (1).bin"))) << "round " << round;
        EXPECT_FALSE(fs::exists(partFolder()));
    }
    // No claimed part folder is left behind (a stored upload's is emptied just after its reply).
    EXPECT_TRUE(waitFor([&] { return onlySpareFolders(root / ".parts"); }));
}

TEST_F(RoutesUpload, AtStartAnUploadIsJudgedByItsNewestChangeAndACutFinishResumes) {
    // Chunks written in place leave the folder's own time alone: an upload resumed all
    // week was removed as abandoned. A kill during a finish left its claimed folder aside
    // for good.
    const auto weekAgo = fs::file_time_type::clock::now() - std::chrono::hours(24 * 8);
    const auto age = [&](const std::string& id, bool contentsToo) {
        for (const auto& entry : fs::directory_iterator(partFolder(id))) {
            const std::string name = entry.path().filename().string();
            if (contentsToo || name == "meta.json") fs::last_write_time(entry.path(), weekAgo);
        }
        fs::last_write_time(partFolder(id), weekAgo);
    };
    const std::string resumed = "9a9a9a9a9a9a9a9a", abandoned = "9b9b9b9b9b9b9b9b";
    const std::string cut = "9c9c9c9c9c9c9c9c", startedAgain = "9d9d9d9d9d9d9d9d";
    // Chunks before their metas: each upload gets a part folder.
    chunk(0, std::string(4194304, 'r'), resumed);
    meta(fileMeta("resumed.bin", 4194304), resumed);
    age(resumed, false);
    chunk(0, "a", abandoned);
    meta(fileMeta("abandoned.bin", 1), abandoned);
    age(abandoned, true);
    chunk(0, "cut", cut);
    meta(fileMeta("cut.bin", 3), cut);
    fs::rename(partFolder(cut), root / ".parts" / (".finishing-" + cut + "-a1b2c3"));
    chunk(0, "new", startedAgain);
    meta(fileMeta("again.bin", 3), startedAgain);
    fs::copy(partFolder(startedAgain), root / ".parts" / (".finishing-" + startedAgain + "-d4e5f6"));
    writeFile(root / ".parts" / (".finishing-" + startedAgain + "-d4e5f6") / "000000000000.part", "old");

    server->stop();
    ASSERT_TRUE(server->start());
    EXPECT_TRUE(fs::exists(partFolder(resumed)));
    EXPECT_FALSE(fs::exists(partFolder(abandoned)));
    EXPECT_EQ(status(cut)["received"], nlohmann::json::array({0}));
    ASSERT_EQ(finish(cut).status, 200);
    EXPECT_EQ(readFile(root / "cut.bin"), "cut");
    ASSERT_EQ(finish(startedAgain).status, 200);
    EXPECT_EQ(readFile(root / "again.bin"), "new");
    for (const auto& entry : fs::directory_iterator(root / ".parts")) {
        EXPECT_FALSE(entry.path().filename().string().starts_with(".finishing-")) << entry.path();
    }
}

}  // namespace
}  // namespace corvane::test
