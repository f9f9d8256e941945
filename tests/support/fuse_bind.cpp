#include "support/fuse_bind.h"

#include <cerrno>
#include <csignal>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/test_support.h"

namespace fs = std::filesystem;

namespace corvane::test {

namespace {

dev_t deviceOf(const fs::path& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_dev : 0;
}

bool answersENOTCONN(const fs::path& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) != 0 && errno == ENOTCONN;
}

}  // namespace

FuseBind::~FuseBind() { unmount(); }

void FuseBind::unmount() {
    stopDaemon();
    if (!mount_.empty()) ::umount2(mount_.c_str(), MNT_DETACH);
    mount_.clear();
}

std::string FuseBind::mount(const fs::path& disk, const fs::path& mount) {
    if (::access("/dev/fuse", R_OK | W_OK) != 0) return "/dev/fuse is missing or not usable here";
    const dev_t outside = deviceOf(mount);
    daemon_ = ::fork();
    if (daemon_ < 0) return "fork failed";
    if (daemon_ == 0) {
        ::execlp("bindfs", "bindfs", "-f", disk.c_str(), mount.c_str(), static_cast<char*>(nullptr));
        std::_Exit(127);
    }
    int status = 0;
    bool ended = false;
    waitFor([&] {
        ended = ::waitpid(daemon_, &status, WNOHANG) == daemon_;
        return ended || deviceOf(mount) != outside;
    });
    if (ended) daemon_ = 0;
    if (deviceOf(mount) == outside) {
        stopDaemon();
        return ended && WIFEXITED(status) && WEXITSTATUS(status) == 127 ? "bindfs is not installed"
                                                                       : "bindfs may not mount here (FUSE mounts not permitted)";
    }
    mount_ = mount;
    return "";
}

bool FuseBind::lose() {
    stopDaemon();
    return waitFor([&] { return answersENOTCONN(mount_); });
}

void FuseBind::stopDaemon() {
    if (daemon_ <= 0) return;
    ::kill(daemon_, SIGKILL);
    ::waitpid(daemon_, nullptr, 0);
    daemon_ = 0;
}

}  // namespace corvane::test
