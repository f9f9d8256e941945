// A server of engine and storage on loopback for real WebDAV and HTTP clients, in team
// mode: storage_test_server FOLDER [PIN]. Prints "port N" once it listens and serves
// until its standard input closes.

#include <cstdio>
#include <iostream>
#include <string>

#include "engine/http_server.h"
#include "storage/mailer.h"
#include "storage/storage_routes.h"
#include "storage/team_store.h"
#include "support/test_support.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: storage_test_server FOLDER [PIN]\n");
        return 2;
    }
    corvane::ServerOptions options;
    options.firstPort = corvane::test::testPortBase(20);
    options.lastPort = options.firstPort + 19;
    options.addRoutes = [](corvane::RouteTable& table) { corvane::addStorageRoutes(table, corvane::StorageContext{std::make_shared<corvane::TeamStore>(), std::make_shared<corvane::Mailer>(), corvane::TeamStore::systemClock()}); };
    options.nasExt = [] { return true; };
    corvane::HTTPServer server("test-server", "Test", "tok", argc > 2 ? argv[2] : "", argv[1], options);
    if (!server.start()) {
        std::fprintf(stderr, "storage_test_server: no free port\n");
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
