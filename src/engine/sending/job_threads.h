#pragma once
// Runs jobs each on a thread of its own, at once and side by side, as a new thread per job
// would; a thread whose job ended waits a while for the next one instead of ending. A
// folder of small files is thousands of short jobs, and a new thread for each costs more
// than sending the file: its stack is mapped and unmapped, and every other thread of the
// process is interrupted to forget the mapping.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace corvane {

class JobThreads {
public:
    // `idleLimit`: how long a thread without a job waits for one before it ends.
    explicit JobThreads(std::chrono::milliseconds idleLimit = std::chrono::seconds(30));
    // Waits for every job that runs to end.
    ~JobThreads();
    JobThreads(const JobThreads&) = delete;
    JobThreads& operator=(const JobThreads&) = delete;

    // Runs the job at once: on a thread that waits for one, else on a new thread.
    void run(std::function<void()> job);
    // Threads that run a job or wait for one, and those that wait (tests).
    size_t threadCount();
    size_t waitingCount();

private:
    void serve(std::function<void()> job);
    // The next job for a thread whose job ended; none once it waited too long or the
    // threads are ending.
    std::function<void()> nextJob();

    const std::chrono::milliseconds idleLimit_;
    std::mutex lock_;
    std::condition_variable wake_;
    std::vector<std::function<void()>> handed_;  // jobs given to waiting threads, not yet taken
    size_t waiting_ = 0;                         // threads that wait for a job
    size_t living_ = 0;                          // threads that have not ended
    bool ending_ = false;
    std::condition_variable ended_;
};

}  // namespace corvane
