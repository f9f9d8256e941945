#pragma once
// How many bytes an open connection moves, from the kernel's counts, so that a full server
// closes for a newcomer the connection that costs least to lose.

#include <array>
#include <cstddef>
#include <cstdint>

namespace corvane {

// Bytes per second that a weak phone reaches: a connection or a body being read at least
// this fast is making progress, and gives way for a newcomer only to even out shares.
constexpr double kProgressFloor = 65536;

// Nanoseconds of the steady clock.
int64_t steadyNanos();

// Bytes the connection has received and had acknowledged since it opened, request and
// reply alike: what the other side sent, and what it took of ours (not what still waits
// in our send queue); 0 where the kernel does not count them.
int64_t bytesMoved(int fd);
// Bytes of ours the other side has taken since the connection opened.
int64_t bytesTaken(int fd);
// Bytes written to the connection that the other side has not taken yet.
int64_t bytesUnsent(int fd);

// A connection's byte counts, noted about once a second, the last few of them. Its rate
// is taken over the last two to three seconds, or over its life while it is younger. A
// body's counts are noted as its bytes come: when none came for two seconds, the newest
// count is that old and the rate is taken from it, so a body that burst and stalled
// counts as still.
class TrafficMeter {
public:
    // Seconds (of any clock, the same for every call) at which the connection opened.
    void open(double at);
    // Keeps the count once a second has passed since the newest one kept; the newest
    // count is remembered either way.
    void note(double at, int64_t bytes);
    // Bytes per second from the newest count at least two seconds old (else the opening)
    // to this one.
    double rate(double at, int64_t bytes) const;
    // When the count last grew (else when it opened).
    double movedAt() const { return movedAt_; }

private:
    struct Count {
        double at = 0;
        int64_t bytes = 0;
    };
    std::array<Count, 4> kept_{};  // oldest first
    size_t size_ = 0;
    Count newest_;  // the last count noted, kept or not
    double movedAt_ = 0;
};

}  // namespace corvane
