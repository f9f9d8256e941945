#include "views/main/chat_conv_list.h"

#include <algorithm>
#include <map>

#include <QPainter>

#include "views/app_style.h"
#include "views/main/row_action_list.h"
#include "views/symbols.h"
#include "views/theme.h"

namespace corvane {

namespace {

constexpr int kOuterH = 6;
constexpr int kOuterV = 1;
constexpr int kInnerH = 9;
constexpr int kInnerV = 7;
constexpr int kTile = 32;
constexpr int kGap = 9;
constexpr int kDot = 5;

const ChatConvModel* modelOf(const QModelIndex& index) {
    const auto* model = qobject_cast<const ChatConvModel*>(index.model());
    if (!model || !index.isValid() || index.row() >= model->rowCount()) return nullptr;
    return model;
}

QString oneLine(const std::string& text) {
    QString line = QString::fromStdString(text);
    line.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return line;
}

}  // namespace

ChatConvModel::ChatConvModel(QObject* parent) : QAbstractListModel(parent) {}

void ChatConvModel::setConvs(const std::vector<ChatConv>& convs) {
    const bool sameRows = convs.size() == convs_.size() &&
                          std::equal(convs.begin(), convs.end(), convs_.begin(),
                                     [](const ChatConv& a, const ChatConv& b) { return a.id == b.id; });
    if (!sameRows) {
        beginResetModel();
        convs_ = convs;
        endResetModel();
        return;
    }
    for (size_t k = 0; k < convs.size(); ++k) {
        if (convs[k] == convs_[k]) continue;
        convs_[k] = convs[k];
        Q_EMIT dataChanged(index(int(k)), index(int(k)));
    }
}

void ChatConvModel::setCurrent(const std::string& id) {
    if (id == current_) return;
    const std::string old = current_;
    current_ = id;
    announce(old);
    announce(id);
}

void ChatConvModel::announce(const std::string& id) {
    for (size_t k = 0; k < convs_.size(); ++k) {
        if (convs_[k].id == id) Q_EMIT dataChanged(index(int(k)), index(int(k)));
    }
}

QString ChatConvModel::badgeText(int unread) {
    if (unread < 1) return {};
    return QString::number(std::min(unread, 99));
}

QColor ChatConvModel::tint(const std::string& name) {
    static const std::map<std::string, Tint> named = {
        {"blue", Tint::blue},     {"purple", Tint::purple}, {"orange", Tint::orange}, {"green", Tint::green},
        {"pink", Tint::pink},     {"teal", Tint::teal},     {"indigo", Tint::indigo}, {"red", Tint::red},
    };
    const auto found = named.find(name);
    return Theme::tint(found == named.end() ? Tint::blue : found->second);
}

int ChatConvModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : int(convs_.size()); }

QVariant ChatConvModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) return {};
    const ChatConv& c = convs_[size_t(index.row())];
    switch (role) {
        case Qt::DisplayRole: return QString::fromStdString(c.title);
        case Qt::AccessibleDescriptionRole: {
            QStringList texts{QString::fromStdString(c.lastText)};
            if (!c.lastTime.empty()) texts << QString::fromStdString(c.lastTime);
            if (c.unread > 0) texts << badgeText(c.unread);
            return texts.join(QStringLiteral(" · "));
        }
        default: return {};
    }
}

ChatConvDelegate::ChatConvDelegate(QObject* parent)
    : QStyledItemDelegate(parent),
      titleFont_(Theme::font(12.5, Weight::medium)),
      previewFont_(Theme::font(10.5)),
      timeFont_(Theme::font(9.5)),
      badgeFont_(Theme::font(9, Weight::bold)) {}

int ChatConvDelegate::rowHeight() const {
    const int text = QFontMetrics(titleFont_).height() + 2 + QFontMetrics(previewFont_).height();
    return 2 * kOuterV + 2 * kInnerV + std::max(kTile, text);
}

QSize ChatConvDelegate::sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const { return {0, rowHeight()}; }

QRect ChatConvDelegate::badgeRect(const QRect& row, const QString& text) const {
    const QRect inner = row.adjusted(kOuterH + kInnerH, kOuterV + kInnerV, -kOuterH - kInnerH, -kOuterV - kInnerV);
    const QFontMetrics metrics(badgeFont_);
    const int height = metrics.height() + 3;
    const int width = std::max(height, metrics.horizontalAdvance(text) + 10);
    const int timeHeight = QFontMetrics(timeFont_).height();
    const int block = timeHeight + 3 + height;
    const int top = inner.top() + (inner.height() - block) / 2 + timeHeight + 3;
    return {inner.right() + 1 - width, top, width, height};
}

void ChatConvDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
    const ChatConvModel* model = modelOf(index);
    if (!model) return;
    const ChatConv& c = model->conv(index.row());
    const QColor tint = ChatConvModel::tint(c.tint);
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setRenderHint(QPainter::TextAntialiasing);
    const QRect box = option.rect.adjusted(kOuterH, kOuterV, -kOuterH, -kOuterV);
    painter->setPen(Qt::NoPen);
    // Only the open conversation is backed; the pointer over a row changes nothing.
    if (model->isCurrent(index.row())) {
        painter->setBrush(Theme::tint(Tint::accent, 0.13));
        painter->drawRoundedRect(QRectF(box), 9, 9);
    }
    // The row the arrows reached while the list holds the keyboard, as for a button.
    if (showsKeyboardFocus(option)) AppStyle::drawFocusRing(painter, QRectF(box), 9);
    const QRect inner = box.adjusted(kInnerH, kInnerV, -kInnerH, -kInnerV);

    const QRect tile(inner.left(), inner.top() + (inner.height() - kTile) / 2, kTile, kTile);
    QColor fill = tint;
    fill.setAlphaF(0.16f);
    painter->setBrush(fill);
    painter->drawRoundedRect(QRectF(tile), 9, 9);
    painter->setFont(Symbols::font(13));
    painter->setPen(tint);
    painter->drawText(tile, Qt::AlignCenter, Symbols::glyph(c.icon));

    // The trailing block: time over the badge.
    const QFontMetrics timeMetrics(timeFont_);
    const QString time = QString::fromStdString(c.lastTime);
    const QString badge = ChatConvModel::badgeText(c.unread);
    const QRect badgeBox = badgeRect(option.rect, badge);
    const int trailing = std::max(timeMetrics.horizontalAdvance(time), badge.isEmpty() ? 0 : badgeBox.width());
    const int textLeft = tile.right() + 1 + kGap;
    const int textRight = inner.right() + 1 - (trailing > 0 ? trailing + kGap : 0);
    const int textWidth = std::max(0, textRight - textLeft);

    const QFontMetrics titleMetrics(titleFont_);
    const QFontMetrics previewMetrics(previewFont_);
    const int block = titleMetrics.height() + 2 + previewMetrics.height();
    const int top = inner.top() + (inner.height() - block) / 2;
    const int dotRoom = c.isGroup ? 0 : 4 + kDot;
    const QString title = titleMetrics.elidedText(oneLine(c.title), Qt::ElideRight, std::max(0, textWidth - dotRoom));
    painter->setFont(titleFont_);
    painter->setPen(Theme::primary());
    painter->drawText(QRect(textLeft, top, textWidth, titleMetrics.height()), Qt::AlignLeft | Qt::AlignVCenter, title);
    if (!c.isGroup) {
        const int x = textLeft + titleMetrics.horizontalAdvance(title) + 4;
        painter->setPen(Qt::NoPen);
        painter->setBrush(c.online ? Theme::tint(Tint::green) : Theme::tint(Tint::gray, 0.45));
        painter->drawEllipse(QRectF(x, top + (titleMetrics.height() - kDot) / 2.0, kDot, kDot));
    }
    painter->setFont(previewFont_);
    painter->setPen(Theme::secondary());
    painter->drawText(QRect(textLeft, top + titleMetrics.height() + 2, textWidth, previewMetrics.height()),
                      Qt::AlignLeft | Qt::AlignVCenter,
                      previewMetrics.elidedText(oneLine(c.lastText), Qt::ElideRight, textWidth));

    if (trailing > 0) {
        const int timeTop = badge.isEmpty() ? inner.top() + (inner.height() - timeMetrics.height()) / 2
                                            : badgeBox.top() - 3 - timeMetrics.height();
        painter->setFont(timeFont_);
        painter->setPen(Theme::tertiary());
        painter->drawText(QRect(inner.right() + 1 - trailing, timeTop, trailing, timeMetrics.height()),
                          Qt::AlignRight | Qt::AlignVCenter, time);
    }
    if (!badge.isEmpty()) {
        painter->setPen(Qt::NoPen);
        painter->setBrush(Theme::tint(Tint::red));
        painter->drawRoundedRect(QRectF(badgeBox), badgeBox.height() / 2.0, badgeBox.height() / 2.0);
        painter->setFont(badgeFont_);
        painter->setPen(Qt::white);
        painter->drawText(badgeBox, Qt::AlignCenter, badge);
    }
    painter->restore();
}

}  // namespace corvane
