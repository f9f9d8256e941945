// A fresh device asking GET /api/info (and sending a short chat message) while other
// devices hold the server: first nobody (for reference), then 8 addresses × 32 bodies kept at 600 B/s (every slot),
// then 4 addresses × 3 texts announcing 25,231,360 bytes each, also at 600 B/s (the body
// budget). Prints, per phase, how many probes (each on a new connection from an address of
// its own) were answered within 3 s and their median latency, how many of the holders the
// server kept, the body bytes it held and its resident memory. Asserts nothing.
//
//   scripts/netns-run build/held_server_bench [seconds per phase, default 15]

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "bench_support.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

constexpr int kPace = 600;  // bytes per second of each held body
const std::string kInfo = "GET /api/info HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
const std::string kChatBody = R"({"text":"hello"})";
const std::string kChat = bench::request("POST", "/api/chat", kChatBody.size()) + kChatBody;

std::string address(int group, int k) { return "127.0." + std::to_string(group) + "." + std::to_string(k); }

long residentKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
    }
    return -1;
}

// Connections from `addresses` addresses of the group, `perAddress` each, that announced a
// body with `head` and send it at kPace.
std::vector<int> announcedBodies(int port, int group, int addresses, int perAddress, const std::string& head) {
    std::vector<int> fds;
    for (int a = 0; a < addresses; ++a) {
        for (int k = 0; k < perAddress; ++k) {
            const int fd = bench::connectFrom(address(group, 1 + a), port);
            if (fd >= 0 && bench::sendText(fd, head)) fds.push_back(fd);
        }
    }
    return fds;
}

void probePhase(const char* name, int port, std::chrono::seconds span, int& serial, const bench::PacedBodies& holders,
                const corvane::HTTPServer& server) {
    std::vector<bench::Probe> info;
    std::vector<bench::Probe> chat;
    info = bench::probeFor(span, 500ms, [&](bench::Clock::time_point start) {
        chat.push_back(bench::probe(port, address(9, 1 + serial++ % 250), kChat, start));
        return bench::probe(port, address(9, 1 + serial++ % 250), kInfo, start);
    });
    std::printf("%s\n", name);
    bench::reportProbes("  GET /api/info from a fresh address:", info);
    int chatOK = 0;
    for (const bench::Probe& p : chat) chatOK += p.status == 200 ? 1 : 0;
    std::printf("  POST /api/chat from a fresh address: 200 for %d of %zu\n", chatOK, chat.size());
    std::printf("  holders still held: %d of %zu; body bytes held %lld; resident %ld KiB\n", holders.open(),
                holders.size(), (long long)server.bodyBytesHeld(), residentKiB());
}

}  // namespace

int main(int argc, char** argv) {
    const auto span = std::chrono::seconds(argc > 1 ? std::atoi(argv[1]) : 15);
    bench::raiseFileLimit();

    const fs::path folder = bench::makeTempFolder("corvane-bench-");
    if (folder.empty()) return 1;
    const auto server = bench::startServer(folder / "recv", 39200, "tok");
    if (!server) return 1;
    const int port = server->port();
    std::printf("resident before: %ld KiB\n", residentKiB());
    int serial = 0;
    {
        bench::PacedBodies none({}, kPace);
        probePhase("nothing held:", port, span, serial, none, *server);
    }
    {
        bench::PacedBodies slots(announcedBodies(port, 2, 8, 32, bench::request("POST", "/api/text", 100000)), kPace);
        std::this_thread::sleep_for(1s);
        probePhase("8 addresses x 32 bodies at 600 B/s:", port, span, serial, slots, *server);
    }
    // The first holders' connections end before the second phase begins.
    for (int k = 0; k < 100 && server->openConnections() > 0; ++k) std::this_thread::sleep_for(50ms);
    {
        bench::PacedBodies budget(announcedBodies(port, 3, 4, 3, bench::request("POST", "/api/text", 25231360)), kPace);
        std::this_thread::sleep_for(1s);
        probePhase("4 addresses x 3 texts of 25,231,360 bytes at 600 B/s:", port, span, serial, budget, *server);
    }
    server->stop();
    std::error_code ec;
    fs::remove_all(folder, ec);
    return 0;
}
