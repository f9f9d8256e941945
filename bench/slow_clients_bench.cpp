// GET /api/info while other clients hold the server's connections: first 1,000 idle
// keep-alive connections, then 256 bodies more sent a byte every 15 s. Prints, for each
// phase, how many probes (each on a new connection from an address of its own) were
// answered within 3 s, their median latency and when the first one was answered.
// Run inside a network namespace (scripts/netns-run); it takes about a minute.

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "engine/http_server.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

int connectFrom(const std::string& source, int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in from{};
    from.sin_family = AF_INET;
    inet_pton(AF_INET, source.c_str(), &from.sin_addr);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(uint16_t(port));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0 ||
        ::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool sendText(int fd, const std::string& text) {
    return ::send(fd, text.data(), text.size(), MSG_NOSIGNAL) == ssize_t(text.size());
}

// Reads one whole reply within the time-out; false when none came.
bool readReply(int fd, std::chrono::milliseconds timeout) {
    const auto due = Clock::now() + timeout;
    std::string got;
    char buf[4096];
    while (true) {
        const size_t end = got.find("\r\n\r\n");
        if (end != std::string::npos) {
            const size_t at = got.find("Content-Length: ");
            const size_t length = at == std::string::npos ? 0 : std::stoul(got.substr(at + 16));
            if (got.size() >= end + 4 + length) return true;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(due - Clock::now());
        if (left.count() <= 0) return false;
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, int(left.count())) <= 0) return false;
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0) return false;
        got.append(buf, size_t(n));
    }
}

const std::string kInfo = "GET /api/info HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";

std::string address(int group, int k) { return "127.0." + std::to_string(group) + "." + std::to_string(k); }

struct Probe {
    double at = 0;       // seconds since the phase began
    double latency = -1;  // seconds; -1 when unanswered
};

Probe probe(int port, int serial, Clock::time_point phaseStart) {
    Probe result;
    result.at = std::chrono::duration<double>(Clock::now() - phaseStart).count();
    const auto start = Clock::now();
    const int fd = connectFrom(address(9, 1 + serial % 250), port);
    if (fd < 0) return result;
    if (sendText(fd, kInfo) && readReply(fd, 3s)) result.latency = std::chrono::duration<double>(Clock::now() - start).count();
    ::close(fd);
    return result;
}

void report(const char* phase, const std::vector<Probe>& probes) {
    std::vector<double> answered;
    double first = -1;
    for (const Probe& p : probes) {
        if (p.latency < 0) continue;
        answered.push_back(p.latency);
        if (first < 0) first = p.at;
    }
    std::sort(answered.begin(), answered.end());
    std::printf("%-34s answered %3zu of %3zu", phase, answered.size(), probes.size());
    if (!answered.empty()) {
        std::printf("  median %.2f ms  first answer at %.1f s", answered[answered.size() / 2] * 1000, first);
    }
    std::printf("\n");
}

std::vector<Probe> probeFor(int port, std::chrono::seconds span, int& serial) {
    std::vector<Probe> probes;
    const auto start = Clock::now();
    while (Clock::now() - start < span) {
        const auto next = Clock::now() + 1s;
        probes.push_back(probe(port, serial++, start));
        std::this_thread::sleep_until(next);
    }
    return probes;
}

}  // namespace

int main() {
    rlimit files{};
    getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);

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
        if (sendText(fd, kInfo)) readReply(fd, 200ms);
        held.push_back(fd);
    }
    int serial = 0;
    report("1,000 idle connections:", probeFor(port, 10s, serial));

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
    report("and 256 slow bodies (first 45 s):", probeFor(port, 45s, serial));
    trickling = false;
    trickle.join();

    for (int fd : held) ::close(fd);
    for (int fd : slow) ::close(fd);
    server.stop();
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
    return 0;
}
