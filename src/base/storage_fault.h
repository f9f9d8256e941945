#pragma once
// Errors of a storage that is there but cannot be used (a lost network volume, a failing
// disk, a full one), as against a name that is simply missing. Such an error is said as
// such, never shown as an empty folder.

#include <filesystem>

namespace corvane {

enum class StorageFault {
    none,
    unreachable,  // ENOTCONN, EIO, ESTALE, EROFS, ...: answered 503
    full,         // ENOSPC, EDQUOT: answered 507
};

StorageFault storageFaultOf(int error);
inline bool isStorageFault(int error) { return storageFaultOf(error) != StorageFault::none; }

// The fault of the folder itself: a stat of it that fails for a reason other than a
// missing name. Names inside a folder that answers are left to the caller.
StorageFault probeStorage(const std::filesystem::path& folder);

}  // namespace corvane
