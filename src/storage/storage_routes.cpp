#include "storage/storage_routes.h"

#include <memory>

namespace corvane {

void addStorageRoutes(RouteTable& table, const StorageContext& context) {
    // Each route family adds its rows here, in its stage of the dispatch order.
    std::make_shared<TeamRouter>(context)->addRows(table);
}

}  // namespace corvane
