#include "storage/rate_limiter.h"

#include <algorithm>

#include "storage/team_crypto.h"

namespace corvane {

RateLimiter::RateLimiter(Clock clock, size_t maxKeys) : clock_(std::move(clock)), maxKeys_(std::max<size_t>(maxKeys, 1)) {}

RateLimiter::Bucket& RateLimiter::touchLocked(const std::string& digest) {
    if (const auto found = index_.find(digest); found != index_.end()) {
        recency_.splice(recency_.begin(), recency_, found->second);
        return recency_.front();
    }
    if (index_.size() >= maxKeys_) {
        index_.erase(recency_.back().digest);
        recency_.pop_back();
    }
    recency_.push_front(Bucket{digest, {}});
    index_.emplace(digest, recency_.begin());
    return recency_.front();
}

bool RateLimiter::allow(const std::string& key, int limit, double window) {
    std::lock_guard hold(lock_);
    const double now = clock_();
    std::vector<double>& times = touchLocked(teamSHA256(key)).times;
    std::erase_if(times, [&](double t) { return !(now - t < window); });
    if (times.size() >= size_t(std::max(limit, 0))) return false;
    times.push_back(now);
    return true;
}

void RateLimiter::release(const std::string& key) {
    std::lock_guard hold(lock_);
    const auto found = index_.find(teamSHA256(key));
    if (found == index_.end() || found->second->times.empty()) return;
    found->second->times.pop_back();
}

}  // namespace corvane
