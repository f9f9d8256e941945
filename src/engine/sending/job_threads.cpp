#include "engine/sending/job_threads.h"

namespace corvane {

JobThreads::JobThreads(std::chrono::milliseconds idleLimit) : idleLimit_(idleLimit) {}

JobThreads::~JobThreads() {
    std::unique_lock guard(lock_);
    ending_ = true;
    wake_.notify_all();
    ended_.wait(guard, [this] { return living_ == 0; });
}

void JobThreads::run(std::function<void()> job) {
    std::unique_lock guard(lock_);
    if (waiting_ > handed_.size()) {
        handed_.push_back(std::move(job));
        wake_.notify_one();
        return;
    }
    ++living_;
    guard.unlock();
    // Detached: the destructor waits for the count of living threads instead of joining,
    // since a thread that ended by itself has no one left to join it.
    std::thread([this, job = std::move(job)]() mutable { serve(std::move(job)); }).detach();
}

size_t JobThreads::threadCount() {
    std::lock_guard guard(lock_);
    return living_;
}

size_t JobThreads::waitingCount() {
    std::lock_guard guard(lock_);
    return waiting_ - handed_.size();
}

void JobThreads::serve(std::function<void()> job) {
    while (job) {
        job();
        job = nullptr;  // what the job holds goes now, not once the next one came
        job = nextJob();
    }
    std::lock_guard guard(lock_);
    --living_;
    ended_.notify_all();
}

std::function<void()> JobThreads::nextJob() {
    std::unique_lock guard(lock_);
    ++waiting_;
    const bool given = wake_.wait_for(guard, idleLimit_, [this] { return !handed_.empty() || ending_; });
    --waiting_;
    if (!given || handed_.empty()) return {};
    std::function<void()> job = std::move(handed_.back());
    handed_.pop_back();
    return job;
}

}  // namespace corvane
