#pragma once
// The storage extension's route families, each adding its rows in its stage;
// addStorageRoutes calls them all.

#include "engine/server/route_table.h"
#include "storage/team_router.h"

namespace corvane {

// GET /api/fs, POST /api/fs/mkdir and /api/fs/rename.
void addNasFileRoutes(RouteTable& table);
// POST /api/fs/delete and the /api/trash family.
void addNasTrashRoutes(RouteTable& table);
// The streamed PUT /api/fs/upload.
void addNasUploadRoutes(RouteTable& table);
// The streamed PUT /api/tf/up into a team space (before the team router's rows).
void addTeamUploadRoute(RouteTable& table, const StorageContext& context);
// The WebDAV share on "/dav" and below (team mode only).
void addWebDAVRoutes(RouteTable& table);

}  // namespace corvane
