#include "storage/storage_routes.h"

#include "storage/route_families.h"
#include "storage/team_store.h"

namespace corvane {

void addStorageRoutes(RouteTable& table, std::shared_ptr<TeamStore> store) {
    // Each route family adds its rows here, in its stage of the dispatch order.
    (void)store;
    addWebDAVRoutes(table);
    addNasFileRoutes(table);
    addNasTrashRoutes(table);
    addNasUploadRoutes(table);
}

}  // namespace corvane
