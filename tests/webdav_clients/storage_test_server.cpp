// A server of engine and storage on loopback for real WebDAV and HTTP clients, in team
// mode: storage_test_server FOLDER [PIN]. Prints "port N" once it listens and serves
// until its standard input closes.

#include <cstdio>
#include <memory>

#include "storage/team_store.h"
#include "support/team_server_main.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: storage_test_server FOLDER [PIN]\n");
        return 2;
    }
    return corvane::test::serveTeamUntilInputEnds("storage_test_server", argv[1], argc > 2 ? argv[2] : "",
                                                  std::make_shared<corvane::TeamStore>());
}
