// Who an upload belongs to, and what a chunk still arriving may do: devices at two
// addresses on loopback, bodies held open on raw sockets across a takeover, a cancel or
// a finish, then completed. Each case once stored another device's bytes with a 200.
// Then what the owner's finish heard again answers once the upload is stored.

#include <csignal>
#include <set>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "engine/receiving/part_folder.h"
#include "engine/routes_fixture.h"
#include "engine/server/storage_gate.h"
#include "support/small_tmpfs.h"

namespace fs = std::filesystem;

namespace corvane::test {
namespace {

constexpr int64_t kFull = 4194304;
constexpr size_t kHeldPart = 1 << 20;  // what a held body has sent
const std::string kSender = "127.0.0.2";
const std::string kStranger = "127.0.0.3";
const char* const kUnseen = R"({"chunkSize":4194304,"exists":false,"received":[]})";

// Bytes that differ by position and by salt, so whose bytes landed where shows.
std::string bytesOf(int64_t size, int salt) {
    std::string bytes(size_t(size), '\0');
    for (int64_t k = 0; k < size; ++k) bytes[size_t(k)] = char((k * 131 + k / 4099 + salt * 37) & 0xff);
    return bytes;
}

std::string joined(const std::vector<std::string>& chunks) {
    std::string all;
    for (const auto& chunk : chunks) all += chunk;
    return all;
}

nlohmann::json metaOf(const std::string& name, const std::vector<std::string>& chunks) {
    return {{"name", name}, {"rel", ""}, {"size", joined(chunks).size()}, {"chunks", chunks.size()}, {"mtime", 0}};
}

class UploadOwners : public RouteTest {
protected:
    RawReply from(const std::string& address, const std::string& method, const std::string& tail,
                  const std::string& body = "") {
        const auto reply = httpRequestFrom(address, port(), method, "/api/upload/" + id + tail, body);
        return reply.value_or(RawReply{});
    }

    // A chunk whose first `sent` bytes are sent and the rest held back.
    std::unique_ptr<RawClient> holdChunk(const std::string& address, int64_t index, const std::string& body,
                                         size_t sent = kHeldPart) {
        auto client = std::make_unique<RawClient>(port(), address);
        const std::string head = "PUT /api/upload/" + id + "/" + std::to_string(index) +
                                 " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: " + std::to_string(body.size()) +
                                 "\r\n\r\n";
        EXPECT_TRUE(client->send(head + body.substr(0, sent)));
        return client;
    }

    // Waits until `count` files of the part folder hold at least `size` bytes: the held
    // bodies are being written.
    void waitUntilWritten(int64_t size, int count = 1) {
        const auto written = [&] {
            int found = 0;
            std::error_code ec;
            for (const auto& entry : fs::directory_iterator(root / ".parts" / id, ec)) {
                std::error_code sizeError;
                found += entry.is_regular_file(sizeError) && int64_t(entry.file_size(sizeError)) >= size;
            }
            return found >= count;
        };
        ASSERT_TRUE(waitFor(written));
    }

    // Completes a held body; the server may have closed its connection.
    static std::optional<RawReply> complete(RawClient& held, const std::string& body, size_t sent = kHeldPart) {
        if (!held.send(body.substr(sent))) return std::nullopt;
        return held.readReply();
    }

    // Status, meta and every chunk status did not list, as the send queue sends them;
    // the first reply that is not 200, else the last chunk's.
    RawReply sendChunks(const std::string& address, const nlohmann::json& meta, const std::vector<std::string>& chunks) {
        std::set<int64_t> held;
        for (const auto& index : parse(from(address, "GET", "")).value("received", nlohmann::json::array())) {
            held.insert(index.get<int64_t>());
        }
        RawReply reply = from(address, "PUT", "/meta", meta.dump());
        for (size_t k = 0; k < chunks.size() && reply.status == 200; ++k) {
            if (!held.count(int64_t(k))) reply = from(address, "PUT", "/" + std::to_string(k), chunks[k]);
        }
        return reply;
    }
    RawReply send(const std::string& address, const nlohmann::json& meta, const std::vector<std::string>& chunks) {
        const RawReply sent = sendChunks(address, meta, chunks);
        return sent.status == 200 ? from(address, "POST", "/finish", "{}") : sent;
    }

    // A finish either stored exactly the sender's bytes or did not answer 200.
    void expectOnlyTheSendersBytes(const RawReply& finish, const std::vector<std::string>& chunks) {
        if (finish.status != 200) return;
        EXPECT_TRUE(readFile(root / parse(finish)["p"].get<std::string>()) == joined(chunks))
            << "a finish answered 200 with bytes that are not the sender's";
    }

    void letTheUploadRest() { setClock(clock() + UploadRecords::kQuietBeforeTakeover); }

    // The port requests go to: the server of a child process while there is one.
    int port() const { return childPort > 0 ? childPort : server->port(); }

    // A server of its own on the same folder in a child process, to be killed with
    // SIGKILL; the test's server is stopped meanwhile (so no thread of it is forked).
    pid_t serveInChild() {
        server->stop();
        int ready[2];
        if (::pipe(ready) != 0) return -1;
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            HTTPServer child("dev-2", "Desk", "tok", "", root, withTestPorts());
            const int bound = child.start() ? child.port() : 0;
            if (::write(ready[1], &bound, sizeof bound) != sizeof bound) std::_Exit(1);
            while (true) ::pause();
        }
        ::close(ready[1]);
        if (pid < 0 || ::read(ready[0], &childPort, sizeof childPort) != sizeof childPort) childPort = 0;
        ::close(ready[0]);
        return pid;
    }
    int childPort = 0;

    std::string id = "5e5e5e5e5e5e5e5e";
};

TEST_F(UploadOwners, ChunksOfAFormerOwnerNeverReachTheSendersFile) {
    // A stranger took the upload over, held two chunk bodies open while the sender took
    // it back and sent everything, then completed them: the finish stored the stranger's
    // 8 MiB as the sender's file, with a 200.
    const struct { const char* form; std::vector<std::pair<int64_t, int64_t>> held; } forms[] = {
        {"chunk files", {{0, kFull - 1}, {1, kFull + 1}}},
        {"in place", {{0, kFull}}},
    };
    for (const auto& form : forms) {
        SCOPED_TRACE(form.form);
        id = std::string(form.held.size() == 2 ? "1a" : "2b") + "00112233445566";
        // As long as the stranger's bodies together, so that a finish takes them whole.
        const std::vector<std::string> mine = {bytesOf(kFull, 1), bytesOf(kFull, 2)};
        const nlohmann::json meta = metaOf(id + ".bin", mine);
        ASSERT_EQ(from(kSender, "PUT", "/meta", meta.dump()).status, 200);
        ASSERT_EQ(from(kSender, "PUT", "/0", mine[0]).status, 200);

        letTheUploadRest();
        ASSERT_EQ(from(kStranger, "PUT", "/meta", meta.dump()).status, 200);
        EXPECT_EQ(from(kSender, "PUT", "/1", mine[1]).status, 403);
        std::vector<std::pair<std::unique_ptr<RawClient>, std::string>> bodies;
        for (const auto& [index, length] : form.held) {
            std::string body = bytesOf(length, 9);
            bodies.emplace_back(holdChunk(kStranger, index, body), std::move(body));
        }
        waitUntilWritten(int64_t(kHeldPart), int(bodies.size()));

        // Once the stranger's bodies have sent nothing for the quiet time, the sender
        // takes the upload back and sends every chunk; the bodies, completed after
        // that, store nothing, and the sender's finish stores its own bytes.
        letTheUploadRest();
        const RawReply sent = sendChunks(kSender, meta, mine);
        ASSERT_EQ(sent.status, 200) << sent.body;
        for (auto& [client, body] : bodies) {
            const auto late = complete(*client, body);
            EXPECT_FALSE(late && late->status == 200) << "a body of the former owner was stored";
        }
        const RawReply finish = from(kSender, "POST", "/finish", "{}");
        ASSERT_EQ(finish.status, 200) << finish.body;
        expectOnlyTheSendersBytes(finish, mine);
    }
}

TEST_F(UploadOwners, AChunkBegunBeforeItsUploadWasMadeAgainIsNotAnsweredAsStored) {
    // The part folder went behind the server's back while a chunk arrived, and the
    // owner's meta made the upload again; the chunk, completed, must not be answered
    // 200 when the upload that now stands does not hold it.
    // Two chunks: the upload has a part folder to remove.
    const std::vector<std::string> mine = {bytesOf(kFull, 1), bytesOf(1, 2)};
    const nlohmann::json meta = metaOf("again.bin", mine);
    ASSERT_EQ(from(kSender, "PUT", "/meta", meta.dump()).status, 200);
    auto held = holdChunk(kSender, 0, mine[0]);
    waitUntilWritten(int64_t(kHeldPart));
    fs::remove_all(root / ".parts" / id);
    ASSERT_EQ(from(kSender, "PUT", "/meta", meta.dump()).status, 200);

    const auto late = complete(*held, mine[0]);
    EXPECT_FALSE(late && late->status == 200) << late->body;
    EXPECT_EQ(parse(from(kSender, "GET", ""))["received"], nlohmann::json::array());
}

TEST_F(UploadOwners, ACancelAFinishOrTheSameChunkAgainEndsTheChunkInFlight) {
    // A 4 MiB chunk still being written when the finish answered 200 went on writing
    // into the stored file; one sent twice at once mixed the two bodies.
    const std::vector<std::string> first = {bytesOf(kFull, 1)};
    const std::string again = bytesOf(kFull, 3);
    const std::string late = bytesOf(kFull, 7);
    const struct { const char* what; std::vector<std::string> expected; } cases[] = {
        {"finish", first},
        {"cancel", {bytesOf(kFull, 5)}},
        {"same chunk again", {first[0], again}},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        id = "3c3c3c3c3c3c3c3" + std::to_string(n++);
        const std::string what = c.what;
        const nlohmann::json meta = metaOf(id + ".bin", what == "same chunk again" ? c.expected : first);
        ASSERT_EQ(from(kSender, "PUT", "/meta", meta.dump()).status, 200);
        ASSERT_EQ(from(kSender, "PUT", "/0", first[0]).status, 200);
        auto held = holdChunk(kSender, 1, late);
        waitUntilWritten(kFull + int64_t(kHeldPart));

        RawReply finish;
        if (what == "finish") {
            finish = from(kSender, "POST", "/finish", "{}");
            ASSERT_EQ(finish.status, 200) << finish.body;
        } else if (what == "cancel") {
            ASSERT_EQ(from(kSender, "DELETE", "").status, 200);
        } else {
            ASSERT_EQ(from(kSender, "PUT", "/1", again).status, 200);
        }
        EXPECT_TRUE(held->closedByServer()) << "the chunk in flight goes on";
        complete(*held, late);
        ASSERT_TRUE(waitFor([&] { return server->openConnections() == 0; }));
        if (what == "cancel") {
            finish = send(kSender, metaOf(id + ".bin", c.expected), c.expected);
        } else if (what == "same chunk again") {
            finish = from(kSender, "POST", "/finish", "{}");
        }
        ASSERT_EQ(finish.status, 200) << finish.body;
        EXPECT_TRUE(readFile(root / parse(finish)["p"].get<std::string>()) == joined(c.expected));
    }
}

TEST_F(UploadOwners, AnOwnerOnceRecordedStaysWhenItsFirstChunkIsCutShort) {
    // The cut first chunk took the owner record away; the sender's meta adopted the
    // folder and its finish stored the stranger's chunk 0 with a 200.
    auto first = holdChunk(kStranger, 1, bytesOf(kFull, 8));
    waitUntilWritten(int64_t(kHeldPart));
    ASSERT_EQ(from(kStranger, "PUT", "/0", bytesOf(kFull, 9)).status, 200);
    first.reset();
    ASSERT_TRUE(waitFor([&] { return server->openConnections() == 0; }));

    const std::vector<std::string> mine = {bytesOf(kFull, 1), bytesOf(1000, 2)};
    const nlohmann::json meta = metaOf("cut.bin", mine);
    expectOnlyTheSendersBytes(send(kSender, meta, mine), mine);
    EXPECT_EQ(from(kSender, "PUT", "/1", "mine").status, 403);
    letTheUploadRest();
    const RawReply later = send(kSender, meta, mine);
    ASSERT_EQ(later.status, 200) << later.body;
    expectOnlyTheSendersBytes(later, mine);
}

TEST(UploadOwnerRecord, AChunkWhoseOwnerCannotBeRecordedStoresNothing) {
    // With no room for the owner's attribute the chunk was stored in a folder no one
    // owned, which any address could then finish or take.
    if (!canMount()) GTEST_SKIP() << "needs root for a mount namespace";
    Sandbox box;
    const fs::path root = box / "recv";
    fs::create_directories(root);
    EXPECT_EXIT(
        {
            // Three inodes: the receive folder, ".parts" and one more folder. Making the
            // part folder takes the last, and its owner attribute finds no room.
            if (!mountSmallTmpfs(root, 1 << 20, 3)) std::_Exit(3);
            HTTPServer server("dev-1", "Desk", "", "", root, withTestPorts());
            if (!server.start()) std::_Exit(4);
            const std::string upload = "/api/upload/7a7a7a7a7a7a7a7a";
            const auto chunk = httpRequestFrom("127.0.0.2", server.port(), "PUT", upload + "/0", "abc");
            const auto meta = httpRequestFrom("127.0.0.2", server.port(), "PUT", upload + "/meta", R"({"name":"a"})");
            const auto status = httpRequestFrom("127.0.0.2", server.port(), "GET", upload);
            // No room for the attribute: the storage is full, and said so.
            const std::string full = R"({"error":")" + std::string(storageFullText) + R"("})";
            const bool refused = chunk && chunk->status == 507 && chunk->body == full && meta && meta->status == 507;
            const bool nothing = status && status->body == kUnseen && !fs::exists(root / ".parts" / "7a7a7a7a7a7a7a7a");
            std::fprintf(stderr, "chunk %d meta %d status %s\n", chunk ? chunk->status : 0, meta ? meta->status : 0,
                         status ? status->body.c_str() : "none");
            stopAndDrain(server);
            std::_Exit(refused && nothing ? 0 : 7);
        },
        testing::ExitedWithCode(0), "");
}

TEST_F(UploadOwners, AnotherAddressSeesNothingOfTheUpload) {
    // A stranger read the sender's held chunks and meta; a device whose address changed
    // then skipped chunks its own meta wiped.
    const nlohmann::json meta = metaOf("seen.bin", {"abc", "def"});
    ASSERT_EQ(from(kSender, "PUT", "/meta", meta.dump()).status, 200);
    ASSERT_EQ(from(kSender, "PUT", "/0", "abc").status, 200);
    EXPECT_EQ(parse(from(kSender, "GET", "")),
              nlohmann::json({{"exists", true}, {"received", {0}}, {"chunkSize", kFull}, {"meta", meta}}));
    EXPECT_EQ(from(kStranger, "GET", "").body, kUnseen);

    // A folder that records no owner is no address's.
    id = "6d6d6d6d6d6d6d6d";
    writeFile(root / ".parts" / id / "meta.json", meta.dump());
    writeFile(root / ".parts" / id / "000000000000.part", "abc");
    for (const std::string& address : {kSender, kStranger}) {
        EXPECT_EQ(from(address, "GET", "").body, kUnseen) << address;
        EXPECT_EQ(from(address, "POST", "/finish", "{}").status, 403) << address;
    }
}

TEST_F(UploadOwners, OnlyAQuietUploadIsTakenOver) {
    // A stranger's meta broke a transfer in progress at any moment.
    const std::vector<std::string> mine = {bytesOf(kFull, 1), bytesOf(kFull, 2)};
    const nlohmann::json meta = metaOf("busy.bin", mine);
    const nlohmann::json theirs = metaOf("theirs.bin", {"x"});
    ASSERT_EQ(from(kSender, "PUT", "/meta", meta.dump()).status, 200);
    ASSERT_EQ(from(kSender, "PUT", "/0", mine[0]).status, 200);
    const nlohmann::json before = parse(from(kSender, "GET", ""));

    setClock(clock() + UploadRecords::kQuietBeforeTakeover - 1);
    const RawReply early = from(kStranger, "PUT", "/meta", theirs.dump());
    EXPECT_EQ(early.status, 403);
    EXPECT_EQ(early.body, R"({"error":"forbidden"})");
    EXPECT_EQ(parse(from(kSender, "GET", "")), before);

    // A chunk of the owner in flight keeps the upload for as long as its bytes come.
    auto held = holdChunk(kSender, 1, mine[1]);
    waitUntilWritten(kFull + int64_t(kHeldPart));
    letTheUploadRest();
    ASSERT_TRUE(held->send(mine[1].substr(kHeldPart, kHeldPart)));
    waitUntilWritten(kFull + int64_t(2 * kHeldPart));
    setClock(clock() + UploadRecords::kQuietBeforeTakeover - 1);
    EXPECT_EQ(from(kStranger, "PUT", "/meta", theirs.dump()).status, 403);
    const auto stored = complete(*held, mine[1], 2 * kHeldPart);
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->status, 200);
    EXPECT_EQ(from(kStranger, "PUT", "/meta", theirs.dump()).status, 403);  // it just changed

    // Quiet for long enough, it starts afresh for the newcomer.
    letTheUploadRest();
    ASSERT_EQ(from(kStranger, "PUT", "/meta", theirs.dump()).status, 200);
    EXPECT_EQ(parse(from(kStranger, "GET", "")),
              nlohmann::json({{"exists", true}, {"received", nlohmann::json::array()}, {"chunkSize", kFull}, {"meta", theirs}}));
    EXPECT_EQ(from(kSender, "PUT", "/1", mine[1]).status, 403);
}

TEST_F(UploadOwners, QuietMeansNoProgressNotNoRequests) {
    // A stranger that took an upload over kept it from its sender with a meta every
    // 29 s; a connection that sent nothing more kept an upload for 150 s.
    const std::vector<std::string> mine = {bytesOf(kFull, 1), bytesOf(kFull, 2)};
    const nlohmann::json meta = metaOf("quiet.bin", mine);
    const nlohmann::json theirs = metaOf("theirs.bin", {"x"});
    constexpr double kQuiet = UploadRecords::kQuietBeforeTakeover;

    // A meta on the upload is no change, whoever owns it.
    id = "9a9a9a9a9a9a9a9a";
    ASSERT_EQ(from(kSender, "PUT", "/meta", meta.dump()).status, 200);
    ASSERT_EQ(from(kSender, "PUT", "/0", mine[0]).status, 200);
    const double stored = clock();
    setClock(stored + kQuiet - 1);
    ASSERT_EQ(from(kSender, "PUT", "/meta", meta.dump()).status, 200);
    setClock(stored + kQuiet);
    ASSERT_EQ(from(kStranger, "PUT", "/meta", theirs.dump()).status, 200);
    setClock(stored + 2 * kQuiet - 1);
    ASSERT_EQ(from(kStranger, "PUT", "/meta", theirs.dump()).status, 200);
    setClock(stored + 2 * kQuiet);
    EXPECT_EQ(from(kSender, "PUT", "/meta", meta.dump()).status, 200);

    // A chunk in flight that hears nothing for the quiet time no longer holds the
    // upload, and ends when another address takes it over.
    id = "9b9b9b9b9b9b9b9b";
    ASSERT_EQ(from(kSender, "PUT", "/meta", meta.dump()).status, 200);
    ASSERT_EQ(from(kSender, "PUT", "/0", mine[0]).status, 200);
    auto held = holdChunk(kSender, 1, mine[1]);
    waitUntilWritten(kFull + int64_t(kHeldPart));
    const double lastByte = clock();
    setClock(lastByte + kQuiet - 1);
    EXPECT_EQ(from(kStranger, "PUT", "/meta", theirs.dump()).status, 403);
    setClock(lastByte + kQuiet);
    ASSERT_EQ(from(kStranger, "PUT", "/meta", theirs.dump()).status, 200);
    EXPECT_TRUE(held->closedByServer()) << "the chunk that heard nothing goes on";
    const auto late = complete(*held, mine[1]);
    EXPECT_FALSE(late && late->status == 200);
    EXPECT_EQ(parse(from(kStranger, "GET", ""))["received"], nlohmann::json::array());
}

TEST_F(UploadOwners, AfterARestartAnUploadIsAsQuietAsWhatItHoldsSays) {
    // Right after a restart, clean or after a kill, a stranger's meta took a live upload
    // over at once: the last change was kept in memory only.
    const std::vector<std::string> mine = {bytesOf(kFull, 1), bytesOf(kFull, 2)};
    const nlohmann::json meta = metaOf("restart.bin", mine);
    const nlohmann::json theirs = metaOf("theirs.bin", {"x"});
    for (const bool killed : {false, true}) {
        SCOPED_TRACE(killed ? "killed" : "stopped");
        id = killed ? "8a8a8a8a8a8a8a8a" : "8b8b8b8b8b8b8b8b";
        const pid_t child = killed ? serveInChild() : -1;
        // Killed however the test ends.
        const std::shared_ptr<void> reaper(nullptr, [child](void*) {
            if (child > 0 && ::kill(child, SIGKILL) == 0) ::waitpid(child, nullptr, 0);
        });
        if (killed) {
            ASSERT_GT(childPort, 0);
        }
        ASSERT_EQ(from(kSender, "PUT", "/meta", meta.dump()).status, 200);
        ASSERT_EQ(from(kSender, "PUT", "/0", mine[0]).status, 200);
        // Cut by the stop or the kill: its bytes are the newest change.
        auto held = holdChunk(kSender, 1, mine[1]);
        waitUntilWritten(kFull + int64_t(kHeldPart));
        if (killed) {
            ::kill(child, SIGKILL);
            ::waitpid(child, nullptr, 0);
            childPort = 0;
        } else {
            server->stop();
        }
        held.reset();
        ASSERT_TRUE(server->start());

        const auto newest = newestChange(root / ".parts" / id);
        ASSERT_TRUE(newest);
        const double changed = std::chrono::duration<double>(std::chrono::file_clock::to_sys(*newest).time_since_epoch()).count();
        setClock(changed + UploadRecords::kQuietBeforeTakeover - 1);
        EXPECT_EQ(from(kStranger, "PUT", "/meta", theirs.dump()).status, 403);
        EXPECT_EQ(parse(from(kSender, "GET", ""))["received"], nlohmann::json::array({0}));
        setClock(changed + UploadRecords::kQuietBeforeTakeover);
        EXPECT_EQ(from(kStranger, "PUT", "/meta", theirs.dump()).status, 200);
    }
}

// What the owner's finish heard again (its reply lost) answers, and for how long.
class FinishHeardAgain : public UploadOwners {
protected:
    FinishHeardAgain() {
        uploadLimits.storedReplies = 2;
        uploadLimits.storedRepliesInAll = 8;
    }

    // The upload sent whole, its finish sent on a raw socket closed before the reply.
    void finishWithReplyLost(const std::vector<std::string>& chunks) {
        ASSERT_EQ(sendChunks(kSender, metaOf(id + ".bin", chunks), chunks).status, 200);
        RawClient lost(server->port(), kSender);
        const std::string head = "POST /api/upload/" + id + "/finish HTTP/1.1\r\nHost: 127.0.0.1\r\n";
        ASSERT_TRUE(lost.send(head + "Content-Length: 2\r\n\r\n{}"));
        lost.close();
    }
    nlohmann::json storedReply(int64_t size) const {
        return {{"ok", true}, {"p", id + ".bin"}, {"n", id + ".bin"}, {"s", size}, {"t", clock() * 1000.0}};
    }
};

TEST_F(FinishHeardAgain, TheOwnerGetsTheStoredReplyAgainAndOneFile) {
    // The finish sent again once its connection closed got 404 "upload not found"
    // although the file was stored; sending the file again stored a second copy.
    const std::vector<std::string> chunks = {bytesOf(kFull, 1), bytesOf(kFull, 2), bytesOf(kFull, 3), bytesOf(9, 4)};
    for (const bool whileJoining : {true, false}) {
        SCOPED_TRACE(whileJoining ? "sent again while joining" : "sent again once stored");
        id = whileJoining ? "a1a1a1a1a1a1a1a1" : "b2b2b2b2b2b2b2b2";
        finishWithReplyLost(chunks);
        if (!whileJoining) {
            ASSERT_TRUE(waitFor([&] { return fs::exists(root / (id + ".bin")); }));
        }
        for (int again = 0; again < 2; ++again) {
            const RawReply reply = from(kSender, "POST", "/finish", "{}");
            EXPECT_EQ(reply.status, 200) << reply.body;
            EXPECT_EQ(parse(reply), storedReply(int64_t(joined(chunks).size())));
        }
        EXPECT_EQ(readFile(root / (id + ".bin")), joined(chunks));
        EXPECT_FALSE(fs::exists(root / (id + " (1).bin")));
    }
}

TEST_F(FinishHeardAgain, AnotherAddressOrANewUploadOfTheIdIsAnsweredAsBefore) {
    finishWithReplyLost({"abc"});
    ASSERT_TRUE(waitFor([&] { return fs::exists(root / (id + ".bin")); }));
    const RawReply stranger = from(kStranger, "POST", "/finish", "{}");
    EXPECT_EQ(stranger.status, 404);
    EXPECT_EQ(stranger.body, R"({"error":"upload not found"})");

    ASSERT_EQ(from(kSender, "PUT", "/meta", metaOf(id + ".bin", {"defg"}).dump()).status, 200);
    EXPECT_EQ(from(kSender, "POST", "/finish", "{}").body, R"({"error":"no chunks"})");
    ASSERT_EQ(from(kSender, "PUT", "/0", "defg").status, 200);
    const RawReply second = from(kSender, "POST", "/finish", "{}");
    EXPECT_EQ(parse(second)["n"], id + " (1).bin");
    EXPECT_EQ(from(kSender, "POST", "/finish", "{}").body, second.body);
}

TEST_F(FinishHeardAgain, TheOwnersReplyOutlastsOtherAddressesFinishesAndAStrangersUploadOfTheId) {
    // After the owner's reply was lost, 100 finishes from other addresses pushed it out
    // (the finish sent again read "upload not found" for a stored file), and a stranger's
    // meta of the id turned the finish sent again into 403.
    const std::string mine = id;
    finishWithReplyLost({"abc"});
    ASSERT_TRUE(waitFor([&] { return fs::exists(root / (id + ".bin")); }));
    const std::vector<std::string> others = {"127.0.0.4", "127.0.0.5", "127.0.0.6", "127.0.0.7"};
    std::vector<std::pair<std::string, std::string>> finished;  // address, id
    for (int k = 0; k < 30; ++k) {
        for (size_t a = 0; a < others.size(); ++a) {
            char name[32];
            std::snprintf(name, sizeof name, "%08zx%08x", a + 1, unsigned(k));
            id = name;
            ASSERT_EQ(send(others[a], metaOf(id + ".bin", {"x"}), {"x"}).status, 200) << id;
            finished.emplace_back(others[a], id);
        }
    }
    id = mine;
    ASSERT_EQ(from(kStranger, "PUT", "/meta", metaOf("theirs.bin", {"y"}).dump()).status, 200);
    for (int again = 0; again < 2; ++again) {
        const RawReply reply = from(kSender, "POST", "/finish", "{}");
        EXPECT_EQ(reply.status, 200) << reply.body;
        EXPECT_EQ(parse(reply), storedReply(3));
    }
    EXPECT_FALSE(fs::exists(root / (id + " (1).bin")));

    // Each address keeps its latest two, and no more than eight are kept in all: the
    // owner's one and seven of the others'.
    int kept = 0;
    for (const auto& [address, each] : finished) {
        id = each;
        kept += from(address, "POST", "/finish", "{}").status == 200;
    }
    EXPECT_EQ(kept, 7);
}

TEST_F(FinishHeardAgain, OnlyTheLatestRepliesAreKeptForAShortWhile) {
    const std::vector<std::string> ids = {"c0c0c0c0c0c0c0c0", "c1c1c1c1c1c1c1c1", "c2c2c2c2c2c2c2c2"};
    for (const std::string& each : ids) {
        id = each;
        ASSERT_EQ(send(kSender, metaOf(id + ".bin", {"abc"}), {"abc"}).status, 200);
    }
    const struct { std::string id; double later; int status; } cases[] = {
        {ids[0], 0, 404}, {ids[1], 0, 200}, {ids[2], UploadRecords::kStoredReplyKept - 1, 200},
        {ids[2], UploadRecords::kStoredReplyKept, 404},
    };
    const double start = clock();
    for (const auto& c : cases) {
        id = c.id;
        setClock(start + c.later);
        EXPECT_EQ(from(kSender, "POST", "/finish", "{}").status, c.status) << c.id << " after " << c.later << " s";
    }
}

}  // namespace
}  // namespace corvane::test
