#pragma once
// How slowly a request body may arrive. A body must keep up with a minimum average
// rate after a grace period: t seconds after it began, at least
// minBytesPerSecond × (t − grace) bytes must have come. A client that trickles a body
// would otherwise hold its connection slot (and, for buffered rows, its memory) for as
// long as it likes. A single read also never waits longer than the idle time-out. A body
// that keeps its pace is never cut for time, however long it takes.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <sys/types.h>

namespace corvane {

struct BodyPace {
    std::chrono::milliseconds grace{20000};
    int64_t minBytesPerSecond = 500;
    std::chrono::milliseconds idle{120000};
    // The time the pace is kept by; the steady clock when empty (tests stand in their own).
    std::function<std::chrono::steady_clock::time_point()> clock;
};

// One body timed against its pace from the moment it is made.
class BodyClock {
public:
    explicit BodyClock(const BodyPace& pace);
    // How long the next read may wait once `delivered` bytes have come; zero when the
    // body has fallen behind its pace.
    std::chrono::milliseconds waitLeft(int64_t delivered) const;
    // The longest one read may wait.
    std::chrono::milliseconds idle() const;

private:
    std::chrono::steady_clock::time_point now() const;

    BodyPace pace_;
    std::chrono::steady_clock::time_point start_;
};

// One receive of at most `length` bytes that keeps to the clock: the bytes read, 0 at
// end of stream, or -1 on an error, the idle time-out (errno EAGAIN, as a socket's own
// time-out gives) or a body behind its pace (errno ETIMEDOUT).
ssize_t recvPaced(int fd, char* into, size_t length, const BodyClock& clock, int64_t delivered);

}  // namespace corvane
