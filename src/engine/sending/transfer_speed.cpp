#include "engine/sending/transfer_speed.h"

#include <chrono>

namespace corvane {

double steadySeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

TransferSpeed::TransferSpeed(TransferClock clock, int64_t baseline)
    : clock_(clock ? std::move(clock) : TransferClock(steadySeconds)), start_(clock_()), baseline_(baseline) {}

void TransferSpeed::chunkBegins() {
    lastBytes_ = 0;
    lastMoveAt_ = clock_();
    stallTold_ = false;
}

bool TransferSpeed::stalls(int64_t chunkBytesSent) {
    const double now = clock_();
    if (chunkBytesSent != lastBytes_) {
        lastBytes_ = chunkBytesSent;
        lastMoveAt_ = now;
        stallTold_ = false;
        return false;
    }
    if (stallTold_ || now - lastMoveAt_ < kStallSeconds) return false;
    stallTold_ = true;
    return true;
}

std::optional<double> TransferSpeed::afterChunk(int64_t sent) const {
    const double elapsed = clock_() - start_;
    if (elapsed <= 0.2) return std::nullopt;
    return double(sent - baseline_) / elapsed;
}

}  // namespace corvane
