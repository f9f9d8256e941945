#include "views/switch_box.h"

#include <algorithm>

#include <QPainter>

#include "views/app_style.h"
#include "views/symbols.h"
#include "views/theme.h"

namespace corvane {

namespace {

// Room around the track for the focus ring, the gap after the track and the one after the symbol.
constexpr int kRingRoom = AppStyle::focusRing;
constexpr int kTrackGap = 6;
constexpr int kSymbolGap = 4;
constexpr int kKnobInset = 1;

}  // namespace

SwitchBox::SwitchBox(const std::string& symbol, double px, const QString& title, QWidget* parent)
    : QCheckBox(title, parent), symbol_(QString::fromStdString(symbol)), px_(px) {
    setFont(Theme::font(px));
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QRect SwitchBox::trackRect() const {
    return {kRingRoom, (height() - trackHeight) / 2, trackWidth, trackHeight};
}

QSize SwitchBox::sizeHint() const {
    const QFontMetrics title(font());
    const QFontMetrics symbol(Symbols::font(px_));
    const int width = 2 * kRingRoom + trackWidth + kTrackGap + symbol.horizontalAdvance(Symbols::glyph(symbol_.toStdString())) +
                      kSymbolGap + title.horizontalAdvance(text());
    const int height = std::max({trackHeight + 2 * kRingRoom, title.height(), symbol.height()});
    return {width, height};
}

bool SwitchBox::hitButton(const QPoint& pos) const { return rect().contains(pos); }

void SwitchBox::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (!isEnabled()) painter.setOpacity(0.5);

    // The track and its knob, at the end the state points to.
    const QRectF track = trackRect();
    const double radius = track.height() / 2;
    painter.setPen(Qt::NoPen);
    painter.setBrush(isChecked() ? Theme::tint(Tint::accent) : Theme::primary(0.18));
    painter.drawRoundedRect(track, radius, radius);
    const double knob = track.height() - 2 * kKnobInset;
    const double knobLeft = isChecked() ? track.right() - kKnobInset - knob : track.left() + kKnobInset;
    painter.setPen(QPen(Theme::primary(0.12), 0.5));
    painter.setBrush(Qt::white);
    painter.drawEllipse(QRectF(knobLeft, track.top() + kKnobInset, knob, knob));
    if (AppStyle::showsFocus(this)) {
        AppStyle::drawFocusRing(&painter, track.adjusted(-kRingRoom, -kRingRoom, kRingRoom, kRingRoom), radius + kRingRoom);
    }

    // The symbol and the title.
    int x = int(track.right()) + kTrackGap;
    const QString glyph = Symbols::glyph(symbol_.toStdString());
    painter.setPen(palette().color(QPalette::WindowText));
    painter.setFont(Symbols::font(px_));
    const int symbolWidth = QFontMetrics(painter.font()).horizontalAdvance(glyph);
    painter.drawText(QRect(x, 0, symbolWidth, height()), Qt::AlignLeft | Qt::AlignVCenter, glyph);
    x += symbolWidth + kSymbolGap;
    painter.setFont(font());
    painter.drawText(QRect(x, 0, width() - x, height()), Qt::AlignLeft | Qt::AlignVCenter, text());
}

}  // namespace corvane
