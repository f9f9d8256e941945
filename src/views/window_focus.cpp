#include "views/window_focus.h"

#include <QAbstractScrollArea>
#include <QAccessibleWidget>
#include <QApplication>
#include <QEvent>
#include <QPointer>
#include <QTimer>

namespace corvane {

namespace {

class DialogsLeaveFocusWhole : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::Hide || !watched->isWidgetType()) return false;
        auto* widget = static_cast<QWidget*>(watched);
        if (!widget->isWindow() || widget->windowType() != Qt::Dialog) return false;
        closePopupsOf(widget);
        activateBehind(widget);
        return false;
    }

private:
    static void closePopupsOf(QWidget* dialog) {
        // Each close takes one popup off Qt's stack; one that refuses is hidden. A popup of
        // another window (a menu of the main window) stays.
        while (QWidget* popup = QApplication::activePopupWidget()) {
            if (!popupOf(popup, dialog)) return;
            if (!popup->close()) popup->hide();
        }
    }

    // Without a window manager nothing gives the input focus back when a dialog goes: the X
    // server leaves it on the root window and no key reaches the program. So the window
    // behind takes it itself, once the dialog is gone and no other window of the program has
    // it (with a window manager this asks the manager, which has done so or does it now).
    static void activateBehind(QWidget* dialog) {
        QWidget* behind = dialog->parentWidget() ? dialog->parentWidget()->window() : nullptr;
        if (behind == nullptr) return;
        QTimer::singleShot(0, behind, [behind = QPointer<QWidget>(behind)] {
            if (!behind || !behind->isVisible() || behind->isActiveWindow()) return;
            QWidget* active = QApplication::activeWindow();
            if (active != nullptr && active != behind && active->isVisible()) return;
            QWidget* modal = QApplication::activeModalWidget();
            if (modal != nullptr && modal != behind) return;
            behind->activateWindow();
        });
    }
};

// A widget that passes the keys on to another (its focus proxy) as what it is: it holds none
// of its own, although Qt calls it focused while the other holds them.
class PassesKeysOnAccessible : public QAccessibleWidget {
public:
    PassesKeysOnAccessible(QWidget* widget, QAccessible::Role role) : QAccessibleWidget(widget, role) {}

    QAccessible::State state() const override {
        QAccessible::State state = QAccessibleWidget::state();
        state.focused = false;
        state.focusable = false;
        return state;
    }
};

// A scroll area's viewport (a filler), and a dialog's button box, which passes the keys to its
// first button: an alert would report both the box and the button focused.
QAccessibleInterface* passesKeysOnAccessible(const QString& className, QObject* object) {
    if (!object->isWidgetType()) return nullptr;
    auto* widget = static_cast<QWidget*>(object);
    if (className == QLatin1String("QDialogButtonBox")) return new PassesKeysOnAccessible(widget, QAccessible::Grouping);
    if (className != QLatin1String("QWidget")) return nullptr;
    auto* area = qobject_cast<QAbstractScrollArea*>(widget->parentWidget());
    if (area == nullptr || area->viewport() != widget) return nullptr;
    return new PassesKeysOnAccessible(widget, QAccessible::Client);
}

// The last control a focus event was sent for; none once the keys left the program, so
// that the row they come back to is told again.
QAccessible::Id lastFocus = 0;

void oneFocusEvent(QAccessibleEvent* event);

void send(QAccessibleEvent* event) {
    QAccessible::installUpdateHandler(nullptr);
    QAccessible::updateAccessibility(event);
    QAccessible::installUpdateHandler(oneFocusEvent);
}

// Qt's window reports its active state from its own focus changes, before the application's
// active window follows: a menu opening or closing, or a dialog opening, would tell the window
// behind it active again although it was all along. The bridge tells each real change of the
// active window itself, from the window's activation, so this report is dropped.
bool activeReportOfAWindow(QAccessibleEvent* event) {
    if (event->type() != QAccessible::StateChanged) return false;
    if (!static_cast<QAccessibleStateChangeEvent*>(event)->changedStates().active) return false;
    QObject* object = event->object();
    return object != nullptr && object->isWidgetType() && static_cast<QWidget*>(object)->isWindow();
}

// Focus events that no move of the keys made: a control that gives them up to nothing
// (clearFocus) tells one for itself as they go, and a list made ready in a window not shown yet
// (the file picker's places) tells one for its current row; a screen reader would name either.
bool toldWithoutTheKeys(QAccessibleEvent* event) {
    if (QApplication::focusWidget() == nullptr && QApplication::activePopupWidget() == nullptr) return true;
    auto* widget = qobject_cast<QWidget*>(event->object());
    return widget != nullptr && !widget->window()->isVisible();
}

// A list that takes the keys is told twice, its current row and then the list itself, and a
// screen reader would name the list last: the focus event of a control whose focus lies on a
// part of it (a row) goes to that part, and not again when the part was just told.
void oneFocusEvent(QAccessibleEvent* event) {
    if (activeReportOfAWindow(event)) return;
    QAccessibleInterface* target = event->type() == QAccessible::Focus ? event->accessibleInterface() : nullptr;
    if (target == nullptr) return send(event);
    if (toldWithoutTheKeys(event)) return;
    QAccessibleInterface* inner = event->child() < 0 ? target->focusChild() : nullptr;
    if (inner == nullptr || inner == target) {
        lastFocus = QAccessible::uniqueId(target);
        return send(event);
    }
    if (QAccessible::uniqueId(inner) == lastFocus) return;
    lastFocus = QAccessible::uniqueId(inner);
    QAccessibleEvent told(inner, QAccessible::Focus);
    send(&told);
}

}  // namespace

bool popupOf(const QWidget* popup, const QWidget* dialog) {
    for (const QWidget* owner = popup; owner != nullptr;) {
        if (owner == dialog) return true;
        const QWidget* next = owner->parentWidget();
        if (next == nullptr && owner->focusProxy() != nullptr && owner->focusProxy() != owner) next = owner->focusProxy();
        owner = next;
    }
    return false;
}

void keepWindowFocusWhole(QApplication& app) {
    app.installEventFilter(new DialogsLeaveFocusWhole(&app));
    QObject::connect(&app, &QApplication::focusChanged, &app, [](QWidget*, QWidget* now) {
        if (now == nullptr) lastFocus = 0;
    });
    QAccessible::installFactory(passesKeysOnAccessible);
    QAccessible::installUpdateHandler(oneFocusEvent);
}

}  // namespace corvane
