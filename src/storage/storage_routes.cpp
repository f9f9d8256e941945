#include "storage/storage_routes.h"

#include <memory>

#include "storage/route_families.h"

namespace corvane {

void addStorageRoutes(RouteTable& table, const StorageContext& context) {
    // Each route family adds its rows here, in its stage of the dispatch order.
    addWebDAVRoutes(table);
    addTeamUploadRoute(table, context);
    std::make_shared<TeamRouter>(context)->addRows(table);
    addNasFileRoutes(table);
    addNasTrashRoutes(table);
    addNasUploadRoutes(table);
}

}  // namespace corvane
