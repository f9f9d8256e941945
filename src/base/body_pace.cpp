#include "base/body_pace.h"

#include <algorithm>
#include <cerrno>
#include <poll.h>
#include <sys/socket.h>

namespace corvane {

using std::chrono::milliseconds;

BodyClock::BodyClock(const BodyPace& pace) : pace_(pace), start_(now()) {}

std::chrono::steady_clock::time_point BodyClock::now() const {
    return pace_.clock ? pace_.clock() : std::chrono::steady_clock::now();
}

milliseconds BodyClock::waitLeft(int64_t delivered) const {
    // The body is on pace until grace + delivered / rate after its start.
    const auto rate = std::max<int64_t>(pace_.minBytesPerSecond, 1);
    const auto earned = std::chrono::duration_cast<milliseconds>(std::chrono::duration<double>(double(delivered) / double(rate)));
    const auto due = start_ + pace_.grace + earned;
    const auto left = std::chrono::duration_cast<milliseconds>(due - now());
    return std::clamp(left, milliseconds(0), pace_.idle);
}

milliseconds BodyClock::idle() const { return pace_.idle; }

ssize_t recvPaced(int fd, char* into, size_t length, const BodyClock& clock, int64_t delivered) {
    const auto idleDue = std::chrono::steady_clock::now() + clock.idle();
    while (true) {
        // Bytes already waiting are taken without a look at the clock: only waiting counts.
        const ssize_t n = ::recv(fd, into, length, MSG_DONTWAIT);
        if (n >= 0) return n;
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) return -1;
        const auto idleLeft = std::chrono::duration_cast<milliseconds>(idleDue - std::chrono::steady_clock::now());
        if (idleLeft.count() <= 0) {
            errno = EAGAIN;
            return -1;
        }
        const milliseconds left = std::min(clock.waitLeft(delivered), idleLeft);
        if (left.count() <= 0) {
            errno = ETIMEDOUT;
            return -1;
        }
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, int(left.count()));
        if (ready < 0 && errno != EINTR) return -1;
    }
}

}  // namespace corvane
