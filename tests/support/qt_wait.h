#pragma once
// Waiting in tests whose code runs on a Qt event loop: the loop keeps running
// (queued calls, timers) while the predicate is polled. Header only, for the
// test programs that link Qt.

#include <chrono>
#include <functional>
#include <thread>

#include <QCoreApplication>
#include <QElapsedTimer>

namespace corvane::test {

// Runs the event loop until the predicate holds or the time-out passes; the predicate's last value.
inline bool qtWaitFor(const std::function<bool()>& predicate,
                      std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < timeout.count()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        if (predicate()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    QCoreApplication::processEvents();
    return predicate();
}

// Runs the event loop for the given time (for "nothing happens" checks after a known event).
inline void qtSpin(std::chrono::milliseconds duration) {
    qtWaitFor([] { return false; }, duration);
}

}  // namespace corvane::test
