#include "views/app_style.h"

#include <algorithm>

#include <QPainter>
#include <QPushButton>
#include <QStyleFactory>
#include <QStyleOption>

#include "views/theme.h"

namespace corvane {

namespace {

// A disabled button's frame and fill, drawn at this opacity.
constexpr double kDisabledBevelOpacity = 0.5;
// The corner radius of the ring around a push button.
constexpr double kButtonRingRadius = 5;
// The room a one-line field keeps around its text inside the area the style gives it.
constexpr int kLineEditMargin = 2;

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

bool AppStyle::showsFocus(const QWidget* widget) {
    return widget->hasFocus() && widget->window()->testAttribute(Qt::WA_KeyboardFocusChange);
}

void AppStyle::drawFocusRing(QPainter* painter, const QRectF& outer, double radius) {
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setBrush(Qt::NoBrush);
    const double half = focusRing / 2.0;
    painter->setPen(QPen(Theme::tint(Tint::accent, 0.75), focusRing));
    painter->drawRoundedRect(outer.adjusted(half, half, -half, -half), radius, radius);
    painter->setPen(QPen(QColor(255, 255, 255, 200), 1));
    const double inner = focusRing + 0.5;
    const double innerRadius = std::max(0.0, radius - focusRing);
    painter->drawRoundedRect(outer.adjusted(inner, inner, -inner, -inner), innerRadius, innerRadius);
    painter->restore();
}

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
    const auto* button = qstyleoption_cast<const QStyleOptionButton*>(option);
    if (element != CE_PushButtonBevel || !button) return QProxyStyle::drawControl(element, option, painter, widget);
    // The frame inside the ring's room (Fusion keeps 1 px above and right of it itself); focus
    // shows as the ring around it, not as Fusion's blue frame of the default button.
    const bool flat = button->features & QStyleOptionButton::Flat;
    QStyleOptionButton bevel(*button);
    bevel.state &= ~State_HasFocus;
    if (!flat) bevel.rect = button->rect.adjusted(focusRing, focusRing - 1, -(focusRing - 1), -focusRing);
    painter->save();
    if (!(option->state & State_Enabled)) painter->setOpacity(painter->opacity() * kDisabledBevelOpacity);
    QProxyStyle::drawControl(element, &bevel, painter, widget);
    painter->restore();
    const State keyboardFocus = State_HasFocus | State_KeyboardFocusChange;
    if (!flat && (button->state & keyboardFocus) == keyboardFocus) {
        drawFocusRing(painter, button->rect, kButtonRingRadius);
    }
}

void AppStyle::drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                             const QWidget* widget) const {
    if (element != PE_FrameFocusRect) return QProxyStyle::drawPrimitive(element, option, painter, widget);
    if (!(option->state & State_KeyboardFocusChange)) return;
    // Reached by controls that draw themselves through style sheets: the ring goes round the
    // whole button. Fusion's own push buttons draw theirs with their frame.
    if (qobject_cast<const QPushButton*>(widget)) return drawFocusRing(painter, widget->rect(), kButtonRingRadius);
    drawFocusRing(painter, QRectF(option->rect).adjusted(-1, -1, 1, 1), 3);
}

QSize AppStyle::sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& contents,
                                 const QWidget* widget) const {
    QSize size = QProxyStyle::sizeFromContents(type, option, contents, widget);
    const auto* button = qstyleoption_cast<const QStyleOptionButton*>(option);
    if (type != CT_PushButton || !button || (button->features & QStyleOptionButton::Flat)) return size;
    // Room for the text's padding, then for the ring (Fusion's 1 px above the frame is part of it).
    size.setWidth(std::max(size.width(), contents.width() + 2 * buttonPadding) + 2 * focusRing);
    size.setHeight(size.height() + 2 * focusRing - 1);
    return size;
}

QRect AppStyle::subElementRect(SubElement element, const QStyleOption* option, const QWidget* widget) const {
    QRect area = QProxyStyle::subElementRect(element, option, widget);
    const auto* frame = qstyleoption_cast<const QStyleOptionFrame*>(option);
    if (element != SE_LineEditContents || !frame || frame->lineWidth <= 0) return area;
    // The field adds its own margin to this area: its text starts fieldInset inside its edge.
    const int side = fieldInset - kLineEditMargin;
    area.setLeft(option->rect.left() + side);
    area.setRight(option->rect.right() - side);
    return area;
}

}  // namespace corvane
