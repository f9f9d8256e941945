// A server of engine and storage on loopback for the team page tests, in team mode:
// team_page_server FOLDER. Makes the administrator "admin" (display name "Boss",
// password "boss-pass") through the team store, prints "port N" once it listens and
// serves until its standard input closes.

#include <cstdio>
#include <iostream>
#include <memory>
#include <string>

#include "engine/http_server.h"
#include "storage/mailer.h"
#include "storage/storage_routes.h"
#include "storage/team_store.h"
#include "support/test_support.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: team_page_server FOLDER\n");
        return 2;
    }
    auto store = std::make_shared<corvane::TeamStore>();
    store->bind(argv[1]);
    if (!store->createAdmin("Boss", "boss-pass", "")) {
        std::fprintf(stderr, "team_page_server: no administrator\n");
        return 1;
    }
    corvane::ServerOptions options;
    options.firstPort = corvane::test::testPortBase(20);
    options.lastPort = options.firstPort + 19;
    const corvane::StorageContext context{store, std::make_shared<corvane::Mailer>(), corvane::TeamStore::systemClock()};
    options.addRoutes = [context](corvane::RouteTable& table) { corvane::addStorageRoutes(table, context); };
    options.nasExt = [] { return true; };
    corvane::HTTPServer server("page-server", "Desk", "tok", "", argv[1], options);
    if (!server.start()) {
        std::fprintf(stderr, "team_page_server: no free port\n");
        return 1;
    }
    std::printf("port %d\n", server.port());
    std::fflush(stdout);
    std::string line;
    while (std::getline(std::cin, line)) {
    }
    server.stop();
    return 0;
}
