// The Uploader sending one big file while a crowd holds the server's slots: 255 addresses
// each keep one chunk body open at 600 B/s (opening it again whenever the server closes
// it), and a thread connects and closes from a fresh address R times a second. Prints, per
// R, whether the send completed (or the text it failed with), its time, whether the stored
// file is byte-exact, and how often the holders had to open their bodies again. Asserts
// nothing.
//
//   scripts/netns-run build/crowd_send_bench [size in MiB, default 2048] [R ..., default 10 50 100]

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "bench_support.h"
#include "engine/server/http_server.h"
#include "engine/sending/uploader.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

constexpr int kHolders = 255;
constexpr int kPace = 600;  // bytes per second of each held body

// Connects and closes from a fresh address `rate` times a second.
class Newcomers {
public:
    Newcomers(int port, int rate) : port_(port), rate_(rate) {
        thread_ = std::thread([this] { run(); });
    }
    ~Newcomers() {
        running_ = false;
        thread_.join();
    }
    int count() const { return count_; }

private:
    void run() {
        const auto every = std::chrono::nanoseconds(1000000000 / rate_);
        auto next = bench::Clock::now();
        for (int n = 0; running_; ++n) {
            const std::string source = "127.1." + std::to_string((n / 254) % 256) + "." + std::to_string(n % 254 + 1);
            const int fd = bench::connectFrom(source, port_);
            if (fd >= 0) {
                ::close(fd);
                ++count_;
            }
            next += every;
            std::this_thread::sleep_until(next);
        }
    }

    int port_;
    int rate_;
    std::atomic<bool> running_{true};
    std::atomic<int> count_{0};
    std::thread thread_;
};

bool sameBytes(const fs::path& a, const fs::path& b) {
    FILE* fa = std::fopen(a.c_str(), "rb");
    FILE* fb = std::fopen(b.c_str(), "rb");
    bool same = fa && fb;
    std::vector<char> ba(4 << 20), bb(4 << 20);
    while (same) {
        const size_t na = std::fread(ba.data(), 1, ba.size(), fa);
        const size_t nb = std::fread(bb.data(), 1, bb.size(), fb);
        same = na == nb && std::memcmp(ba.data(), bb.data(), na) == 0;
        if (na == 0) break;
    }
    if (fa) std::fclose(fa);
    if (fb) std::fclose(fb);
    return same;
}

void runOnce(const fs::path& work, const fs::path& source, int rate, int firstPort) {
    const fs::path recv = work / ("recv-" + std::to_string(rate));
    const auto server = bench::startServer(recv, firstPort, "");
    if (!server) return;
    auto holders = std::make_unique<bench::SlowHolders>(server->port(), kHolders, "127.0.2.", kPace);
    const auto settle = bench::Clock::now();
    while (server->openConnections() < kHolders && bench::secondsSince(settle) < 10) std::this_thread::sleep_for(50ms);
    const int held = server->openConnections();
    auto newcomers = std::make_unique<Newcomers>(server->port(), rate);

    bench::DrainQueue queue;
    auto uploader = std::make_unique<corvane::Uploader>(queue);
    auto task = corvane::Uploader::makeTask(source, "", std::nullopt);
    uploader->append({task});
    const auto start = bench::Clock::now();
    uploader->pump(std::nullopt, std::nullopt, "", server->port());
    queue.drainUntil([&] { return !task->state.active(); });
    const double seconds = bench::secondsSince(start);
    const bool done = task->state.kind == corvane::TransferState::Kind::done;
    newcomers.reset();
    const int reopened = holders->reopened();
    holders.reset();
    uploader.reset();
    server->stop();

    const bool exact = done && sameBytes(source, recv / source.filename());
    std::printf("R = %3d: %-22s in %6.1f s  byte-exact: %-3s  (%d holders at start, %d bodies reopened)\n", rate,
                done ? "completed" : task->state.message.c_str(), seconds, exact ? "yes" : "no", held, reopened);
    std::fflush(stdout);
    std::error_code ec;
    fs::remove_all(recv, ec);
}

}  // namespace

int main(int argc, char** argv) {
    const int64_t sizeMiB = argc > 1 ? std::atoll(argv[1]) : 2048;
    std::vector<int> rates;
    for (int k = 2; k < argc; ++k) rates.push_back(std::atoi(argv[k]));
    if (rates.empty()) rates = {10, 50, 100};

    const fs::path work = fs::temp_directory_path() / ("corvane-crowd-send-" + std::to_string(getpid()));
    fs::create_directories(work);
    const fs::path source = work / "big.bin";
    if (!bench::writeSource(source, sizeMiB << 20)) {
        std::fprintf(stderr, "cannot write %s\n", source.c_str());
        return 1;
    }
    std::printf("send of %lld MiB from 127.0.0.1, %d addresses holding a chunk body at %d B/s each\n",
                static_cast<long long>(sizeMiB), kHolders, kPace);
    int port = 39400;
    for (int rate : rates) {
        runOnce(work, source, rate, port);
        port += 20;
    }
    std::error_code ec;
    fs::remove_all(work, ec);
    return 0;
}
