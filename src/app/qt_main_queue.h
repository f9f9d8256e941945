#pragma once
// The engine's main-queue interface over the Qt event loop of the main thread.
// post() may be called from any thread; jobs run in the order they were posted.

#include <QObject>

#include "engine/main_queue.h"

namespace corvane {

class QtMainQueue final : public QObject, public MainQueue {
    Q_OBJECT

public:
    // Made on the main thread; its jobs run on the thread it lives in.
    QtMainQueue();

    void post(std::function<void()> fn) override;
    void postAfter(std::chrono::milliseconds delay, std::function<void()> fn) override;
};

}  // namespace corvane
