#include "views/sheets/recipient_row.h"

#include <QPainter>

#include "views/app_style.h"
#include "views/symbols.h"
#include "views/theme.h"

namespace corvane {

RecipientRow::RecipientRow(const std::string& key, const QString& title, const QString& sub, const std::string& icon,
                           QWidget* parent)
    : QAbstractButton(parent), key_(key), title_(title), sub_(sub), icon_(QString::fromStdString(icon)) {
    setObjectName(QStringLiteral("textRow:") + QString::fromStdString(key));
    setCheckable(true);
    setCursor(Qt::PointingHandCursor);
    setFixedHeight(height);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setAccessibleName(title);
    setAccessibleDescription(sub);
}

QSize RecipientRow::sizeHint() const { return {200, height}; }

void RecipientRow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::TextAntialiasing);
    const QRect room = rect().adjusted(8, 3, -8, -3);
    int x = room.left();

    // The check mark, 12 px.
    painter.setFont(Symbols::font(12));
    painter.setPen(isChecked() ? Theme::tint(Tint::accent) : Theme::secondary());
    const int markWidth = 16;
    painter.drawText(QRect(x, room.top(), markWidth, room.height()), Qt::AlignCenter,
                     Symbols::glyph(isChecked() ? "checkmark.square.fill" : "square"));
    x += markWidth + 7;

    // The device's symbol in a frame 14 wide.
    painter.setFont(Symbols::font(10.5));
    painter.setPen(Theme::secondary());
    painter.drawText(QRect(x, room.top(), 14, room.height()), Qt::AlignCenter, Symbols::glyph(icon_.toStdString()));
    x += 14 + 7;

    // The name above the second line.
    const int width = room.right() - x;
    const QFont titleFont = Theme::font(12);
    const QFont subFont = Theme::font(9.5);
    const int titleHeight = QFontMetrics(titleFont).height();
    const int subHeight = QFontMetrics(subFont).height();
    const int top = room.top() + (room.height() - titleHeight - subHeight + 2) / 2;
    painter.setFont(titleFont);
    painter.setPen(Theme::primary());
    painter.drawText(QRect(x, top, width, titleHeight), Qt::AlignLeft | Qt::AlignVCenter,
                     QFontMetrics(titleFont).elidedText(title_, Qt::ElideRight, width));
    painter.setFont(subFont);
    painter.setPen(Theme::tertiary());
    painter.drawText(QRect(x, top + titleHeight - 1, width, subHeight), Qt::AlignLeft | Qt::AlignVCenter,
                     QFontMetrics(subFont).elidedText(sub_, Qt::ElideRight, width));

    if (AppStyle::showsFocus(this)) AppStyle::drawFocusRing(&painter, rect(), 6);
}

}  // namespace corvane
