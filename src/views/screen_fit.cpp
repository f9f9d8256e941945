#include "views/screen_fit.h"

#include <algorithm>

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

namespace corvane {

namespace {

int areaOf(const QRect& rect) { return rect.isEmpty() ? 0 : rect.width() * rect.height(); }

// Where a span starts once moved the least onto [start, start + room): its start
// first moves back so its end fits, then forward so its start does.
int spanOnto(int from, int length, int start, int room) {
    return std::max(start, std::min(from, start + room - length));
}

}  // namespace

QRect movedOnto(const QRect& frame, const QRect& area) {
    return {spanOnto(frame.x(), frame.width(), area.x(), area.width()),
            spanOnto(frame.y(), frame.height(), area.y(), area.height()), frame.width(), frame.height()};
}

QRect shrunkOnto(const QRect& frame, const QRect& area, const QSize& minimum) {
    const QSize size(std::max(minimum.width(), std::min(frame.width(), area.width())),
                     std::max(minimum.height(), std::min(frame.height(), area.height())));
    return movedOnto(QRect(frame.topLeft(), size), area);
}

QRect fittedWithFrame(const QRect& window, const QMargins& frame, const QRect& area, const QSize& minimum) {
    const QSize frameRoom(frame.left() + frame.right(), frame.top() + frame.bottom());
    return shrunkOnto(window.marginsAdded(frame), area, minimum + frameRoom).marginsRemoved(frame);
}

QRect centredOver(const QRect& over, const QSize& size) {
    return {over.x() + (over.width() - size.width()) / 2, over.y() + (over.height() - size.height()) / 2,
            size.width(), size.height()};
}

QRect availableAreaFor(const QRect& frame) {
    const QScreen* best = nullptr;
    int bestOverlap = 0;
    for (const QScreen* screen : QGuiApplication::screens()) {
        const int overlap = areaOf(screen->geometry().intersected(frame));
        if (overlap > bestOverlap) {
            best = screen;
            bestOverlap = overlap;
        }
    }
    if (!best) best = QGuiApplication::primaryScreen();
    return best ? best->availableGeometry() : frame;
}

void placeOverParent(QWidget* dialog) {
    const QWidget* parent = dialog->parentWidget() ? dialog->parentWidget()->window() : nullptr;
    if (!parent) {
        keepOnScreen(dialog);
        return;
    }
    const QRect over = parent->frameGeometry();
    const QRect frame = centredOver(over, dialog->frameGeometry().size());
    dialog->move(movedOnto(frame, availableAreaFor(over)).topLeft());
}

void keepOnScreen(QWidget* window) {
    const QRect frame = window->frameGeometry();
    const QRect placed = movedOnto(frame, availableAreaFor(frame));
    if (placed.topLeft() != frame.topLeft()) window->move(placed.topLeft());
}

}  // namespace corvane
