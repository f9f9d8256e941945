// The engine's server alone in its own process, for benchmarks that drive it from
// outside (bench/nginx_compare.py): no token, no PIN. Prints the bound port on stdout
// and serves until stdin reaches its end or SIGTERM/SIGINT arrives, then stops cleanly.
//
//   scripts/netns-run build/peer_server RECEIVE_FOLDER [first port, default 39300]

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <pthread.h>
#include <thread>
#include <unistd.h>

#include "bench_support.h"

namespace {

// Turns the end of stdin into SIGTERM, so one signal wait covers both ways of stopping.
void signalAtEndOfInput() {
    std::thread([] {
        char byte[256];
        while (::read(STDIN_FILENO, byte, sizeof byte) > 0) {
        }
        ::kill(::getpid(), SIGTERM);
    }).detach();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: peer_server RECEIVE_FOLDER [first port]\n");
        return 2;
    }
    const std::filesystem::path root = argv[1];
    const int firstPort = argc > 2 ? std::atoi(argv[2]) : 39300;

    // Blocked before any thread starts, so every thread inherits the mask and only
    // sigwait below receives the stop signals.
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGTERM);
    sigaddset(&stops, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stops, nullptr);

    const auto server = bench::startServer(root, firstPort, "");
    if (!server) return 1;
    std::printf("%d\n", server->port());
    std::fflush(stdout);
    signalAtEndOfInput();

    int received = 0;
    sigwait(&stops, &received);
    server->stop();
    return 0;
}
