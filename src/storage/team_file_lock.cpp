#include "storage/team_file_lock.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace corvane {

namespace {

bool lockWhole(int fd, int command) {
    struct flock whole {};
    whole.l_type = F_WRLCK;
    whole.l_whence = SEEK_SET;
    for (;;) {
        if (::fcntl(fd, command, &whole) == 0) return true;
        if (errno != EINTR) return false;
    }
}

}  // namespace

TeamFileLock::TeamFileLock(const fs::path& folder, const char* name) {
    std::error_code ec;
    fs::create_directories(folder, ec);
    UniqueFd fd(::open((folder / name).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    if (!fd) return;
    // A lock of the open file rather than of the process also keeps two threads, or two
    // stores of one process, apart; a file system without those gets the process's lock.
    if (lockWhole(fd.get(), F_OFD_SETLKW) || (errno == EINVAL && lockWhole(fd.get(), F_SETLKW))) {
        fd_ = std::move(fd);
    }
}

}  // namespace corvane
