#pragma once
// The storage extension's rows of the server's route table: WebDAV, the team page
// and the team, account, mail and team-file routes, and the NAS file API. The
// application adds them when it builds its server; a test server does the same.

#include <memory>

#include "engine/route_table.h"

namespace corvane {

class TeamStore;

void addStorageRoutes(RouteTable& table, std::shared_ptr<TeamStore> store);

}  // namespace corvane
