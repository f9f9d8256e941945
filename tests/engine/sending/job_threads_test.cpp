// Jobs on threads of their own: side by side at once however many there are, a thread of
// an ended job taken again, idle threads ending, and every job run before they all go.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <latch>
#include <memory>
#include <thread>

#include "engine/sending/job_threads.h"
#include "support/test_support.h"

namespace corvane {
namespace {

using namespace std::chrono_literals;

TEST(JobThreads, JobsRunSideBySideAndAnEndedJobsThreadIsTakenAgain) {
    JobThreads threads(10s);
    // Three jobs that each wait for all three: they end only if each has a thread at once,
    // also when a thread that just ended a job is waiting for the next.
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        ASSERT_TRUE(test::waitFor([&] { return threads.waitingCount() == threads.threadCount(); }));
        std::latch together(3), ended(3);
        for (int k = 0; k < 3; ++k) {
            threads.run([&] {
                together.arrive_and_wait();
                ended.count_down();
            });
        }
        ended.wait();
        EXPECT_EQ(threads.threadCount(), 3u) << "a thread per job at most, kept for the next";
    }
}

TEST(JobThreads, WhatAJobHeldGoesWhenItEndsAndIdleThreadsEnd) {
    JobThreads waiting(10s);
    auto held = std::make_shared<int>(0);
    std::weak_ptr<int> watch = held;
    std::latch ran(1);
    waiting.run([held = std::move(held), &ran] { ran.count_down(); });
    ran.wait();
    EXPECT_TRUE(test::waitFor([&] { return watch.expired(); }, 2s)) << "the job's captures outlived it";

    JobThreads brief(50ms);
    std::latch first(1);
    brief.run([&] { first.count_down(); });
    first.wait();
    EXPECT_TRUE(test::waitFor([&] { return brief.threadCount() == 0; }, 5s));
    std::latch again(1);
    brief.run([&] { again.count_down(); });  // a new thread once none is left
    again.wait();
}

TEST(JobThreads, GoingAwayRunsEveryJobHandedOverFirst) {
    // Jobs handed to waiting threads just before the threads are told to end still run.
    std::atomic<int> done{0};
    {
        JobThreads threads(10s);
        std::latch started(6);
        for (int k = 0; k < 6; ++k) threads.run([&] { started.arrive_and_wait(); });
        ASSERT_TRUE(test::waitFor([&] { return threads.waitingCount() == 6; }));
        for (int k = 0; k < 8; ++k) {
            threads.run([&] {
                std::this_thread::sleep_for(5ms);
                ++done;
            });
        }
    }
    EXPECT_EQ(done, 8);
}

}  // namespace
}  // namespace corvane
