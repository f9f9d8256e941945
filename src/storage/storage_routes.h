#pragma once
// The storage extension's rows of the server's route table: WebDAV, the team page
// and the team, account, mail and team-file routes, and the NAS file API. The
// application adds them when it builds its server; a test server does the same.

#include "engine/server/route_table.h"
#include "storage/team_router.h"

namespace corvane {

void addStorageRoutes(RouteTable& table, const StorageContext& context);

}  // namespace corvane
