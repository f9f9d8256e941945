#include "views/data_labels.h"

#include <algorithm>
#include <cmath>

#include <QPainter>
#include <QStyle>
#include <QTextLayout>

namespace corvane {

int layOutWrapped(QTextLayout& layout, const QString& text, const QFont& font, int width, int gap,
                  Qt::Alignment alignment) {
    QString shown = text;
    shown.replace(QLatin1Char('\n'), QChar::LineSeparator);
    layout.setText(shown);
    layout.setFont(font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    option.setAlignment(alignment);
    layout.setTextOption(option);
    layout.beginLayout();
    double y = 0;
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(std::max(1, width));
        line.setPosition(QPointF(0, y));
        y += line.height() + gap;
    }
    layout.endLayout();
    return std::max(0, int(std::ceil(y)) - gap);
}

PlainLabel::PlainLabel(const QString& text, QWidget* parent) : QLabel(parent) {
    setTextFormat(Qt::PlainText);
    setTextInteractionFlags(Qt::NoTextInteraction);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    setText(text);
}

int PlainLabel::lineGap() const { return std::max(0, fontMetrics().leading()); }

int PlainLabel::layOut(QTextLayout& layout, int width) const {
    const QMargins margins = contentsMargins();
    const int room = width - margins.left() - margins.right() - 2 * margin();
    const Qt::Alignment horizontal = alignment() & Qt::AlignHorizontal_Mask;
    return layOutWrapped(layout, text(), font(), room, lineGap(), horizontal);
}

int PlainLabel::heightForWidth(int width) const {
    if (!wordWrap()) return QLabel::heightForWidth(width);
    QTextLayout layout;
    const QMargins margins = contentsMargins();
    return layOut(layout, width) + margins.top() + margins.bottom() + 2 * margin();
}

QSize PlainLabel::sizeHint() const {
    const QSize hint = QLabel::sizeHint();
    if (!wordWrap()) return hint;
    return {hint.width(), heightForWidth(hint.width())};
}

QSize PlainLabel::minimumSizeHint() const { return {0, QLabel::minimumSizeHint().height()}; }

void PlainLabel::paintEvent(QPaintEvent* event) {
    if (!wordWrap()) {
        QLabel::paintEvent(event);
        return;
    }
    QPainter painter(this);
    drawFrame(&painter);
    const QRect room = contentsRect().adjusted(margin(), margin(), -margin(), -margin());
    QTextLayout layout;
    const int height = layOut(layout, width());
    int top = room.top();
    if (alignment() & Qt::AlignVCenter) top += (room.height() - height) / 2;
    if (alignment() & Qt::AlignBottom) top += room.height() - height;
    const QPalette::ColorGroup group = isEnabled() ? QPalette::Normal : QPalette::Disabled;
    painter.setPen(palette().color(group, foregroundRole()));
    layout.draw(&painter, QPointF(room.left(), top));
}

ElidedLabel::ElidedLabel(const QString& text, Qt::TextElideMode mode, QWidget* parent)
    : QLabel(parent), mode_(mode) {
    setTextFormat(Qt::PlainText);
    setWordWrap(false);
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    setText(text);
}

QString ElidedLabel::shownText() const {
    // One line: line breaks in data are drawn as blanks.
    QString line = text();
    line.replace(QLatin1Char('\n'), QLatin1Char(' '));
    const QRect room = contentsRect();
    return fontMetrics().elidedText(line, mode_, room.width());
}

QSize ElidedLabel::minimumSizeHint() const { return {0, fontMetrics().height()}; }

QSize ElidedLabel::sizeHint() const {
    const QMargins margins = contentsMargins();
    // Rounded up: a width rounded down makes the whole text elide.
    const int advance = int(std::ceil(QFontMetricsF(font()).horizontalAdvance(text())));
    return {advance + margins.left() + margins.right(),
            fontMetrics().height() + margins.top() + margins.bottom()};
}

void ElidedLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    style()->drawItemText(&painter, contentsRect(), int(alignment()), palette(), isEnabled(), shownText(),
                          foregroundRole());
}

}  // namespace corvane
