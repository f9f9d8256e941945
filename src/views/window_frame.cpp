#include "views/window_frame.h"

#include <QEvent>
#include <QPointer>
#include <QWidget>
#include <QWindow>

namespace corvane {

namespace {

// Watches the widget for its shows and its native window for the exposure that follows.
class ExposureWatch : public QObject {
public:
    ExposureWatch(QWidget* window, std::function<void()> exposed)
        : QObject(window), window_(window), exposed_(std::move(exposed)) {
        window->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == window_ && event->type() == QEvent::Show) {
            armed_ = true;
            // The native window exists once the widget shows.
            QWindow* native = window_->windowHandle();
            if (native && native != native_) {
                native->installEventFilter(this);
                native_ = native;
            }
        } else if (native_ && watched == native_ && event->type() == QEvent::Expose && armed_ && native_->isExposed()) {
            armed_ = false;
            exposed_();
        }
        return false;
    }

private:
    QWidget* window_;
    QPointer<QWindow> native_;
    std::function<void()> exposed_;
    bool armed_ = false;
};

}  // namespace

QMargins frameMargins(const QWidget* window) {
    const QWindow* native = window->windowHandle();
    return native ? native->frameMargins() : QMargins();
}

void whenExposed(QWidget* window, std::function<void()> exposed) { new ExposureWatch(window, std::move(exposed)); }

void closeButtonOnly(QWidget* dialog) {
    dialog->setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
}

}  // namespace corvane
