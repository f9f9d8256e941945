#pragma once
// A small tmpfs mounted over a folder, in a mount namespace of the calling
// (forked, single-threaded) process, so moves into it cross a file system and
// can run out of space. Used inside death tests' child processes.

#include <filesystem>
#include <string>

#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

namespace corvane::test {

inline bool canMount() { return geteuid() == 0; }

// `inodes` (0: the default) also bounds the room for extended attributes: once the
// last inode is taken, setting one fails with ENOSPC.
inline bool mountSmallTmpfs(const std::filesystem::path& folder, size_t bytes, size_t inodes = 0) {
    if (unshare(CLONE_NEWNS) != 0) return false;
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return false;
    std::string options = "size=" + std::to_string(bytes);
    if (inodes > 0) options += ",nr_inodes=" + std::to_string(inodes);
    return mount("tmpfs", folder.c_str(), "tmpfs", 0, options.c_str()) == 0;
}

}  // namespace corvane::test
