#include "views/elided_combo_box.h"

#include <algorithm>
#include <cmath>

#include <QAbstractItemView>
#include <QEvent>
#include <QStyleOptionComboBox>
#include <QStylePainter>

#include "views/data_text.h"

namespace corvane {

namespace {

constexpr int kMinimumWidth = 80;

}  // namespace

ElidedComboBox::ElidedComboBox(QWidget* parent) : QComboBox(parent) {
    setSizeAdjustPolicy(QComboBox::AdjustToContents);
    setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Fixed);
    view()->setTextElideMode(Qt::ElideMiddle);
    connect(this, &QComboBox::currentIndexChanged, this, &ElidedComboBox::showWholeText);
}

QSize ElidedComboBox::sizeHint() const {
    // Wide enough that the style's edit field holds the longest entry whole, measured
    // unrounded (a width rounded down would elide it).
    const QSize hint = QComboBox::sizeHint();
    QStyleOptionComboBox option;
    initStyleOption(&option);
    option.rect = QRect(QPoint(), hint);
    const QRect field = style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, this);
    const QFontMetricsF metrics(font());
    int needed = 0;
    for (int row = 0; row < count(); ++row) {
        const int icon = itemIcon(row).isNull() ? 0 : iconSize().width() + 4;
        needed = std::max(needed, int(std::ceil(metrics.horizontalAdvance(itemText(row)))) + icon + 2);
    }
    return {hint.width() - field.width() + needed, hint.height()};
}

QSize ElidedComboBox::minimumSizeHint() const {
    const QSize full = sizeHint();
    return {std::min(full.width(), kMinimumWidth), full.height()};
}

QString ElidedComboBox::shownText() const {
    QStyleOptionComboBox option;
    initStyleOption(&option);
    // The style draws the entry after its icon, in the edit field less a pixel on each side.
    QRect room = style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, this);
    if (!option.currentIcon.isNull()) room.setWidth(room.width() - option.iconSize.width() - 4);
    return fontMetrics().elidedText(option.currentText, Qt::ElideMiddle, std::max(0, room.width() - 2));
}

bool ElidedComboBox::event(QEvent* event) {
    // Refilled under a signal blocker, the entry may have changed unannounced: the tooltip is read now.
    if (event->type() == QEvent::ToolTip) showWholeText();
    return QComboBox::event(event);
}

void ElidedComboBox::paintEvent(QPaintEvent*) {
    QStylePainter painter(this);
    painter.setPen(palette().color(QPalette::Text));
    QStyleOptionComboBox option;
    initStyleOption(&option);
    painter.drawComplexControl(QStyle::CC_ComboBox, option);
    option.currentText = shownText();
    painter.drawControl(QStyle::CE_ComboBoxLabel, option);
}

void ElidedComboBox::showWholeText() { setDataToolTip(this, currentText()); }

}  // namespace corvane
