// A server of engine and storage on loopback for the team page tests, in team mode:
// team_page_server FOLDER. Makes the administrator "admin" (display name "Boss",
// password "boss-pass") through the team store, prints "port N" once it listens and
// serves until its standard input closes.

#include <cstdio>
#include <memory>

#include "storage/team_store.h"
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
    return corvane::test::serveTeamUntilInputEnds("team_page_server", argv[1], "", store);
}
