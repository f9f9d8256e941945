#pragma once
// Walking a window's Tab stops and reading the focus mark each one draws.

#include <algorithm>
#include <vector>

#include <QAbstractItemView>
#include <QApplication>
#include <QTest>
#include <QWidget>

#include "views/pixel_probes.h"

namespace corvane::test {

inline QString stopName(const QWidget* widget) {
    QString name = widget->objectName();
    if (name.isEmpty()) name = widget->accessibleName();
    if (name.isEmpty() && widget->property("text").isValid()) name = widget->property("text").toString();
    return QString::fromLatin1(widget->metaObject()->className()) + QLatin1Char(' ') + name;
}

// The widgets Tab reaches from the focused one, in order, until it comes back round.
inline std::vector<QWidget*> tabStops() {
    // A list whose rows Tab visits one by one is one widget of many stops: a stop is a
    // widget and the row that has the keys in it.
    const auto rowOf = [](QWidget* widget) {
        const auto* list = qobject_cast<QAbstractItemView*>(widget);
        return list ? list->currentIndex().row() : -1;
    };
    std::vector<QWidget*> stops;
    std::vector<std::pair<QWidget*, int>> visited;
    for (int i = 0; i < 60; ++i) {
        QWidget* from = QApplication::focusWidget();
        if (!from) break;
        QTest::keyClick(from, Qt::Key_Tab);
        QWidget* to = QApplication::focusWidget();
        const std::pair<QWidget*, int> stop{to, rowOf(to)};
        if (!to || std::find(visited.begin(), visited.end(), stop) != visited.end()) break;
        visited.push_back(stop);
        if (std::find(stops.begin(), stops.end(), to) == stops.end()) stops.push_back(to);
    }
    return stops;
}

// The accent pixels a widget and what holds it (a field's frame) draw while it has the
// keyboard focus that they do not draw without.
inline int accentGain(QWidget* widget) {
    QWidget* holder = widget->parentWidget() ? widget->parentWidget() : widget;
    widget->setFocus(Qt::TabFocusReason);
    const QImage focused = rendered(holder);
    widget->clearFocus();
    const QImage plain = rendered(holder);
    int gained = 0;
    for (int y = 0; y < focused.height(); ++y) {
        for (int x = 0; x < focused.width(); ++x) {
            const QRgb pixel = focused.pixel(x, y);
            gained += pixel != plain.pixel(x, y) && isAccent(pixel) ? 1 : 0;
        }
    }
    return gained;
}

}  // namespace corvane::test
