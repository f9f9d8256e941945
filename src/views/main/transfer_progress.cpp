#include "views/main/transfer_progress.h"

#include <algorithm>
#include <limits>

#include <QHBoxLayout>
#include <QPainter>

#include "views/controls.h"
#include "views/symbols.h"
#include "views/theme.h"

namespace corvane {

int64_t wholePercent(int64_t sent, int64_t total, bool capped) {
    if (total < 1 || sent <= 0) return 0;
    // 128 bits hold sent × 100 for every 64-bit count.
    const __int128 percent = static_cast<__int128>(sent) * 100 / total;
    if (capped) return int64_t(std::min<__int128>(percent, 100));
    return int64_t(std::min<__int128>(percent, std::numeric_limits<int64_t>::max()));
}

double progressFraction(int64_t sent, int64_t total, bool capped) {
    if (total < 1) return 0;
    const double fraction = double(sent) / double(total);
    return capped ? std::min(fraction, 1.0) : fraction;
}

QHBoxLayout* transferPanelHeader(const std::string& symbol, const QString& title, QWidget* parent) {
    auto* header = new QHBoxLayout;
    header->setContentsMargins(16, 7, 16, 7);
    header->setSpacing(7);
    header->addWidget(new SymbolLabel(symbol, 10.5, Theme::secondary(), parent));
    header->addWidget(textLabel(title, 11.5, Theme::primary(), parent, Weight::semibold));
    return header;
}

void paintProgressLine(QPainter& painter, const QRectF& track, double fraction, const QColor& tint) {
    const double radius = track.height() / 2;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Theme::quaternary(0.6));
    painter.drawRoundedRect(track, radius, radius);
    const double done = std::clamp(fraction, 0.0, 1.0) * track.width();
    if (done > 0) {
        painter.setBrush(tint);
        painter.drawRoundedRect(QRectF(track.left(), track.top(), std::max(done, track.height()), track.height()),
                                radius, radius);
    }
    painter.restore();
}

ProgressLine::ProgressLine(QWidget* parent) : QProgressBar(parent), tint_(Theme::tint(Tint::accent)) {
    setRange(0, 1000);
    setValue(0);
    setTextVisible(false);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void ProgressLine::setFraction(double fraction) {
    // QProgressBar ignores values outside its range: clamp first.
    setValue(int(std::clamp(fraction, 0.0, 1.0) * 1000));
}

void ProgressLine::setTint(const QColor& tint) {
    tint_ = tint;
    update();
}

QSize ProgressLine::sizeHint() const { return {40, thickness}; }

QSize ProgressLine::minimumSizeHint() const { return {0, thickness}; }

void ProgressLine::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    paintProgressLine(painter, QRectF(rect()), double(value()) / 1000.0, tint_);
}

}  // namespace corvane
