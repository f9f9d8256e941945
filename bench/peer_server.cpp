// The engine's server alone in its own process, for benchmarks that drive it from
// outside (bench/nginx_compare.py): no token, no PIN. Prints the bound port on stdout
// and serves until stdin reaches its end or SIGTERM/SIGINT arrives, then stops cleanly.
//
//   scripts/netns-run build/peer_server RECEIVE_FOLDER [first port, default 39300]

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "bench_support.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: peer_server RECEIVE_FOLDER [first port]\n");
        return 2;
    }
    const std::filesystem::path root = argv[1];
    const int firstPort = argc > 2 ? std::atoi(argv[2]) : 39300;
    return bench::serveUntilStopped([&] { return bench::startServer(root, firstPort, ""); });
}
