// The storage extension's streamed writers and its share: a 1 GiB NAS streamed upload,
// WebDAV PUT and GET of a 1 GiB file (MB/s), the server's peak memory during 32
// simultaneous 64 MiB WebDAV PUTs, and PROPFIND Depth 1 over 1,000 entries (requests/s).
// Client and server share this process; the client sends with sendfile and reads into
// one small buffer, so the peak memory measured is the server's. Prints numbers; asserts nothing.
//
//   scripts/netns-run build/storage_bench [MiB for the large transfers, default 1024] [port, default 39300]

#include <fcntl.h>
#include <fstream>
#include <sys/sendfile.h>

#include "bench_support.h"
#include "storage/mailer.h"
#include "storage/storage_routes.h"
#include "storage/team_store.h"

namespace fs = std::filesystem;

namespace {

// Sends a PUT whose body is the whole file (by sendfile) and reads the reply; the status.
int putFile(int port, const std::string& target, const fs::path& source) {
    const int64_t size = int64_t(fs::file_size(source));
    bench::Connection conn(port);
    const std::string head = "PUT " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: " +
                             std::to_string(size) + "\r\n\r\n";
    if (!conn.ok() || !conn.send(head)) return 0;
    const int file = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
    off_t offset = 0;
    while (offset < size) {
        if (::sendfile(conn.fd(), file, &offset, size_t(size - offset)) <= 0) break;
    }
    ::close(file);
    return conn.reply(nullptr).value_or(0);
}


double mbPerSecond(int64_t bytes, double seconds) { return double(bytes) / 1e6 / seconds; }

void largeTransfers(int port, const fs::path& folder, int64_t size) {
    const fs::path source = folder / "source.bin";
    if (!bench::writeSource(source, size)) return;
    auto start = bench::Clock::now();
    int status = putFile(port, "/api/fs/upload?name=nas.bin", source);
    std::printf("NAS streamed upload of %lld MiB: %.0f MB/s (status %d)\n", (long long)(size >> 20),
                mbPerSecond(size, bench::secondsSince(start)), status);
    fs::remove(folder / "recv" / "nas.bin");

    start = bench::Clock::now();
    status = putFile(port, "/dav/dav.bin", source);
    std::printf("WebDAV PUT of %lld MiB: %.0f MB/s (status %d)\n", (long long)(size >> 20),
                mbPerSecond(size, bench::secondsSince(start)), status);
    fs::remove(source);

    bench::Connection conn(port);
    int64_t bytes = 0;
    start = bench::Clock::now();
    conn.send("GET /dav/dav.bin HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    status = conn.reply(nullptr, &bytes).value_or(0);
    std::printf("WebDAV GET of %lld MiB: %.0f MB/s (status %d)\n", (long long)(bytes >> 20),
                mbPerSecond(bytes, bench::secondsSince(start)), status);
    fs::remove(folder / "recv" / "dav.bin");
}

void simultaneousPuts(int port, const fs::path& folder) {
    constexpr int kPuts = 32;
    const fs::path source = folder / "piece.bin";
    if (!bench::writeSource(source, int64_t(64) << 20)) return;
    bench::resetPeak();
    const long before = bench::peakKiB();
    std::vector<std::thread> threads;
    std::atomic<int> created{0};
    const auto start = bench::Clock::now();
    for (int i = 0; i < kPuts; ++i) {
        threads.emplace_back([&, i] {
            if (putFile(port, "/dav/many/p" + std::to_string(i) + ".bin", source) == 201) ++created;
        });
    }
    for (auto& t : threads) t.join();
    std::printf("%d simultaneous 64 MiB WebDAV PUTs: peak memory %.1f MiB (%.1f MiB above the start), "
                "%d stored, %.0f MB/s in all\n",
                kPuts, double(bench::peakKiB()) / 1024, double(bench::peakKiB() - before) / 1024, created.load(),
                mbPerSecond(int64_t(kPuts) << 26, bench::secondsSince(start)));
    fs::remove(source);
    fs::remove_all(folder / "recv" / "many");
}

void propfindRate(int port, const fs::path& folder) {
    const fs::path listed = folder / "recv" / "listed";
    fs::create_directories(listed);
    for (int i = 0; i < 1000; ++i) std::ofstream(listed / ("entry " + std::to_string(i) + ".txt")) << i;
    for (const int connections : {1, 8}) {
        std::printf("PROPFIND Depth 1 over 1,000 entries, %d connection%s: %.0f requests/s\n", connections,
                    connections == 1 ? "" : "s",
                    bench::requestRate(port, "/dav/listed/", connections, 3.0, "PROPFIND", "Depth: 1\r\n"));
    }
}

}  // namespace

int main(int argc, char** argv) {
    const int64_t size = (argc > 1 ? std::atoll(argv[1]) : 1024) << 20;
    const int port = argc > 2 ? std::atoi(argv[2]) : 39300;
    const fs::path folder = bench::makeTempFolder("corvane-bench-");
    if (folder.empty()) return 1;
    const auto server = bench::startServer(folder / "recv", port, "tok", [](corvane::RouteTable& table) {
        corvane::addStorageRoutes(table, corvane::StorageContext{std::make_shared<corvane::TeamStore>(), std::make_shared<corvane::Mailer>(), corvane::TeamStore::systemClock()});
    });
    if (!server) return 1;
    largeTransfers(server->port(), folder, size);
    simultaneousPuts(server->port(), folder);
    propfindRate(server->port(), folder);
    server->stop();
    std::error_code ec;
    fs::remove_all(folder, ec);
    return 0;
}
