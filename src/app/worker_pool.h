#pragma once
// The application's own worker threads for network and disk waits. A call to a
// dead peer can hold a thread for minutes, so the pool is large and separate
// from Qt's global pool; results are posted back to the main thread by the caller.

#include <functional>

#include <QThreadPool>

namespace corvane {

class WorkerPool {
public:
    explicit WorkerPool(int maxThreads = 32);
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    void run(std::function<void()> job);
    // Waits until every job has ended (tests and orderly teardown).
    void waitForDone();

private:
    QThreadPool pool_;
};

}  // namespace corvane
