#include "views/app_icon.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace corvane {

namespace {

// One arrow on the 100-unit canvas: a shaft from `from` to `to` and a head at `to`.
void paintArrow(QPainter& painter, QPointF from, QPointF to) {
    const double direction = to.x() > from.x() ? 1.0 : -1.0;
    const double head = 17.0;
    QPainterPath shaft;
    shaft.moveTo(from);
    shaft.lineTo(to - QPointF(direction * head * 0.6, 0));
    painter.strokePath(shaft, QPen(Qt::white, 9.5, Qt::SolidLine, Qt::RoundCap));
    QPainterPath tip;
    tip.moveTo(to);
    tip.lineTo(to - QPointF(direction * head, head * 0.72));
    tip.lineTo(to - QPointF(direction * head, -head * 0.72));
    tip.closeSubpath();
    painter.fillPath(tip, Qt::white);
}

}  // namespace

QImage appIconImage(int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 100.0, size / 100.0);
    // Desktops draw icons on their own backgrounds: the square keeps a small margin.
    const QRectF square(4, 4, 92, 92);
    QLinearGradient fill(square.topLeft(), square.bottomLeft());
    fill.setColorAt(0.0, QColor(0x3D, 0x9B, 0xFF));
    fill.setColorAt(1.0, QColor(0x00, 0x62, 0xD6));
    QPainterPath body;
    body.addRoundedRect(square, 21, 21);
    painter.fillPath(body, fill);
    paintArrow(painter, QPointF(24, 37), QPointF(78, 37));
    paintArrow(painter, QPointF(76, 63), QPointF(22, 63));
    return image;
}

QIcon appIcon() {
    QIcon icon;
    for (const int size : kAppIconSizes) icon.addPixmap(QPixmap::fromImage(appIconImage(size)));
    return icon;
}

}  // namespace corvane
