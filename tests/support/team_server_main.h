#pragma once
// The body of the helper programs that serve a folder for outside clients: a server of
// engine and storage on loopback in team mode, which prints "port N" once it listens
// and serves until its standard input closes. Header-only: only programs that link
// the storage library include it.

#include <cstdio>
#include <iostream>
#include <memory>
#include <string>

#include "engine/server/http_server.h"
#include "storage/mailer.h"
#include "storage/storage_routes.h"
#include "storage/team_store.h"
#include "support/test_support.h"

namespace corvane::test {

// A started server of engine and storage on loopback in team mode, serving `folder`;
// null, with the reason on standard error, when no port was free.
inline std::unique_ptr<HTTPServer> startTeamServer(const char* program, const std::string& folder,
                                                   const std::string& pin, const std::shared_ptr<TeamStore>& store) {
    ServerOptions options;
    options.firstPort = testPortBase(20);
    options.lastPort = options.firstPort + 19;
    const StorageContext context{store, std::make_shared<Mailer>(), TeamStore::systemClock()};
    options.addRoutes = [context](RouteTable& table) { addStorageRoutes(table, context); };
    options.nasExt = [] { return true; };
    auto server = std::make_unique<HTTPServer>(program, "Desk", "tok", pin, folder, options);
    if (!server->start()) {
        std::fprintf(stderr, "%s: no free port\n", program);
        return nullptr;
    }
    return server;
}

// The program's exit status: 0 after a clean stop, 1 when no port was free.
inline int serveTeamUntilInputEnds(const char* program, const std::string& folder, const std::string& pin,
                                   const std::shared_ptr<TeamStore>& store) {
    const auto server = startTeamServer(program, folder, pin, store);
    if (!server) return 1;
    std::printf("port %d\n", server->port());
    std::fflush(stdout);
    std::string line;
    while (std::getline(std::cin, line)) {
    }
    server->stop();
    return 0;
}

}  // namespace corvane::test
