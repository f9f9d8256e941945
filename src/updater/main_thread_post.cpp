#include "updater/main_thread_post.h"

#include <QCoreApplication>

namespace corvane {

void postToMainThread(std::function<void()> fn) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) return;
    QMetaObject::invokeMethod(app, std::move(fn), Qt::QueuedConnection);
}

}  // namespace corvane
