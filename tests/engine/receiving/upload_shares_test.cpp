// How the unfinished uploads are shared when the server holds all it may: devices at
// several loopback addresses, chunk bodies held open on raw sockets.

#include <map>
#include <set>

#include "engine/routes_fixture.h"

namespace fs = std::filesystem;

namespace corvane::test {
namespace {

// Two chunks: each upload keeps a part folder from its meta on, as heldUploads sees.
const nlohmann::json kMeta{{"name", "x.bin"}, {"rel", ""}, {"size", 4194304 + 1000}, {"chunks", 2}, {"mtime", 0}};
constexpr size_t kBody = 1000;
constexpr size_t kHeldPart = 100;  // what a held body has sent

// Each request comes on a connection of its own, so no upload waits between chunks.
class FairShares : public RouteTest {
protected:
    // A stored chunk body reaches the floor; an address holding more than one upload that
    // stores at it gives way to even out shares.
    FairShares() {
        uploadLimits = UploadLimits{8, 6};
        uploadLimits.betweenChunks = 0;
        uploadLimits.progressFloor = kBody;
        uploadLimits.guaranteedFew = 1;
    }

    // Device d (0, 1, ...) is the address 127.0.0.(2 + d); its k-th upload's id is its
    // letter 15 times, then k.
    static std::string address(int device) { return "127.0.0." + std::to_string(2 + device); }
    static std::string idOf(int device, int k) { return std::string(15, char('a' + device)) + std::to_string(k); }

    RawReply meta(int device, const std::string& id) {
        const auto reply = httpRequestFrom(address(device), server->port(), "PUT", "/api/upload/" + id + "/meta", kMeta.dump());
        return reply.value_or(RawReply{});
    }
    int start(int device, int k) { return meta(device, idOf(device, k)).status; }
    // Stores a whole chunk of the upload: its progress reaches the floor.
    int store(int device, int k) {
        const auto reply = httpRequestFrom(address(device), server->port(), "PUT", "/api/upload/" + idOf(device, k) + "/0",
                                           std::string(kBody, 's'));
        return reply ? reply->status : 0;
    }

    // A chunk of the upload whose first bytes are in and the rest held back, once the
    // server writes it.
    std::unique_ptr<RawClient> holdChunk(int device, int k) { return holdChunkOf(address(device), idOf(device, k)); }
    std::unique_ptr<RawClient> holdChunkOf(const std::string& from, const std::string& id) {
        auto client = std::make_unique<RawClient>(server->port(), from);
        const std::string head = "PUT /api/upload/" + id + "/0 HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: " +
                                 std::to_string(kBody) + "\r\n\r\n";
        EXPECT_TRUE(client->send(head + std::string(kHeldPart, 'h')));
        EXPECT_TRUE(waitFor([&] {
            std::error_code ec;
            for (const auto& entry : fs::directory_iterator(root / ".parts" / id, ec)) {
                std::error_code sizeError;
                if (entry.is_regular_file(sizeError) && entry.file_size(sizeError) >= kHeldPart) return true;
            }
            return false;
        })) << id << " never began";
        return client;
    }

    std::set<std::string> held() const { return heldUploads(root / ".parts"); }
    bool holds(int device, int k) const { return held().count(idOf(device, k)) > 0; }
};

TEST_F(FairShares, ANewcomerTakesRoomOnlyFromAnAddressHoldingTwoMoreAndNeverAnUploadBeingWritten) {
    // One address holding the most kept a chunk body open on each of its uploads, and
    // every new upload of every device got 503 "busy" for as long as it wrote; then a
    // newcomer dropped a device's uploads in the middle of their chunks.
    for (const int device : {2, 1}) {
        for (int k = 0; k < 2; ++k) ASSERT_EQ(start(device, k), 200);
    }
    for (const int device : {2, 1}) {
        for (int k = 0; k < 2; ++k) ASSERT_EQ(store(device, k), 200);
    }
    std::vector<std::unique_ptr<RawClient>> writing;
    for (int k = 0; k < 4; ++k) {
        ASSERT_EQ(start(0, k), 200);
        writing.push_back(holdChunk(0, k));
    }
    ASSERT_EQ(held().size(), 8u);

    // Holding none, device 3 may take room from an address holding 2 or more, and device
    // 0 writes into all it holds: of devices 1 and 2, the one whose least recently changed
    // upload is oldest gives way, not the lower address.
    ASSERT_EQ(start(3, 0), 200);
    EXPECT_FALSE(holds(2, 0));
    EXPECT_TRUE(holds(1, 0) && holds(1, 1));
    // Holding 1, it may take room only from an address holding 3 or more: device 0 holds
    // 4 but writes into them, so its own upload, which stored nothing, gives way, not
    // device 1's.
    ASSERT_EQ(start(3, 1), 200);
    EXPECT_FALSE(holds(3, 0));
    EXPECT_TRUE(holds(1, 0) && holds(1, 1));
    // Device 0's chunks were never cut.
    for (size_t k = 1; k < writing.size(); ++k) {
        ASSERT_TRUE(writing[k]->send(std::string(kBody - kHeldPart, 'h')));
        const auto stored = writing[k]->readReply();
        EXPECT_EQ(stored ? stored->status : 0, 200) << k;
    }
    // A chunk that heard nothing for the quiet time holds its upload no longer, and
    // ends with it.
    setClock(clock() + UploadRecords::kQuietBeforeTakeover);
    ASSERT_EQ(start(4, 0), 200);
    EXPECT_TRUE(writing[0]->closedByServer()) << "the chunk of the upload that went goes on";
    EXPECT_EQ(held(), (std::set<std::string>{idOf(0, 1), idOf(0, 2), idOf(0, 3), idOf(1, 0), idOf(1, 1), idOf(2, 1),
                                             idOf(3, 1), idOf(4, 0)}));
}

class FullShares : public FairShares {
protected:
    FullShares() {
        uploadLimits = UploadLimits{3, 3};
        uploadLimits.progressFloor = kBody;
    }
};

TEST_F(FullShares, OnlyANewcomerHoldingNoneIsRefusedWhenEveryAddressHoldsOneStoringAtTheFloor) {
    for (int device = 0; device < 3; ++device) {
        ASSERT_EQ(start(device, 0), 200);
        ASSERT_EQ(store(device, 0), 200);
    }
    const RawReply refused = meta(3, idOf(3, 0));
    EXPECT_EQ(refused.status, 503);
    EXPECT_EQ(refused.body, R"({"error":"busy"})");
    // One that holds one gives its own up, though it made it a moment ago: the connection
    // asking keeps nothing else.
    ASSERT_TRUE(waitFor([&] { return server->openConnections() == 0; }));
    ASSERT_EQ(start(0, 1), 200);
    EXPECT_EQ(held(), (std::set<std::string>{idOf(0, 1), idOf(1, 0), idOf(2, 0)}));
}

class DroppedIds : public FairShares {
protected:
    DroppedIds() { uploadLimits = UploadLimits{4, 4}; uploadLimits.betweenChunks = 0; }
};

TEST_F(DroppedIds, ADroppedUploadsIdStaysItsOwnersForTheQuietTime) {
    // An upload dropped for a newcomer was started by a stranger who knew its id 0.7 s
    // after its sender's last chunk; the sender then got 403.
    constexpr double kQuiet = UploadRecords::kQuietBeforeTakeover;
    const struct { int device; double after; int status; } rows[] = {
        {3, kQuiet - 1, 403},  // another address within the quiet time after its last stored chunk
        {0, kQuiet - 1, 200},  // its owner, afresh
        {3, kQuiet, 200},      // another address once it is quiet
    };
    int round = 0;
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << address(row.device) << " after " << row.after << " s");
        const int k = 10 * ++round;
        // Devices 0 and 1 hold two each; the upload of device 0 that took a chunk
        // before its second was made is the least recently changed of the two.
        // Every other upload stores a chunk larger than the victim's, so that the victim
        // has made the least progress.
        const std::string victim = idOf(0, k);
        const auto chunk = [&](int device, const std::string& id, const std::string& bytes) {
            return httpRequestFrom(address(device), server->port(), "PUT", "/api/upload/" + id + "/0", bytes)->status;
        };
        ASSERT_EQ(start(0, k), 200);
        setClock(clock() + 5);
        const double stored = clock();
        ASSERT_EQ(chunk(0, victim, "x"), 200);
        ASSERT_EQ(start(0, k + 1), 200);
        ASSERT_EQ(chunk(0, idOf(0, k + 1), "xx"), 200);
        for (int j = 0; j < 2; ++j) {
            ASSERT_EQ(start(1, k + j), 200);
            ASSERT_EQ(chunk(1, idOf(1, k + j), "xx"), 200);
        }
        ASSERT_EQ(start(2, k), 200);
        ASSERT_FALSE(holds(0, k));

        setClock(stored + row.after);
        if (row.device == 0) {
            // A chunk of its owner would make it again without its meta, and its finish
            // would fail once every byte had come.
            const auto chunk = httpRequestFrom(address(0), server->port(), "PUT", "/api/upload/" + victim + "/1", "z");
            EXPECT_EQ(chunk ? chunk->body : "", R"({"error":"busy"})");
            EXPECT_FALSE(holds(0, k));
        }
        const RawReply reply = meta(row.device, victim);
        EXPECT_EQ(reply.status, row.status) << reply.body;
        EXPECT_EQ(holds(0, k), row.status == 200);
        if (row.status == 403) {
            EXPECT_EQ(reply.body, R"({"error":"forbidden"})");
            const auto chunk = httpRequestFrom(address(row.device), server->port(), "PUT", "/api/upload/" + victim + "/0", "y");
            EXPECT_EQ(chunk ? chunk->status : 0, 403);
        }
        // Each device cancels what it holds before the next round.
        for (const std::string& id : held()) {
            for (int device = 0; device < 4; ++device) {
                httpRequestFrom(address(device), server->port(), "DELETE", "/api/upload/" + id);
            }
        }
        ASSERT_TRUE(held().empty());
    }
}

class TwoShares : public FairShares {
protected:
    TwoShares() { uploadLimits = UploadLimits{2, 2}; }
};

TEST_F(TwoShares, AnUploadProgressesWhenItStoresOneMiBOverTenMinutes) {
    // Beside an upload storing the floor, a newcomer takes the place of one that stored a
    // byte less over the last 10 minutes, and is told busy when both stored the floor.
    constexpr int64_t kFloor = int64_t(1) << 20;
    const struct { int64_t stored; int status; } rows[] = {{kFloor - 1, 200}, {kFloor, 503}};
    int round = 0;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.stored);
        const int k = ++round;
        const auto storeBytes = [&](int device, int64_t bytes) {
            return httpRequestFrom(address(device), server->port(), "PUT", "/api/upload/" + idOf(device, k) + "/0",
                                   std::string(size_t(bytes), 's'))->status;
        };
        ASSERT_EQ(start(0, k), 200);
        ASSERT_EQ(start(1, k), 200);
        setClock(clock() + 1);
        ASSERT_EQ(storeBytes(0, row.stored), 200);
        ASSERT_EQ(storeBytes(1, kFloor), 200);
        // 10 minutes on, less a moment: both stored within the window, neither is idle.
        setClock(clock() + uploadLimits.quietGivesWay - 1);
        ASSERT_TRUE(waitFor([&] { return server->openConnections() == 0; }));
        EXPECT_EQ(start(2, k), row.status);
        EXPECT_EQ(holds(0, k), row.status != 200);
        EXPECT_TRUE(holds(1, k));
        for (const std::string& id : held()) {
            for (int device = 0; device < 3; ++device) httpRequestFrom(address(device), server->port(), "DELETE", "/api/upload/" + id);
        }
        ASSERT_TRUE(held().empty());
    }
}

// The room for 100 uploads, each held by a device of its own that went quiet.
class QuietCrowd : public FairShares {
protected:
    QuietCrowd() { uploadLimits = UploadLimits{kCrowd, 100}; }
    static constexpr int kCrowd = 100;
    static std::string crowdID(int d) { return "c0" + std::string(12, '0') + std::to_string(1000 + d); }
};

TEST_F(QuietCrowd, UploadsThatStoredNothingGiveWayHoweverYoungTheQuietestFirstAndFolderTimesCountAfterARestart) {
    // 1,000 addresses each left an upload and went silent: every other device was refused
    // "busy" for a week, restarts included, since shares give way only from an address
    // holding two. Then a crowd made its uploads afresh every 25 s, each shielded as
    // young for 30 s. Each made its upload a moment before the one before it, so that the
    // last made has been quiet longest.
    const double quietFrom = clock();
    for (int d = 0; d < kCrowd; ++d) {
        setClock(quietFrom - 0.01 * d);
        const auto reply = httpRequestFrom(address(d), server->port(), "PUT", "/api/upload/" + crowdID(d) + "/meta", kMeta.dump());
        ASSERT_EQ(reply.value_or(RawReply{}).status, 200) << d;
    }
    const double quiet = uploadLimits.quietGivesWay;
    const auto newcomer = [&](const std::string& address, const std::string& id) {
        return httpRequestFrom(address, server->port(), "PUT", "/api/upload/" + id + "/meta", kMeta.dump())
            .value_or(RawReply{}).status;
    };
    // Just made, none has stored a byte: the one quiet longest goes, once none waits
    // for its next chunk.
    ASSERT_TRUE(waitFor([&] { return server->openConnections() == 0; }));
    setClock(quietFrom + uploadLimits.betweenChunks);
    EXPECT_EQ(newcomer("127.9.0.1", "9a9a9a9a9a9a9a9a"), 200);
    EXPECT_FALSE(held().count(crowdID(kCrowd - 1)));
    // A device sends a chunk of its upload again: what moves bytes stays, and of the rest
    // the one quiet longest goes, not the first made.
    setClock(quietFrom + quiet);
    const auto writing = holdChunkOf(address(kCrowd - 2), crowdID(kCrowd - 2));
    EXPECT_EQ(newcomer("127.9.0.2", "9c9c9c9c9c9c9c9c"), 200);
    EXPECT_TRUE(held().count(crowdID(kCrowd - 2)));
    EXPECT_FALSE(held().count(crowdID(kCrowd - 3)));
    EXPECT_TRUE(held().count(crowdID(1)));

    // After a restart the folders' own times tell how long each has been quiet.
    server->stop();
    ASSERT_TRUE(server->start());
    std::map<std::string, double> changed;
    for (const std::string& id : held()) {
        const auto at = newestChange(root / ".parts" / id);
        ASSERT_TRUE(at);
        changed[id] = std::chrono::duration<double>(std::chrono::file_clock::to_sys(*at).time_since_epoch()).count();
    }
    const double oldest = std::min_element(changed.begin(), changed.end(), [](const auto& a, const auto& b) {
        return a.second < b.second;
    })->second;
    setClock(oldest + 1);
    EXPECT_EQ(newcomer("127.9.0.3", "9b9b9b9b9b9b9b9b"), 200);
    for (const auto& [id, at] : changed) {
        if (!held().count(id)) {
            EXPECT_EQ(at, oldest) << id << " went, not the one quiet longest";
        }
    }
    EXPECT_EQ(held().size(), size_t(kCrowd));
}

}  // namespace
}  // namespace corvane::test
