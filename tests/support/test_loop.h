#pragma once
// A main queue for tests: work posted from any thread waits until the test
// thread runs the loop, so the test thread plays the application's main thread.

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>

#include "engine/main_queue.h"

namespace corvane::test {

class TestLoop : public MainQueue {
public:
    void post(std::function<void()> fn) override;
    void postAfter(std::chrono::milliseconds delay, std::function<void()> fn) override;

    // Runs posted work on the calling thread until the predicate holds (checked
    // after each posted function) or the time-out passes; the predicate's last value.
    bool runUntil(const std::function<bool()>& predicate,
                  std::chrono::milliseconds timeout = std::chrono::seconds(20));
    // Runs the work that is due now, without waiting; the number of functions run.
    int runPending();

private:
    std::function<void()> takeDue(std::chrono::steady_clock::time_point waitUntil);

    std::mutex lock_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> ready_;
    std::multimap<std::chrono::steady_clock::time_point, std::function<void()>> timed_;
};

}  // namespace corvane::test
