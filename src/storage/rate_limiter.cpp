#include "storage/rate_limiter.h"

#include <algorithm>

namespace corvane {

RateLimiter::RateLimiter(Clock clock, size_t maxKeys, double forgetAfter)
    : clock_(std::move(clock)), maxKeys_(maxKeys), forgetAfter_(forgetAfter) {}

void RateLimiter::forgetIdleLocked(double now) {
    if (buckets_.size() < maxKeys_) return;
    std::erase_if(buckets_, [&](const auto& entry) {
        return entry.second.empty() || !(now - entry.second.back() < forgetAfter_);
    });
}

std::vector<double>& RateLimiter::prunedLocked(const std::string& key, double now, double window) {
    forgetIdleLocked(now);
    std::vector<double>& times = buckets_[key];
    times.erase(std::remove_if(times.begin(), times.end(), [&](double t) { return !(now - t < window); }),
                times.end());
    return times;
}

bool RateLimiter::allow(const std::string& key, int limit, double window) {
    std::lock_guard hold(lock_);
    const double now = clock_();
    std::vector<double>& times = prunedLocked(key, now, window);
    if (times.size() >= size_t(std::max(limit, 0))) return false;
    times.push_back(now);
    return true;
}

bool RateLimiter::exhausted(const std::string& key, int limit, double window) {
    std::lock_guard hold(lock_);
    return prunedLocked(key, clock_(), window).size() >= size_t(std::max(limit, 0));
}

void RateLimiter::record(const std::string& key) {
    std::lock_guard hold(lock_);
    const double now = clock_();
    forgetIdleLocked(now);
    buckets_[key].push_back(now);
}

}  // namespace corvane
