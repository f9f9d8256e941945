// The send queue's requests back to back on one connection: a file of one chunk sends
// status, meta, chunk and finish before reading a reply; a larger file's next chunk goes
// while the reply of the one before is due. Refusals mid-sequence end the file as one
// request at a time would, and a receiver that does not keep up gets one at a time.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <list>
#include <mutex>
#include <optional>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>

#include "base/lan_socket.h"
#include "base/unique_fd.h"
#include "engine/server/http_response.h"
#include "engine/server/http_server.h"
#include "engine/sending/uploader.h"
#include "support/scripted_http_server.h"
#include "support/test_loop.h"
#include "support/test_support.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr int64_t MiB4 = 4194304;

// A relay in front of a server that records what the client sends and holds the server's
// replies once the client's bytes hold `armAt`, until they also hold `openAt` (or five
// seconds passed, for a client that waits for a reply first).
class ReplyGate {
public:
    ReplyGate(int serverPort, std::string armAt, std::string openAt)
        : serverPort_(serverPort), armAt_(std::move(armAt)), openAt_(std::move(openAt)) {
        listen_.reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        if (::bind(listen_.get(), reinterpret_cast<sockaddr*>(&addr), len) == 0 && ::listen(listen_.get(), 8) == 0 &&
            ::getsockname(listen_.get(), reinterpret_cast<sockaddr*>(&addr), &len) == 0) {
            port_ = ntohs(addr.sin_port);
        }
        acceptor_ = std::thread([this] { acceptLoop(); });
    }
    ~ReplyGate() {
        running_ = false;
        acceptor_.join();
        for (std::thread& t : relays_) t.join();
    }
    int port() const { return port_; }
    int connections() const { return connections_; }
    // Whether the client's bytes reached `openAt` while a reply was held.
    bool openedByClient() const { return openedByClient_; }
    // The segments with data the client had sent when its first finish came in.
    int segmentsToFinish() const { return segmentsToFinish_; }
    // The request lines the client sent, in order ("GET /api/upload/<id>", ...).
    std::vector<std::string> requestLines() {
        std::lock_guard guard(lock_);
        std::vector<std::string> lines;
        for (size_t at = 0; (at = sent_.find(" HTTP/1.1\r\n", at)) != std::string::npos; at += 11) {
            size_t begin = 0;
            for (const char* method : {"GET /", "PUT /", "POST /"}) {
                const size_t found = sent_.rfind(method, at);
                if (found != std::string::npos) begin = std::max(begin, found);
            }
            const std::string line = sent_.substr(begin, at - begin);
            // The method and the path's last piece: the id, "meta", an index or "finish".
            lines.push_back(line.substr(0, line.find(' ')) + " " + line.substr(line.rfind('/') + 1));
        }
        return lines;
    }

private:
    void acceptLoop() {
        while (running_) {
            pollfd p{listen_.get(), POLLIN, 0};
            if (::poll(&p, 1, 20) != 1) continue;
            auto client = std::make_shared<UniqueFd>(::accept4(listen_.get(), nullptr, nullptr, SOCK_CLOEXEC));
            ++connections_;
            relays_.emplace_back([this, client] { relay(client->get()); });
        }
    }
    bool holding() {
        std::lock_guard guard(lock_);
        const size_t armed = sent_.find(armAt_);
        if (armed == std::string::npos) return false;
        if (sent_.find(openAt_, armed) != std::string::npos) {
            if (!expired_) openedByClient_ = true;
            return false;
        }
        const auto now = std::chrono::steady_clock::now();
        if (!heldSince_) heldSince_ = now;
        expired_ = now - *heldSince_ >= 5s;
        return !expired_;
    }
    void relay(int client) {
        UniqueFd upstream(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(uint16_t(serverPort_));
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(upstream.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) return;
        std::string replies;
        std::vector<char> buffer(1 << 16);
        bool serverEnded = false;
        while (running_) {
            if (!replies.empty() && !holding()) {
                if (!test::sendAll(client, replies.data(), replies.size())) return;
                replies.clear();
            }
            if (serverEnded && replies.empty()) return;
            pollfd p[2] = {{client, POLLIN, 0}, {upstream.get(), short(serverEnded ? 0 : POLLIN), 0}};
            if (::poll(p, 2, 10) <= 0) continue;
            if (p[0].revents) {
                const ssize_t n = ::recv(client, buffer.data(), buffer.size(), 0);
                if (n <= 0) return;
                {
                    std::lock_guard guard(lock_);
                    sent_.append(buffer.data(), size_t(n));
                    if (segmentsToFinish_ < 0 && sent_.find("/finish HTTP") != std::string::npos) {
                        segmentsToFinish_ = test::dataSegmentsIn(client);
                    }
                }
                if (!test::sendAll(upstream.get(), buffer.data(), size_t(n))) return;
            }
            if (p[1].revents) {
                const ssize_t n = ::recv(upstream.get(), buffer.data(), buffer.size(), 0);
                if (n <= 0) serverEnded = true;
                if (n > 0) replies.append(buffer.data(), size_t(n));
            }
        }
    }

    int serverPort_;
    std::string armAt_;
    std::string openAt_;
    UniqueFd listen_;
    int port_ = 0;
    std::atomic<bool> running_{true};
    std::atomic<int> connections_{0};
    std::atomic<bool> openedByClient_{false};
    std::atomic<int> segmentsToFinish_{-1};
    std::mutex lock_;
    std::string sent_;
    std::optional<std::chrono::steady_clock::time_point> heldSince_;
    bool expired_ = false;
    std::thread acceptor_;
    std::list<std::thread> relays_;
};

// Counts a route's requests on their way to the engine's row, and answers those the
// test picks with a refusal instead (a chunk's unread body drained, as the engine does).
struct RouteTap {
    std::atomic<int> seen{0};
    std::function<bool(int)> refuses = [](int) { return false; };  // by the request's number from 1
    int status = 503;
    std::string text = "busy";
};

class UploaderPipelining : public ::testing::Test {
protected:
    void start() {
        ServerOptions options;
        options.firstPort = test::testPortBase(20);
        options.lastPort = options.firstPort + 19;
        options.addRoutes = [meta = meta, chunk = chunk, finish = finish](RouteTable& table) {
            const auto tapped = [](std::shared_ptr<RouteTap> tap, void (HTTPServer::*row)(Connection&)) {
                return [tap, row](Connection& c) {
                    if (tap->refuses(++tap->seen)) {
                        sendJSON(c.fd, tap->status, errorJSON(tap->text));
                        if (c.contentLength > 0) drainBeforeClose(c.fd);
                        return;
                    }
                    (c.server.*row)(c);
                };
            };
            table.add(RouteStage::dav, Route{{"PUT"}, PathTest::pattern("/api/upload/{hex}/meta"),
                                             tapped(meta, &HTTPServer::uploadMeta), RouteFacts{}});
            table.add(RouteStage::dav, Route{{"PUT"}, PathTest::pattern("/api/upload/{hex}/{digits}"),
                                             tapped(chunk, &HTTPServer::uploadChunk), RouteFacts{.streamed = true}});
            table.add(RouteStage::dav, Route{{"POST"}, PathTest::pattern("/api/upload/{hex}/finish"),
                                             tapped(finish, &HTTPServer::uploadFinish), RouteFacts{}});
        };
        server = std::make_shared<HTTPServer>("dev", "Desk", "", "", sandbox / "recv", options);
        ASSERT_TRUE(server->start());
    }
    void TearDown() override {
        uploader.reset();
        if (server) test::stopAndDrain(*server);
    }
    std::shared_ptr<TransferTask> fileTask(const std::string& name, int64_t size) {
        test::writeFile(sandbox / "out" / name, test::patterned(size, int(size % 7)));
        return Uploader::makeTask(sandbox / "out" / name, "", std::nullopt);
    }
    // Sends the task to the port through the queue (kept between sends) until it ended.
    void send(const std::shared_ptr<TransferTask>& task, int port) {
        if (!uploader) uploader = std::make_unique<Uploader>(loop);
        uploader->append({task});
        uploader->pump(std::nullopt, std::nullopt, "", port);
        ASSERT_TRUE(loop.runUntil([&] { return uploader->activeCount() == 0 && !task->state.active(); }));
    }
    // The files the receive folder holds, hidden ones left out.
    std::vector<std::string> received() {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(sandbox / "recv")) {
            const std::string name = entry.path().filename().string();
            if (name[0] != '.') names.push_back(name);
        }
        std::sort(names.begin(), names.end());
        return names;
    }
    bool storedWhole(const TransferTask& task) {
        return task.state == TransferState::done() &&
               test::readFile(sandbox / "recv" / task.fileName) == test::readFile(task.sourceURL);
    }

    test::Sandbox sandbox;
    std::shared_ptr<RouteTap> meta = std::make_shared<RouteTap>();
    std::shared_ptr<RouteTap> chunk = std::make_shared<RouteTap>();
    std::shared_ptr<RouteTap> finish = std::make_shared<RouteTap>();
    std::shared_ptr<HTTPServer> server;
    test::TestLoop loop;
    std::unique_ptr<Uploader> uploader;
};

TEST_F(UploaderPipelining, ASmallFilesFourRequestsGoBeforeAnyReplyAndALargeFilesNextChunkBeforeTheLastReply) {
    start();
    const struct {
        const char* what;
        int64_t size;
        const char* armAt;   // replies are held from here...
        const char* openAt;  // ...until the sender sent this without reading them
        std::vector<std::string> lines;
    } cases[] = {
        {"one chunk", 3000, "GET ", "/finish HTTP", {"GET id", "PUT meta", "PUT 0", "POST finish"}},
        {"three chunks", 2 * MiB4 + 5, "/0 HTTP", "/1 HTTP",
         {"GET id", "PUT meta", "PUT 0", "PUT 1", "PUT 2", "POST finish"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ReplyGate gate(server->port(), c.armAt, c.openAt);
        const auto task = fileTask(std::string(c.what) + ".bin", c.size);
        send(task, gate.port());
        EXPECT_TRUE(storedWhole(*task)) << task->state.message;
        EXPECT_TRUE(gate.openedByClient());
        EXPECT_EQ(gate.connections(), 1);
        // A small file's four requests leave together, in one segment.
        if (c.size < MiB4) {
            EXPECT_EQ(gate.segmentsToFinish(), 1);
        }
        std::vector<std::string> lines = gate.requestLines();
        lines.front() = lines.front().substr(0, 4) + "id";  // the status names the upload only
        EXPECT_EQ(lines, c.lines);
    }
}

TEST_F(UploaderPipelining, ASmallFileLeavesUnpacedAndEitherEndResendsALostLoneSegmentSoon) {
    // A small file's requests and their replies are a segment or a few: nothing follows a
    // lost one to prompt a quick resend, so each end keeps its wait short. A pacing
    // congestion control would spread the requests over a round trip, so small files go
    // on a connection that runs reno, and larger ones on one with the system's choice; the
    // server's replies go unpaced too.
    start();
    const std::string& systemChoice = systemCongestionControl();
    const struct {
        int64_t size;
        std::string congestion;
    } cases[] = {{3000, "reno"}, {unpacedBytes + 1, systemChoice}, {unpacedBytes, "reno"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.size);
        const auto task = fileTask("f" + std::to_string(c.size), c.size);
        send(task, server->port());
        ASSERT_TRUE(storedWhole(*task)) << task->state.message;
        std::vector<int> sendersEnds;  // the queue keeps one connection; one it left may still close
        for (const int fd : test::connectedSocketsOnPort(server->port())) {
            if (test::peerPortOf(fd) == server->port()) sendersEnds.push_back(fd);
        }
        ASSERT_EQ(sendersEnds.size(), 1u);
        const int serversEnd = test::otherEndOf(sendersEnds[0]);
        ASSERT_GE(serversEnd, 0);
        EXPECT_EQ(congestionControlOf(sendersEnds[0]), c.congestion);
        EXPECT_EQ(congestionControlOf(serversEnd), "reno");
        for (const int fd : {sendersEnds[0], serversEnd}) {
            int floorMicros = 0;
            socklen_t length = sizeof floorMicros;
            if (::getsockopt(fd, IPPROTO_TCP, 45 /* TCP_RTO_MIN_US */, &floorMicros, &length) == 0) {
                EXPECT_LT(floorMicros, 200000 / 4);  // the kernel's own is 200 ms
            }
        }
    }
}

TEST_F(UploaderPipelining, ARefusalMidSequenceEndsTheFileAsOneRequestAtATimeAndStoresNothingTwice) {
    // Each refusal of a request sent ahead is heard once more on its own, then decides.
    const struct {
        const char* what;
        const char* route;  // the row that refuses
        int status;
        const char* text;
        const char* shown;
        int metas, chunks, finishes;  // the requests each row saw (the finish's at least)
    } cases[] = {
        {"busy meta", "meta", 503, "busy", "对方正忙，请稍后再发", 2, 1, 0},
        {"chunk of an upload another device holds", "chunk", 403, "forbidden",
         "对方正在接收另一台设备发来的同一文件，请稍后再发", 1, 2, 0},
        {"failed finish", "finish", 500, "merge failed", "merge failed", 1, 1, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        meta = std::make_shared<RouteTap>();
        chunk = std::make_shared<RouteTap>();
        finish = std::make_shared<RouteTap>();
        RouteTap& refusing = std::string(c.route) == "meta" ? *meta : std::string(c.route) == "chunk" ? *chunk : *finish;
        refusing.refuses = [](int) { return true; };
        refusing.status = c.status;
        refusing.text = c.text;
        start();
        const auto task = fileTask("a.bin", 3000);
        send(task, server->port());
        EXPECT_EQ(task->state, TransferState::failed(c.shown));
        EXPECT_EQ(received(), std::vector<std::string>{});
        // The chunk and finish behind a refused meta are answered by the engine (a finish
        // without a meta stores nothing); the finish behind a refused chunk goes with its
        // closed connection.
        EXPECT_EQ(meta->seen, c.metas);
        EXPECT_EQ(chunk->seen, c.chunks);
        EXPECT_GE(finish->seen, c.finishes);
        uploader.reset();
        test::stopAndDrain(*server);
        server.reset();
        fs::remove_all(sandbox / "recv");
    }
}

TEST_F(UploaderPipelining, AStatusShowingTheChunkHeldSendsItAgainAndStoresTheFileOnce) {
    finish->refuses = [](int n) { return n <= 2; };  // the first try's finish, and once more alone
    finish->status = 500;
    finish->text = "merge failed";
    start();
    const auto task = fileTask("a.bin", 3000);
    send(task, server->port());
    ASSERT_EQ(task->state, TransferState::failed("merge failed"));
    const auto again = Uploader::makeTask(sandbox / "out" / "a.bin", "", std::nullopt);
    send(again, server->port());
    EXPECT_TRUE(storedWhole(*again)) << again->state.message;
    EXPECT_EQ(again->resumedChunks, 1);
    EXPECT_EQ(received(), std::vector<std::string>{"a.bin"});
    EXPECT_EQ(chunk->seen, 2);
}

TEST_F(UploaderPipelining, AReceiverThatClosesAfterEachReplyGetsOneRequestAtATime) {
    // The stand-in answers one request per connection and says it closes: every request
    // goes once, in order, each on a connection of its own.
    test::ScriptedHTTPServer receiver(test::ScriptedReply{200, "application/json",
                                                          R"({"ok":true,"p":"a.bin","n":"a.bin","s":1,"t":1})"});
    for (const int64_t size : {int64_t(3000), 2 * MiB4 + 5}) {
        SCOPED_TRACE(size);
        const auto task = fileTask("f" + std::to_string(size), size);
        const size_t before = receiver.requests().size();
        send(task, receiver.port());
        EXPECT_EQ(task->state, TransferState::done()) << task->state.message;
        std::vector<std::string> routes;
        const auto requests = receiver.requests();
        for (size_t k = before; k < requests.size(); ++k) {
            const std::string& path = requests[k].path;
            routes.push_back(requests[k].method + " " + path.substr(path.rfind('/') + 1));
            if (routes.back().size() > 12) routes.back() = "GET id";
        }
        const std::vector<std::string> expected =
            size == 3000 ? std::vector<std::string>{"GET id", "PUT meta", "PUT 0", "POST finish"}
                         : std::vector<std::string>{"GET id", "PUT meta", "PUT 0", "PUT 1", "PUT 2", "POST finish"};
        EXPECT_EQ(routes, expected);
    }
}

TEST_F(UploaderPipelining, AReceiverThatRefusesARequestSentAheadGetsItAgainOnItsOwn) {
    // The first meta is refused (it came before the status was answered); on its own it
    // passes, and the file is stored once.
    meta->refuses = [](int n) { return n == 1; };
    meta->status = 400;
    meta->text = "out of turn";
    start();
    const auto task = fileTask("a.bin", 3000);
    send(task, server->port());
    EXPECT_TRUE(storedWhole(*task)) << task->state.message;
    EXPECT_EQ(meta->seen, 2);
    EXPECT_EQ(received(), std::vector<std::string>{"a.bin"});
}

TEST_F(UploaderPipelining, AConnectionKeptFromOneReceiverNeverCarriesAnothersFiles) {
    // The queue hands a transfer's connection to the next one: a file for another receiver
    // goes on a connection of its own, whichever receiver came first.
    start();
    ServerOptions options;
    options.firstPort = test::testPortBase(20);
    options.lastPort = options.firstPort + 19;
    auto other = std::make_shared<HTTPServer>("dev2", "Laptop", "", "", sandbox / "recv2", options);
    ASSERT_TRUE(other->start());
    const auto first = fileTask("first.bin", 3000);
    const auto second = fileTask("second.bin", MiB4 + 3000);
    send(first, server->port());
    send(second, other->port());
    EXPECT_EQ(second->state, TransferState::done()) << second->state.message;
    EXPECT_EQ(received(), std::vector<std::string>{"first.bin"});
    EXPECT_TRUE(test::readFile(sandbox / "recv2" / "second.bin") == test::readFile(second->sourceURL));
    test::stopAndDrain(*other);
}

}  // namespace
}  // namespace corvane
