#include "base/storage_fault.h"

#include <cerrno>
#include <sys/stat.h>

namespace corvane {

StorageFault storageFaultOf(int error) {
    switch (error) {
        case ENOSPC:
        case EDQUOT: return StorageFault::full;
        case ENOTCONN:
        case EIO:
        case ESTALE:
        case EROFS:
        case EHOSTDOWN:
        case ETIMEDOUT: return StorageFault::unreachable;
        default: return StorageFault::none;
    }
}

StorageFault probeStorage(const std::filesystem::path& folder) {
    struct stat st {};
    if (::stat(folder.c_str(), &st) == 0) return StorageFault::none;
    return storageFaultOf(errno);
}

}  // namespace corvane
