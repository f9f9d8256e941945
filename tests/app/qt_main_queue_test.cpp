// The main queue over the Qt event loop: work posted from any thread runs on
// the main thread, in posting order, and delayed work after its delay.
#include <thread>

#include <QElapsedTimer>
#include <QThread>

#include <gtest/gtest.h>

#include "app/app_environment.h"
#include "support/qt_wait.h"

namespace corvane {
namespace {

TEST(QtMainQueue, workFromOtherThreadsRunsOnTheMainThreadInOrder) {
    const std::shared_ptr<MainQueue> queue = processMainQueue();
    std::vector<int> order;
    bool offMain = false;
    std::thread([&] {
        for (int i = 0; i < 50; ++i) {
            queue->post([&order, &offMain, i] {
                offMain = offMain || QThread::currentThread() != QCoreApplication::instance()->thread();
                order.push_back(i);
            });
        }
    }).join();
    ASSERT_TRUE(test::qtWaitFor([&] { return order.size() == 50; }));
    for (int i = 0; i < 50; ++i) EXPECT_EQ(order[size_t(i)], i);
    EXPECT_FALSE(offMain);
}

TEST(QtMainQueue, delayedWorkWaitsForItsDelay) {
    const std::shared_ptr<MainQueue> queue = processMainQueue();
    bool ran = false;
    bool onMain = false;
    QElapsedTimer clock;
    clock.start();
    qint64 ranAfter = 0;
    std::thread([&] {
        queue->postAfter(std::chrono::milliseconds(150), [&] {
            onMain = QThread::currentThread() == QCoreApplication::instance()->thread();
            ranAfter = clock.elapsed();
            ran = true;
        });
    }).join();
    ASSERT_TRUE(test::qtWaitFor([&] { return ran; }));
    EXPECT_TRUE(onMain);
    EXPECT_GE(ranAfter, 150);
}

}  // namespace
}  // namespace corvane
