#include "views/soft_shadow.h"

#include <QColor>
#include <QPainter>

namespace corvane {

void paintSoftShadow(QPainter& painter, const QRectF& shape, const std::function<QPainterPath(const QRectF&)>& outline) {
    constexpr int blur = SoftShadow::blur;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    for (int ring = blur; ring >= 1; --ring) {
        const double weight = double(blur - ring + 1) / (blur * (blur + 1) / 2.0);
        painter.setBrush(QColor::fromRgbF(0, 0, 0, float(0.12 * weight * 1.6)));
        painter.drawPath(outline(shape.adjusted(-ring, -ring + SoftShadow::down, ring, ring + SoftShadow::down)));
    }
    painter.restore();
}

}  // namespace corvane
