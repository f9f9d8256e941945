#include "app/worker_pool.h"

namespace corvane {

WorkerPool::WorkerPool(int maxThreads) {
    pool_.setMaxThreadCount(maxThreads);
    pool_.setExpiryTimeout(30000);
}

WorkerPool::~WorkerPool() { pool_.waitForDone(); }

void WorkerPool::run(std::function<void()> job) { pool_.start(std::move(job)); }

void WorkerPool::waitForDone() { pool_.waitForDone(); }

}  // namespace corvane
