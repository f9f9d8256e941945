// New uploads from fresh devices while the server holds all the unfinished uploads it
// may: address X makes 32 uploads and keeps a chunk body open on each at 600 B/s (32
// connections), 32 other addresses hold 968 more (1,000 in all). Then 30 fresh addresses
// each send the meta of a new upload, one every 200 ms. Prints how many were accepted,
// the replies they got, how many of X's bodies the server still reads, and how many
// uploads each kind of holder still has.
//
// Then the send queue sends a folder (two files at once) to a server beside 998 uploads
// held by as many addresses, and a fresh address sends one meta mid-send; and beside 999
// with no newcomer. Prints, per file, whether it was stored and how its send ended.
// Asserts nothing.
//
//   scripts/netns-run build/upload_share_bench

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "bench_support.h"
#include "engine/sending/uploader.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

constexpr int kPace = 600;  // bytes per second of each held body
const std::string kMeta = R"({"name":"x.bin","rel":"","size":4194304,"chunks":1,"mtime":0})";

std::string address(int group, int k) { return "127.0." + std::to_string(group) + "." + std::to_string(k); }

// The id of an upload: 16 hex digits from a group, an address and a number.
std::string uploadID(int group, int who, int k) {
    char id[17];
    std::snprintf(id, sizeof id, "%04x%04x%08x", group, who, k);
    return id;
}

int putMeta(int port, const std::string& source, const std::string& id) {
    const int fd = bench::connectFrom(source, port);
    if (fd < 0) return 0;
    int status = 0;
    if (bench::sendText(fd, bench::request("PUT", "/api/upload/" + id + "/meta", kMeta.size()) + kMeta)) {
        status = bench::readReply(fd, 3s).value_or(0);
    }
    ::close(fd);
    return status;
}

// Connections from `source` that each announced a 4 MiB chunk body of one of the uploads.
std::vector<int> announcedChunks(int port, const std::string& source, const std::vector<std::string>& ids) {
    std::vector<int> fds;
    for (const std::string& id : ids) {
        const int fd = bench::connectFrom(source, port);
        if (fd >= 0 && bench::sendText(fd, bench::request("PUT", "/api/upload/" + id + "/0", bench::kChunk))) {
            fds.push_back(fd);
        }
    }
    return fds;
}

// How many part folders of each group's ids the parts folder holds.
std::map<int, int> heldByGroup(const fs::path& parts) {
    std::map<int, int> held;
    for (const auto& entry : fs::directory_iterator(parts)) {
        const std::string name = entry.path().filename().string();
        if (name.size() == 16 && !name.starts_with(".")) ++held[std::stoi(name.substr(0, 4), nullptr, 16)];
    }
    return held;
}

// Address k of many: 127.0.(10 + k / 250).(1 + k % 250).
std::string manyAddress(int k) { return address(10 + k / 250, 1 + k % 250); }

// The send queue sends a folder of two files of `size` bytes to a server where `holders`
// addresses hold one upload each; with `newcomer`, a fresh address sends a meta once both
// files have sent 64 MiB.
void sendFolderBeside(int holders, bool newcomer, int64_t size) {
    const fs::path folder = bench::makeTempFolder("corvane-bench-");
    if (folder.empty()) return;
    const auto server = bench::startServer(folder / "recv", 39320, "tok");
    if (!server) return;
    const int port = server->port();
    int made = 0;
    for (int k = 0; k < holders; ++k) made += putMeta(port, manyAddress(k), uploadID(4, k, 0)) == 200;
    fs::create_directories(folder / "out" / "pics");
    for (const char* name : {"f00.bin", "f01.bin"}) {
        std::error_code ec;
        std::ofstream(folder / "out" / "pics" / name).close();
        fs::resize_file(folder / "out" / "pics" / name, uintmax_t(size), ec);
    }
    bench::DrainQueue queue;
    corvane::Uploader uploader(queue);
    const auto tasks = uploader.expandDirectory(folder / "out" / "pics", std::nullopt).tasks;
    uploader.append(tasks);
    const auto start = bench::Clock::now();
    uploader.pump(std::nullopt, std::nullopt, "", port);
    int newcomerStatus = 0;
    queue.drainUntil([&] {
        const bool midSend = tasks[0]->sent >= (64 << 20) && tasks[1]->sent >= (64 << 20);
        if (newcomer && newcomerStatus == 0 && midSend) newcomerStatus = putMeta(port, address(9, 1), uploadID(9, 0, 0));
        return uploader.activeCount() == 0;
    });
    std::printf("folder of 2 x %lld MiB beside %d held (made %d)%s: %.1f s\n", (long long)(size >> 20), holders, made,
                newcomer ? (", newcomer's meta " + std::to_string(newcomerStatus)).c_str() : ", no newcomer",
                bench::secondsSince(start));
    for (const auto& task : tasks) {
        const bool stored = fs::exists(folder / "recv" / "pics" / task->fileName);
        const bool done = task->state.kind == corvane::TransferState::Kind::done;
        std::printf("  %s: %s, %s\n", task->fileName.c_str(), stored ? "stored" : "not stored",
                    done ? "done" : ("failed \"" + task->state.message + "\"").c_str());
    }
    server->stop();
    std::error_code ec;
    fs::remove_all(folder, ec);
}

}  // namespace

int main() {
    bench::raiseFileLimit();

    const fs::path folder = bench::makeTempFolder("corvane-bench-");
    if (folder.empty()) return 1;
    const auto server = bench::startServer(folder / "recv", 39300, "tok");
    if (!server) return 1;
    const int port = server->port();

    // X: group 1; the 32 others: group 2; the fresh addresses: group 3.
    std::vector<std::string> mine;
    for (int k = 0; k < 32; ++k) {
        mine.push_back(uploadID(1, 1, k));
        putMeta(port, address(1, 1), mine.back());
    }
    int others = 0;
    for (int a = 0; a < 32; ++a) {
        const int count = a < 8 ? 31 : 30;  // 968 in all
        for (int k = 0; k < count; ++k) others += putMeta(port, address(2, 1 + a), uploadID(2, a, k)) == 200;
    }
    bench::PacedBodies writing(announcedChunks(port, address(1, 1), mine), kPace);
    std::this_thread::sleep_for(1s);
    std::map<int, int> held = heldByGroup(folder / "recv" / ".parts");
    std::printf("held before: X %d (bodies open %d of %zu), others %d (made %d)\n", held[1], writing.open(), writing.size(),
                held[2], others);

    std::map<int, int> replies;
    int accepted = 0;
    for (int k = 0; k < 30; ++k) {
        const auto next = bench::Clock::now() + 200ms;
        const int status = putMeta(port, address(3, 1 + k), uploadID(3, k, 0));
        ++replies[status];
        accepted += status == 200;
        std::this_thread::sleep_until(next);
    }
    held = heldByGroup(folder / "recv" / ".parts");
    std::printf("new uploads from a fresh address accepted: %d of 30 (", accepted);
    for (const auto& [status, count] : replies) std::printf(" %d x%d", status, count);
    std::printf(" )\n");
    std::printf("held after: X %d (bodies open %d), others %d, fresh %d\n", held[1], writing.open(), held[2], held[3]);

    server->stop();
    std::error_code ec;
    fs::remove_all(folder, ec);

    sendFolderBeside(998, true, int64_t(1) << 30);
    sendFolderBeside(999, false, int64_t(256) << 20);
    return 0;
}
