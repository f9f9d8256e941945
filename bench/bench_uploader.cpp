// End-to-end send figures of the Uploader (status, meta, 4 MiB chunks, finish) to the
// engine's server on loopback. Prints MB/s or files/s; asserts nothing. The first form
// sends one file to a server in this process; the second sends a given file, the third
// every file of a folder (as dropping the folder on a peer does), to a receiver already
// running in another process on 127.0.0.1:PORT.
//
//   scripts/netns-run build/bench_uploader [size in MiB, default 1024] [first port, default 39200]
//   scripts/netns-run build/bench_uploader --to PORT FILE
//   scripts/netns-run build/bench_uploader --folder PORT FOLDER

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
#include "engine/server/http_server.h"
#include "engine/sending/uploader.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

// Sends the file through a fresh send queue to 127.0.0.1:port; the seconds it took, and
// whether the task ended done (its message otherwise).
struct SendResult {
    double seconds = 0;
    bool done = false;
    std::string message;
};

// Runs the tasks through a fresh send queue to 127.0.0.1:port until none is active.
SendResult sendTasks(corvane::Uploader& uploader, bench::DrainQueue& queue,
                     const std::vector<std::shared_ptr<corvane::TransferTask>>& tasks, int port) {
    uploader.append(tasks);
    const auto start = Clock::now();
    uploader.pump(std::nullopt, std::nullopt, "", port);
    // Tasks end in about queue order and an ended one never runs again, so the check moves
    // past the ended ones once instead of looking at every task after every piece of work.
    size_t ended = 0;
    queue.drainUntil([&] {
        while (ended < tasks.size() && !tasks[ended]->state.active()) ++ended;
        return ended == tasks.size();
    });
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    for (const auto& task : tasks) {
        if (task->state.kind != corvane::TransferState::Kind::done) {
            return {seconds, false, task->fileName + ": " + task->state.message};
        }
    }
    return {seconds, true, "done"};
}

SendResult sendFile(const fs::path& file, int port) {
    bench::DrainQueue queue;
    auto uploader = std::make_unique<corvane::Uploader>(queue);
    auto task = corvane::Uploader::makeTask(file, "", std::nullopt);
    if (!task) return {0, false, "cannot read " + file.string()};
    return sendTasks(*uploader, queue, {task}, port);
}

void report(const SendResult& sent, int64_t size) {
    std::printf("uploader send of %lld MiB to loopback: %s in %.4f s, %.1f MB/s\n", static_cast<long long>(size >> 20),
                sent.message.c_str(), sent.seconds, double(size) / 1e6 / sent.seconds);
}

int sendToRunningReceiver(int port, const fs::path& file) {
    std::error_code ec;
    const auto size = fs::file_size(file, ec);
    if (ec) {
        std::fprintf(stderr, "cannot read %s\n", file.c_str());
        return 1;
    }
    const SendResult sent = sendFile(file, port);
    report(sent, int64_t(size));
    return sent.done ? 0 : 1;
}

int sendFolderToRunningReceiver(int port, const fs::path& folder) {
    bench::DrainQueue queue;
    auto uploader = std::make_unique<corvane::Uploader>(queue);
    const auto tasks = uploader->expandDirectory(folder, std::nullopt).tasks;
    if (tasks.empty()) {
        std::fprintf(stderr, "no files in %s\n", folder.c_str());
        return 1;
    }
    const SendResult sent = sendTasks(*uploader, queue, tasks, port);
    std::printf("uploader send of a folder of %zu files to loopback: %s in %.4f s, %.1f files/s\n", tasks.size(),
                sent.message.c_str(), sent.seconds, double(tasks.size()) / sent.seconds);
    return sent.done ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == "--to") return sendToRunningReceiver(std::atoi(argv[2]), argv[3]);
    if (argc == 4 && std::string(argv[1]) == "--folder") {
        return sendFolderToRunningReceiver(std::atoi(argv[2]), argv[3]);
    }
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

    const SendResult sent = sendFile(source, server->port());
    report(sent, size);
    server->stop();
    std::error_code ec;
    fs::remove_all(work, ec);
    return sent.done ? 0 : 1;
}
