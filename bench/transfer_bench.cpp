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
#include "engine/http_server.h"

namespace fs = std::filesystem;
using bench::Clock;
using bench::Connection;
using bench::secondsSince;

namespace {

constexpr size_t kChunk = 4194304;

std::string request(const std::string& method, const std::string& target, size_t length) {
    return method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: " + std::to_string(length) +
           "\r\n\r\n";
}

// A source file of pseudo-random bytes.
// Meta, every chunk and finish on one connection; seconds, or a negative value on failure.
double upload(int port, const fs::path& source, int64_t size, double& finishSeconds) {
    const std::string id = "beefcafe00112233";
    const int64_t chunks = (size + int64_t(kChunk) - 1) / int64_t(kChunk);
    const int file = ::open(source.c_str(), O_RDONLY);
    if (file < 0) return -1;
    Connection conn(port);
    std::vector<char> buffer(kChunk);
    const auto start = Clock::now();
    const std::string meta = "{\"name\":\"bench.bin\",\"rel\":\"\",\"size\":" + std::to_string(size) +
                             ",\"chunks\":" + std::to_string(chunks) + ",\"mtime\":0}";
    bool ok = conn.send(request("PUT", "/api/upload/" + id + "/meta", meta.size()) + meta) && conn.reply(nullptr) == 200;
    for (int64_t k = 0; ok && k < chunks; ++k) {
        const ssize_t n = ::pread(file, buffer.data(), kChunk, off_t(k) * off_t(kChunk));
        ok = n > 0 && conn.send(request("PUT", "/api/upload/" + id + "/" + std::to_string(k), size_t(n)),
                                buffer.data(), size_t(n)) &&
             conn.reply(nullptr) == 200;
    }
    std::string body;
    const auto finishStart = Clock::now();
    ok = ok && conn.send(request("POST", "/api/upload/" + id + "/finish", 2) + "{}") && conn.reply(&body) == 200;
    finishSeconds = secondsSince(finishStart);
    const double seconds = secondsSince(start);
    ::close(file);
    if (!ok) std::fprintf(stderr, "upload failed: %s\n", body.c_str());
    return ok ? seconds : -1;
}

double download(int port, int64_t& received) {
    Connection conn(port);
    const auto start = Clock::now();
    const bool ok = conn.send(request("GET", "/d/bench.bin", 0)) && conn.reply(nullptr, &received) == 200;
    return ok ? secondsSince(start) : -1;
}

}  // namespace

int main(int argc, char** argv) {
    const int64_t mib = argc > 1 ? std::atoll(argv[1]) : 1024;
    const int port = argc > 2 ? std::atoi(argv[2]) : 39000;
    const int64_t size = mib << 20;

    std::string pattern = (fs::temp_directory_path() / "corvane-bench-XXXXXX").string();
    if (!mkdtemp(pattern.data())) return 1;
    const fs::path folder = pattern;
    const fs::path source = folder / "source.bin";
    std::printf("file: %lld MiB\n", static_cast<long long>(mib));
    if (!bench::writeSource(source, size)) {
        std::fprintf(stderr, "cannot write %s\n", source.c_str());
        return 1;
    }
    const auto server = bench::startServer(folder / "recv", port, "tok");
    if (!server) return 1;

    double finish = 0;
    const double up = upload(server->port(), source, size, finish);
    if (up > 0) {
        std::printf("upload (meta, 4 MiB chunks, finish): %.1f MB/s (%.2f s, of which the finish's join %.3f s)\n",
                    double(size) / up / 1e6, up, finish);
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
