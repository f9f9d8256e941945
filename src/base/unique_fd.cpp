#include "base/unique_fd.h"

#include <unistd.h>

namespace corvane {

void UniqueFd::reset(int fd) {
    const int old = std::exchange(fd_, fd);
    if (old >= 0) ::close(old);
}

bool UniqueFd::close() {
    const int old = release();
    return old < 0 || ::close(old) == 0;
}

}  // namespace corvane
