#include "views/main_window.h"

#include <sstream>

#include <QAbstractButton>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QGuiApplication>
#include <QMenuBar>
#include <QScreen>

#include "app/app_state.h"
#include "app/defaults_store.h"
#include "views/dialog_keys.h"
#include "views/main/content_view.h"
#include "views/screen_fit.h"
#include "views/window_frame.h"

namespace corvane {

namespace {

const char* kFrameKey = "CorvaneMainWindow";

}  // namespace

MainWindow::MainWindow(AppState& state, DefaultsStore& defaults, QWidget* parent)
    : QMainWindow(parent), defaults_(defaults) {
    setWindowTitle(QStringLiteral("Corvane"));
    content_ = new ContentView(state, this);
    setCentralWidget(content_);
    // The first placement could not count the title bar: it is known once the window is framed.
    whenExposed(this, [this] { fitFrame(); });
}

std::optional<QRect> MainWindow::parseFrame(const std::string& text, const QSize& minimum) {
    std::istringstream in(text);
    int x = 0, y = 0, w = 0, h = 0;
    if (!(in >> x >> y >> w >> h)) return std::nullopt;
    std::string rest;
    if (in >> rest) return std::nullopt;
    if (w < minimum.width() || h < minimum.height() || w > 100000 || h > 100000) return std::nullopt;
    return QRect(x, y, w, h);
}

std::string MainWindow::frameText(const QRect& frame) {
    return std::to_string(frame.x()) + " " + std::to_string(frame.y()) + " " + std::to_string(frame.width()) + " " +
           std::to_string(frame.height());
}

void MainWindow::placeWindow() {
    // The content gets exactly its own size; the menu bar sits above it.
    const int menuHeight = menuWidget() ? menuWidget()->sizeHint().height() : 0;
    const QSize size(content_->sizeHint().width(), content_->sizeHint().height() + menuHeight);
    const QSize minimum(content_->minimumSizeHint().width(), content_->minimumSizeHint().height() + menuHeight);
    setMinimumSize(minimum);
    std::optional<QRect> frame;
    if (const auto saved = defaults_.stringValue(kFrameKey)) frame = parseFrame(*saved, minimum);
    if (!frame) {
        const QScreen* screen = this->screen();
        frame = centredOver(screen ? screen->availableGeometry() : QRect(QPoint(0, 0), size), size);
    }
    // Wholly on a screen, smaller when the screen is (a frame saved on a larger one, a first
    // size taller than a low screen), but never below the minimum. The offscreen platform's
    // screen (a run without a display) is a stand-in that nobody sees: there the window keeps
    // its size, so its picture shows it whole.
    if (QGuiApplication::platformName() != QStringLiteral("offscreen")) {
        frame = shrunkOnto(*frame, availableAreaFor(*frame), minimum);
    }
    setGeometry(*frame);
}

void MainWindow::fitFrame() {
    const QMargins frame = frameMargins(this);
    if (frame.isNull() || isMaximized() || isMinimized() || isFullScreen()) return;
    // The offscreen platform's frame and screen are stand-ins nobody sees (see placeWindow).
    if (QGuiApplication::platformName() == QStringLiteral("offscreen")) return;
    const QRect fitted = fittedWithFrame(geometry(), frame, availableAreaFor(frameGeometry()), minimumSize());
    if (fitted != geometry()) setGeometry(fitted);
}

void MainWindow::saveFrame() const {
    defaults_.setString(kFrameKey, frameText(isMaximized() || isMinimized() ? normalGeometry() : geometry()));
}

void MainWindow::keyPressEvent(QKeyEvent* event) {
    // The key came up from the focused widget, which left it: a focused button is pressed.
    if (isPlainReturn(event)) {
        if (QAbstractButton* button = buttonForReturn(this, nullptr)) {
            button->click();
            event->accept();
            return;
        }
    }
    QMainWindow::keyPressEvent(event);
}

void MainWindow::closeEvent(QCloseEvent* event) {
    saveFrame();
    QMainWindow::closeEvent(event);
}

}  // namespace corvane
