// Small requests on keep-alive connections: GET /api/info and the upload status
// GET /api/upload/<id> (a pattern row), on 1 and 16 connections. Shows the cost of
// parsing, the gates and the dispatch per request. Prints numbers; asserts nothing.
//
//   scripts/netns-run build/request_rate_bench [seconds per figure, default 3] [port, default 39100]

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "bench_support.h"

namespace fs = std::filesystem;

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 3.0;
    const int port = argc > 2 ? std::atoi(argv[2]) : 39100;
    const fs::path folder = bench::makeTempFolder("corvane-bench-");
    if (folder.empty()) return 1;
    const auto server = bench::startServer(folder / "recv", port, "tok");
    if (!server) return 1;

    for (const char* target : {"/api/info", "/api/upload/0123456789abcdef"}) {
        for (const int connections : {1, 16}) {
            std::printf("GET %s, %d keep-alive connection%s: %.0f requests/s\n", target, connections,
                        connections == 1 ? "" : "s", bench::requestRate(server->port(), target, connections, seconds));
        }
    }
    server->stop();
    std::error_code ec;
    fs::remove_all(folder, ec);
    return 0;
}
