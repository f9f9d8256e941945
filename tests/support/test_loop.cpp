#include "support/test_loop.h"

namespace corvane::test {

using Clock = std::chrono::steady_clock;

void TestLoop::post(std::function<void()> fn) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        ready_.push_back(std::move(fn));
    }
    wake_.notify_all();
}

void TestLoop::postAfter(std::chrono::milliseconds delay, std::function<void()> fn) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        timed_.emplace(Clock::now() + delay, std::move(fn));
    }
    wake_.notify_all();
}

// The next posted function due by waitUntil, or nothing when none came in time.
std::function<void()> TestLoop::takeDue(Clock::time_point waitUntil) {
    std::unique_lock<std::mutex> guard(lock_);
    while (true) {
        const auto current = Clock::now();
        while (!timed_.empty() && timed_.begin()->first <= current) {
            ready_.push_back(std::move(timed_.begin()->second));
            timed_.erase(timed_.begin());
        }
        if (!ready_.empty()) {
            auto fn = std::move(ready_.front());
            ready_.pop_front();
            return fn;
        }
        if (current >= waitUntil) return {};
        auto until = waitUntil;
        if (!timed_.empty() && timed_.begin()->first < until) until = timed_.begin()->first;
        wake_.wait_until(guard, until);
    }
}

bool TestLoop::runUntil(const std::function<bool()>& predicate, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (!predicate()) {
        auto fn = takeDue(deadline);
        if (!fn) return predicate();
        fn();
    }
    return true;
}

int TestLoop::runPending() {
    int count = 0;
    while (auto fn = takeDue(Clock::now())) {
        fn();
        ++count;
    }
    return count;
}

}  // namespace corvane::test
