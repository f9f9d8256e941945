#pragma once
// A write lock on a lock file of the team folder that holds across processes and, on file
// systems that keep POSIX record locks across machines (NFS, CephFS, GlusterFS), across
// the serving devices that share the folder.

#include <filesystem>

#include "base/unique_fd.h"

namespace corvane {

class TeamFileLock {
public:
    TeamFileLock() = default;
    // Waits until the lock on "<folder>/<name>" is held, making the folder and the file when
    // missing. Not held when the file cannot be opened or locked (the storage is gone).
    TeamFileLock(const std::filesystem::path& folder, const char* name);

    bool held() const { return fd_.valid(); }
    // Closing the file lets the lock go; so does the destructor.
    void release() { fd_.reset(); }

private:
    UniqueFd fd_;
};

}  // namespace corvane
