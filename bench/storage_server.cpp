// The engine's server in team mode with the storage extension's routes (NAS file API,
// WebDAV share), alone in its own process for bench/nginx_compare.py: no token, no PIN.
// Prints the bound port on stdout and serves until stdin reaches its end or
// SIGTERM/SIGINT arrives, then stops cleanly.
//
//   scripts/netns-run build/storage_server RECEIVE_FOLDER [first port, default 39400]

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "bench_support.h"
#include "storage/mailer.h"
#include "storage/storage_routes.h"
#include "storage/team_store.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: storage_server RECEIVE_FOLDER [first port]\n");
        return 2;
    }
    const std::filesystem::path root = argv[1];
    const int firstPort = argc > 2 ? std::atoi(argv[2]) : 39400;
    return bench::serveUntilStopped([&] {
        return bench::startServer(root, firstPort, "", [](corvane::RouteTable& table) {
            corvane::addStorageRoutes(table, corvane::StorageContext{std::make_shared<corvane::TeamStore>(),
                                                                     std::make_shared<corvane::Mailer>(),
                                                                     corvane::TeamStore::systemClock()});
        });
    });
}
