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

#include "views/app_style.h"
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
    forgetSizes();
    update();
}

void BubbleText::forgetSizes() {
    layout_.reset();
    laidWidth_ = -1;
    naturalWidth_ = -1;
    heights_.clear();
    updateGeometry();
}

void BubbleText::changeEvent(QEvent* event) {
    if (event->type() == QEvent::FontChange) forgetSizes();
    QWidget::changeEvent(event);
}

void BubbleText::setColors(const QColor& text, const QColor& fill) {
    color_ = text;
    fill_ = fill;
    update();
}

int BubbleText::layOut(int textWidth) const {
    const int lineWidth = std::max(1, textWidth);
    if (!layout_) {
        QString shown = text_;
        shown.replace(QLatin1Char('\n'), QChar::LineSeparator);
        layout_ = std::make_unique<QTextLayout>(shown, font());
        QTextOption option;
        option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        layout_->setTextOption(option);
    } else if (lineWidth == laidWidth_) {
        return laidHeight_;
    }
    layout_->beginLayout();
    double y = 0;
    for (QTextLine line = layout_->createLine(); line.isValid(); line = layout_->createLine()) {
        line.setLineWidth(lineWidth);
        line.setPosition(QPointF(0, y));
        y += line.height() + lineGap;
    }
    layout_->endLayout();
    laidWidth_ = lineWidth;
    laidHeight_ = std::max(0, int(std::ceil(y)) - lineGap);
    return laidHeight_;
}

int BubbleText::naturalWidth() const {
    if (naturalWidth_ >= 0) return naturalWidth_;
    // Measured by the same layout that draws, so a bubble at this width never wraps.
    layOut(QWIDGETSIZE_MAX / 2);
    double widest = 0;
    for (int k = 0; k < layout_->lineCount(); ++k) widest = std::max(widest, layout_->lineAt(k).naturalTextWidth());
    naturalWidth_ = int(std::ceil(widest)) + 1;
    return naturalWidth_;
}

int BubbleText::heightForWidth(int width) const {
    // A layout that aligns the bubble gives it no more than its natural width.
    const int used = std::min(width, naturalWidth() + 2 * padH);
    const auto known = heights_.find(used);
    if (known != heights_.end()) return known->second;
    const int height = layOut(used - 2 * padH) + 2 * padV;
    heights_[used] = height;
    return height;
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
    layOut(width() - 2 * padH);
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
    layout_->draw(&painter, QPointF(padH, padV), selections);
}

int BubbleText::positionAt(const QPoint& point) const {
    layOut(width() - 2 * padH);
    const QPointF at = point - QPointF(padH, padV);
    for (int k = 0; k < layout_->lineCount(); ++k) {
        const QTextLine line = layout_->lineAt(k);
        if (at.y() < line.y() + line.height() + lineGap || k == layout_->lineCount() - 1) {
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

void ChatBubble::paintEvent(QPaintEvent*) {
    if (!AppStyle::showsFocus(this)) return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    AppStyle::drawFocusRing(&painter, rect().adjusted(6, 0, -6, 0), 8);
}

void ChatBubble::build() {
    row_ = new QHBoxLayout(this);
    row_->setContentsMargins(16, 2, 16, 2);
    row_->setSpacing(0);
    column_ = new QVBoxLayout;
    column_->setSpacing(3);
    text_ = new BubbleText(this);
    meta_ = new QWidget(this);
    metaRow_ = new QHBoxLayout(meta_);
    metaRow_->setContentsMargins(3, 0, 3, 0);
    metaRow_->setSpacing(5);
    time_ = textLabel({}, 9.5, Theme::tertiary(), meta_);
    metaRow_->addWidget(time_);
    column_->addWidget(text_, 0, side());
    column_->addWidget(meta_, 0, side());
    if (msg_.mine) {
        row_->addSpacing(freeSide);
        row_->addLayout(column_, 1);
    } else {
        row_->addLayout(column_, 1);
        row_->addSpacing(freeSide);
    }
}

void ChatBubble::showSender(bool shown) {
    if (!shown && !sender_) return;
    if (!sender_) {
        sender_ = new PlainLabel({}, this);
        sender_->setFont(Theme::font(10));
        Theme::setTextColor(sender_, Theme::secondary());
        sender_->setContentsMargins(3, 0, 0, 0);
        column_->insertWidget(0, sender_, 0, side());
    }
    sender_->setText(QString::fromStdString(msg_.fromName));
    sender_->setVisible(shown);
}

void ChatBubble::showPlaceholder(bool shown) {
    if (!shown && !placeholder_) return;
    if (!placeholder_) {
        placeholder_ = new FilledBox(Theme::primary(0.05), 12, this);
        auto* burned = new QHBoxLayout(placeholder_);
        burned->setContentsMargins(12, 8, 12, 8);
        burned->setSpacing(4);
        burned->addWidget(fixedTextLabel(QStringLiteral("🔥"), 11, Theme::primary(), placeholder_));
        auto* gone = fixedTextLabel(QStringLiteral("这条消息已阅后即焚"), 11.5, Theme::secondary(), placeholder_);
        QFont italic = gone->font();
        italic.setItalic(true);
        gone->setFont(italic);
        burned->addWidget(gone);
        column_->insertWidget(column_->indexOf(text_) + 1, placeholder_, 0, side());
    }
    placeholder_->setVisible(shown);
}

void ChatBubble::showMetaBurn(bool shown) {
    if (!shown && !metaBurn_) return;
    if (!metaBurn_) {
        metaBurn_ = fixedTextLabel(QStringLiteral("🔥"), 9, Theme::primary(), meta_);
        metaRow_->insertWidget(0, metaBurn_);
    }
    metaBurn_->setVisible(shown);
}

void ChatBubble::showFailed(bool shown) {
    if (!shown && !failed_) return;
    if (!failed_) {
        failed_ = fixedTextLabel(QStringLiteral("发送失败"), 9.5, Theme::tint(Tint::red), meta_);
        metaRow_->addWidget(failed_);
    }
    failed_->setVisible(shown);
}

void ChatBubble::setMsg(const ChatMsg& msg) {
    msg_ = msg;
    showSender(showsSender(msg));
    const bool burned = showsPlaceholder(msg);
    text_->setVisible(!burned);
    showPlaceholder(burned);
    text_->setText(burned ? QString() : QString::fromStdString(msg.text));
    text_->setColors(msg.mine ? QColor(Qt::white) : Theme::primary(),
                     msg.mine ? Theme::tint(Tint::accent) : Theme::primary(0.065));
    showMetaBurn(msg.burn);
    time_->setText(QString::fromStdString(msg.timeText()));
    showFailed(msg.failed);
}

}  // namespace corvane
