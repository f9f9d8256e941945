// GET /api/info while other clients hold the server's connections: first 1,000 idle
// keep-alive connections, then 256 bodies more sent a byte every 15 s. Prints, for each
// phase, how many probes (each on a new connection from an address of its own) were
// answered within 3 s, their median latency and when the first one was answered.
// Run inside a network namespace (scripts/netns-run); it takes about a minute.

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "bench_support.h"

namespace {

using bench::Clock;
using bench::connectFrom;
using bench::Probe;
using bench::sendText;
using namespace std::chrono_literals;

const std::string kInfo = "GET /api/info HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";

std::string address(int group, int k) { return "127.0." + std::to_string(group) + "." + std::to_string(k); }

std::vector<Probe> probeFor(int port, std::chrono::seconds span, int& serial) {
    return bench::probeFor(span, 1s, [&](Clock::time_point start) {
        return bench::probe(port, address(9, 1 + serial++ % 250), kInfo, start);
    });
}

}  // namespace

int main() {
    bench::raiseFileLimit();

    const auto folder = std::filesystem::temp_directory_path() / ("slow-clients-" + std::to_string(::getpid()));
    corvane::ServerOptions options;
    options.firstPort = 28899;
    options.lastPort = 28918;
    corvane::HTTPServer server("bench", "Bench", "tok", "", folder, options);
    if (!server.start()) return 1;
    const int port = server.port();

    // 1,000 idle keep-alive connections, 32 from each address (the per-address limit).
    std::vector<int> held;
    for (int k = 0; k < 1000; ++k) {
        const int fd = connectFrom(address(1, 1 + k / 32), port);
        if (fd < 0) continue;
        if (sendText(fd, kInfo)) bench::readReply(fd, 200ms);
        held.push_back(fd);
    }
    int serial = 0;
    bench::reportProbes("1,000 idle connections:", probeFor(port, 10s, serial));

    // 256 bodies more, 32 from each of 8 addresses, a byte every 15 s.
    std::vector<int> slow;
    for (int k = 0; k < 256; ++k) {
        const int fd = connectFrom(address(2, 1 + k / 32), port);
        if (fd < 0) continue;
        sendText(fd, "POST /api/text HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 100000\r\n\r\n{");
        slow.push_back(fd);
    }
    std::atomic<bool> trickling{true};
    std::thread trickle([&] {
        while (trickling) {
            for (int k = 0; k < 150 && trickling; ++k) std::this_thread::sleep_for(100ms);
            for (int fd : slow) sendText(fd, " ");
        }
    });
    bench::reportProbes("and 256 slow bodies (first 45 s):", probeFor(port, 45s, serial));
    trickling = false;
    trickle.join();

    for (int fd : held) ::close(fd);
    for (int fd : slow) ::close(fd);
    server.stop();
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
    return 0;
}
