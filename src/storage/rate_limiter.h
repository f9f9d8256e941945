#pragma once
// Sliding-window counters per key (an action and the peer's address, or an account):
// how many requests a key may make within a window, on an injectable clock. Keys are
// held as SHA-256 digests, at most `maxKeys` of them, the least recently used forgotten
// first, so neither long keys nor a flood of new ones can grow the memory or the work
// of a call.

#include <functional>
#include <list>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace corvane {

class RateLimiter {
public:
    using Clock = std::function<double()>;  // seconds since 1970

    explicit RateLimiter(Clock clock, size_t maxKeys = 50000);

    // Counts the request and lets it through while the key has used fewer than `limit`
    // within the last `window` seconds; a refused request is not counted.
    bool allow(const std::string& key, int limit, double window);
    // Takes back the key's latest counted request: one let through by allow() that in
    // the end was not the kind the limit is about (a sign-in that succeeded).
    void release(const std::string& key);

private:
    struct Bucket {
        std::string digest;
        std::vector<double> times;  // oldest first
    };
    using Recency = std::list<Bucket>;  // most recently used first

    // The key's bucket, moved to the front; a new one when the key is unknown, in place
    // of the least recently used when full. Called with lock_ held.
    Bucket& touchLocked(const std::string& digest);

    Clock clock_;
    size_t maxKeys_;
    std::mutex lock_;  // guards recency_ and index_
    Recency recency_;
    std::unordered_map<std::string, Recency::iterator> index_;
};

}  // namespace corvane
