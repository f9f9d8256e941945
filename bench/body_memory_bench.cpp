// Resident memory of the server (in team mode, with the storage rows, in a process of its
// own) while 4 addresses send texts held in memory, a quarter of the 256 MiB body budget
// each: 4 connections of 16 MiB ("quarters", the default), or 3 connections of 25,231,360,
// 25,231,360 and 16,646,144 bytes ("thirds"). Each body is sent all but its last 10,000
// bytes at once, then at 600 B/s. A connection whose body was answered, or that the server
// closed, starts again. Prints the server's resident memory at rest, during the attack and
// after the attacker left, and what newcomers from fresh addresses got, every 2 s, for a
// text, a chat message, a sign-in and a text of 1 MB. Asserts nothing.
//
//   scripts/netns-run build/body_memory_bench [attack seconds, default 120] [server program]
//                                             [quarters|thirds]
//
// The server program defaults to storage_server beside this one.

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <vector>

#include "bench_support.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

constexpr int kPace = 600;         // bytes per second of each body once its bulk is sent
constexpr size_t kTrickled = 10000;  // the bytes of each body sent at that pace

std::vector<size_t> attackLengths(const std::string& shape) {
    if (shape == "thirds") return {25231360, 25231360, 16646144};
    return {16777216, 16777216, 16777216, 16777216};
}

std::string address(int group, int k) { return "127.0." + std::to_string(group) + "." + std::to_string(k); }

// The server program in a child process: it prints its port and serves until its stdin ends.
struct Child {
    pid_t pid = -1;
    int toChild = -1;
    int port = 0;
};

Child startChild(const std::string& program, const fs::path& folder) {
    int in[2], out[2];
    if (::pipe(in) != 0 || ::pipe(out) != 0) return {};
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(in[0], STDIN_FILENO);
        ::dup2(out[1], STDOUT_FILENO);
        ::close(in[1]);
        ::close(out[0]);
        ::execl(program.c_str(), program.c_str(), folder.c_str(), "39500", nullptr);
        ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    char line[32] = {};
    size_t got = 0;
    while (got < sizeof line - 1 && ::read(out[0], line + got, 1) == 1 && line[got] != '\n') ++got;
    ::close(out[0]);
    return Child{pid, in[1], std::atoi(line)};
}

long residentKiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
    }
    return -1;
}

// One attacking connection, again and again until told to stop.
class Attacker {
public:
    Attacker(int port, std::string source, size_t length) : port_(port), source_(std::move(source)), length_(length) {
        thread_ = std::thread([this] { run(); });
    }
    ~Attacker() {
        running_ = false;
        thread_.join();
    }
    int rounds() const { return rounds_; }

private:
    void run() {
        const std::string bulk(length_ - kTrickled, 'x');
        const std::string piece(kPace / 10, 'x');
        while (running_) {
            const int fd = bench::connectFrom(source_, port_);
            if (fd < 0) {
                std::this_thread::sleep_for(100ms);
                continue;
            }
            ++rounds_;
            size_t left = kTrickled;
            bool open = bench::sendText(fd, bench::request("POST", "/api/text", length_) + bulk);
            while (open && running_ && left > 0 && !bench::serverSpoke(fd)) {
                std::this_thread::sleep_for(100ms);
                const size_t n = std::min(left, piece.size());
                open = bench::sendText(fd, piece.substr(0, n));
                left -= n;
            }
            if (open && running_) bench::readReply(fd, 2s);
            ::close(fd);
        }
    }

    const int port_;
    const std::string source_;
    const size_t length_;
    std::atomic<bool> running_{true};
    std::atomic<int> rounds_{0};
    std::thread thread_;
};

// What newcomers got: status → count (0: no answer within 3 s).
struct Tally {
    std::map<int, int> byStatus;
    void print(const char* what) const {
        std::printf("  %-28s", what);
        for (const auto& [status, count] : byStatus) {
            if (status == 0) {
                std::printf("  none %d", count);
            } else {
                std::printf("  %d: %d", status, count);
            }
        }
        std::printf("\n");
    }
};

const std::string kTextBody = R"({"text":"hello"})";
const std::string kChatBody = R"({"text":"hi"})";
const std::string kLoginBody = R"({"user":"nobody","pass":"secret1"})";
const std::string kLongTextBody = R"({"text":")" + std::string(1000000, 'l') + R"("})";

int probe(int port, int& serial, const std::string& target, const std::string& body) {
    const auto p = bench::probe(port, address(9, 1 + serial++ % 250),
                                bench::request("POST", target, body.size()) + body, bench::Clock::now());
    return p.status;
}

}  // namespace

int main(int argc, char** argv) {
    const auto attack = std::chrono::seconds(argc > 1 ? std::atoi(argv[1]) : 120);
    const std::string program =
        argc > 2 ? argv[2] : (fs::absolute(argv[0]).parent_path() / "storage_server").string();
    const std::vector<size_t> lengths = attackLengths(argc > 3 ? argv[3] : "quarters");
    bench::raiseFileLimit();

    const fs::path folder = bench::makeTempFolder("corvane-body-memory-");
    if (folder.empty()) return 1;
    const Child child = startChild(program, folder / "recv");
    if (child.port <= 0) {
        std::fprintf(stderr, "the server (%s) did not start\n", program.c_str());
        return 1;
    }
    const int port = child.port;
    int serial = 0;
    // Resting: after a few requests of each kind, as a server in use would be.
    for (int k = 0; k < 5; ++k) {
        probe(port, serial, "/api/text", kTextBody);
        probe(port, serial, "/api/chat", kChatBody);
        probe(port, serial, "/api/auth/login", kLoginBody);
    }
    std::this_thread::sleep_for(1s);
    const long rest = residentKiB(child.pid);
    std::printf("resident at rest: %ld KiB\n", rest);

    Tally text, chat, login, longText;
    long most = 0;
    int rounds = 0;
    {
        std::vector<std::unique_ptr<Attacker>> attackers;
        for (int a = 0; a < 4; ++a) {
            for (size_t length : lengths) {
                attackers.push_back(std::make_unique<Attacker>(port, address(3, 1 + a), length));
            }
        }
        const auto start = bench::Clock::now();
        std::printf("during the attack (seconds: resident KiB, newcomer text/chat/sign-in/1 MB text statuses):\n");
        for (int second = 2; bench::Clock::now() - start < attack; second += 2) {
            const auto next = start + std::chrono::seconds(second);
            const int t = probe(port, serial, "/api/text", kTextBody);
            const int c = probe(port, serial, "/api/chat", kChatBody);
            const int l = probe(port, serial, "/api/auth/login", kLoginBody);
            const int g = probe(port, serial, "/api/text", kLongTextBody);
            ++text.byStatus[t];
            ++chat.byStatus[c];
            ++login.byStatus[l];
            ++longText.byStatus[g];
            while (bench::Clock::now() < next) {
                std::this_thread::sleep_for(250ms);
                most = std::max(most, residentKiB(child.pid));
            }
            if (second % 10 == 0) std::printf("  %3d s: %7ld KiB  %d/%d/%d/%d\n", second, residentKiB(child.pid), t, c, l, g);
        }
        for (const auto& attacker : attackers) rounds += attacker->rounds();
    }
    std::printf("attack: %d bodies begun; resident at most %ld KiB (%+ld KiB over rest)\n", rounds, most, most - rest);
    std::printf("newcomers during the attack (status: count):\n");
    text.print("POST /api/text");
    chat.print("POST /api/chat");
    login.print("POST /api/auth/login");
    longText.print("POST /api/text (1 MB)");

    std::printf("after the attacker left:\n");
    const auto left = bench::Clock::now();
    for (int second : {1, 3, 10}) {
        std::this_thread::sleep_until(left + std::chrono::seconds(second));
        const long now = residentKiB(child.pid);
        std::printf("  %2d s: %7ld KiB (%+ld KiB over rest)\n", second, now, now - rest);
    }
    std::printf("  a newcomer's text then: %d\n", probe(port, serial, "/api/text", kTextBody));

    ::close(child.toChild);
    int status = 0;
    ::waitpid(child.pid, &status, 0);
    std::error_code ec;
    fs::remove_all(folder, ec);
    return 0;
}
