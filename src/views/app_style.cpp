#include "views/app_style.h"

#include <algorithm>

#include <QPainter>
#include <QStyleFactory>
#include <QStyleOption>

#include "views/theme.h"

namespace corvane {

namespace {

// A disabled button's frame and fill, drawn at this opacity.
constexpr double kDisabledBevelOpacity = 0.5;

// The knob's room along the bar: the page shown against the whole, at least the minimum length.
QRect knobRoom(const QStyleOptionSlider& bar) {
    const bool horizontal = bar.orientation == Qt::Horizontal;
    const int length = horizontal ? bar.rect.width() : bar.rect.height();
    const qint64 range = qint64(bar.maximum) - bar.minimum;
    if (range <= 0 || length <= 0) return {};
    const qint64 page = std::max(bar.pageStep, 1);
    const int shortest = std::min(AppStyle::knobMinLength, length);
    const int knob = std::clamp(int(length * page / (range + page)), shortest, length);
    const int offset =
        QStyle::sliderPositionFromValue(bar.minimum, bar.maximum, bar.sliderPosition, length - knob, bar.upsideDown);
    if (horizontal) return {bar.rect.left() + offset, bar.rect.top(), knob, bar.rect.height()};
    return {bar.rect.left(), bar.rect.top() + offset, bar.rect.width(), knob};
}

// The bar's parts: no arrow buttons, the whole length is the groove.
QRect scrollBarPart(const QStyleOptionSlider& bar, QStyle::SubControl part) {
    const QRect knob = knobRoom(bar);
    const bool horizontal = bar.orientation == Qt::Horizontal;
    switch (part) {
        case QStyle::SC_ScrollBarGroove: return bar.rect;
        case QStyle::SC_ScrollBarSlider: return knob;
        case QStyle::SC_ScrollBarSubPage:
            if (knob.isEmpty()) return {};
            return horizontal ? QRect(bar.rect.topLeft(), QPoint(knob.left() - 1, bar.rect.bottom()))
                              : QRect(bar.rect.topLeft(), QPoint(bar.rect.right(), knob.top() - 1));
        case QStyle::SC_ScrollBarAddPage:
            if (knob.isEmpty()) return {};
            return horizontal ? QRect(QPoint(knob.right() + 1, bar.rect.top()), bar.rect.bottomRight())
                              : QRect(QPoint(bar.rect.left(), knob.bottom() + 1), bar.rect.bottomRight());
        default: return {};
    }
}

// The knob as drawn: a capsule along the bar's far edge.
QRectF knobShape(const QStyleOptionSlider& bar, const QRect& room) {
    const double inset = AppStyle::knobInset;
    const double thickness = AppStyle::knobThickness;
    if (bar.orientation == Qt::Horizontal) {
        return {room.left() + inset, bar.rect.bottom() + 1 - inset - thickness, room.width() - 2 * inset, thickness};
    }
    return {bar.rect.right() + 1 - inset - thickness, room.top() + inset, thickness, room.height() - 2 * inset};
}

}  // namespace

AppStyle::AppStyle() : QProxyStyle(QStyleFactory::create(QStringLiteral("Fusion"))) {}

int AppStyle::pixelMetric(PixelMetric metric, const QStyleOption* option, const QWidget* widget) const {
    switch (metric) {
        case PM_ScrollBarExtent:
        case PM_ScrollView_ScrollBarOverlap: return scrollBarExtent;
        case PM_ScrollBarSliderMin: return knobMinLength;
        default: return QProxyStyle::pixelMetric(metric, option, widget);
    }
}

int AppStyle::styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                        QStyleHintReturn* returnData) const {
    if (hint == SH_LineEdit_PasswordCharacter) return passwordBullet;
    return QProxyStyle::styleHint(hint, option, widget, returnData);
}

QRect AppStyle::subControlRect(ComplexControl control, const QStyleOptionComplex* option, SubControl subControl,
                               const QWidget* widget) const {
    const auto* bar = qstyleoption_cast<const QStyleOptionSlider*>(option);
    if (control != CC_ScrollBar || !bar) return QProxyStyle::subControlRect(control, option, subControl, widget);
    return visualRect(bar->direction, bar->rect, scrollBarPart(*bar, subControl));
}

void AppStyle::drawComplexControl(ComplexControl control, const QStyleOptionComplex* option, QPainter* painter,
                                  const QWidget* widget) const {
    const auto* bar = qstyleoption_cast<const QStyleOptionSlider*>(option);
    if (control != CC_ScrollBar || !bar) return QProxyStyle::drawComplexControl(control, option, painter, widget);
    // No groove and no buttons: only the knob, over whatever lies below.
    const QRect room = scrollBarPart(*bar, SC_ScrollBarSlider);
    if (room.isEmpty()) return;
    const bool held = (bar->state & State_Sunken) && (bar->activeSubControls & SC_ScrollBarSlider);
    const bool hovered = (bar->state & State_MouseOver) && (bar->activeSubControls & SC_ScrollBarSlider);
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setPen(Qt::NoPen);
    painter->setBrush(Theme::primary(held || hovered ? 0.55 : 0.35));
    const QRectF knob = knobShape(*bar, visualRect(bar->direction, bar->rect, room));
    painter->drawRoundedRect(knob, knobThickness / 2.0, knobThickness / 2.0);
    painter->restore();
}

void AppStyle::drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                           const QWidget* widget) const {
    const bool dimmed = element == CE_PushButtonBevel && !(option->state & State_Enabled);
    if (!dimmed) return QProxyStyle::drawControl(element, option, painter, widget);
    painter->save();
    painter->setOpacity(painter->opacity() * kDisabledBevelOpacity);
    QProxyStyle::drawControl(element, option, painter, widget);
    painter->restore();
}

}  // namespace corvane
