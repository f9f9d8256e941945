#include "views/dialog_keys.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>

namespace corvane {

bool isPlainReturn(const QKeyEvent* event) {
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    const Qt::KeyboardModifiers modifiers = event->modifiers();
    return enter && (!modifiers || (modifiers == Qt::KeypadModifier && event->key() == Qt::Key_Enter));
}

namespace {

bool pressable(const QAbstractButton* button) { return button && button->isVisible() && button->isEnabled(); }

}  // namespace

QAbstractButton* buttonForReturn(const QWidget* dialog, QPushButton* defaultButton) {
    // The application's focus widget got the key first and let it through.
    QWidget* focused = QApplication::focusWidget();
    if (focused && focused->window() == dialog) {
        auto* push = qobject_cast<QPushButton*>(focused);
        auto* tool = qobject_cast<QToolButton*>(focused);
        QAbstractButton* button = push ? static_cast<QAbstractButton*>(push) : tool;
        if (pressable(button)) return button;
    }
    return pressable(defaultButton) ? defaultButton : nullptr;
}

void focusNowAndAfterShow(QWidget* widget) {
    widget->setFocus(Qt::OtherFocusReason);
    QTimer::singleShot(0, widget, [widget] { widget->setFocus(Qt::OtherFocusReason); });
}

bool pressForReturn(QWidget* dialog, QKeyEvent* event, QPushButton* defaultButton) {
    if (!isPlainReturn(event)) return false;
    if (QAbstractButton* button = buttonForReturn(dialog, defaultButton)) button->click();
    event->accept();
    return true;
}

}  // namespace corvane
