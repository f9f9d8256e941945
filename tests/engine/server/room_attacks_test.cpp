// Attacks on the rooms a server shares among devices (connection slots, body memory,
// unfinished uploads), each against a real server, each row asserting what a legitimate
// device still gets. Every row once left the legitimate device refused or broken.

#include <gtest/gtest.h>

#include <atomic>
#include <deque>
#include <functional>
#include <poll.h>
#include <sys/socket.h>
#include <thread>

#include "base/whole_files.h"
#include "engine/server/http_server.h"
#include "support/test_support.h"

using namespace corvane;
using namespace std::chrono_literals;

namespace {

constexpr int64_t kChunk = int64_t(4) << 20;

// A server on this process's ports with a clock the row sets, and a body clock it may
// push forward.
struct Attacked {
    explicit Attacked(ServerOptions options) {
        options.firstPort = test::testPortBase(20);
        options.lastPort = options.firstPort + 19;
        options.clock = [seconds = seconds] { return seconds->load(); };
        options.bodyClock = [ahead = ahead] { return std::chrono::steady_clock::now() + ahead->load() * 1s; };
        server = std::make_shared<HTTPServer>("dev", "Desk", "tok", "", box / "recv", options);
        EXPECT_TRUE(server->start());
    }
    ~Attacked() { test::stopAndDrain(*server); }

    int port() const { return server->port(); }
    std::optional<test::RawReply> request(const std::string& from, const std::string& method, const std::string& path,
                                          const std::string& body = "") {
        return test::httpRequestFrom(from, port(), method, path, body);
    }
    int status(const std::string& from, const std::string& method, const std::string& path,
               const std::string& body = "") {
        const auto reply = request(from, method, path, body);
        return reply ? reply->status : 0;
    }
    // One device's whole upload of `bytes` by the chunked protocol; the finish's status.
    int upload(const std::string& from, const std::string& id, const std::string& name, const std::string& bytes) {
        const int64_t chunks = (int64_t(bytes.size()) + kChunk - 1) / kChunk;
        const nlohmann::json meta{{"name", name}, {"rel", ""}, {"size", bytes.size()}, {"chunks", chunks}, {"mtime", 0}};
        if (status(from, "PUT", "/api/upload/" + id + "/meta", meta.dump()) != 200) return 0;
        for (int64_t k = 0; k < chunks; ++k) {
            const std::string part = bytes.substr(size_t(k * kChunk), size_t(kChunk));
            if (status(from, "PUT", "/api/upload/" + id + "/" + std::to_string(k), part) != 200) return 0;
        }
        return status(from, "POST", "/api/upload/" + id + "/finish", "{}");
    }
    std::string stored(const std::string& name) const { return readWholeFile(box / "recv" / name).bytes; }

    std::shared_ptr<std::atomic<double>> seconds = std::make_shared<std::atomic<double>>(1.7e9);
    std::shared_ptr<std::atomic<int>> ahead = std::make_shared<std::atomic<int>>(0);
    test::Sandbox box;
    std::shared_ptr<HTTPServer> server;
};

// A GET from the address whose reader takes nothing, its receive buffer 4 KiB.
std::unique_ptr<test::RawClient> unreadGet(int port, const std::string& from, const std::string& path) {
    auto client = std::make_unique<test::RawClient>(port, from, 4096);
    client->send("GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    return client;
}

bool replyBegan(int fd) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, 0) == 1;
}

nlohmann::json meta(int64_t size) { return {{"name", "f.bin"}, {"rel", ""}, {"size", size}, {"chunks", 1}, {"mtime", 0}}; }

// A server whose room holds `uploads` unfinished uploads, as many per address.
ServerOptions uploadRoomOf(size_t uploads) {
    ServerOptions options;
    options.uploadLimits = UploadLimits{uploads, uploads};
    return options;
}

// The device's finish is answered 200 and its file stored whole.
void expectFinished(Attacked& at, const std::string& from, const std::string& id, const std::string& name,
                    const std::string& file) {
    EXPECT_EQ(at.status(from, "POST", "/api/upload/" + id + "/finish", "{}"), 200) << name;
    EXPECT_TRUE(at.stored(name) == file) << name << ": the stored bytes differ";
}

void unreadDownloadsHoldEverySlot() {
    // 8 addresses × 32 downloads read at a trickle held every slot for minutes: newcomers
    // closed unanswered, a sending device failed. A reply counts what its reader took.
    ServerOptions options;
    options.maxConnections = 8;
    Attacked at(options);
    ASSERT_TRUE(writeWholeFile(at.box / "recv" / "big.bin", test::patterned(size_t(16) << 20, 1)));
    std::vector<std::unique_ptr<test::RawClient>> readers;
    for (const char* address : {"127.0.0.2", "127.0.0.3"}) {
        for (int k = 0; k < 4; ++k) readers.push_back(unreadGet(at.port(), address, "/d/big.bin"));
    }
    ASSERT_TRUE(test::waitFor([&] {
        return std::all_of(readers.begin(), readers.end(), [](const auto& reader) { return replyBegan(reader->fd()); });
    })) << "every download is being answered";
    // Other devices are answered, and a file sent meanwhile is stored whole.
    for (const char* address : {"127.0.0.4", "127.0.0.5"}) {
        EXPECT_EQ(at.status(address, "POST", "/api/text", R"({"text":"hi"})"), 200) << address;
    }
    const std::string sent = test::patterned(size_t(kChunk) + 1000, 2);
    EXPECT_EQ(at.upload("127.0.0.9", "9a9a9a9a9a9a9a9a", "sent.bin", sent), 200);
    EXPECT_TRUE(at.stored("sent.bin") == sent) << "stored bytes differ";
}

void aReplyBehindThePaceIsEnded() {
    // A download whose reader took 4 KiB every 30 s was open after 330 s: the send time-out
    // counts from the last bytes moved. Past the grace, a reply must keep the bodies' pace.
    Attacked at(ServerOptions{});
    ASSERT_TRUE(writeWholeFile(at.box / "recv" / "big.bin", test::patterned(size_t(16) << 20, 3)));
    const auto reader = unreadGet(at.port(), "127.0.0.2", "/d/big.bin");
    ASSERT_TRUE(test::waitFor([&] { return replyBegan(reader->fd()); }));
    // Within the grace the reply stays, however little its reader took.
    EXPECT_FALSE(test::waitFor([&] { return at.server->openConnections() == 0; }, 1500ms));
    *at.ahead = 60;  // 20 s of grace and 40 s at 500 B/s owed: 20 KB, none taken
    EXPECT_TRUE(test::waitFor([&] { return at.server->openConnections() == 0; }, 5s)) << "the reply was not ended";
}

void bodiesCutAndReopenedAtOnceLeaveTheNewcomerItsRoom() {
    // 4 addresses × 4 texts sending 16 MiB at once, each opened again 0.05 s after it was
    // cut: the newcomer whose text cut one waited for its room, and the reopened body took
    // it first. Room freed for a body is that body's.
    ServerOptions options;
    options.bodyBudget = int64_t(4) << 20;
    Attacked at(options);
    std::atomic<bool> done{false};
    std::atomic<int> reopened{0};
    const std::string head = "POST /api/text HTTP/1.1\r\nContent-Length: 2000000\r\n\r\n{\"text\":\"";
    std::vector<std::thread> attackers;
    for (int a = 0; a < 4; ++a) {
        attackers.emplace_back([&, a] {
            const std::string address = "127.0.0." + std::to_string(2 + a);
            std::deque<std::unique_ptr<test::RawClient>> open;
            for (int k = 0; k < 4; ++k) {
                open.push_back(std::make_unique<test::RawClient>(at.port(), address));
                open.back()->send(head + std::string(240000, 'x'));
            }
            while (!done) {
                for (auto& body : open) {
                    pollfd p{body->fd(), POLLIN, 0};
                    if (::poll(&p, 1, 0) != 1) continue;
                    body = std::make_unique<test::RawClient>(at.port(), address);
                    body->send(head + std::string(240000, 'x'));
                    ++reopened;
                }
                std::this_thread::yield();
            }
        });
    }
    ASSERT_TRUE(test::waitFor([&] { return at.server->bodyBytesHeld() >= 3700000; }));
    const std::string text = "{\"text\":\"" + std::string(1000000, 'n') + "\"}";
    for (const char* newcomer : {"127.0.0.9", "127.0.0.10", "127.0.0.11"}) {
        EXPECT_EQ(at.status(newcomer, "POST", "/api/text", text), 200) << newcomer;
    }
    done = true;
    for (std::thread& attacker : attackers) attacker.join();
    EXPECT_GT(reopened.load(), 0);
}

void keepAliveUploadsGiveWayAfterTenMinutes() {
    // 999 addresses each held one upload and stored its one byte again every 9 minutes:
    // one stored byte counted as progress, so newcomers were refused for good. An upload
    // progresses when it stores at least a floor over ten minutes; a phone's pace does.
    Attacked at(uploadRoomOf(10));
    const double t0 = *at.seconds;
    const auto holder = [](int k) { return "127.0.1." + std::to_string(k); };
    const auto id = [](const std::string& prefix, int k) { return prefix + std::string(14, '0') + std::to_string(k); };
    for (int k = 0; k < 9; ++k) {
        ASSERT_EQ(at.status(holder(k), "PUT", "/api/upload/" + id("a", k) + "/meta", meta(2).dump()), 200);
        ASSERT_EQ(at.status(holder(k), "PUT", "/api/upload/" + id("a", k) + "/0", "x"), 200);
    }
    // The phone stores a chunk every 64 s: 4 MiB over the last 10 minutes.
    const std::string phoneFile = test::patterned(size_t(kChunk) + 5000, 4);
    const std::string phoneID = "bbbbbbbbbbbbbbbb";
    const nlohmann::json phoneMeta{{"name", "phone.bin"}, {"rel", ""}, {"size", phoneFile.size()}, {"chunks", 2}, {"mtime", 0}};
    ASSERT_EQ(at.status("127.0.0.20", "PUT", "/api/upload/" + phoneID + "/meta", phoneMeta.dump()), 200);
    *at.seconds = t0 + 300;
    ASSERT_EQ(at.status("127.0.0.20", "PUT", "/api/upload/" + phoneID + "/0", phoneFile.substr(0, size_t(kChunk))), 200);
    *at.seconds = t0 + 540;
    for (int k = 0; k < 9; ++k) ASSERT_EQ(at.status(holder(k), "PUT", "/api/upload/" + id("a", k) + "/0", "x"), 200);
    *at.seconds = t0 + 615;
    // Each keep-alive holder gives way to a newcomer; then the newcomers' uploads, which
    // stored nothing yet, give way to the next, never the phone's.
    for (int k = 0; k < 12; ++k) {
        EXPECT_EQ(at.status("127.0.2." + std::to_string(k), "PUT", "/api/upload/" + id("c", k) + "/meta", meta(9).dump()), 200) << k;
    }
    ASSERT_EQ(at.status("127.0.0.20", "PUT", "/api/upload/" + phoneID + "/1", phoneFile.substr(size_t(kChunk))), 200);
    EXPECT_EQ(at.status("127.0.0.20", "POST", "/api/upload/" + phoneID + "/finish", "{}"), 200);
    EXPECT_TRUE(at.stored("phone.bin") == phoneFile) << "the phone's file differs";
}

// Device .2's upload of "abcdef" in a room of two, its first chunk stored, beside .3's
// upload; quiet for 10 minutes, it is dropped at 601 s for .4's "ffffffffffffffff".
const std::string kDropped = "dddddddddddddddd";
nlohmann::json droppedMeta() { return {{"name", "d.bin"}, {"rel", ""}, {"size", 6}, {"chunks", 2}, {"mtime", 0}}; }
void dropAfterAPause(Attacked& at) {
    const double t0 = *at.seconds;
    ASSERT_EQ(at.status("127.0.0.2", "PUT", "/api/upload/" + kDropped + "/meta", droppedMeta().dump()), 200);
    ASSERT_EQ(at.status("127.0.0.2", "PUT", "/api/upload/" + kDropped + "/0", "abc"), 200);
    *at.seconds = t0 + 1;
    ASSERT_EQ(at.status("127.0.0.3", "PUT", "/api/upload/eeeeeeeeeeeeeeee/meta", meta(1).dump()), 200);
    *at.seconds = t0 + 601;
    ASSERT_EQ(at.status("127.0.0.4", "PUT", "/api/upload/ffffffffffffffff/meta", meta(1).dump()), 200);
}

void aSenderBackToItsDroppedUploadIsToldBusyThenSendsAgain() {
    // A device paused mid-file for over 10 minutes while a crowd filled the room; its next
    // chunks were answered 200, made a new upload without its meta (dropping another), and
    // its finish failed "bad stored name". A chunk takes no room and a dropped upload's
    // chunks are told busy; sent again, the file is stored whole.
    Attacked at(uploadRoomOf(2));
    const double t0 = *at.seconds;
    const std::string file = "abcdef";
    const std::string d = kDropped;
    const nlohmann::json dMeta = droppedMeta();
    ASSERT_NO_FATAL_FAILURE(dropAfterAPause(at));
    // A chunk of an id the full server does not hold makes no room, whoever sends it.
    *at.seconds = t0 + 700;
    const auto stranger = at.request("127.0.0.5", "PUT", "/api/upload/aaaaaaaaaaaaaaaa/0", "x");
    EXPECT_EQ(stranger ? stranger->body : "", R"({"error":"busy"})");
    const auto exists = [&](const std::string& from, const std::string& id) {
        const auto reply = at.request(from, "GET", "/api/upload/" + id);
        return reply && nlohmann::json::parse(reply->body, nullptr, false).value("exists", false);
    };
    EXPECT_TRUE(exists("127.0.0.3", "eeeeeeeeeeeeeeee") && exists("127.0.0.4", "ffffffffffffffff"));
    // With room free again, the dropped upload's own chunk still does not make it again
    // without its meta; sent again from its meta, the file is stored whole.
    ASSERT_EQ(at.status("127.0.0.4", "DELETE", "/api/upload/ffffffffffffffff"), 200);
    const auto chunk = at.request("127.0.0.2", "PUT", "/api/upload/" + d + "/1", "def");
    EXPECT_EQ(chunk ? chunk->body : "", R"({"error":"busy"})");
    EXPECT_EQ(at.status("127.0.0.2", "PUT", "/api/upload/" + d + "/meta", dMeta.dump()), 200);
    EXPECT_EQ(at.status("127.0.0.2", "PUT", "/api/upload/" + d + "/0", "abc"), 200);
    EXPECT_EQ(at.status("127.0.0.2", "PUT", "/api/upload/" + d + "/1", "def"), 200);
    const auto finish = at.request("127.0.0.2", "POST", "/api/upload/" + d + "/finish", "{}");
    EXPECT_EQ(finish ? finish->status : 0, 200) << (finish ? finish->body : "");
    EXPECT_EQ(at.stored("d.bin"), file);
}

// A PUT of the upload's chunk whose first `sent` bytes are in and the rest held back.
std::unique_ptr<test::RawClient> heldChunk(int port, const std::string& from, const std::string& id,
                                           const std::string& bytes, size_t sent) {
    auto client = std::make_unique<test::RawClient>(port, from);
    client->send("PUT /api/upload/" + id + "/0 HTTP/1.1\r\nContent-Length: " + std::to_string(bytes.size()) +
                 "\r\n\r\n" + bytes.substr(0, sent));
    return client;
}

void twoMovingConnectionsOfADeviceOutlastSlowSingleHolders() {
    // 254 addresses each held one connection at 600 B/s; a phone sending two files at
    // once lost its connections to newcomers, being the only address holding two. The
    // slow ones go first; a device holding a few that move keeps them.
    ServerOptions options;
    options.maxConnections = 8;
    Attacked at(options);
    const std::string files[] = {test::patterned(size_t(kChunk), 5), test::patterned(size_t(kChunk), 6)};
    const std::string ids[] = {"5a5a5a5a5a5a5a5a", "6b6b6b6b6b6b6b6b"};
    std::vector<std::unique_ptr<test::RawClient>> phone;
    for (int k = 0; k < 2; ++k) {
        const nlohmann::json meta{{"name", "p" + std::to_string(k) + ".bin"}, {"rel", ""}, {"size", kChunk},
                                  {"chunks", 1}, {"mtime", 0}};
        ASSERT_EQ(at.status("127.0.0.2", "PUT", "/api/upload/" + ids[k] + "/meta", meta.dump()), 200);
        phone.push_back(heldChunk(at.port(), "127.0.0.2", ids[k], files[k], size_t(1) << 20));
    }
    // Only the phone's chunks, being written, hold slots before the slow holders come,
    // none of whom then closes another.
    // Each file is one chunk, written into a file of its own in the parts folder.
    const auto written = [&] { return test::filesWrittenUnder(at.box / "recv" / ".parts", uintmax_t(1) << 20); };
    ASSERT_TRUE(test::waitFor([&] { return written() == 2 && at.server->openConnections() == 2; }));
    const std::string slowHead = "POST /api/text HTTP/1.1\r\nContent-Length: 1000\r\n\r\n{\"text\":\"";
    std::vector<std::unique_ptr<test::RawClient>> slow;
    for (int k = 0; k < 6; ++k) {
        slow.push_back(std::make_unique<test::RawClient>(at.port(), "127.0.1." + std::to_string(k)));
        slow.back()->send(slowHead);
    }
    ASSERT_TRUE(test::waitFor([&] { return at.server->openConnections() == 8; }));
    for (int k = 0; k < 6; ++k) {
        EXPECT_EQ(at.status("127.0.2." + std::to_string(k), "POST", "/api/text", R"({"text":"hi"})"), 200) << k;
    }
    for (int k = 0; k < 2; ++k) {
        ASSERT_TRUE(phone[size_t(k)]->send(files[k].substr(size_t(1) << 20)));
        const auto stored = phone[size_t(k)]->readReply();
        EXPECT_EQ(stored ? stored->status : 0, 200) << k;
        expectFinished(at, "127.0.0.2", ids[k], "p" + std::to_string(k) + ".bin", files[k]);
    }
}

void uploadsMadeAfreshByTheirMetasHoldNoRoom() {
    // 1,000 addresses each made an upload by a meta alone every 25 s: one made within 30 s
    // counted as progressing, and every device's meta was told busy. An upload that
    // stored nothing has no progress, however young.
    Attacked at(uploadRoomOf(3));
    const double t0 = *at.seconds;
    for (int k = 0; k < 3; ++k) {
        const std::string id = "c" + std::string(14, '0') + std::to_string(k);
        ASSERT_EQ(at.status("127.0.1." + std::to_string(k), "PUT", "/api/upload/" + id + "/meta", meta(9).dump()), 200);
    }
    *at.seconds = t0 + 10;
    const std::string sent = test::patterned(5000, 7);
    EXPECT_EQ(at.upload("127.0.0.9", "9c9c9c9c9c9c9c9c", "young.bin", sent), 200);
    EXPECT_TRUE(at.stored("young.bin") == sent) << "stored bytes differ";
}

void aMetaReAnnouncingItsSizeLowersNoFloor() {
    // 999 holders each sent, every 9 minutes, their meta again announcing a little more
    // than they had stored, then a 1-byte chunk at a new index: the floor was "all it has
    // left" by the latest meta, and newcomers were refused. The floor is 1 MiB, whatever
    // a meta announces.
    Attacked at(uploadRoomOf(2));
    const double t0 = *at.seconds;
    const std::string holder = "abababababababa0";
    ASSERT_EQ(at.status("127.0.1.1", "PUT", "/api/upload/" + holder + "/meta", meta(2).dump()), 200);
    ASSERT_EQ(at.status("127.0.1.1", "PUT", "/api/upload/" + holder + "/0", "x"), 200);
    const std::string phoneFile = test::patterned(size_t(kChunk) + 5000, 8);
    const std::string phoneID = "bbbbbbbbbbbbbbb1";
    const nlohmann::json phoneMeta{{"name", "phone.bin"}, {"rel", ""}, {"size", phoneFile.size()}, {"chunks", 2}, {"mtime", 0}};
    ASSERT_EQ(at.status("127.0.0.20", "PUT", "/api/upload/" + phoneID + "/meta", phoneMeta.dump()), 200);
    ASSERT_EQ(at.status("127.0.0.20", "PUT", "/api/upload/" + phoneID + "/0", phoneFile.substr(0, size_t(kChunk))), 200);
    *at.seconds = t0 + 540;
    ASSERT_EQ(at.status("127.0.1.1", "PUT", "/api/upload/" + holder + "/meta", meta(3).dump()), 200);
    ASSERT_EQ(at.status("127.0.1.1", "PUT", "/api/upload/" + holder + "/1", "y"), 200);
    *at.seconds = t0 + 545;
    EXPECT_EQ(at.status("127.0.0.9", "PUT", "/api/upload/9d9d9d9d9d9d9d9d/meta", meta(9).dump()), 200);
    ASSERT_EQ(at.status("127.0.0.20", "PUT", "/api/upload/" + phoneID + "/1", phoneFile.substr(size_t(kChunk))), 200);
    expectFinished(at, "127.0.0.20", phoneID, "phone.bin", phoneFile);
}

void aDevicePausedWhileHoldingTwoKeepsThem() {
    // A device holding two uploads paused 5 s; a stranger's meta dropped one of them, being
    // the address holding the most. Two uploads storing at the floor are a device's own.
    Attacked at(uploadRoomOf(2));
    const double t0 = *at.seconds;
    const std::string files[] = {test::patterned(size_t(kChunk) + 10, 9), test::patterned(size_t(kChunk) + 20, 10)};
    const std::string ids[] = {"7a7a7a7a7a7a7a7a", "7b7b7b7b7b7b7b7b"};
    for (int k = 0; k < 2; ++k) {
        const nlohmann::json meta{{"name", "two" + std::to_string(k) + ".bin"}, {"rel", ""}, {"size", files[k].size()},
                                  {"chunks", 2}, {"mtime", 0}};
        ASSERT_EQ(at.status("127.0.0.2", "PUT", "/api/upload/" + ids[k] + "/meta", meta.dump()), 200);
        ASSERT_EQ(at.status("127.0.0.2", "PUT", "/api/upload/" + ids[k] + "/0", files[k].substr(0, size_t(kChunk))), 200);
    }
    *at.seconds = t0 + 5;
    const auto stranger = at.request("127.0.0.5", "PUT", "/api/upload/5e5e5e5e5e5e5e5e/meta", meta(9).dump());
    EXPECT_EQ(stranger ? stranger->body : "", R"({"error":"busy"})");
    for (int k = 0; k < 2; ++k) {
        ASSERT_EQ(at.status("127.0.0.2", "PUT", "/api/upload/" + ids[k] + "/1", files[k].substr(size_t(kChunk))), 200) << k;
        expectFinished(at, "127.0.0.2", ids[k], "two" + std::to_string(k) + ".bin", files[k]);
    }
}

void aDropsPromiseOutlastsARestartForADay() {
    // After a restart the dropped upload's chunks were answered 200, made it again without
    // its meta, and its finish failed "bad stored name". Its chunks are told busy for a
    // day, restarts included; then its id is free again.
    Attacked at(uploadRoomOf(2));
    const double t0 = *at.seconds;
    const std::string d = kDropped;
    const nlohmann::json dMeta = droppedMeta();
    ASSERT_NO_FATAL_FAILURE(dropAfterAPause(at));
    for (const auto& [from, id] : {std::pair{"127.0.0.3", "eeeeeeeeeeeeeeee"}, {"127.0.0.4", "ffffffffffffffff"}}) {
        ASSERT_EQ(at.status(from, "DELETE", std::string("/api/upload/") + id), 200);  // room free again
    }
    at.server->stop();
    ASSERT_TRUE(at.server->start());
    const double day = UploadLimits{}.droppedToldBusy;
    ASSERT_EQ(day, 86400);
    const auto chunkAt = [&](double seconds) {
        *at.seconds = seconds;
        const auto reply = at.request("127.0.0.2", "PUT", "/api/upload/" + d + "/1", "def");
        return reply ? reply->body : "";
    };
    EXPECT_EQ(chunkAt(t0 + 601 + day - 1), R"({"error":"busy"})");
    // Sent again from its meta within the day, the file is stored whole.
    ASSERT_EQ(at.upload("127.0.0.2", d, "d.bin", "abcdef"), 200);
    EXPECT_EQ(at.stored("d.bin"), "abcdef");
    // A second drop, a restart, and the day ends: the id is its sender's to use again.
    ASSERT_EQ(at.status("127.0.0.2", "PUT", "/api/upload/" + d + "/meta", dMeta.dump()), 200);
    ASSERT_EQ(at.status("127.0.0.4", "PUT", "/api/upload/fffffffffffffff2/meta", meta(1).dump()), 200);
    *at.seconds = t0 + 2 * day;
    ASSERT_EQ(at.status("127.0.0.5", "PUT", "/api/upload/fffffffffffffff3/meta", meta(1).dump()), 200);
    at.server->stop();
    ASSERT_TRUE(at.server->start());
    ASSERT_EQ(at.status("127.0.0.5", "DELETE", "/api/upload/fffffffffffffff3"), 200);
    const double dropped = *at.seconds;
    EXPECT_EQ(chunkAt(dropped + day - 1), R"({"error":"busy"})");
    EXPECT_NE(chunkAt(dropped + day), R"({"error":"busy"})");
}

TEST(RoomAttacks, EachAttackLeavesTheLegitimateDeviceServed) {
    const struct {
        const char* attack;
        void (*row)();
    } rows[] = {
        {"downloads read by no one hold every slot", unreadDownloadsHoldEverySlot},
        {"a reply read at a trickle outlives the write time-out", aReplyBehindThePaceIsEnded},
        {"bodies cut and opened again take back the room", bodiesCutAndReopenedAtOnceLeaveTheNewcomerItsRoom},
        {"uploads kept alive by one byte every 9 minutes", keepAliveUploadsGiveWayAfterTenMinutes},
        {"a sender's dropped upload made again by its chunks", aSenderBackToItsDroppedUploadIsToldBusyThenSendsAgain},
        {"two moving connections of a device beside slow single holders", twoMovingConnectionsOfADeviceOutlastSlowSingleHolders},
        {"uploads made afresh by their metas every 25 s", uploadsMadeAfreshByTheirMetasHoldNoRoom},
        {"a meta re-announcing its size to lower the floor", aMetaReAnnouncingItsSizeLowersNoFloor},
        {"a stranger's meta beside a device paused holding two", aDevicePausedWhileHoldingTwoKeepsThem},
        {"a drop, then a restart", aDropsPromiseOutlastsARestartForADay},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.attack);
        row.row();
    }
}

}  // namespace
