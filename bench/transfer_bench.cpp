// Peer protocol throughput on loopback: a file uploaded through the chunk protocol
// (meta, 4 MiB chunks, finish), downloaded through "/d/", and the request rate of
// GET /api/info on keep-alive connections. Prints numbers; asserts nothing.
//
//   scripts/netns-run build/transfer_bench [size in MiB, default 1024] [port, default 39000]

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <optional>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "bench_support.h"
#include "engine/server/http_server.h"

namespace fs = std::filesystem;
using bench::Clock;
using bench::Connection;
using bench::secondsSince;

namespace {

double download(int port, int64_t& received) {
    Connection conn(port);
    const auto start = Clock::now();
    const bool ok = conn.send(bench::request("GET", "/d/bench.bin", 0)) && conn.reply(nullptr, &received) == 200;
    return ok ? secondsSince(start) : -1;
}

}  // namespace

int main(int argc, char** argv) {
    const int64_t mib = argc > 1 ? std::atoll(argv[1]) : 1024;
    const int port = argc > 2 ? std::atoi(argv[2]) : 39000;
    const int64_t size = mib << 20;

    const fs::path folder = bench::makeTempFolder("corvane-bench-");
    if (folder.empty()) return 1;
    const fs::path source = folder / "source.bin";
    std::printf("file: %lld MiB\n", static_cast<long long>(mib));
    if (!bench::writeSource(source, size)) {
        std::fprintf(stderr, "cannot write %s\n", source.c_str());
        return 1;
    }
    const auto server = bench::startServer(folder / "recv", port, "tok");
    if (!server) return 1;

    const bench::UploadTimes times = bench::upload(server->port(), source, size);
    const double up = times.total;
    if (up > 0) {
        std::printf("upload (meta, 4 MiB chunks, finish): %.1f MB/s (%.2f s, of which the finish's join %.3f s)\n",
                    double(size) / up / 1e6, up, times.finish);
    }

    int64_t received = 0;
    const double down = download(server->port(), received);
    if (down > 0) {
        std::printf("download (/d/): %.1f MB/s (%.2f s, %lld bytes)\n", double(received) / down / 1e6, down,
                    static_cast<long long>(received));
    }

    for (const int connections : {1, 16}) {
        std::printf("GET /api/info, %d keep-alive connection%s: %.0f requests/s\n", connections,
                    connections == 1 ? "" : "s", bench::requestRate(server->port(), "/api/info", connections, 2.0));
    }

    server->stop();
    std::error_code ec;
    fs::remove_all(folder, ec);
    return up > 0 && down > 0 ? 0 : 1;
}
