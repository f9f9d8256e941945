#include "views/team/qr_code.h"

#include <memory>

#include <QPainter>
#include <QPainterPath>

#include <qrencode.h>

namespace corvane {

namespace {

constexpr int quietModules = 2;

}  // namespace

QImage qrImage(const std::string& text, int side) {
    std::unique_ptr<QRcode, decltype(&QRcode_free)> code(
        QRcode_encodeData(static_cast<int>(text.size()), reinterpret_cast<const unsigned char*>(text.data()), 0,
                          QR_ECLEVEL_M),
        &QRcode_free);
    if (!code || code->width <= 0 || side <= 0) return {};
    const int modules = code->width + 2 * quietModules;
    QImage image(side, side, QImage::Format_RGB32);
    image.fill(Qt::white);
    // Each pixel takes the module it falls in, so every edge stays hard.
    for (int y = 0; y < side; ++y) {
        const int row = y * modules / side - quietModules;
        if (row < 0 || row >= code->width) continue;
        for (int x = 0; x < side; ++x) {
            const int column = x * modules / side - quietModules;
            if (column < 0 || column >= code->width) continue;
            if (code->data[row * code->width + column] & 1) image.setPixel(x, y, qRgb(0, 0, 0));
        }
    }
    return image;
}

QRView::QRView(QWidget* parent) : QWidget(parent) {
    setFixedSize(codeSide + 2 * pad, codeSide + 2 * pad);
}

void QRView::setText(const std::string& text) {
    image_ = qrImage(text, codeSide);
    setAccessibleName(QString::fromStdString(text));
    setVisible(hasCode());
    update();
}

void QRView::paintEvent(QPaintEvent*) {
    if (image_.isNull()) return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()), 8, 8);
    painter.fillPath(shape, Qt::white);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter.drawImage(QPoint(pad, pad), image_);
}

}  // namespace corvane
