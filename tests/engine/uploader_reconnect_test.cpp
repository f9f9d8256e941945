// The send queue when the receiver closes the kept connection: a request whose reused
// connection closes before any byte of the reply came goes once more on a new
// connection; one that got part of a reply, or that went on a new connection, fails.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <deque>
#include <list>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <set>
#include <sstream>
#include <sys/socket.h>
#include <thread>

#include "base/unique_fd.h"
#include "engine/http_server.h"
#include "engine/uploader.h"
#include "support/test_loop.h"
#include "support/test_support.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using TaskList = std::vector<std::shared_ptr<TransferTask>>;

constexpr int64_t MiB4 = 4194304;

// Bytes that differ from chunk to chunk, so a misplaced or doubled chunk shows.
std::string patterned(int64_t size, char salt) {
    std::string bytes(size_t(size), '\0');
    for (int64_t k = 0; k < size; ++k) bytes[size_t(k)] = char((k * 131 + k / MiB4 * 7 + salt) & 0xff);
    return bytes;
}

bool sendAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n <= 0) return false;
        data += n;
        size -= size_t(n);
    }
    return true;
}

// A relay in front of a server that closes connections as a script says: when a request
// begins on a connection that already carried a reply (closeReused), or on a new one
// (closeFresh), the connection is closed with nothing answered; cutReplyOnReuse passes a
// reused connection's request on and closes before the last byte of its reply.
class ClosingRelay {
public:
    enum class Mode { closeReused, closeFresh, cutReplyOnReuse };

    ClosingRelay(int upstreamPort, Mode mode) : upstreamPort_(upstreamPort), mode_(mode) {
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

    // Whether the script closes the connection as a request begins on it.
    bool closesAtRequest(int replies) const {
        return (mode_ == Mode::closeReused && replies > 0) || (mode_ == Mode::closeFresh && replies == 0);
    }

    void relay(UniqueFd& client) {
        UniqueFd upstream = connectUpstream();
        if (!upstream) return;
        int replies = 0;              // replies this connection carried
        bool awaitingRequest = true;  // the next client byte begins a request
        bool cutting = false;         // the reply under way is cut after its first line
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
                    if (closesAtRequest(replies)) {
                        ++closes_;
                        return;  // the request's first bytes are left unanswered
                    }
                    cutting = mode_ == Mode::cutReplyOnReuse && replies > 0;
                }
                if (!sendAll(upstream.get(), buffer.data(), size_t(n))) return;
            }
            if (p[1].revents) {
                const ssize_t n = ::recv(upstream.get(), buffer.data(), buffer.size(), 0);
                if (n <= 0) return;
                if (!awaitingRequest) ++replies;
                awaitingRequest = true;
                if (cutting) {
                    sendAll(client.get(), buffer.data(), size_t(n) - 1);
                    ++closes_;
                    return;
                }
                if (!sendAll(client.get(), buffer.data(), size_t(n))) return;
            }
        }
    }

    int upstreamPort_;
    Mode mode_;
    UniqueFd listen_;
    int port_ = 0;
    std::atomic<bool> running_{true};
    std::atomic<int> requests_{0};
    std::atomic<int> closes_{0};
    std::thread acceptor_;
    std::list<std::thread> relays_;  // touched by the acceptor only, then by the destructor
};

// The ports of this device's open connections from 127.0.0.1 to the port (the sender's:
// newcomers come from other addresses), read from the kernel's table.
std::set<int> senderPorts(int serverPort) {
    std::set<int> ports;
    std::istringstream table(test::readFile("/proc/net/tcp"));
    std::string line;
    std::getline(table, line);  // the column names
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state;
        fields >> slot >> local >> remote >> state;
        const bool fromLoopback = local.starts_with("0100007F:");
        if (fromLoopback && state == "01" && std::stoi(remote.substr(9), nullptr, 16) == serverPort) {
            ports.insert(std::stoi(local.substr(9), nullptr, 16));
        }
    }
    return ports;
}

class UploaderReconnect : public ::testing::Test {
protected:
    void start(ServerOptions options = {}) {
        options.firstPort = test::testPortBase(20);
        options.lastPort = options.firstPort + 19;
        // A row ahead of the engine's chunk row notes the client port of each chunk.
        options.addRoutes = [ports = chunkPorts](RouteTable& table) {
            const auto record = [ports](Connection& c) {
                ports->note(c.fd);
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

    // Sends the tasks through one queue to the port (this device's own address) until all ended.
    void send(const TaskList& tasks, int port) {
        uploader = std::make_unique<Uploader>(loop);
        uploader->append(tasks);
        uploader->pump(std::nullopt, std::nullopt, "tok", port);
        ASSERT_TRUE(loop.runUntil([&] {
            return uploader->activeCount() == 0 &&
                   std::none_of(tasks.begin(), tasks.end(), [](const auto& t) { return t->state.active(); });
        }));
    }

    // The client ports chunks came from.
    struct ChunkPorts {
        std::mutex lock;
        std::set<int> seen;
        void note(int fd) {
            sockaddr_in addr{};
            socklen_t len = sizeof addr;
            ::getpeername(fd, reinterpret_cast<sockaddr*>(&addr), &len);
            std::lock_guard guard(lock);
            seen.insert(ntohs(addr.sin_port));
        }
        size_t count() {
            std::lock_guard guard(lock);
            return seen.size();
        }
        // Whether there are ports and every one of them carried a chunk.
        bool carried(const std::set<int>& ports) {
            std::lock_guard guard(lock);
            return !ports.empty() && std::includes(seen.begin(), seen.end(), ports.begin(), ports.end());
        }
    };

    test::Sandbox sandbox;
    std::shared_ptr<ChunkPorts> chunkPorts = std::make_shared<ChunkPorts>();
    std::shared_ptr<HTTPServer> server;
    test::TestLoop loop;
    std::unique_ptr<Uploader> uploader;
};

TEST_F(UploaderReconnect, ARequestWhoseReusedConnectionClosesUnansweredGoesOnceMoreOnANewOne) {
    // Every reuse of a kept connection is closed: each request after a transfer's first
    // goes twice, the second time on a new connection; transfers that follow take over
    // the kept connections of those before.
    start();
    ClosingRelay relay(server->port(), ClosingRelay::Mode::closeReused);
    TaskList tasks{fileTask("big.bin", patterned(5 * MiB4 + 1000, 1))};
    for (int k = 0; k < 4; ++k) tasks.push_back(fileTask("small" + std::to_string(k), patterned(3000 + k, char(k))));
    send(tasks, relay.port());
    for (const auto& task : tasks) {
        EXPECT_EQ(task->state, TransferState::done()) << task->fileName << ": " << task->state.message;
        EXPECT_TRUE(test::readFile(sandbox / "recv" / task->fileName) == test::readFile(task->sourceURL)) << task->fileName;
    }
    // status, meta, 6 chunks and finish, then 4 × (status, meta, chunk, finish), the
    // first small one's status perhaps on a kept connection.
    EXPECT_GE(relay.closes(), 8 + 4 * 3);
    EXPECT_EQ(relay.requests(), 9 + 4 * 4 + relay.closes());
}

TEST_F(UploaderReconnect, NoRequestGoesTwiceAfterPartOfAReplyOrOnANewConnection) {
    start();
    const struct {
        const char* why;
        ClosingRelay::Mode mode;
    } cases[] = {
        // The status goes on a new connection, the meta on the kept one, which closes before
        // the reply's last byte.
        {"part of a reply came", ClosingRelay::Mode::cutReplyOnReuse},
        // The status and the meta each on a new connection closed at once.
        {"a new connection", ClosingRelay::Mode::closeFresh},
    };
    for (const auto& c : cases) {
        ClosingRelay relay(server->port(), c.mode);
        const auto task = fileTask(std::string("f-") + c.why, patterned(3000, 7));
        send({task}, relay.port());
        EXPECT_EQ(task->state.message, "网络连接已中断。") << c.why;
        EXPECT_EQ(relay.requests(), 2) << c.why;
    }
}

TEST_F(UploaderReconnect, ASendOutlastsNewcomersTakingTheSlotsOfAFullServer) {
    // On a full server each newcomer closes the longest-idle connection: between two
    // chunks, that is often the sender's.
    ServerOptions options;
    options.maxConnections = 2;
    start(options);
    std::atomic<bool> sending{true};
    std::atomic<int> newcomers{0};
    std::thread crowd([&] {
        std::deque<std::unique_ptr<test::RawClient>> held;
        for (int k = 0; sending; ++k) {
            // Newcomer after newcomer, each closing the connection that has waited longest
            // for a request, often the sender's; but only while each connection the sender
            // has open carried a chunk: a request that goes on a new connection is not sent
            // again.
            while (sending && !chunkPorts->carried(senderPorts(server->port()))) std::this_thread::yield();
            held.push_back(std::make_unique<test::RawClient>(server->port(), k % 2 ? "127.0.0.2" : "127.0.0.3"));
            if (held.back()->send("GET /api/info HTTP/1.1\r\n\r\n") && held.back()->readReply()) ++newcomers;
            if (held.size() > 4) held.pop_front();
        }
    });
    // One transfer at a time, each taking over the kept connection of the one before, so
    // that a slot is idle whenever the sender comes back.
    TaskList tasks;
    uploader = std::make_unique<Uploader>(loop);
    bool ended = true;
    for (int k = 0; k < 5 && ended; ++k) {
        tasks.push_back(fileTask("f" + std::to_string(k), patterned(6 * MiB4 + k, char(k))));
        uploader->append({tasks.back()});
        uploader->pump(std::nullopt, std::nullopt, "tok", server->port());
        ended = loop.runUntil([&] { return uploader->activeCount() == 0; });
    }
    sending = false;
    crowd.join();
    ASSERT_TRUE(ended);
    for (const auto& task : tasks) {
        EXPECT_EQ(task->state, TransferState::done()) << task->fileName << ": " << task->state.message;
        EXPECT_TRUE(test::readFile(sandbox / "recv" / task->fileName) == test::readFile(task->sourceURL)) << task->fileName;
    }
    EXPECT_GT(chunkPorts->count(), 1u) << "the sender's connection was never closed, " << newcomers << " newcomers";
}

}  // namespace
}  // namespace corvane
