#pragma once
// The window manager's frame round a top-level window (its title bar and border).
// Qt learns the frame's margins only once the window manager has framed and mapped
// the window, and tells the widget nothing then: a window that must put its whole
// frame somewhere does it again when its native window is first exposed after a show.

#include <functional>

#include <QMargins>

class QWidget;

namespace corvane {

// The margins of the frame round a top-level window: none without a window manager,
// or before the window manager has framed it.
QMargins frameMargins(const QWidget* window);

// Runs `exposed` each time the window's native window is first exposed after a show of
// the window (the first show and every later one, a restore from the minimised state too).
void whenExposed(QWidget* window, std::function<void()> exposed);

// Asks the window manager to give a dialog of fixed size only a title bar and a close
// button: nothing to minimise or maximise. Call before the dialog is first shown.
void closeButtonOnly(QWidget* dialog);

}  // namespace corvane
