#include "views/main/chat_composer.h"

#include <algorithm>
#include <cmath>

#include <QAbstractTextDocumentLayout>
#include <QKeyEvent>
#include <QPainter>
#include <QStyleOptionButton>
#include <QTextBlock>
#include <QTextLayout>

#include "views/theme.h"

namespace corvane {

ComposerEdit::ComposerEdit(QWidget* parent) : TypedTextEdit(parent) {
    setFont(Theme::font(12.5));
    setFrameShape(QFrame::NoFrame);
    setTabChangesFocus(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    document()->setDocumentMargin(textMargin);
    viewport()->setAutoFillBackground(false);
    setAutoFillBackground(false);
    setStyleSheet(QStringLiteral("QPlainTextEdit { background: transparent; border: none; }"));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    connect(document()->documentLayout(), &QAbstractTextDocumentLayout::documentSizeChanged, this,
            &ComposerEdit::fitHeight);
    fitHeight();
}

void ComposerEdit::fitHeight() {
    // The plain layout counts its size in lines.
    const int counted = int(std::ceil(document()->documentLayout()->documentSize().height()));
    lines_ = std::clamp(counted, 1, maxLines);
    // The lines, the margins, and 2 px without which the plain layout finds the last line cut.
    setFixedHeight(lines_ * fontMetrics().lineSpacing() + 2 * textMargin + 2);
}

void ComposerEdit::inputMethodEvent(QInputMethodEvent* event) {
    composing_ = !event->preeditString().isEmpty();
    TypedTextEdit::inputMethodEvent(event);
}

void ComposerEdit::keyPressEvent(QKeyEvent* event) {
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (!enter || composing_) return TypedTextEdit::keyPressEvent(event);
    if (event->modifiers() & Qt::ShiftModifier) {
        insertBreak();
        return;
    }
    Q_EMIT submitted();
}

namespace {

const QString kFire = QStringLiteral("🔥");

// The fire drawn `px` tall: rendered large, cut to its ink and scaled down, so its size is
// the stated one whatever size the colour emoji font draws its bitmaps at.
QPixmap fireIcon(double px, double ratio) {
    constexpr int large = 96;
    QImage canvas(2 * large, 2 * large, QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::transparent);
    {
        QPainter painter(&canvas);
        painter.setFont(Theme::font(large));
        painter.drawText(canvas.rect(), Qt::AlignCenter, kFire);
    }
    QRect ink;
    for (int y = 0; y < canvas.height(); ++y) {
        for (int x = 0; x < canvas.width(); ++x) {
            if (qAlpha(canvas.pixel(x, y)) > 0) ink |= QRect(x, y, 1, 1);
        }
    }
    if (ink.isEmpty()) return {};
    const int height = int(std::lround(px * ratio));
    QPixmap icon = QPixmap::fromImage(canvas.copy(ink).scaledToHeight(height, Qt::SmoothTransformation));
    icon.setDevicePixelRatio(ratio);
    return icon;
}

}  // namespace

BurnToggle::BurnToggle(QWidget* parent) : QPushButton(parent) {
    setCheckable(true);
    setAutoDefault(false);
    setFont(Theme::font(titlePx));
}

QString BurnToggle::title() const {
    QString rest = text();
    if (rest.startsWith(kFire)) rest.remove(0, kFire.size());
    return rest.trimmed();
}

QPixmap BurnToggle::icon() const {
    // Made once per pixel ratio: layouts ask for the size often.
    if (iconRatio_ != devicePixelRatioF()) {
        iconRatio_ = devicePixelRatioF();
        icon_ = fireIcon(iconPx, iconRatio_);
    }
    return icon_;
}

QSize BurnToggle::contentSize() const {
    const QSizeF iconSize = icon().deviceIndependentSize();
    const QFontMetrics words(font());
    const int width = int(std::ceil(iconSize.width())) + gap + words.horizontalAdvance(title()) + 1;
    return {width, std::max(int(std::ceil(iconSize.height())), words.height())};
}

QSize BurnToggle::sizeHint() const {
    QStyleOptionButton option;
    initStyleOption(&option);
    return style()->sizeFromContents(QStyle::CT_PushButton, &option, contentSize(), this);
}

void BurnToggle::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    const QRect room = style()->subElementRect(QStyle::SE_PushButtonContents, &option, this);
    option.text.clear();  // the frame and fill only: icon and title are drawn below at their own sizes
    style()->drawControl(QStyle::CE_PushButton, &option, &painter, this);

    const QPixmap fire = icon();
    const QSizeF iconSize = fire.deviceIndependentSize();
    const int left = room.left() + (room.width() - contentSize().width()) / 2;
    painter.drawPixmap(QPointF(left, room.top() + (room.height() - iconSize.height()) / 2.0), fire);
    const int textLeft = left + int(std::ceil(iconSize.width())) + gap;
    painter.setPen(isChecked() ? QColor(Qt::white) : Theme::primary());
    painter.setFont(font());
    painter.drawText(QRect(textLeft, room.top(), room.right() + 1 - textLeft, room.height()),
                     Qt::AlignLeft | Qt::AlignVCenter, title());
}

}  // namespace corvane
