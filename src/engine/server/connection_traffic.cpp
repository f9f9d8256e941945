#include "engine/server/connection_traffic.h"

#include <algorithm>
#include <chrono>
#include <linux/sockios.h>
#include <linux/tcp.h>
#include <sys/ioctl.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace corvane {

namespace {

constexpr double kNoteEvery = 1.0;  // seconds between kept counts
constexpr double kWindow = 2.0;     // seconds a rate looks back at least
// Seconds a span counts at least, so that a connection opened a moment ago with its first
// request in does not count as moving fast.
constexpr double kShortest = 0.1;

}  // namespace

int64_t bytesMoved(int fd) {
    tcp_info info{};
    socklen_t length = sizeof info;
    if (::getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &length) != 0) return 0;
    return int64_t(info.tcpi_bytes_received + info.tcpi_bytes_acked);
}

int64_t bytesTaken(int fd) {
    tcp_info info{};
    socklen_t length = sizeof info;
    if (::getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &length) != 0) return 0;
    return int64_t(info.tcpi_bytes_acked);
}

int64_t bytesUnsent(int fd) {
    int queued = 0;
    return ::ioctl(fd, SIOCOUTQ, &queued) == 0 ? queued : 0;
}

int64_t steadyNanos() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

void TrafficMeter::open(double at) {
    kept_[0] = Count{at, 0};
    size_ = 1;
    newest_ = kept_[0];
    movedAt_ = at;
}

void TrafficMeter::note(double at, int64_t bytes) {
    if (bytes > newest_.bytes) movedAt_ = at;
    newest_ = Count{at, bytes};
    if (size_ > 0 && at - kept_[size_ - 1].at < kNoteEvery) return;
    if (size_ == kept_.size()) {
        std::move(kept_.begin() + 1, kept_.end(), kept_.begin());
        --size_;
    }
    kept_[size_++] = Count{at, bytes};
}

double TrafficMeter::rate(double at, int64_t bytes) const {
    if (size_ == 0) return 0;
    Count from = kept_[0];
    for (size_t k = size_; k-- > 0;) {
        if (at - kept_[k].at >= kWindow) {
            from = kept_[k];
            break;
        }
    }
    // The newest count noted, kept or not, is the newest start when it is old enough: a
    // body noted only as its bytes come was last noted when its last bytes came.
    if (at - newest_.at >= kWindow) from = newest_;
    const double span = std::max(at - from.at, kShortest);
    return double(std::max<int64_t>(bytes - from.bytes, 0)) / span;
}

}  // namespace corvane
