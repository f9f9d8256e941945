#include "views/symbols.h"

#include <cmath>
#include <utility>

#include <QGuiApplication>
#include <QPainter>
#include <QPixmap>
#include <QStyle>

#include "views/theme.h"

namespace corvane {

namespace {

// Symbol names of the platform's set and the Material Icons glyph drawn for each.
const std::vector<std::pair<std::string, char32_t>>& table() {
    static const std::vector<std::pair<std::string, char32_t>> entries = {
        {"laptopcomputer", 0xE31E},
        {"pc", 0xE30C},
        {"server.rack", 0xE875},
        {"iphone.gen3", 0xE32C},
        {"network", 0xEB2F},
        {"desktopcomputer", 0xE30B},
        {"photo", 0xE410},
        {"film", 0xE02C},
        {"doc.text", 0xE873},
        {"doc.richtext", 0xE415},
        {"archivebox", 0xE1A1},
        {"music.note", 0xE405},
        {"tablecells", 0xE265},
        {"rectangle.on.rectangle", 0xE41B},
        {"shippingbox", 0xEB71},
        {"doc", 0xE24D},
        {"person.3.fill", 0xF233},
        {"person.2.fill", 0xE7EF},
        {"person.2.circle.fill", 0xE939},
        {"xmark", 0xE5CD},
        {"wave.3.right.circle", 0xE1E2},
        {"folder", 0xE2C7},
        {"globe", 0xE80B},
        {"bubble.left.and.bubble.right", 0xE0BF},
        {"text.bubble", 0xE0D8},
        {"arrow.clockwise", 0xE5D5},
        {"gearshape", 0xE8B8},
        {"wifi", 0xE63E},
        {"magnifyingglass", 0xE8B6},
        {"xmark.circle.fill", 0xE5C9},
        {"arrow.triangle.2.circlepath", 0xE627},
        {"tray", 0xE156},
        {"arrow.down.to.line.compact", 0xF090},
        {"arrow.down.circle", 0xF181},
        {"arrow.down.forward.circle", 0xF001},
        {"arrow.down.circle.fill", 0xF000},
        {"arrow.up.forward.app", 0xE89E},
        {"trash", 0xE872},
        {"arrow.up.circle", 0xF182},
        {"arrow.triangle.merge", 0xEB98},
        {"checkmark.circle.fill", 0xE86C},
        {"slash.circle", 0xE14B},
        {"exclamationmark.triangle.fill", 0xE002},
        {"arrow.up.arrow.down", 0xE8D5},
        {"flame", 0xE80E},
        {"flame.fill", 0xEF55},
        {"lock.shield", 0xE32A},
        {"checkmark.square.fill", 0xE834},
        {"square", 0xE835},
        {"xmark.octagon.fill", 0xE99A},
        {"person.2.badge.gearshape", 0xF02E},
        {"bubble.left.and.text.bubble.right", 0xE0B7},
        {"internaldrive", 0xE1DB},
        {"sparkles", 0xE65F},
        {"link", 0xE157},
        {"envelope", 0xE0E1},
        {"key", 0xE0DA},
        {"clock.badge.questionmark", 0xF1BB},
        {"person.2", 0xE7FC},
        {"person.crop.circle.badge.xmark", 0xF03E},
        {"ellipsis.circle", 0xE5D3},
    };
    return entries;
}

}  // namespace

std::optional<char32_t> Symbols::codePoint(const std::string& name) {
    for (const auto& [entry, code] : table()) {
        if (entry == name) return code;
    }
    return std::nullopt;
}

QString Symbols::glyph(const std::string& name) {
    const auto code = codePoint(name);
    if (!code) return {};
    return QString::fromUcs4(&*code, 1);
}

std::vector<std::string> Symbols::names() {
    std::vector<std::string> out;
    for (const auto& entry : table()) out.push_back(entry.first);
    return out;
}

QFont Symbols::font(double px) {
    QFont font(QString::fromLatin1(family));
    font.setPointSizeF(Theme::pointSize(px * scale));
    return font;
}

int Symbols::iconSide(double px) { return int(std::ceil(px * scale)) + 2; }

QIcon Symbols::icon(const std::string& name, double px, const QColor& color) {
    const QString text = glyph(name);
    if (text.isEmpty()) return {};
    const int side = iconSide(px);
    const qreal ratio = qApp ? qApp->devicePixelRatio() : 1.0;
    QPixmap pixmap(QSize(side, side) * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setFont(font(px));
    painter.setPen(color);
    painter.drawText(QRectF(0, 0, side, side), Qt::AlignCenter, text);
    painter.end();
    QIcon icon;
    icon.addPixmap(pixmap, QIcon::Normal);
    icon.addPixmap(pixmap, QIcon::Disabled);
    icon.addPixmap(pixmap, QIcon::Active);
    return icon;
}

SymbolLabel::SymbolLabel(const std::string& name, double px, const QColor& color, QWidget* parent) : QLabel(parent) {
    setTextFormat(Qt::PlainText);
    setAlignment(Qt::AlignCenter);
    setFont(Symbols::font(px));
    setColor(color);
    setSymbol(name);
}

void SymbolLabel::setSymbol(const std::string& name) {
    symbol_ = QString::fromStdString(name);
    glyph_ = Symbols::glyph(name);
    updateGeometry();
    update();
}

// The room a label showing the glyph as its text would take.
QSize SymbolLabel::sizeHint() const {
    const QRect glyph = fontMetrics().boundingRect(QRect(0, 0, 2000, 2000), int(alignment()), glyph_);
    const QMargins margins = contentsMargins();
    return glyph.size().grownBy(margins);
}

void SymbolLabel::paintEvent(QPaintEvent*) {
    // As a label draws its text.
    QPainter painter(this);
    style()->drawItemText(&painter, contentsRect(), int(alignment()), palette(), isEnabled(), glyph_, foregroundRole());
}

void SymbolLabel::setColor(const QColor& color) { Theme::setTextColor(this, color); }

}  // namespace corvane
