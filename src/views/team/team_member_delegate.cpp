#include "views/team/team_member_delegate.h"

#include <algorithm>
#include <utility>

#include <QMouseEvent>
#include <QPainter>
#include <QTimer>

#include "views/app_style.h"
#include "views/main/row_action_list.h"
#include "views/symbols.h"
#include "views/team/panel_parts.h"
#include "views/team/team_member_model.h"
#include "views/theme.h"

namespace corvane {

namespace {

constexpr int kInset = 2;
constexpr int kAvatar = 26;
constexpr int kGap = 10;
constexpr int kButtonHeight = 24;
constexpr int kMoreWidth = 26;
const QString kMore = QStringLiteral("更多操作");

const TeamMemberModel* modelOf(const QModelIndex& index) {
    return qobject_cast<const TeamMemberModel*>(index.model());
}

// The titles of the row's buttons, left to right.
QStringList buttonNames(const QModelIndex& index) {
    const TeamMemberModel* model = modelOf(index);
    if (!model) return {};
    switch (model->kind()) {
        case TeamMemberModel::Kind::pending: return {QStringLiteral("拒绝"), QStringLiteral("通过")};
        case TeamMemberModel::Kind::active: return model->admin(index.row()) ? QStringList{} : QStringList{kMore};
        case TeamMemberModel::Kind::blocked: return {QStringLiteral("恢复")};
    }
    return {};
}

}  // namespace

TeamMemberDelegate::TeamMemberDelegate(QObject* parent)
    : QStyledItemDelegate(parent),
      nameFont_(Theme::font(12.5, Weight::medium)),
      detailFont_(Theme::font(10.5)),
      badgeFont_(Theme::font(9.5, Weight::semibold)),
      buttonFont_(Theme::font(11)) {}

QSize TeamMemberDelegate::sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const { return {0, rowHeight}; }

std::vector<std::pair<QString, QRect>> TeamMemberDelegate::buttons(const QRect& row, const QModelIndex& index) const {
    const QStringList names = buttonNames(index);
    const QFontMetrics metrics(buttonFont_);
    int width = 0;
    for (const QString& name : names) width = std::max(width, metrics.horizontalAdvance(name) + 24);
    std::vector<std::pair<QString, QRect>> out;
    int right = row.right() + 1 - kInset;
    const int top = row.top() + (row.height() - kButtonHeight) / 2;
    for (auto name = names.rbegin(); name != names.rend(); ++name) {
        const int side = *name == kMore ? kMoreWidth : width;
        out.insert(out.begin(), {*name, QRect(right - side, top, side, kButtonHeight)});
        right -= side + 8;
    }
    return out;
}

QString TeamMemberDelegate::buttonAt(const QRect& row, const QModelIndex& index, const QPoint& at) const {
    for (const auto& [name, area] : buttons(row, index)) {
        if (area.contains(at)) return name;
    }
    return {};
}

void TeamMemberDelegate::paintButton(QPainter* painter, const QString& name, const QRect& area, bool busy) const {
    painter->save();
    if (name == kMore) {
        painter->setFont(Symbols::font(13));
        painter->setPen(busy ? Theme::tertiary() : Theme::primary());
        painter->drawText(area, Qt::AlignCenter, Symbols::glyph("ellipsis.circle"));
        painter->restore();
        return;
    }
    // "通过" is filled with the accent colour; the others are framed as plain buttons.
    const bool filled = name == QStringLiteral("通过");
    const QRectF shape = QRectF(area).adjusted(0.5, 0.5, -0.5, -0.5);
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setPen(filled ? Qt::NoPen : QPen(Theme::primary(0.18), 1));
    painter->setBrush(filled ? Theme::tint(Tint::accent) : QColor(Qt::white));
    painter->drawRoundedRect(shape, 5, 5);
    painter->setFont(buttonFont_);
    painter->setPen(filled ? QColor(Qt::white) : Theme::primary());
    painter->drawText(area, Qt::AlignCenter, name);
    painter->restore();
}

void TeamMemberDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
    const TeamMemberModel* model = modelOf(index);
    if (!model) return;
    const bool blocked = model->kind() == TeamMemberModel::Kind::blocked;
    const QRect row = option.rect;
    const QString name = index.data(Qt::DisplayRole).toString();
    painter->save();
    painter->setRenderHint(QPainter::TextAntialiasing);
    paintInitial(*painter, QPointF(row.left() + kInset, row.top() + (row.height() - kAvatar) / 2.0), firstLetter(name),
                 blocked ? 0.5 : 1.0);

    const auto shown = buttons(row, index);
    const int left = row.left() + kInset + kAvatar + kGap;
    const int right = (shown.empty() ? row.right() + 1 - kInset : shown.front().second.left()) - kGap;
    const QString detail = index.data(TeamMemberModel::detailRole).toString();
    const QFontMetrics big(nameFont_);
    const QFontMetrics small(detailFont_);
    const int linesHeight = big.height() + (detail.isEmpty() ? 0 : 1 + small.height());
    const int top = row.top() + (row.height() - linesHeight) / 2;
    const QString badge = model->admin(index.row()) ? QStringLiteral("管理员") : QString();
    const int badgeWidth = badge.isEmpty() ? 0 : QFontMetrics(badgeFont_).horizontalAdvance(badge) + 10;
    const QString elided = big.elidedText(name, Qt::ElideRight, std::max(0, right - left - badgeWidth - 5));
    painter->setFont(nameFont_);
    painter->setPen(blocked ? Theme::secondary() : Theme::primary());
    painter->drawText(QRect(left, top, right - left, big.height()), Qt::AlignLeft | Qt::AlignVCenter, elided);
    if (!badge.isEmpty()) {
        const QRect pill(left + big.horizontalAdvance(elided) + 5, top + (big.height() - 16) / 2, badgeWidth, 16);
        painter->setRenderHint(QPainter::Antialiasing);
        painter->setPen(Qt::NoPen);
        painter->setBrush(Theme::tint(Tint::orange, 0.16));
        painter->drawRoundedRect(pill, 7, 7);
        painter->setFont(badgeFont_);
        painter->setPen(Theme::tint(Tint::orange));
        painter->drawText(pill, Qt::AlignCenter, badge);
    }
    if (!detail.isEmpty()) {
        painter->setFont(detailFont_);
        painter->setPen(Theme::secondary());
        painter->drawText(QRect(left, top + big.height() + 1, right - left, small.height()),
                          Qt::AlignLeft | Qt::AlignVCenter, small.elidedText(detail, Qt::ElideRight, right - left));
    }
    for (const auto& [title, area] : shown) paintButton(painter, title, area, model->busy(index.row()));
    if (index.row() + 1 < model->rowCount()) {
        painter->setPen(QPen(Theme::primary(0.1), 1));
        painter->drawLine(row.left(), row.bottom(), row.right(), row.bottom());
    }
    if (showsKeyboardFocus(option)) AppStyle::drawFocusRing(painter, QRectF(row).adjusted(-4, 1, 4, -1), 6);
    painter->restore();
}

bool TeamMemberDelegate::editorEvent(QEvent* event, QAbstractItemModel*, const QStyleOptionViewItem& option,
                                     const QModelIndex& index) {
    if (event->type() != QEvent::MouseButtonPress && event->type() != QEvent::MouseButtonRelease) return false;
    const auto* mouse = static_cast<QMouseEvent*>(event);
    const QString onButton =
        mouse->button() == Qt::LeftButton ? buttonAt(option.rect, index, mouse->position().toPoint()) : QString();
    if (event->type() == QEvent::MouseButtonPress) {
        pressed_ = onButton;
        pressedRow_ = index.row();
        return !onButton.isEmpty();
    }
    // A click is a press and a release on the same button of the same row.
    const bool same = !onButton.isEmpty() && onButton == std::exchange(pressed_, QString()) &&
                      index.row() == std::exchange(pressedRow_, -1);
    if (!same) return false;
    QTimer::singleShot(0, this, [this, row = QPersistentModelIndex(index), onButton] {
        if (row.isValid()) Q_EMIT buttonPressed(row, onButton);
    });
    return true;
}

}  // namespace corvane
