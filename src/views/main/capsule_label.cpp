#include "views/main/capsule_label.h"

#include <cmath>

#include <QPainter>

namespace corvane {

CapsuleLabel::CapsuleLabel(double px, Weight weight, double padH, double padV, QWidget* parent)
    : ElidedLabel({}, Qt::ElideRight, parent) {
    setFont(Theme::font(px, weight));
    setAlignment(Qt::AlignCenter);
    const int h = int(std::ceil(padH));
    const int v = int(std::ceil(padV));
    setContentsMargins(h, v, h, v);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

void CapsuleLabel::setColors(const QColor& text, const QColor& fill) {
    Theme::setTextColor(this, text);
    fill_ = fill;
    update();
}

QSize CapsuleLabel::sizeHint() const { return ElidedLabel::sizeHint(); }

QSize CapsuleLabel::minimumSizeHint() const {
    const QMargins m = contentsMargins();
    return {m.left() + m.right() + fontMetrics().height(), ElidedLabel::sizeHint().height()};
}

void CapsuleLabel::paintEvent(QPaintEvent* event) {
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(fill_);
        const qreal radius = height() / 2.0;
        painter.drawRoundedRect(QRectF(rect()), radius, radius);
    }
    ElidedLabel::paintEvent(event);
}

}  // namespace corvane
