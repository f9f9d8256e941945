#include "views/caret_edit.h"

#include <algorithm>

#include <QApplication>
#include <QPainter>

namespace corvane {

CaretEdit::CaretEdit(QWidget* parent) : QPlainTextEdit(parent) {
    setCursorWidth(0);  // Qt's own caret is not drawn
    blink_.setInterval(std::max(QApplication::cursorFlashTime() / 2, 1));
    connect(&blink_, &QTimer::timeout, this, &CaretEdit::blink);
    connect(this, &QPlainTextEdit::cursorPositionChanged, this, &CaretEdit::showCaret);
    connect(this, &QPlainTextEdit::textChanged, this, &CaretEdit::showCaret);
}

QRect CaretEdit::caretAt() const {
    const QRect at = cursorRect();
    return {at.left() - caretWidth, at.top(), caretWidth, at.height()};
}

QRect CaretEdit::caretRect() const { return caretOn_ && hasFocus() && !isReadOnly() ? caretAt() : QRect(); }

void CaretEdit::showCaret() {
    if (!hasFocus()) return;
    caretOn_ = true;
    if (QApplication::cursorFlashTime() > 0) blink_.start();
    viewport()->update(drawnAt_);
    drawnAt_ = caretAt();
    viewport()->update(drawnAt_);
}

void CaretEdit::blink() {
    caretOn_ = !caretOn_;
    viewport()->update(drawnAt_);
}

void CaretEdit::focusInEvent(QFocusEvent* event) {
    QPlainTextEdit::focusInEvent(event);
    showCaret();
}

void CaretEdit::focusOutEvent(QFocusEvent* event) {
    QPlainTextEdit::focusOutEvent(event);
    blink_.stop();
    caretOn_ = false;
    viewport()->update(drawnAt_);
}

void CaretEdit::paintEvent(QPaintEvent* event) {
    QPlainTextEdit::paintEvent(event);
    const QRect caret = caretRect();
    if (caret.isEmpty()) return;
    QPainter painter(viewport());
    painter.fillRect(caret, palette().color(QPalette::Text));
    drawnAt_ = caret;
}

}  // namespace corvane
