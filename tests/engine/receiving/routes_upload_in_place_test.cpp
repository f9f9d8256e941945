// Chunks of the chunk size are written in place into one data file and the finish
// mostly renames it: every way chunks can arrive still gives the exact bytes, and an
// upload never takes much more disk than its own size.

#include <fcntl.h>
#include <sys/stat.h>

#include "engine/routes_fixture.h"
#include "support/small_tmpfs.h"

namespace fs = std::filesystem;

namespace corvane::test {
namespace {

constexpr int64_t kFull = 4194304;

struct Send {
    int64_t index;
    int64_t length;
    int salt;
};

// The file the sends make: the last body of each index, in index order.
std::string expectedBytes(const std::vector<Send>& sends) {
    std::map<int64_t, std::string> last;
    for (const Send& s : sends) last[s.index] = test::patterned(s.length, s.salt);
    std::string bytes;
    for (const auto& [index, body] : last) bytes += body;
    return bytes;
}

nlohmann::json metaOf(const std::string& name, int64_t size) {
    return {{"name", name}, {"rel", ""}, {"size", size}, {"chunks", 1}, {"mtime", 0}};
}

// Allocated bytes of every file below the folder.
int64_t allocatedBytes(const fs::path& folder) {
    int64_t total = 0;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        struct stat st {};
        if (::lstat(entry.path().c_str(), &st) == 0 && S_ISREG(st.st_mode)) total += int64_t(st.st_blocks) * 512;
    }
    return total;
}

class RoutesUploadInPlace : public RouteTest {
protected:
    RawReply send(const std::string& id, const Send& s) {
        return call("PUT", "/api/upload/" + id + "/" + std::to_string(s.index), test::patterned(s.length, s.salt));
    }
    RawReply finish(const std::string& id) { return call("POST", "/api/upload/" + id + "/finish", "{}"); }
};

TEST_F(RoutesUploadInPlace, EveryOrderAndLengthOfChunksGivesTheExactBytes) {
    const struct { const char* what; std::vector<Send> sends; } cases[] = {
        {"every chunk in place", {{0, kFull, 1}, {1, kFull, 2}, {2, kFull, 3}}},
        {"a short last chunk", {{0, kFull, 1}, {1, kFull, 2}, {2, 1000, 3}}},
        {"odd lengths between in-place ones", {{0, kFull, 1}, {1, 777, 2}, {2, kFull, 3}, {3, kFull + 5, 4},
                                               {4, 0, 5}, {5, kFull, 6}, {6, 10, 7}}},
        {"out of order", {{2, 300, 1}, {1, kFull, 2}, {0, kFull, 3}}},
        {"sent twice", {{0, kFull, 1}, {1, 500, 2}, {0, kFull, 3}, {1, kFull, 4}, {2, 7, 5}, {2, 9, 6}}},
        {"in place, then again as a short file", {{0, kFull, 1}, {1, kFull, 2}, {1, 123, 3}, {2, kFull, 4}}},
        {"a short file, then again in place", {{0, 99, 1}, {0, kFull, 2}, {1, 5, 3}}},
        {"one short chunk", {{0, 4321, 1}}},
    };
    int n = 0;
    for (const auto& c : cases) {
        const std::string id = "a1a1a1a1a1a1a1" + std::to_string(10 + n);
        const std::string name = "case" + std::to_string(n++) + ".bin";
        const std::string expected = expectedBytes(c.sends);
        ASSERT_EQ(call("PUT", "/api/upload/" + id + "/meta", metaOf(name, int64_t(expected.size())).dump()).status, 200);
        for (const Send& s : c.sends) {
            const RawReply reply = send(id, s);
            EXPECT_EQ(parse(reply), nlohmann::json({{"ok", true}, {"index", s.index}, {"bytes", s.length}})) << c.what;
        }
        const RawReply done = finish(id);
        ASSERT_EQ(done.status, 200) << c.what << ": " << done.body;
        EXPECT_EQ(parse(done)["s"], expected.size()) << c.what;
        EXPECT_TRUE(readFile(root / name) == expected) << c.what;
    }
}

TEST_F(RoutesUploadInPlace, AChunkCutShortIsNotHeldUntilItIsSentWhole) {
    // Its bytes in the data file are mixed with the earlier send's, so the index must
    // read as missing rather than as the earlier chunk.
    const std::string id = "c3c3c3c3c3c3c3c3";
    const std::vector<Send> sends = {{0, kFull, 1}, {1, kFull, 2}};
    ASSERT_EQ(call("PUT", "/api/upload/" + id + "/meta", metaOf("cut.bin", 2 * kFull).dump()).status, 200);
    for (const Send& s : sends) send(id, s);
    {
        RawClient client(server->port());
        const std::string head = "PUT /api/upload/" + id + "/1 HTTP/1.1\r\nContent-Length: " +
                                 std::to_string(kFull) + "\r\n\r\n";
        ASSERT_TRUE(client.send(head + test::patterned(kFull / 2, 9)));
        // The chunk has begun once its index no longer reads as held; only then is the
        // cut below a cut of this chunk and not of a connection never served.
        ASSERT_TRUE(waitFor([&] { return callJSON("GET", "/api/upload/" + id)["received"] == nlohmann::json::array({0}); }));
    }
    ASSERT_TRUE(waitFor([&] { return server->openConnections() == 0; }));
    EXPECT_EQ(callJSON("GET", "/api/upload/" + id)["received"], nlohmann::json::array({0}));
    EXPECT_EQ(parse(finish(id)), nlohmann::json({{"error", "incomplete upload"}}));

    send(id, sends[1]);
    ASSERT_EQ(finish(id).status, 200);
    EXPECT_TRUE(readFile(root / "cut.bin") == expectedBytes(sends));
}

TEST_F(RoutesUploadInPlace, AMetaFromAnotherAddressDropsTheChunksHeldInPlace) {
    const std::string id = "f6f6f6f6f6f6f6f6";
    const auto stranger = httpRequestFrom("127.0.0.2", server->port(), "PUT", "/api/upload/" + id + "/0",
                                          test::patterned(kFull, 9));
    ASSERT_TRUE(stranger);
    ASSERT_EQ(stranger->status, 200);
    setClock(clock() + UploadRecords::kQuietBeforeTakeover);  // only a quiet upload is taken over
    ASSERT_EQ(call("PUT", "/api/upload/" + id + "/meta", metaOf("mine.bin", kFull + 3).dump()).status, 200);
    EXPECT_EQ(callJSON("GET", "/api/upload/" + id)["received"], nlohmann::json::array());
    const std::vector<Send> sends = {{0, kFull, 1}, {1, 3, 2}};
    for (const Send& s : sends) send(id, s);
    ASSERT_EQ(finish(id).status, 200);
    EXPECT_TRUE(readFile(root / "mine.bin") == expectedBytes(sends));
}

TEST_F(RoutesUploadInPlace, PartFoldersOfEarlierLayoutsStillFinishByteForByte) {
    // As written before: every chunk a file, or the full chunks in the data file; the
    // owner a plain file in both.
    const std::vector<Send> sends = {{0, kFull, 1}, {1, kFull, 2}, {2, 4000, 3}};
    for (const bool inData : {false, true}) {
        SCOPED_TRACE(inData ? "data file and held file" : "chunk files only");
        const std::string id = inData ? "d5d5d5d5d5d5d5d5" : "d4d4d4d4d4d4d4d4";
        const fs::path folder = root / ".parts" / id;
        std::string data, held;
        for (const Send& s : sends) {
            char name[32];
            std::snprintf(name, sizeof name, "%012lld.part", static_cast<long long>(s.index));
            if (inData && s.length == kFull) {
                data += test::patterned(s.length, s.salt);
                held += '\1';
            } else {
                writeFile(folder / name, test::patterned(s.length, s.salt));
            }
        }
        if (inData) writeFile(folder / "data", data);
        if (inData) writeFile(folder / "held", held);
        writeFile(folder / "meta.json", metaOf(id + ".bin", 2 * kFull + 4000).dump());
        writeFile(folder / "owner", "127.0.0.1");
        nlohmann::json received = callJSON("GET", "/api/upload/" + id)["received"];
        std::sort(received.begin(), received.end());
        EXPECT_EQ(received, nlohmann::json({0, 1, 2}));
        const auto stranger = httpRequestFrom("127.0.0.2", server->port(), "POST", "/api/upload/" + id + "/finish", "{}");
        ASSERT_TRUE(stranger);
        EXPECT_EQ(stranger->status, 403);
        const RawReply done = finish(id);
        ASSERT_EQ(done.status, 200) << done.body;
        EXPECT_TRUE(readFile(root / (id + ".bin")) == expectedBytes(sends));
    }
}

TEST(UploadDiskUse, AnUploadNeverTakesMoreThanItsSizePlus8MiB) {
    // The finish once copied every chunk into a new file: at its end the upload took
    // twice its size, and a file that fitted could not be received on a disk half full.
    if (!canMount()) GTEST_SKIP() << "needs root for a mount namespace";
    Sandbox box;
    const fs::path root = box / "recv";
    fs::create_directories(root);
    const int64_t size = 16 * kFull - 4096;  // 15 chunks in place and a short last one
    const int64_t limit = size + 8 * 1048576;
    EXPECT_EXIT(
        {
            if (!mountSmallTmpfs(root, size_t(limit))) std::_Exit(3);
            HTTPServer server("dev-1", "Desk", "", "", root, withTestPorts());
            if (!server.start()) std::_Exit(4);
            const std::string upload = "/api/upload/e5e5e5e5e5e5e5e5";
            httpRequest(server.port(), "PUT", upload + "/meta", {}, metaOf("big.bin", size).dump());
            std::string expected;
            for (int64_t k = 0; k * kFull < size; ++k) {
                const std::string body = test::patterned(std::min(kFull, size - k * kFull), int(k));
                expected += body;
                const auto reply = httpRequest(server.port(), "PUT", upload + "/" + std::to_string(k), {}, body);
                if (!reply || reply->status != 200) std::_Exit(5);
            }
            const int64_t before = allocatedBytes(root);
            const auto done = httpRequest(server.port(), "POST", upload + "/finish", {}, "{}");
            if (!done || done->status != 200) {
                std::fprintf(stderr, "finish: %s\n", done ? done->body.c_str() : "no reply");
                std::_Exit(6);
            }
            waitFor([&] { return onlySpareFolders(root / ".parts"); });
            const int64_t after = allocatedBytes(root);
            stopAndDrain(server);
            std::fprintf(stderr, "allocated before %lld after %lld limit %lld\n", static_cast<long long>(before),
                         static_cast<long long>(after), static_cast<long long>(limit));
            const bool exact = readFile(root / "big.bin") == expected;
            std::_Exit(before <= limit && after <= limit && exact ? 0 : 7);
        },
        testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace corvane::test
