#pragma once
// Keeps windows wholly on a screen's available area (the screen less its panels
// and docks). Nothing else may do it: without a window manager a window lies
// exactly where the program puts it, and Qt places a dialog before its height
// is known.

#include <QMargins>
#include <QRect>
#include <QSize>

class QWidget;

namespace corvane {

// The frame moved by the least amount that puts it on the area; a frame larger than
// the area keeps its top-left corner on it.
QRect movedOnto(const QRect& frame, const QRect& area);
// The frame made no larger than the area, never below the minimum, then moved onto it.
QRect shrunkOnto(const QRect& frame, const QRect& area, const QSize& minimum);
// The window (its client rectangle) whose whole frame, the window manager's margins round
// it, is shrunk onto the area, the window never below its minimum, and moved onto it.
QRect fittedWithFrame(const QRect& window, const QMargins& frame, const QRect& area, const QSize& minimum);
// A rectangle of that size centred over another.
QRect centredOver(const QRect& over, const QSize& size);

// The available area of the screen the frame overlaps most, else the primary screen's
// (the frame itself when there is no screen).
QRect availableAreaFor(const QRect& frame);
// Centres a dialog over its parent's window, then moves it onto that screen.
void placeOverParent(QWidget* dialog);
// Moves a window onto the screen it overlaps most, by the least amount.
void keepOnScreen(QWidget* window);

}  // namespace corvane
