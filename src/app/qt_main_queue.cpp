#include "app/qt_main_queue.h"

#include <QTimer>

namespace corvane {

QtMainQueue::QtMainQueue() = default;

void QtMainQueue::post(std::function<void()> fn) {
    QMetaObject::invokeMethod(this, [fn = std::move(fn)] { fn(); }, Qt::QueuedConnection);
}

void QtMainQueue::postAfter(std::chrono::milliseconds delay, std::function<void()> fn) {
    // The timer is started on the main thread, whatever thread asks.
    post([this, delay, fn = std::move(fn)] { QTimer::singleShot(delay, Qt::PreciseTimer, this, fn); });
}

}  // namespace corvane
