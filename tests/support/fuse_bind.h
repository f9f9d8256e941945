#pragma once
// A folder mounted over another through bindfs (a FUSE daemon in the foreground, in this
// test's mount namespace), whose daemon the test can end: the mount then stays and every
// access to it fails ENOTCONN, as a lost network volume does.

#include <filesystem>
#include <string>

#include <sys/types.h>

namespace corvane::test {

class FuseBind {
public:
    FuseBind() = default;
    ~FuseBind();
    FuseBind(const FuseBind&) = delete;
    FuseBind& operator=(const FuseBind&) = delete;

    // Mounts `disk` on `mount`; "" when mounted, else why not (the test skips with it).
    std::string mount(const std::filesystem::path& disk, const std::filesystem::path& mount);
    // Ends the daemon and waits until the mount answers ENOTCONN.
    bool lose();
    // Takes the mount away: the folder under it shows again.
    void unmount();

private:
    void stopDaemon();

    pid_t daemon_ = 0;
    std::filesystem::path mount_;
};

}  // namespace corvane::test
