#pragma once
// The speed a send-queue row shows for one upload: the average rate of this run's
// chunks, and 0 (shown as "—") once the bytes of the chunk under way have stopped
// moving for a few seconds, so that a send stuck on a dead connection does not keep
// showing the rate it had before. Used on the upload's own thread only.

#include <cstdint>
#include <functional>
#include <optional>

namespace corvane {

// Seconds on a steady clock: where a transfer's time comes from.
using TransferClock = std::function<double()>;

// The steady clock of the process, in seconds.
double steadySeconds();

class TransferSpeed {
public:
    // Seconds without a byte of the chunk moving before the speed reads 0.
    static constexpr double kStallSeconds = 3;

    // `baseline`: the bytes the receiver already held, which the rate leaves out.
    TransferSpeed(TransferClock clock, int64_t baseline);

    // A chunk's request begins.
    void chunkBegins();
    // The bytes of the chunk sent so far, heard while it goes out: true once per stall,
    // when they have not moved for kStallSeconds.
    bool stalls(int64_t chunkBytesSent);
    // A chunk was stored and `sent` bytes are now held: the average rate since the
    // start, none in the first 0.2 s (too short to mean anything).
    std::optional<double> afterChunk(int64_t sent) const;

private:
    TransferClock clock_;
    double start_;
    int64_t baseline_;
    int64_t lastBytes_ = 0;
    double lastMoveAt_ = 0;
    bool stallTold_ = false;
};

}  // namespace corvane
