#include "views/main/chat_bubble.h"

#include <algorithm>
#include <cmath>

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QTextLayout>
#include <QVBoxLayout>

#include "views/controls.h"
#include "views/data_labels.h"
#include "views/theme.h"

namespace corvane {

namespace {

// A widget that paints a rounded rectangle behind its children.
class FilledBox : public QWidget {
public:
    FilledBox(const QColor& fill, double radius, QWidget* parent) : QWidget(parent), fill_(fill), radius_(radius) {}

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(fill_);
        painter.drawRoundedRect(QRectF(rect()), radius_, radius_);
    }

private:
    QColor fill_;
    double radius_;
};

}  // namespace

BubbleText::BubbleText(QWidget* parent) : QWidget(parent) {
    setFont(Theme::font(12.5));
    setCursor(Qt::IBeamCursor);
    setFocusPolicy(Qt::ClickFocus);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
}

void BubbleText::setText(const QString& text) {
    text_ = text;
    anchor_ = cursor_ = 0;
    setAccessibleName(text);
    updateGeometry();
    update();
}

void BubbleText::setColors(const QColor& text, const QColor& fill) {
    color_ = text;
    fill_ = fill;
    update();
}

int BubbleText::layOut(QTextLayout& layout, int textWidth) const {
    return layOutWrapped(layout, text_, font(), textWidth, lineGap);
}

int BubbleText::naturalWidth() const {
    // Measured by the same layout that draws, so a bubble at this width never wraps.
    QTextLayout layout;
    layOut(layout, QWIDGETSIZE_MAX / 2);
    double widest = 0;
    for (int k = 0; k < layout.lineCount(); ++k) widest = std::max(widest, layout.lineAt(k).naturalTextWidth());
    return int(std::ceil(widest)) + 1;
}

int BubbleText::heightForWidth(int width) const {
    // A layout that aligns the bubble gives it no more than its natural width.
    const int used = std::min(width, naturalWidth() + 2 * padH);
    QTextLayout layout;
    return layOut(layout, used - 2 * padH) + 2 * padV;
}

QSize BubbleText::sizeHint() const {
    const int width = naturalWidth() + 2 * padH;
    return {width, heightForWidth(width)};
}

QSize BubbleText::minimumSizeHint() const { return {2 * padH + fontMetrics().averageCharWidth(), 0}; }

void BubbleText::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill_);
    painter.drawRoundedRect(QRectF(rect()), 12, 12);
    QTextLayout layout;
    layOut(layout, width() - 2 * padH);
    QList<QTextLayout::FormatRange> selections;
    if (anchor_ != cursor_) {
        QTextLayout::FormatRange range;
        range.start = std::min(anchor_, cursor_);
        range.length = std::abs(anchor_ - cursor_);
        range.format.setBackground(palette().color(QPalette::Highlight));
        range.format.setForeground(palette().color(QPalette::HighlightedText));
        selections << range;
    }
    painter.setPen(color_);
    layout.draw(&painter, QPointF(padH, padV), selections);
}

int BubbleText::positionAt(const QPoint& point) const {
    QTextLayout layout;
    layOut(layout, width() - 2 * padH);
    const QPointF at = point - QPointF(padH, padV);
    for (int k = 0; k < layout.lineCount(); ++k) {
        const QTextLine line = layout.lineAt(k);
        if (at.y() < line.y() + line.height() + lineGap || k == layout.lineCount() - 1) {
            return line.xToCursor(at.x());
        }
    }
    return 0;
}

void BubbleText::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
    anchor_ = cursor_ = positionAt(event->position().toPoint());
    update();
}

void BubbleText::mouseMoveEvent(QMouseEvent* event) {
    if (!(event->buttons() & Qt::LeftButton)) return QWidget::mouseMoveEvent(event);
    cursor_ = positionAt(event->position().toPoint());
    update();
}

void BubbleText::mouseDoubleClickEvent(QMouseEvent*) { selectAll(); }

void BubbleText::selectAll() {
    anchor_ = 0;
    cursor_ = int(text_.size());
    update();
}

QString BubbleText::selectedText() const { return text_.mid(std::min(anchor_, cursor_), std::abs(anchor_ - cursor_)); }

void BubbleText::keyPressEvent(QKeyEvent* event) {
    if (event->matches(QKeySequence::Copy) && anchor_ != cursor_) {
        QApplication::clipboard()->setText(selectedText());
        return;
    }
    if (event->matches(QKeySequence::SelectAll)) {
        selectAll();
        return;
    }
    QWidget::keyPressEvent(event);
}

void BubbleText::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    const QString chosen = anchor_ != cursor_ ? selectedText() : text_;
    menu.addAction(QStringLiteral("拷贝"), [chosen] { QApplication::clipboard()->setText(chosen); });
    menu.exec(event->globalPos());
}

void BubbleText::focusOutEvent(QFocusEvent* event) {
    if (event->reason() != Qt::PopupFocusReason) {
        anchor_ = cursor_ = 0;
        update();
    }
    QWidget::focusOutEvent(event);
}

ChatBubble::ChatBubble(const ChatMsg& msg, QWidget* parent) : QWidget(parent), msg_(msg) {
    setObjectName(QStringLiteral("chatBubble"));
    build();
    setMsg(msg);
}

void ChatBubble::build() {
    row_ = new QHBoxLayout(this);
    row_->setContentsMargins(16, 2, 16, 2);
    row_->setSpacing(0);
    column_ = new QVBoxLayout;
    column_->setSpacing(3);
    sender_ = new PlainLabel({}, this);
    sender_->setFont(Theme::font(10));
    Theme::setTextColor(sender_, Theme::secondary());
    sender_->setContentsMargins(3, 0, 0, 0);
    text_ = new BubbleText(this);

    placeholder_ = new FilledBox(Theme::primary(0.05), 12, this);
    auto* burned = new QHBoxLayout(placeholder_);
    burned->setContentsMargins(12, 8, 12, 8);
    burned->setSpacing(4);
    burned->addWidget(textLabel(QStringLiteral("🔥"), 11, Theme::primary(), placeholder_));
    auto* gone = textLabel(QStringLiteral("这条消息已阅后即焚"), 11.5, Theme::secondary(), placeholder_);
    QFont italic = gone->font();
    italic.setItalic(true);
    gone->setFont(italic);
    burned->addWidget(gone);

    meta_ = new QWidget(this);
    auto* meta = new QHBoxLayout(meta_);
    meta->setContentsMargins(3, 0, 3, 0);
    meta->setSpacing(5);
    metaBurn_ = textLabel(QStringLiteral("🔥"), 9, Theme::primary(), meta_);
    time_ = textLabel({}, 9.5, Theme::tertiary(), meta_);
    failed_ = textLabel(QStringLiteral("发送失败"), 9.5, Theme::tint(Tint::red), meta_);
    meta->addWidget(metaBurn_);
    meta->addWidget(time_);
    meta->addWidget(failed_);

    const Qt::Alignment side = msg_.mine ? Qt::AlignRight : Qt::AlignLeft;
    column_->addWidget(sender_, 0, side);
    column_->addWidget(text_, 0, side);
    column_->addWidget(placeholder_, 0, side);
    column_->addWidget(meta_, 0, side);
    if (msg_.mine) {
        row_->addSpacing(freeSide);
        row_->addLayout(column_, 1);
    } else {
        row_->addLayout(column_, 1);
        row_->addSpacing(freeSide);
    }
}

void ChatBubble::setMsg(const ChatMsg& msg) {
    msg_ = msg;
    sender_->setVisible(showsSender(msg));
    sender_->setText(QString::fromStdString(msg.fromName));
    const bool burned = showsPlaceholder(msg);
    text_->setVisible(!burned);
    placeholder_->setVisible(burned);
    text_->setText(burned ? QString() : QString::fromStdString(msg.text));
    text_->setColors(msg.mine ? QColor(Qt::white) : Theme::primary(),
                     msg.mine ? Theme::tint(Tint::accent) : Theme::primary(0.065));
    metaBurn_->setVisible(msg.burn);
    time_->setText(QString::fromStdString(msg.timeText()));
    failed_->setVisible(msg.failed);
}

}  // namespace corvane
