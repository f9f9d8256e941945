#include "views/data_labels.h"

#include <cmath>

#include <QPainter>
#include <QStyle>

namespace corvane {

PlainLabel::PlainLabel(const QString& text, QWidget* parent) : QLabel(parent) {
    setTextFormat(Qt::PlainText);
    setTextInteractionFlags(Qt::NoTextInteraction);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    setText(text);
}

QSize PlainLabel::minimumSizeHint() const { return {0, QLabel::minimumSizeHint().height()}; }

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
