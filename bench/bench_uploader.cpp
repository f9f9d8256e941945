// End-to-end send figure: one file sent by the Uploader (status, meta, 4 MiB
// chunks, finish) to the engine's server on loopback. Prints MB/s; asserts nothing.
//
//   scripts/netns-run build/bench_uploader [size in MiB, default 1024] [first port, default 39200]

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unistd.h>
#include <vector>

#include "bench_support.h"
#include "engine/http_server.h"
#include "engine/uploader.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

// The bench's main thread: posted work runs when main() drains the queue.
class DrainQueue : public corvane::MainQueue {
public:
    void post(std::function<void()> fn) override {
        {
            std::lock_guard<std::mutex> guard(lock_);
            work_.push_back(std::move(fn));
        }
        wake_.notify_one();
    }
    void postAfter(std::chrono::milliseconds, std::function<void()> fn) override { post(std::move(fn)); }

    void drainUntil(const std::function<bool()>& done) {
        while (!done()) {
            std::function<void()> fn;
            {
                std::unique_lock<std::mutex> guard(lock_);
                wake_.wait(guard, [this] { return !work_.empty(); });
                fn = std::move(work_.front());
                work_.pop_front();
            }
            fn();
        }
    }

private:
    std::mutex lock_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> work_;
};

}  // namespace

int main(int argc, char** argv) {
    const int64_t sizeMiB = argc > 1 ? std::atoll(argv[1]) : 1024;
    const int firstPort = argc > 2 ? std::atoi(argv[2]) : 39200;
    const int64_t size = sizeMiB * 1024 * 1024;

    const fs::path work = fs::temp_directory_path() / ("corvane-bench-uploader-" + std::to_string(getpid()));
    fs::create_directories(work / "outbox");
    const fs::path source = work / "outbox" / "big.bin";
    if (!bench::writeSource(source, size)) {
        std::fprintf(stderr, "cannot write %s\n", source.c_str());
        return 1;
    }
    const auto server = bench::startServer(work / "recv", firstPort, "");
    if (!server) return 1;

    DrainQueue queue;
    auto uploader = std::make_unique<corvane::Uploader>(queue);
    auto task = corvane::Uploader::makeTask(source, "", std::nullopt);
    uploader->append({task});
    const auto start = Clock::now();
    uploader->pump(std::nullopt, std::nullopt, "", server->port());
    queue.drainUntil([&] { return !task->state.active(); });
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();

    const bool done = task->state.kind == corvane::TransferState::Kind::done;
    std::printf("uploader send of %lld MiB to loopback: %s in %.2f s, %.1f MB/s\n", static_cast<long long>(sizeMiB),
                done ? "done" : task->state.message.c_str(), seconds, double(size) / 1e6 / seconds);
    uploader.reset();
    server->stop();
    std::error_code ec;
    fs::remove_all(work, ec);
    return done ? 0 : 1;
}
