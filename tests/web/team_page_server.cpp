// A server of engine and storage on loopback for the team page tests, in team mode:
// team_page_server FOLDER. Makes the administrator "admin" (display name "Boss",
// password "boss-pass") through the team store, puts a holding relay in front of the
// server, prints "port N relay M" once both listen and serves until its standard input
// closes. Lines on standard input steer the relay, each answered "ok", the verb and TEXT:
// "hold TEXT BYTES" stops the next request whose request line holds TEXT once BYTES of
// its body went on; "release TEXT" lets it go on.

#include <cstdint>
#include <cstdio>
#include <iostream>
#include <memory>
#include <string>

#include "storage/team_store.h"
#include "support/holding_relay.h"
#include "support/team_server_main.h"

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
    const auto server = corvane::test::startTeamServer("team_page_server", argv[1], "", store);
    if (!server) return 1;
    corvane::test::HoldingRelay relay(server->port(), "127.0.0.1");
    std::printf("port %d relay %d\n", server->port(), relay.port());
    std::fflush(stdout);
    for (std::string verb, text; std::cin >> verb >> text;) {
        int64_t bytes = 0;
        if (verb == "hold" && std::cin >> bytes) relay.hold(text, bytes);
        if (verb == "release") relay.release(text);
        std::printf("ok %s %s\n", verb.c_str(), text.c_str());
        std::fflush(stdout);
    }
    server->stop();
    return 0;
}
