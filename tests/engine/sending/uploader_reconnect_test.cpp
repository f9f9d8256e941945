// The send queue when the receiver closes its connection: an upload request whose
// connection closes before any byte of the reply came goes again on a new connection, up
// to three times on new connections; one that got part of a reply fails. And a receiver
// whose slots are held by slow bodies keeps the sender's connection for it.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <list>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <set>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <thread>

#include "base/unique_fd.h"
#include "engine/server/http_server.h"
#include "engine/sending/uploader.h"
#include "support/test_loop.h"
#include "support/test_support.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using TaskList = std::vector<std::shared_ptr<TransferTask>>;

constexpr int64_t MiB4 = 4194304;

// A relay in front of a server that closes connections as a script says. The script is
// asked as each request begins, with its first bytes and the replies its connection
// carried before: pass it on, close the connection with nothing answered, or pass it on and
// close before the last byte of its reply, or reset the connection once the reply's status
// line is through.
class ClosingRelay {
public:
    enum class Action { pass, close, cutReply, resetInHead };
    using Script = std::function<Action(const std::string& firstBytes, int replies)>;

    ClosingRelay(int upstreamPort, Script script) : upstreamPort_(upstreamPort), script_(std::move(script)) {
        listen_.reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        if (::bind(listen_.get(), reinterpret_cast<sockaddr*>(&addr), len) != 0 || ::listen(listen_.get(), 16) != 0 ||
            ::getsockname(listen_.get(), reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
            return;
        }
        port_ = ntohs(addr.sin_port);
        acceptor_ = std::thread([this] { acceptLoop(); });
    }
    ~ClosingRelay() {
        running_ = false;
        if (acceptor_.joinable()) acceptor_.join();
        for (std::thread& t : relays_) t.join();
    }

    int port() const { return port_; }
    int requests() const { return requests_; }  // request starts seen, closed ones included
    int closes() const { return closes_; }

private:
    void acceptLoop() {
        while (running_) {
            pollfd p{listen_.get(), POLLIN, 0};
            if (::poll(&p, 1, 20) != 1) continue;
            UniqueFd client(::accept4(listen_.get(), nullptr, nullptr, SOCK_CLOEXEC));
            if (client) relays_.emplace_back([this, fd = std::make_shared<UniqueFd>(std::move(client))] { relay(*fd); });
        }
    }

    UniqueFd connectUpstream() const {
        UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(uint16_t(upstreamPort_));
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) fd.reset();
        return fd;
    }

    Action actionFor(const std::string& firstBytes, int replies) {
        std::lock_guard guard(scriptLock_);
        return script_(firstBytes, replies);
    }

    void relay(UniqueFd& client) {
        UniqueFd upstream = connectUpstream();
        if (!upstream) return;
        int replies = 0;              // replies this connection carried
        bool awaitingRequest = true;  // the next client byte begins a request
        Action cutting = Action::pass;  // what becomes of the reply under way
        std::vector<char> buffer(1 << 16);
        while (running_) {
            pollfd p[2] = {{client.get(), POLLIN, 0}, {upstream.get(), POLLIN, 0}};
            if (::poll(p, 2, 20) <= 0) continue;
            if (p[0].revents) {
                const ssize_t n = ::recv(client.get(), buffer.data(), buffer.size(), 0);
                if (n <= 0) return;
                if (awaitingRequest) {
                    ++requests_;
                    awaitingRequest = false;
                    const Action action = actionFor(std::string(buffer.data(), size_t(n)), replies);
                    if (action == Action::close) {
                        ++closes_;
                        return;  // the request's first bytes are left unanswered
                    }
                    cutting = action;
                }
                if (!test::sendAll(upstream.get(), buffer.data(), size_t(n))) return;
            }
            if (p[1].revents) {
                const ssize_t n = ::recv(upstream.get(), buffer.data(), buffer.size(), 0);
                if (n <= 0) return;
                if (!awaitingRequest) ++replies;
                awaitingRequest = true;
                if (cutting == Action::resetInHead) {
                    // The status line, then a reset: the client fails reading the head.
                    const std::string_view reply(buffer.data(), size_t(n));
                    test::sendAll(client.get(), reply.data(), reply.find("\r\n") + 2);
                    const linger reset{1, 0};
                    ::setsockopt(client.get(), SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
                    ++closes_;
                    return;
                }
                if (cutting == Action::cutReply) {
                    test::sendAll(client.get(), buffer.data(), size_t(n) - 1);
                    ++closes_;
                    return;
                }
                if (!test::sendAll(client.get(), buffer.data(), size_t(n))) return;
            }
        }
    }

    int upstreamPort_;
    std::mutex scriptLock_;
    Script script_;
    UniqueFd listen_;
    int port_ = 0;
    std::atomic<bool> running_{true};
    std::atomic<int> requests_{0};
    std::atomic<int> closes_{0};
    std::thread acceptor_;
    std::list<std::thread> relays_;  // touched by the acceptor only, then by the destructor
};

// Holds, once armed, each chunk that 127.0.0.1 sends before its body is read, until the
// test releases it (at most ten seconds, so that a failing test still ends). A chunk counts
// as arrived once its body is coming (its first 64 KB, or all of a shorter one, in the
// socket): a sender still reading its file would look stalled.
class ChunkHold {
public:
    void arm() {
        std::lock_guard guard(lock_);
        armed_ = true;
    }
    // On the chunk's thread.
    void pass(const Connection& c) {
        if (c.peerIP != "127.0.0.1") return;
        const int64_t coming = std::min<int64_t>(c.contentLength, 65536) - int64_t(c.bodyStart.size());
        test::waitFor([&] {
            int queued = 0;
            return ::ioctl(c.fd, FIONREAD, &queued) == 0 && queued >= coming;
        });
        std::unique_lock guard(lock_);
        if (!armed_) return;
        const int mine = ++arrived_;
        changed_.wait_for(guard, 10s, [&] { return released_ >= mine; });
    }
    int arrived() {
        std::lock_guard guard(lock_);
        return arrived_;
    }
    void release(int upTo) {
        std::lock_guard guard(lock_);
        released_ = upTo;
        changed_.notify_all();
    }

private:
    std::mutex lock_;
    std::condition_variable changed_;
    bool armed_ = false;
    int arrived_ = 0;
    int released_ = 0;
};

// The client ports that requests came from.
// The TCP port of one end of a connection: ::getpeername's or ::getsockname's.
int portOf(int fd, int (*end)(int, sockaddr*, socklen_t*)) {
    sockaddr_in addr{};
    socklen_t len = sizeof addr;
    end(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    return ntohs(addr.sin_port);
}

struct ClientPorts {
    std::mutex lock;
    std::set<int> seen;
    void note(int fd) {
        const int port = portOf(fd, ::getpeername);
        std::lock_guard guard(lock);
        seen.insert(port);
    }
    size_t count() {
        std::lock_guard guard(lock);
        return seen.size();
    }
    bool has(int port) {
        std::lock_guard guard(lock);
        return seen.count(port) > 0;
    }
};

// One connection from each of a few addresses, each in the middle of a chunk body that
// moves no further; one the server closes is opened again from its address at once.
class SlowHolders {
public:
    SlowHolders(int port, int count) : port_(port), clients_(size_t(count)) {
        for (int k = 0; k < count; ++k) open(k);
        keeper_ = std::thread([this] { keep(); });
    }
    ~SlowHolders() {
        running_ = false;
        keeper_.join();
    }
    int reopened() const { return reopened_; }
    // Each holder's connection has reached the server's chunk row (`arrived`) and is still
    // open: none is on its way back to close another connection.
    bool settled(ClientPorts& arrived) {
        std::lock_guard guard(lock_);
        std::vector<pollfd> watched;
        for (const auto& client : clients_) {
            if (!arrived.has(portOf(client->fd(), ::getsockname))) return false;
            watched.push_back({client->fd(), POLLIN, 0});
        }
        return ::poll(watched.data(), watched.size(), 0) == 0;
    }

private:
    void open(int k) {
        const std::string id = "00aa00bb00cc00d" + std::to_string(k);
        clients_[size_t(k)] = std::make_unique<test::RawClient>(port_, "127.0.0." + std::to_string(k + 2));
        clients_[size_t(k)]->send("PUT /api/upload/" + id + "/0 HTTP/1.1\r\nContent-Length: 4194304\r\n\r\nx");
    }
    void keep() {
        while (running_) {
            std::vector<pollfd> watched;
            for (const auto& client : clients_) watched.push_back({client->fd(), POLLIN, 0});
            if (::poll(watched.data(), watched.size(), 20) <= 0) continue;
            for (size_t k = 0; k < watched.size(); ++k) {
                if (watched[k].revents == 0) continue;
                std::lock_guard guard(lock_);
                open(int(k));
                ++reopened_;
            }
        }
    }

    int port_;
    std::mutex lock_;  // the keeper replaces a client under it
    std::vector<std::unique_ptr<test::RawClient>> clients_;  // the keeper's, once it runs
    std::atomic<bool> running_{true};
    std::atomic<int> reopened_{0};
    std::thread keeper_;
};

class UploaderReconnect : public ::testing::Test {
protected:
    void start(ServerOptions options = {}) {
        options.firstPort = test::testPortBase(20);
        options.lastPort = options.firstPort + 19;
        // A row ahead of the engine's chunk row notes the client port of each chunk, and
        // holds it when the test has armed the hold.
        options.addRoutes = [ports = chunkPorts, others = otherPorts, hold = chunkHold](RouteTable& table) {
            const auto record = [ports, others, hold](Connection& c) {
                (c.peerIP == "127.0.0.1" ? ports : others)->note(c.fd);
                hold->pass(c);
                c.server.uploadChunk(c);
            };
            table.add(RouteStage::dav, Route{{"PUT"}, PathTest::pattern("/api/upload/{hex}/{digits}"), record,
                                             RouteFacts{.streamed = true}});
        };
        server = std::make_shared<HTTPServer>("dev", "Desk", "tok", "", sandbox / "recv", options);
        ASSERT_TRUE(server->start());
    }
    void TearDown() override {
        uploader.reset();
        if (server) test::stopAndDrain(*server);
    }

    std::shared_ptr<TransferTask> fileTask(const std::string& name, const std::string& bytes) {
        test::writeFile(sandbox / "out" / name, bytes);
        return Uploader::makeTask(sandbox / "out" / name, "", std::nullopt);
    }

    // Sends the tasks through the queue (a new one unless kept) to the port (this device's
    // own address) until all ended.
    void send(const TaskList& tasks, int port, bool keepQueue = false) {
        if (!keepQueue || !uploader) uploader = std::make_unique<Uploader>(loop);
        uploader->append(tasks);
        uploader->pump(std::nullopt, std::nullopt, "tok", port);
        ASSERT_TRUE(loop.runUntil([&] {
            return uploader->activeCount() == 0 &&
                   std::none_of(tasks.begin(), tasks.end(), [](const auto& t) { return t->state.active(); });
        }));
    }

    void expectStoredWhole(const TaskList& tasks) {
        for (const auto& task : tasks) {
            EXPECT_EQ(task->state, TransferState::done()) << task->fileName << ": " << task->state.message;
            EXPECT_TRUE(test::readFile(sandbox / "recv" / task->fileName) == test::readFile(task->sourceURL))
                << task->fileName;
        }
    }

    test::Sandbox sandbox;
    std::shared_ptr<ClientPorts> chunkPorts = std::make_shared<ClientPorts>();  // the sender's chunks
    std::shared_ptr<ClientPorts> otherPorts = std::make_shared<ClientPorts>();  // other addresses' chunks
    std::shared_ptr<ChunkHold> chunkHold = std::make_shared<ChunkHold>();
    std::shared_ptr<HTTPServer> server;
    test::TestLoop loop;
    std::unique_ptr<Uploader> uploader;
};

bool isMeta(const std::string& firstBytes) { return firstBytes.find("/meta ") != std::string::npos; }

TEST_F(UploaderReconnect, ARequestWhoseReusedConnectionClosesUnansweredGoesOnceMoreOnANewOne) {
    // Every reuse of a kept connection is closed: each request after a transfer's first
    // goes twice, the second time on a new connection; transfers that follow take over
    // the kept connections of those before. The relay sees requests sent back to back as
    // one: a small file's four, and the large one's meta and first chunk, after which its
    // requests go one at a time (its connection closed after a reply).
    start();
    ClosingRelay relay(server->port(), [](const std::string&, int replies) {
        return replies > 0 ? ClosingRelay::Action::close : ClosingRelay::Action::pass;
    });
    TaskList tasks{fileTask("big.bin", test::patterned(5 * MiB4 + 1000, 1))};
    for (int k = 0; k < 4; ++k) tasks.push_back(fileTask("small" + std::to_string(k), test::patterned(3000 + k, char(k))));
    send(tasks, relay.port());
    expectStoredWhole(tasks);
    // status, meta, 6 chunks and finish, then 4 small files' requests as one each (or as
    // more, when their bytes came in pieces around a reply), the first small one's perhaps
    // on a new connection; each close adds a try.
    EXPECT_GE(relay.closes(), 8 + 3);
    EXPECT_GE(relay.requests(), 9 + 4 + relay.closes());
    EXPECT_LE(relay.requests(), 9 + 4 * 4 + relay.closes());
}

TEST_F(UploaderReconnect, AnUploadRequestGoesOnNewConnectionsAtMostThreeTimesAndNeverAfterPartOfAReply) {
    // A receiver whose slots are full closes connections for newcomers, the new one a
    // request was sent again on too: the upload's requests go up to three times on new
    // connections, each safe to repeat. A request that got part of its reply is not sent again.
    // A file of two chunks: its status goes alone, and the relay sees its meta begin.
    start();
    using Action = ClosingRelay::Action;
    const struct {
        const char* what;
        std::function<ClosingRelay::Script()> script;
        int requests;      // request starts the relay saw
        const char* ends;  // the task's message, empty when it is stored
    } cases[] = {
        // The status three times (then taken as nothing held), the meta three times.
        {"every request on a new connection closed",
         [] { return [](const std::string&, int replies) { return replies == 0 ? Action::close : Action::pass; }; },
         6, "网络连接已中断。"},
        // The meta on the kept connection, then three times on new ones.
        {"every meta closed",
         [] { return [](const std::string& bytes, int) { return isMeta(bytes) ? Action::close : Action::pass; }; },
         1 + 4, "网络连接已中断。"},
        // Its third try on a new connection is answered: status, 4 metas, two chunks, finish.
        {"the first three metas closed",
         [] {
             return [metas = 0](const std::string& bytes, int) mutable {
                 return isMeta(bytes) && ++metas <= 3 ? Action::close : Action::pass;
             };
         },
         1 + 4 + 3, ""},
        // The status on a new connection, the meta on the kept one, cut before its reply's
        // last byte, or reset once its status line came.
        {"part of a reply came",
         [] { return [](const std::string&, int replies) { return replies > 0 ? Action::cutReply : Action::pass; }; },
         2, "网络连接已中断。"},
        {"the status line of a reply came",
         [] { return [](const std::string&, int replies) { return replies > 0 ? Action::resetInHead : Action::pass; }; },
         2, "网络连接已中断。"},
    };
    for (const auto& c : cases) {
        ClosingRelay relay(server->port(), c.script());
        const auto task = fileTask(std::string("f-") + c.what, test::patterned(MiB4 + 3000, 7));
        send({task}, relay.port());
        EXPECT_EQ(task->state.message, c.ends) << c.what;
        if (*c.ends == '\0') expectStoredWhole({task});
        EXPECT_EQ(relay.requests(), c.requests) << c.what;
    }
}

TEST_F(UploaderReconnect, ASendOutlastsNewcomersCyclingAddressesOnAServerHeldBySlowBodies) {
    // Addresses each holding a slow chunk body, and newcomers from fresh addresses: each
    // newcomer closed the sender's connection (the only idle one between chunks, or the most
    // recently opened of an address holding the most), then the one it was sent again on,
    // and the send failed. A newcomer now closes the connection that moves the fewest bytes.
    ServerOptions options;
    options.maxConnections = 4;
    // With the clock standing still a connection's rate is the bytes it moved over the
    // shortest span counted (0.1 s), so 100 KB count as 1 MB/s, whatever the load.
    options.clock = [] { return 1.7e9; };
    start(options);
    SlowHolders holders(server->port(), 3);
    ASSERT_TRUE(test::waitFor([&] { return server->openConnections() == 3; }));

    // Each chunk is held while a newcomer finds every slot taken, the sender's busy.
    chunkHold->arm();
    std::atomic<bool> ended{false};
    std::atomic<int> rounds{0};
    std::atomic<int> newcomers{0};
    const std::string info = "GET /api/info HTTP/1.1\r\n\r\n";
    // A newcomer is let in, a slot closed for it; the holder closed then comes back, and
    // may close the newcomer's in turn.
    const auto newcomer = [&](int n) {
        if (!test::waitFor([&] { return server->openConnections() == options.maxConnections; })) return;
        test::RawClient client(server->port(), "127.0.1." + std::to_string(n));
        if (!client.send(info)) return;
        client.readReply();
        ++newcomers;
    };
    std::thread crowd([&] {
        for (int round = 1;; ++round) {
            if (!test::waitFor([&] { return chunkHold->arrived() >= round || ended; }, 30s)) return;
            if (chunkHold->arrived() < round) return;
            newcomer(round);
            ++rounds;
            // The holders it set going are all back before the chunk goes on: none comes
            // late to close the sender's connection idle between its files.
            EXPECT_TRUE(test::waitFor([&] { return holders.settled(*otherPorts); })) << "round " << round;
            chunkHold->release(round);
        }
    });
    const TaskList first{fileTask("first.bin", test::patterned(3 * MiB4 + 1000, 3))};
    send(first, server->port(), true);
    // Between two files the sender's kept connection waits idle: a newcomer closes it
    // first, and the next file goes on a new connection.
    EXPECT_TRUE(test::waitFor([&] { return server->idleConnections() == 1; }));
    newcomer(200);
    const TaskList second{fileTask("second.bin", test::patterned(100000, 4))};
    send(second, server->port(), true);
    ended = true;
    crowd.join();

    expectStoredWhole(first);
    expectStoredWhole(second);
    EXPECT_EQ(rounds.load(), 5) << "a newcomer at each chunk's arrival";
    EXPECT_EQ(newcomers.load(), rounds + 1);
    // The kept connection idle between the files goes first; one idle for a moment between
    // two requests may go too, and the sender goes on over a new one.
    EXPECT_GE(chunkPorts->count(), 2u) << "the sender's connection idle between files was kept";
    EXPECT_LE(chunkPorts->count(), size_t(newcomers.load()) + 1) << "a newcomer cost the sender more than one connection";
    EXPECT_GT(holders.reopened(), 0);
}

}  // namespace
}  // namespace corvane

namespace corvane {
namespace {

// With the clock standing still a connection's rate is the bytes it moved over the
// shortest span counted (0.1 s), so 100 KB count as 1 MB/s, whatever the load.
double standingClock() { return 1.7e9; }

// Connections each in the middle of a body of 400,000 bytes, some of it sent; the bytes
// the server holds tell when it has read what each sent, and which it still reads from.
class HeldBodies {
public:
    explicit HeldBodies(HTTPServer& server) : server_(server) {}

    // Opens one from the address with `sent` bytes of its body; false when they were not
    // all read (after each closed since, whose bytes are given back).
    bool open(const std::string& address, int64_t sent) {
        bodies_.push_back({std::make_unique<test::RawClient>(server_.port(), address), sent, false});
        if (!bodies_.back().client->send(kHead + std::string(size_t(sent), 'x'))) return false;
        return settled();
    }
    // The bodies the server closed, in the order they were opened.
    std::vector<size_t> closed() {
        std::vector<size_t> found;
        for (size_t k = 0; k < bodies_.size(); ++k) {
            Body& body = bodies_[k];
            if (!body.closed) {
                pollfd p{body.client->fd(), POLLIN, 0};
                body.closed = ::poll(&p, 1, 0) == 1 && body.client->closedByServer();
            }
            if (body.closed) found.push_back(k);
        }
        return found;
    }
    // Sends the rest of every body still open; whether each was answered (404: no row takes it).
    bool finishOpenOnes() {
        closed();
        for (Body& body : bodies_) {
            if (body.closed) continue;
            if (!body.client->send(std::string(size_t(kLength - body.sent), 'y'))) return false;
            const auto reply = body.client->readReply();
            if (!reply || reply->status != 404) return false;
        }
        return true;
    }

private:
    static constexpr int64_t kLength = 400000;
    inline static const std::string kHead = "POST /api/nothing HTTP/1.1\r\nContent-Length: 400000\r\n\r\n";
    struct Body {
        std::unique_ptr<test::RawClient> client;
        int64_t sent;
        bool closed;
    };
    bool settled() {
        return test::waitFor([&] {
            int64_t held = 0;
            closed();
            for (const Body& body : bodies_) held += body.closed ? 0 : body.sent;
            return server_.bodyBytesHeld() == held;
        });
    }

    HTTPServer& server_;
    std::deque<Body> bodies_;
};

// A server of six slots on a clock standing still, each slot but those left for the
// sender in the middle of a body.
class UploaderCrowd : public UploaderReconnect {
protected:
    // Starts the server with a body from each address, its bytes sent.
    void startHolding(const std::vector<std::pair<std::string, int64_t>>& held) {
        ServerOptions options;
        options.maxConnections = 6;
        options.clock = standingClock;
        start(options);
        bodies = std::make_unique<HeldBodies>(*server);
        for (const auto& [address, sent] : held) ASSERT_TRUE(bodies->open(address, sent)) << address;
        ASSERT_TRUE(bodies->closed().empty());
    }
    // Three newcomers from fresh addresses, each with 300 bytes of a body: each is read.
    void admitNewcomers() {
        for (int n = 1; n <= 3; ++n) ASSERT_TRUE(bodies->open("127.0.1." + std::to_string(n), 300)) << n;
    }

    std::unique_ptr<HeldBodies> bodies;
};

TEST_F(UploaderCrowd, NewcomersAndASenderCloseTheSlowestBodiesNeverOneOfTwoFastOnesOfOneAddress) {
    // One address held two bodies moving fast beside addresses each holding one slow body:
    // a newcomer could close only a connection of the address holding the most, whose
    // connections were never closed, so every newcomer was closed unanswered and the
    // Uploader failed at once; then each newcomer closed one of the two fast ones, so that
    // a device sending a folder lost its files. The slowest connection goes, wherever it
    // is; a device holding a few that move keeps them.
    startHolding({{"127.0.3.1", 150000}, {"127.0.3.1", 150000},  // 0, 1
                  {"127.0.0.2", 10}, {"127.0.0.3", 10}, {"127.0.0.4", 10}, {"127.0.0.5", 10}});
    // Of equals, the latest opened goes.
    admitNewcomers();
    EXPECT_EQ(bodies->closed(), (std::vector<size_t>{3, 4, 5}));
    // The Uploader's connection takes the last slow one's slot.
    const TaskList tasks{fileTask("sent.bin", test::patterned(MiB4 + 1000, 5))};
    send(tasks, server->port());
    expectStoredWhole(tasks);
    EXPECT_EQ(bodies->closed(), (std::vector<size_t>{2, 3, 4, 5}));
    EXPECT_TRUE(bodies->finishOpenOnes());
}

TEST_F(UploaderCrowd, TwoFilesSentSlowlyAtOnceAreNotCutWhileAnAddressHoldingAsManyMovesLess) {
    // The Uploader sending two files at once held two slots beside an address holding
    // slower ones: newcomers closed its connections, and the second file failed. The
    // address holding the most gives way, and of addresses holding alike, the connection
    // moving least.
    startHolding({{"127.0.0.2", 10}, {"127.0.0.2", 10}, {"127.0.0.2", 10}, {"127.0.0.2", 10}});
    // Each chunk is held in its handler, its connection busy, having moved its status, meta
    // and chunk: more than any other body, far less than 100 KB (1 MB/s here).
    chunkHold->arm();
    const TaskList tasks{fileTask("one.bin", test::patterned(30000, 6)), fileTask("two.bin", test::patterned(31000, 7))};
    uploader = std::make_unique<Uploader>(loop);
    uploader->append(tasks);
    uploader->pump(std::nullopt, std::nullopt, "tok", server->port());
    ASSERT_TRUE(test::waitFor([&] { return chunkHold->arrived() == 2; }));
    ASSERT_EQ(server->openConnections(), 6);

    admitNewcomers();
    EXPECT_EQ(bodies->closed(), (std::vector<size_t>{1, 2, 3}));
    chunkHold->release(2);
    ASSERT_TRUE(loop.runUntil([&] {
        return std::none_of(tasks.begin(), tasks.end(), [](const auto& t) { return t->state.active(); });
    }));
    expectStoredWhole(tasks);
    EXPECT_EQ(chunkPorts->count(), 2u) << "a chunk was cut and sent again";
    EXPECT_TRUE(bodies->finishOpenOnes());
}

}  // namespace
}  // namespace corvane
