#pragma once
// Sliding-window counters per key (an action and the peer's address): how many
// requests a key may make within a window, on an injectable clock.

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace corvane {

class RateLimiter {
public:
    using Clock = std::function<double()>;  // seconds since 1970

    // Beyond `maxKeys` keys, keys idle for `forgetAfter` seconds (the longest window in
    // use) are dropped, so that a flood of distinct keys cannot grow the map without end.
    explicit RateLimiter(Clock clock, size_t maxKeys = 50000, double forgetAfter = 3600);

    // Counts the request and lets it through while the key has used fewer than `limit`
    // within the last `window` seconds; a refused request is not counted.
    bool allow(const std::string& key, int limit, double window);
    // Whether the key has used up its limit within the window (nothing is counted).
    bool exhausted(const std::string& key, int limit, double window);
    // Counts one event under the key (a failed login, checked with exhausted()).
    void record(const std::string& key);

private:
    // The key's times still inside the window; called with lock_ held.
    std::vector<double>& prunedLocked(const std::string& key, double now, double window);
    void forgetIdleLocked(double now);

    Clock clock_;
    size_t maxKeys_;
    double forgetAfter_;
    std::mutex lock_;  // guards buckets_
    std::map<std::string, std::vector<double>> buckets_;
};

}  // namespace corvane
