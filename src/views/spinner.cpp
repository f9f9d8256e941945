#include "views/spinner.h"

#include <algorithm>

#include <QPainter>
#include <QTimerEvent>

#include "views/theme.h"

namespace corvane {

namespace {

constexpr int kStepMs = 1000 / Spinner::spokes;

}  // namespace

Spinner::Spinner(QWidget* parent, int side) : QProgressBar(parent) {
    setRange(0, 0);
    setTextVisible(false);
    setFixedSize(side, side);
}

void Spinner::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const double side = std::min(width(), height());
    const double outer = side / 2.0;
    QPen pen(Qt::SolidLine);
    pen.setWidthF(std::max(1.25, side / 11.0));
    pen.setCapStyle(Qt::RoundCap);
    painter.translate(width() / 2.0, height() / 2.0);
    for (int spoke = 0; spoke < spokes; ++spoke) {
        // The spokes behind the brightest fade out, like a trail.
        const int behind = (step_ - spoke + spokes) % spokes;
        pen.setColor(Theme::primary(0.8 - 0.6 * behind / (spokes - 1)));
        painter.setPen(pen);
        painter.drawLine(QPointF(0, -outer * 0.5), QPointF(0, -outer + pen.widthF() / 2.0));
        painter.rotate(360.0 / spokes);
    }
}

void Spinner::showEvent(QShowEvent* event) {
    QProgressBar::showEvent(event);
    timer_.start(kStepMs, this);
}

void Spinner::hideEvent(QHideEvent* event) {
    timer_.stop();
    QProgressBar::hideEvent(event);
}

void Spinner::timerEvent(QTimerEvent* event) {
    if (event->timerId() != timer_.timerId()) {
        QProgressBar::timerEvent(event);
        return;
    }
    step_ = (step_ + 1) % spokes;
    update();
}

}  // namespace corvane
