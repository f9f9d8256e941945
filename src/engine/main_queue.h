#pragma once
// The engine's view of the application's main thread: post work to it, or post
// work to run after a delay. The application implements it with its event loop;
// tests implement it with a loop of their own.

#include <chrono>
#include <functional>

namespace corvane {

class MainQueue {
public:
    virtual ~MainQueue() = default;
    // Runs fn on the main thread, after the calls posted before it.
    virtual void post(std::function<void()> fn) = 0;
    // Runs fn on the main thread once the delay has passed.
    virtual void postAfter(std::chrono::milliseconds delay, std::function<void()> fn) = 0;
};

}  // namespace corvane
