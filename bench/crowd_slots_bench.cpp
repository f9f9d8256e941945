// Which connection a full server closes for a newcomer, seen from the devices that send.
//
// 1. 254 addresses each keep one chunk body open at 600 B/s and one address keeps two
//    chunk bodies going at 1.2 MB/s each (256 slots taken). A newcomer from a fresh
//    address asks GET /api/info every 500 ms for 20 s; then the Uploader sends a 64 MiB
//    file. Prints the newcomers answered and the send's outcome and time.
// 2. 254 addresses each keep one chunk body open at 600 B/s; the Uploader sends a folder of
//    two 6 MiB files (both at once) through a link of 300 KB/s per connection from one
//    address, with a newcomer asking GET /api/info every 2 s, and once with none. Prints
//    each file's outcome and when it ended, and the newcomers answered.
//
// Asserts nothing.
//
//   scripts/netns-run build/crowd_slots_bench

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <list>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench_support.h"
#include "engine/sending/uploader.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

constexpr int kHolders = 254;
constexpr int kSlowPace = 600;  // bytes per second of each slow body
const std::string kInfo = "GET /api/info HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";

// A fresh source address for the nth newcomer.
std::string newcomerAddress(int n) { return "127.1." + std::to_string(n / 254) + "." + std::to_string(n % 254 + 1); }

// Connections from one address, each sending chunk bodies one after another at `pace`
// bytes a second, a tenth every 100 ms, on the same connection while the server keeps it.
class FastSenders {
public:
    FastSenders(int port, const std::string& address, int count, int pace) {
        for (int k = 0; k < count; ++k) {
            threads_.emplace_back([this, port, address, k, pace] { run(port, address, k, pace); });
        }
    }
    FastSenders(const FastSenders&) = delete;
    FastSenders& operator=(const FastSenders&) = delete;
    ~FastSenders() {
        running_ = false;
        for (auto& t : threads_) t.join();
    }
    int stored() const { return stored_; }
    int cut() const { return cut_; }

private:
    void run(int port, const std::string& address, int k, int pace) {
        const std::string piece(size_t(pace / 10), 'f');
        int index = 0;
        while (running_) {
            const int fd = bench::connectFrom(address, port);
            if (fd < 0) continue;
            bool ok = true;
            while (ok && running_) {
                const std::string target = "/api/upload/fa57fa57fa57fa5" + std::to_string(k) + "/" + std::to_string(index % 64);
                ok = bench::sendText(fd, bench::request("PUT", target, bench::kChunk));
                for (size_t sent = 0; ok && running_ && sent < bench::kChunk; sent += piece.size()) {
                    std::this_thread::sleep_for(100ms);
                    ok = !bench::serverSpoke(fd) && bench::sendText(fd, piece.substr(0, bench::kChunk - sent));
                }
                if (!running_) break;
                ok = ok && bench::readReply(fd, 5s) == 200;
                if (ok) ++stored_;
                ++index;
            }
            if (running_) ++cut_;
            ::close(fd);
        }
    }

    std::atomic<bool> running_{true};
    std::atomic<int> stored_{0};
    std::atomic<int> cut_{0};
    std::vector<std::thread> threads_;
};

// A link in front of the server: each connection made to it goes on to the server from
// one source address, the client's bytes held to `pace` bytes a second, the server's
// passed at once. When either side closes, both do.
class PacedLink {
public:
    PacedLink(int serverPort, std::string source, int pace) : serverPort_(serverPort), source_(std::move(source)), pace_(pace) {
        listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        ::bind(listen_, reinterpret_cast<sockaddr*>(&addr), len);
        ::listen(listen_, 16);
        ::getsockname(listen_, reinterpret_cast<sockaddr*>(&addr), &len);
        port_ = ntohs(addr.sin_port);
        acceptor_ = std::thread([this] { acceptLoop(); });
    }
    PacedLink(const PacedLink&) = delete;
    PacedLink& operator=(const PacedLink&) = delete;
    ~PacedLink() {
        running_ = false;
        acceptor_.join();
        for (auto& t : links_) t.join();
        ::close(listen_);
    }
    int port() const { return port_; }
    int connections() const { return connections_; }

private:
    void acceptLoop() {
        while (running_) {
            pollfd p{listen_, POLLIN, 0};
            if (::poll(&p, 1, 20) != 1) continue;
            const int client = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0) continue;
            ++connections_;
            links_.emplace_back([this, client] { carry(client); });
        }
    }

    void carry(int client) {
        const int server = bench::connectFrom(source_, serverPort_);
        std::vector<char> buffer(1 << 16);
        double allowance = 0;
        auto last = bench::Clock::now();
        bool open = server >= 0;
        while (open && running_) {
            const auto now = bench::Clock::now();
            allowance = std::min(allowance + pace_ * std::chrono::duration<double>(now - last).count(), pace_ / 10.0);
            last = now;
            pollfd p[2] = {{server, POLLIN, 0}, {client, short(allowance >= 1 ? POLLIN : 0), 0}};
            if (::poll(p, 2, 10) <= 0) continue;
            if (p[0].revents) open = pass(server, client, buffer.data(), buffer.size());
            if (open && p[1].revents) {
                const size_t most = std::min(buffer.size(), size_t(allowance));
                const ssize_t n = ::recv(client, buffer.data(), most, 0);
                open = n > 0 && bench::sendText(server, std::string(buffer.data(), size_t(n)));
                allowance -= double(std::max<ssize_t>(n, 0));
            }
        }
        if (server >= 0) ::close(server);
        ::close(client);
    }

    static bool pass(int from, int to, char* buffer, size_t size) {
        const ssize_t n = ::recv(from, buffer, size, 0);
        return n > 0 && bench::sendText(to, std::string(buffer, size_t(n)));
    }

    int serverPort_;
    std::string source_;
    int pace_;
    int listen_ = -1;
    int port_ = 0;
    std::atomic<bool> running_{true};
    std::atomic<int> connections_{0};
    std::thread acceptor_;
    std::list<std::thread> links_;  // the acceptor's, then the destructor's
};

// Waits until the server holds `count` connections, 20 s at most; how many it holds.
int settle(corvane::HTTPServer& server, int count) {
    const auto start = bench::Clock::now();
    while (server.openConnections() < count && bench::secondsSince(start) < 20) std::this_thread::sleep_for(50ms);
    return server.openConnections();
}

// Sends the tasks through a new Uploader to the port; each task's end in seconds.
std::vector<double> sendAll(const std::vector<std::shared_ptr<corvane::TransferTask>>& tasks, int port) {
    bench::DrainQueue queue;
    auto uploader = std::make_unique<corvane::Uploader>(queue);
    uploader->append(tasks);
    std::vector<double> ended(tasks.size(), -1);
    const auto start = bench::Clock::now();
    uploader->pump(std::nullopt, std::nullopt, "", port);
    queue.drainUntil([&] {
        bool all = true;
        for (size_t k = 0; k < tasks.size(); ++k) {
            if (ended[k] < 0 && !tasks[k]->state.active()) ended[k] = bench::secondsSince(start);
            all = all && ended[k] >= 0;
        }
        return all;
    });
    return ended;
}

std::string outcome(const corvane::TransferTask& task) {
    return task.state.kind == corvane::TransferState::Kind::done ? "completed" : "failed \"" + task.state.message + "\"";
}

void fastBesideSlow(const fs::path& work, int firstPort) {
    std::printf("1. two bodies at 1.2 MB/s from one address, %d at %d B/s from one address each\n", kHolders, kSlowPace);
    const auto server = bench::startServer(work / "recv-1", firstPort, "");
    if (!server) return;
    auto fast = std::make_unique<FastSenders>(server->port(), "127.0.4.1", 2, 1200000);
    auto holders = std::make_unique<bench::SlowHolders>(server->port(), kHolders, "127.0.2.", kSlowPace);
    std::printf("   %d connections held\n", settle(*server, kHolders + 2));
    int n = 0;
    const auto probes = bench::probeFor(20s, 500ms, [&](bench::Clock::time_point start) {
        return bench::probe(server->port(), newcomerAddress(n++), kInfo, start);
    });
    bench::reportProbes("   newcomers, GET /api/info every 500 ms:", probes);

    const fs::path source = work / "sent.bin";
    bench::writeSource(source, int64_t(64) << 20);
    const auto task = corvane::Uploader::makeTask(source, "", std::nullopt);
    const auto ended = sendAll({task}, server->port());
    std::printf("   Uploader, 64 MiB: %s after %.2f s\n", outcome(*task).c_str(), ended[0]);
    std::printf("   fast bodies stored %d, cut %d; slow bodies opened again %d\n", fast->stored(), fast->cut(),
                holders->reopened());
    std::fflush(stdout);
    fast.reset();
    holders.reset();
    server->stop();
}

void folderOverASlowLink(const fs::path& work, int firstPort, bool newcomers) {
    std::printf("2. a folder of two 6 MiB files at 300 KB/s per connection beside %d bodies at %d B/s, %s\n", kHolders,
                kSlowPace, newcomers ? "a newcomer every 2 s" : "no newcomers");
    const auto server = bench::startServer(work / (newcomers ? "recv-2b" : "recv-2a"), firstPort, "");
    if (!server) return;
    auto holders = std::make_unique<bench::SlowHolders>(server->port(), kHolders, "127.0.2.", kSlowPace);
    std::printf("   %d connections held\n", settle(*server, kHolders));
    PacedLink link(server->port(), "127.0.9.1", 300000);

    const fs::path folder = work / (newcomers ? "folder-b" : "folder-a");
    fs::create_directories(folder);
    bench::writeSource(folder / "a.bin", int64_t(6) << 20);
    bench::writeSource(folder / "b.bin", int64_t(6) << 20);
    bench::DrainQueue scratch;
    corvane::Uploader lister(scratch);
    const auto tasks = lister.expandDirectory(folder, std::nullopt).tasks;

    std::atomic<bool> sending{true};
    std::vector<bench::Probe> probes;
    std::thread crowd([&] {
        if (!newcomers) return;
        int n = 0;
        const auto start = bench::Clock::now();
        while (sending) {
            const auto next = bench::Clock::now() + 2s;
            probes.push_back(bench::probe(server->port(), newcomerAddress(n++), kInfo, start));
            while (sending && bench::Clock::now() < next) std::this_thread::sleep_for(20ms);
        }
    });
    const auto ended = sendAll(tasks, link.port());
    sending = false;
    crowd.join();
    for (size_t k = 0; k < tasks.size(); ++k) {
        std::printf("   %s: %s at %.1f s\n", tasks[k]->fileName.c_str(), outcome(*tasks[k]).c_str(), ended[k]);
    }
    std::printf("   connections through the link %d\n", link.connections());
    if (newcomers) bench::reportProbes("   newcomers, GET /api/info every 2 s:", probes);
    std::fflush(stdout);
    holders.reset();
    server->stop();
}

}  // namespace

int main() {
    bench::raiseFileLimit();
    const fs::path work = bench::makeTempFolder("corvane-crowd-slots-");
    if (work.empty()) return 1;
    fastBesideSlow(work, 39600);
    folderOverASlowLink(work, 39620, false);
    folderOverASlowLink(work, 39640, true);
    std::error_code ec;
    fs::remove_all(work, ec);
    return 0;
}
