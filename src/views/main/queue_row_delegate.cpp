#include "views/main/queue_row_delegate.h"

#include <algorithm>

#include <QAbstractItemView>
#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QTimer>
#include <QToolTip>

#include "views/app_style.h"
#include "views/data_text.h"
#include "views/main/queue_list_model.h"
#include "views/main/row_action_list.h"
#include "views/main/transfer_progress.h"
#include "views/symbols.h"
#include "views/theme.h"

namespace corvane {

namespace {

constexpr int kLineGap = 3;
constexpr int kTextGap = 6;
constexpr int kMinSpacer = 4;

const QueueListModel::Row* rowOf(const QModelIndex& index) {
    const auto* model = qobject_cast<const QueueListModel*>(index.model());
    if (!model || !index.isValid() || index.row() >= model->rowCount()) return nullptr;
    return &model->row(index.row());
}

QRect content(const QRect& row) {
    return row.adjusted(QueueRowDelegate::insetH, QueueRowDelegate::insetV, -QueueRowDelegate::insetH,
                        -QueueRowDelegate::insetV);
}

}  // namespace

QueueRowDelegate::QueueRowDelegate(QObject* parent)
    : QStyledItemDelegate(parent),
      nameFont_(Theme::font(11.5)),
      smallFont_(Theme::font(9.5)),
      lineHeight_(QFontMetrics(nameFont_).height()) {}

int QueueRowDelegate::rowHeight() const { return 2 * insetV + lineHeight_ + kLineGap + ProgressLine::thickness; }

QRect QueueRowDelegate::cancelRect(const QRect& row) {
    const QRect inner = content(row);
    return {inner.right() + 1 - cancelSide, inner.top() + (inner.height() - cancelSide) / 2, cancelSide, cancelSide};
}

QSize QueueRowDelegate::sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const { return {0, rowHeight()}; }

void QueueRowDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
    const QueueListModel::Row* row = rowOf(index);
    if (!row) return;
    const QueueRowLook look = QueueListModel::look(row->state, row->outOfReach);
    const bool active = row->state.active();
    const QRect inner = content(option.rect);
    painter->save();
    painter->setRenderHint(QPainter::TextAntialiasing);

    painter->setFont(Symbols::font(11));
    painter->setPen(look.color);
    painter->drawText(QRect(inner.left(), inner.top(), iconWidth, inner.height()), Qt::AlignCenter,
                      Symbols::glyph(look.symbol));

    const int left = inner.left() + iconWidth + spacing;
    const int right = active ? cancelRect(option.rect).left() - spacing : inner.right() + 1;
    const QRect line(left, inner.top(), right - left, lineHeight_);
    const QFontMetrics small(smallFont_);
    painter->setFont(smallFont_);
    painter->setPen(Theme::secondary());
    int tail = line.right() + 1 - percentWidth;
    painter->drawText(QRect(tail, line.top(), percentWidth, line.height()), Qt::AlignRight | Qt::AlignVCenter,
                      QueueListModel::percentText(*row));
    if (active) {
        const QString speed = QueueListModel::speedText(*row);
        const int width = small.horizontalAdvance(speed);
        tail -= kTextGap + width;
        painter->drawText(QRect(tail, line.top(), width, line.height()), Qt::AlignLeft | Qt::AlignVCenter, speed);
    }
    tail -= kMinSpacer;

    const int stateWidth = std::min(small.horizontalAdvance(look.stateText), std::max(0, (tail - left) / 2));
    const int nameRoom = std::max(0, tail - left - kTextGap - stateWidth);
    QString name = QString::fromStdString(row->task->fileName);
    name.replace(QLatin1Char('\n'), QLatin1Char(' '));
    const QFontMetrics big(nameFont_);
    name = big.elidedText(name, Qt::ElideMiddle, nameRoom);
    const int nameWidth = std::min(big.horizontalAdvance(name), nameRoom);
    painter->setFont(nameFont_);
    painter->setPen(Theme::primary());
    painter->drawText(QRect(left, line.top(), nameWidth, line.height()), Qt::AlignLeft | Qt::AlignVCenter, name);
    painter->setFont(smallFont_);
    painter->setPen(look.color);
    painter->drawText(QRect(left + nameWidth + kTextGap, line.top(), stateWidth, line.height()),
                      Qt::AlignLeft | Qt::AlignVCenter, small.elidedText(look.stateText, Qt::ElideRight, stateWidth));

    const QRectF bar(left, line.bottom() + 1 + kLineGap, right - left, ProgressLine::thickness);
    paintProgressLine(*painter, bar, progressFraction(row->sent, row->task->totalSize, true), look.color);

    if (showsKeyboardFocus(option)) AppStyle::drawFocusRing(painter, QRectF(option.rect).adjusted(3, 0, -3, 0), 6);
    if (active) {
        painter->setFont(Symbols::font(11.5));
        painter->setPen(Theme::tertiary());
        painter->drawText(cancelRect(option.rect), Qt::AlignCenter, Symbols::glyph("xmark.circle.fill"));
    }
    painter->restore();
}

bool QueueRowDelegate::editorEvent(QEvent* event, QAbstractItemModel*, const QStyleOptionViewItem& option,
                                   const QModelIndex& index) {
    const QueueListModel::Row* row = rowOf(index);
    if (!row || (event->type() != QEvent::MouseButtonPress && event->type() != QEvent::MouseButtonRelease)) {
        return false;
    }
    const auto* mouse = static_cast<QMouseEvent*>(event);
    const bool onButton = row->state.active() && cancelRect(option.rect).contains(mouse->position().toPoint());
    if (event->type() == QEvent::MouseButtonPress) {
        pressedRow_ = (mouse->button() == Qt::LeftButton && onButton) ? index.row() : -1;
        return pressedRow_ >= 0;
    }
    const bool same = pressedRow_ == index.row();
    pressedRow_ = -1;
    if (mouse->button() != Qt::LeftButton || !onButton || !same) return false;
    QTimer::singleShot(0, this, [this, task = row->task] { Q_EMIT cancelRequested(task); });
    return true;
}

bool QueueRowDelegate::helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                                 const QModelIndex& index) {
    const QueueListModel::Row* row = rowOf(index);
    if (!row || event->type() != QEvent::ToolTip) return QStyledItemDelegate::helpEvent(event, view, option, index);
    if (row->state.active() && cancelRect(option.rect).contains(event->pos())) {
        QToolTip::showText(event->globalPos(), QStringLiteral("取消"), view->viewport());
    } else {
        QToolTip::showText(event->globalPos(), literalToolTip(QString::fromStdString(row->task->fileName)),
                           view->viewport());
    }
    return true;
}

}  // namespace corvane
