#include "views/window_focus.h"

#include <QAbstractScrollArea>
#include <QAccessibleWidget>
#include <QApplication>
#include <QEvent>

namespace corvane {

namespace {

class PopupsCloseWithDialog : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Hide && watched->isWidgetType()) closePopupsOf(static_cast<QWidget*>(watched));
        return false;
    }

private:
    static void closePopupsOf(QWidget* widget) {
        if (!widget->isWindow() || widget->windowType() != Qt::Dialog) return;
        // Each close takes one popup off Qt's stack; one that refuses is hidden.
        while (QWidget* popup = QApplication::activePopupWidget()) {
            if (!popup->close()) popup->hide();
        }
    }
};

// A viewport as what it is: a filler that holds no keys of its own.
class ViewportAccessible : public QAccessibleWidget {
public:
    explicit ViewportAccessible(QWidget* viewport) : QAccessibleWidget(viewport, QAccessible::Client) {}

    QAccessible::State state() const override {
        QAccessible::State state = QAccessibleWidget::state();
        state.focused = false;
        state.focusable = false;
        return state;
    }
};

QAccessibleInterface* viewportAccessible(const QString& className, QObject* object) {
    if (className != QLatin1String("QWidget") || !object->isWidgetType()) return nullptr;
    auto* widget = static_cast<QWidget*>(object);
    auto* area = qobject_cast<QAbstractScrollArea*>(widget->parentWidget());
    if (area == nullptr || area->viewport() != widget) return nullptr;
    return new ViewportAccessible(widget);
}

// The last control a focus event was sent for.
QAccessible::Id lastFocus = 0;

void oneFocusEvent(QAccessibleEvent* event);

void send(QAccessibleEvent* event) {
    QAccessible::installUpdateHandler(nullptr);
    QAccessible::updateAccessibility(event);
    QAccessible::installUpdateHandler(oneFocusEvent);
}

// A list that takes the keys is told twice, its current row and then the list itself, and a
// screen reader would name the list last: the focus event of a control whose focus lies on a
// part of it (a row) goes to that part, and not again when the part was just told.
void oneFocusEvent(QAccessibleEvent* event) {
    QAccessibleInterface* target = event->type() == QAccessible::Focus ? event->accessibleInterface() : nullptr;
    if (target == nullptr) return send(event);
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

void keepWindowFocusWhole(QApplication& app) {
    app.installEventFilter(new PopupsCloseWithDialog(&app));
    QAccessible::installFactory(viewportAccessible);
    QAccessible::installUpdateHandler(oneFocusEvent);
}

}  // namespace corvane
