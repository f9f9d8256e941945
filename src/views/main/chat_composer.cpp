#include "views/main/chat_composer.h"

#include <algorithm>
#include <cmath>

#include <QAbstractTextDocumentLayout>
#include <QKeyEvent>
#include <QTextBlock>
#include <QTextLayout>

#include "views/theme.h"

namespace corvane {

ComposerEdit::ComposerEdit(QWidget* parent) : TypedTextEdit(parent) {
    setFont(Theme::font(12.5));
    setFrameShape(QFrame::NoFrame);
    setTabChangesFocus(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    document()->setDocumentMargin(0);
    viewport()->setAutoFillBackground(false);
    setAutoFillBackground(false);
    setStyleSheet(QStringLiteral("QPlainTextEdit { background: transparent; border: none; }"));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    connect(document()->documentLayout(), &QAbstractTextDocumentLayout::documentSizeChanged, this,
            &ComposerEdit::fitHeight);
    fitHeight();
}

void ComposerEdit::fitHeight() {
    // The plain layout counts its size in lines.
    const int counted = int(std::ceil(document()->documentLayout()->documentSize().height()));
    lines_ = std::clamp(counted, 1, maxLines);
    setFixedHeight(lines_ * fontMetrics().lineSpacing() + 2);
}

void ComposerEdit::inputMethodEvent(QInputMethodEvent* event) {
    composing_ = !event->preeditString().isEmpty();
    TypedTextEdit::inputMethodEvent(event);
}

void ComposerEdit::keyPressEvent(QKeyEvent* event) {
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (!enter || composing_) return TypedTextEdit::keyPressEvent(event);
    if (event->modifiers() & Qt::ShiftModifier) {
        insertBreak();
        return;
    }
    Q_EMIT submitted();
}

}  // namespace corvane
