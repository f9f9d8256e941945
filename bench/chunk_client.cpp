// Drives the engine's chunk-upload protocol against a server in another process on
// 127.0.0.1 (bench/nginx_compare.py starts it). Prints numbers; asserts nothing.
//
//   build/chunk_client upload PORT FILE   one file over one keep-alive connection (meta,
//                                         4 MiB chunks, finish): total and finish seconds
//   build/chunk_client burst PORT [N=32]  meta for N uploads, then N connections each PUT
//                                         one 4 MiB chunk at the same moment; the uploads
//                                         are deleted afterwards
//   build/chunk_client puts PORT [N=32]   N connections each PUT a 4 MiB /burst-K.bin at
//                                         the same moment (the burst against nginx)

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <latch>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "bench_support.h"

namespace {

int uploadFile(int port, const std::filesystem::path& file) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(file, ec);
    if (ec) {
        std::fprintf(stderr, "cannot read %s\n", file.c_str());
        return 1;
    }
    const bench::UploadTimes times = bench::upload(port, file, int64_t(size));
    if (times.total < 0) return 1;
    std::printf("total_s %.4f finish_s %.4f bytes %lld\n", times.total, times.finish, static_cast<long long>(size));
    return 0;
}

std::string burstID(int index) {
    char id[17];
    std::snprintf(id, sizeof id, "b0a5%012x", index);
    return id;
}

// Whether every request on the connection got a 200.
bool sendEach(bench::Connection& conn, const std::vector<std::string>& heads) {
    for (const auto& head : heads) {
        if (!conn.send(head) || conn.reply(nullptr) != 200) return false;
    }
    return true;
}

// Each of `count` connections sends its request with a 4 MiB body at the same moment; the
// seconds they took and how many got `expected`. Connection 0 is `first` when given.
struct BurstResult {
    double seconds = 0;
    int ok = 0;
};
BurstResult sendAtOnce(int port, int count, const std::function<std::string(int)>& head, int expected,
                       bench::Connection* first) {
    const std::vector<char> body(bench::kChunk, 'x');
    std::latch connected(count + 1);
    std::atomic<int> replied{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < count; ++i) {
        threads.emplace_back([&, i] {
            std::optional<bench::Connection> own;
            if (i > 0 || !first) own.emplace(port);
            bench::Connection& conn = own ? *own : *first;
            connected.arrive_and_wait();
            if (conn.ok() && conn.send(head(i), body.data(), body.size()) && conn.reply(nullptr) == expected) ++replied;
        });
    }
    connected.arrive_and_wait();
    const auto start = bench::Clock::now();
    for (auto& t : threads) t.join();
    return {bench::secondsSince(start), replied.load()};
}

int printBurst(const BurstResult& result, int count) {
    std::printf("burst_s %.4f ok %d of %d\n", result.seconds, result.ok, count);
    return result.ok == count ? 0 : 1;
}

// The server takes at most 32 connections from one address. The connection that sent
// the metas carries one of the chunks, and connections closed just before (by earlier
// measurements) get a moment to end, so that the burst is exactly `count` connections.
int burst(int port, int count) {
    const std::string meta = "{\"name\":\"burst.bin\",\"rel\":\"\",\"size\":" + std::to_string(bench::kChunk) +
                             ",\"chunks\":1,\"mtime\":0}";
    std::vector<std::string> metas;
    for (int i = 0; i < count; ++i) {
        metas.push_back(bench::request("PUT", "/api/upload/" + burstID(i) + "/meta", meta.size()) + meta);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    bench::Connection first(port);
    if (!sendEach(first, metas)) {
        std::fprintf(stderr, "burst meta refused\n");
        return 1;
    }
    const BurstResult result = sendAtOnce(
        port, count,
        [](int i) { return bench::request("PUT", "/api/upload/" + burstID(i) + "/0", bench::kChunk); }, 200, &first);
    std::vector<std::string> deletes;
    for (int i = 0; i < count; ++i) deletes.push_back(bench::request("DELETE", "/api/upload/" + burstID(i), 0));
    sendEach(first, deletes);
    return printBurst(result, count);
}

// The same burst as plain PUTs of /burst-N.bin, for a server that stores a PUT body as a file.
int plainPuts(int port, int count) {
    const BurstResult result = sendAtOnce(
        port, count,
        [](int i) { return bench::request("PUT", "/burst-" + std::to_string(i) + ".bin", bench::kChunk); }, 201,
        nullptr);
    return printBurst(result, count);
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "upload" && argc == 4) return uploadFile(std::atoi(argv[2]), argv[3]);
    if (mode == "burst" && argc >= 3) return burst(std::atoi(argv[2]), argc > 3 ? std::atoi(argv[3]) : 32);
    if (mode == "puts" && argc >= 3) return plainPuts(std::atoi(argv[2]), argc > 3 ? std::atoi(argv[3]) : 32);
    std::fprintf(stderr, "usage: chunk_client upload PORT FILE | burst PORT [N] | puts PORT [N]\n");
    return 2;
}
