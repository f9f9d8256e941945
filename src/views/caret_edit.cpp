#include "views/caret_edit.h"

#include <algorithm>

#include <QApplication>
#include <QPainter>
#include <QTextBlock>
#include <QTextLayout>

namespace corvane {

CaretEdit::CaretEdit(QWidget* parent) : QPlainTextEdit(parent) {
    setCursorWidth(0);  // Qt's own caret is not drawn
    blink_.setInterval(std::max(QApplication::cursorFlashTime() / 2, 1));
    connect(&blink_, &QTimer::timeout, this, &CaretEdit::blink);
    connect(this, &QPlainTextEdit::cursorPositionChanged, this, &CaretEdit::showCaret);
    connect(this, &QPlainTextEdit::textChanged, this, &CaretEdit::showCaret);
}

QRect CaretEdit::caretAt() const {
    // One pixel before the character; two at a line's start, where the inset has room.
    const QTextCursor cursor = textCursor();
    const QTextLayout* layout = cursor.block().layout();
    const QTextLine line = layout ? layout->lineForTextPosition(cursor.positionInBlock()) : QTextLine();
    const bool lineStart = !line.isValid() || line.textStart() == cursor.positionInBlock();
    const QRect at = cursorRect();
    return {at.left() - caretWidth - (lineStart ? 1 : 0), at.top(), caretWidth, at.height()};
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
