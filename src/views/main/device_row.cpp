#include "views/main/device_row.h"

#include <algorithm>

#include <QAccessibleWidget>
#include <QPainter>
#include <QPainterPath>

#include "views/app_style.h"
#include "views/data_text.h"
#include "views/symbols.h"
#include "views/theme.h"

namespace corvane {

namespace {

constexpr int kPadH = 7;
constexpr int kPadV = 5;
constexpr int kTile = 27;
constexpr int kGap = 9;
constexpr int kBadgePadH = 5;
constexpr int kBadgePadV = 2;

QFont titleFont() { return Theme::font(12.5, Weight::medium); }
QFont subtitleFont() { return Theme::font(10.5); }
QFont badgeFont() { return Theme::font(9.5, Weight::semibold); }

int textBlockHeight() { return QFontMetrics(titleFont()).height() + 1 + QFontMetrics(subtitleFont()).height(); }

// The row as a screen reader meets it: a push button, checked while its device is the
// chosen one (a checkable QPushButton would read as a check box, and toggle on a click).
class DeviceRowAccessible : public QAccessibleWidget {
public:
    explicit DeviceRowAccessible(DeviceRow* row) : QAccessibleWidget(row, QAccessible::Button) {}

    QAccessible::State state() const override {
        QAccessible::State state = QAccessibleWidget::state();
        state.checkable = true;
        state.checked = static_cast<DeviceRow*>(widget())->look().selected;
        return state;
    }

    QStringList actionNames() const override {
        if (!widget()->isEnabled()) return {};
        return QStringList{pressAction()} + QAccessibleWidget::actionNames();
    }

    void doAction(const QString& name) override {
        if (name != pressAction()) return QAccessibleWidget::doAction(name);
        if (widget()->isEnabled()) static_cast<DeviceRow*>(widget())->click();
    }
};

QAccessibleInterface* deviceRowAccessible(const QString& className, QObject* object) {
    auto* row = qobject_cast<DeviceRow*>(object);
    if (row == nullptr || className != QLatin1String(DeviceRow::staticMetaObject.className())) return nullptr;
    return new DeviceRowAccessible(row);
}

}  // namespace

DeviceRow::DeviceRow(QWidget* parent) : QPushButton(parent) {
    static const bool factoryInstalled = (QAccessible::installFactory(deviceRowAccessible), true);
    (void)factoryInstalled;
    setAutoDefault(false);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setAttribute(Qt::WA_Hover);
}

void DeviceRow::setLook(const DeviceRowLook& look) {
    if (look == look_ && accessibleName() == look.title) return;
    const bool chosenChanged = look.selected != look_.selected;
    look_ = look;
    // Told only while the row holds the keys: a reader speaks the focused control's states.
    if (chosenChanged && hasFocus() && QAccessible::isActive()) {
        QAccessible::State changed;
        changed.checked = true;
        QAccessibleStateChangeEvent event(this, changed);
        QAccessible::updateAccessibility(&event);
    }
    setAccessibleName(look.title);
    QString description = look.subtitle;
    if (look.badge) description += QStringLiteral(" · ") + *look.badge;
    setAccessibleDescription(description);
    setToolTip(look.subtitleToolTip ? literalToolTip(look.subtitle) : QString());
    update();
}

QColor DeviceRow::fill(bool selected, bool hovering) {
    if (selected) return Theme::tint(Tint::accent, 0.16);
    if (hovering) return Theme::primary(0.05);
    return Qt::transparent;
}

QRect DeviceRow::tileRect(const QRect& row) {
    return {row.left() + kPadH, row.top() + (row.height() - kTile) / 2, kTile, kTile};
}

QRect DeviceRow::badgeRect(const QRect& row, const DeviceRowLook& look) {
    if (!look.badge) return {};
    const QFontMetrics metrics(badgeFont());
    const int w = metrics.horizontalAdvance(*look.badge) + 2 * kBadgePadH;
    const int h = metrics.height() + 2 * kBadgePadV;
    if (look.badgeBesideTitle) {
        const int titleTop = row.top() + (row.height() - textBlockHeight()) / 2;
        return {row.right() + 1 - kPadH - w, titleTop + (QFontMetrics(titleFont()).height() - h) / 2, w, h};
    }
    return {row.right() + 1 - kPadH - w, row.top() + (row.height() - h) / 2, w, h};
}

QRect DeviceRow::textRect(const QRect& row, const DeviceRowLook& look) {
    const int left = tileRect(row).right() + 1 + kGap;
    // The spacer keeps at least 2 px; then the badge (with the row's spacing) or the edge.
    int right = row.right() + 1 - kPadH - 2;
    if (look.badge) right = badgeRect(row, look).left() - kGap - 2;
    const int h = textBlockHeight();
    return {left, row.top() + (row.height() - h) / 2, std::max(0, right - left), h};
}

QRect DeviceRow::subtitleRect(const QRect& row, const DeviceRowLook& look) {
    QRect line = textRect(row, look);
    line.setTop(line.top() + QFontMetrics(titleFont()).height() + 1);
    line.setHeight(QFontMetrics(subtitleFont()).height());
    if (look.badgeBesideTitle) line.setRight(row.right() - kPadH - 2);
    return line;
}

QString DeviceRow::shownSubtitle(const DeviceRowLook& look, int width) {
    QString subtitle = look.subtitle;
    subtitle.replace(QLatin1Char('\n'), QLatin1Char(' '));
    const QFontMetrics metrics(subtitleFont());
    const QString& end = look.subtitleEnd;
    const int endWidth = metrics.horizontalAdvance(end);
    if (end.isEmpty() || !subtitle.endsWith(end) || endWidth >= width) {
        return metrics.elidedText(subtitle, Qt::ElideRight, width);
    }
    const QString head = subtitle.chopped(end.size());
    return metrics.elidedText(head, Qt::ElideRight, width - endWidth) + end;
}

int DeviceRow::rowHeight() { return 2 * kPadV + std::max(kTile, textBlockHeight()); }

QSize DeviceRow::sizeHint() const { return {200, rowHeight()}; }

QSize DeviceRow::minimumSizeHint() const { return {0, sizeHint().height()}; }

void DeviceRow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    paint(painter, rect(), look_, hovering_, AppStyle::showsFocus(this));
}

void DeviceRow::paint(QPainter& painter, const QRect& row, const DeviceRowLook& look, bool hovering, bool focusRing) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor accent = Theme::tint(Tint::accent);

    painter.setPen(Qt::NoPen);
    painter.setBrush(fill(look.selected, hovering));
    painter.drawRoundedRect(QRectF(row), 8, 8);

    const QRect tile = tileRect(row);
    painter.setBrush(look.selected ? accent : Theme::tint(Tint::accent, 0.13));
    painter.drawRoundedRect(QRectF(tile), 7, 7);
    painter.setFont(Symbols::font(15));
    painter.setPen(look.selected ? QColor(Qt::white) : accent);
    painter.drawText(tile, Qt::AlignCenter, Symbols::glyph(look.icon));

    const QRect text = textRect(row, look);
    const QFontMetrics titleMetrics(titleFont());
    QString title = look.title;
    title.replace(QLatin1Char('\n'), QLatin1Char(' '));
    painter.setFont(titleFont());
    painter.setPen(Theme::primary());
    painter.drawText(QRect(text.left(), text.top(), text.width(), titleMetrics.height()), Qt::AlignLeft | Qt::AlignVCenter,
                     titleMetrics.elidedText(title, Qt::ElideRight, text.width()));
    painter.setFont(subtitleFont());
    painter.setPen(Theme::secondary());
    const QRect subtitle = subtitleRect(row, look);
    painter.drawText(subtitle, Qt::AlignLeft | Qt::AlignVCenter, shownSubtitle(look, subtitle.width()));

    if (look.badge) {
        const QRect badge = badgeRect(row, look);
        QColor tint = look.badgeColor;
        tint.setAlphaF(0.16f * look.badgeColor.alphaF());
        painter.setPen(Qt::NoPen);
        painter.setBrush(tint);
        painter.drawRoundedRect(QRectF(badge), badge.height() / 2.0, badge.height() / 2.0);
        painter.setFont(badgeFont());
        painter.setPen(look.badgeColor);
        painter.drawText(badge, Qt::AlignCenter, *look.badge);
    }

    if (focusRing) AppStyle::drawFocusRing(&painter, row, 8);
    painter.restore();
}

void DeviceRow::enterEvent(QEnterEvent* event) {
    hovering_ = true;
    update();
    QPushButton::enterEvent(event);
}

void DeviceRow::leaveEvent(QEvent* event) {
    hovering_ = false;
    update();
    QPushButton::leaveEvent(event);
}

}  // namespace corvane
