#include "views/tab_order.h"

#include <QLayout>
#include <QScrollArea>
#include <QWidget>

namespace corvane {

namespace {

void collect(QWidget* widget, std::vector<QWidget*>& out);

void collectLayout(const QLayout* layout, std::vector<QWidget*>& out) {
    for (int index = 0; index < layout->count(); ++index) {
        QLayoutItem* item = layout->itemAt(index);
        if (QWidget* widget = item->widget()) {
            collect(widget, out);
        } else if (const QLayout* inner = item->layout()) {
            collectLayout(inner, out);
        }
    }
}

void collect(QWidget* widget, std::vector<QWidget*>& out) {
    if (widget->focusPolicy() & Qt::TabFocus) {
        out.push_back(widget);
        return;
    }
    if (auto* scroll = qobject_cast<QScrollArea*>(widget)) {
        if (scroll->widget()) collect(scroll->widget(), out);
        return;
    }
    if (const QLayout* layout = widget->layout()) collectLayout(layout, out);
}

}  // namespace

std::vector<QWidget*> tabStopsInLayoutOrder(QWidget* root) {
    std::vector<QWidget*> out;
    if (const QLayout* layout = root->layout()) collectLayout(layout, out);
    return out;
}

void chainTabOrder(QWidget* root) {
    const std::vector<QWidget*> stops = tabStopsInLayoutOrder(root);
    for (size_t i = 1; i < stops.size(); ++i) QWidget::setTabOrder(stops[i - 1], stops[i]);
}

}  // namespace corvane
