#include "views/theme.h"

#include <algorithm>

#include <QApplication>
#include <QPalette>
#include <QScreen>
#include <QStyle>
#include <QWidget>

#include "views/app_style.h"
#include "views/emoji_font.h"

namespace corvane {

namespace {

QColor black(double alpha) { return QColor::fromRgbF(0, 0, 0, float(std::clamp(alpha, 0.0, 1.0))); }

QColor withOpacity(QColor color, double opacity) {
    color.setAlphaF(float(std::clamp(color.alphaF() * opacity, 0.0, 1.0)));
    return color;
}

QFont::Weight qtWeight(Weight weight) {
    switch (weight) {
        case Weight::medium: return QFont::Medium;
        case Weight::semibold: return QFont::DemiBold;
        case Weight::bold: return QFont::Bold;
        case Weight::regular: break;
    }
    return QFont::Normal;
}

// The roles a label, a field and a button draw their text in.
constexpr QPalette::ColorRole kTextRoles[] = {QPalette::WindowText, QPalette::Text, QPalette::ButtonText};

// A text colour for enabled widgets (active and inactive windows alike); disabled ones keep the dimmed one.
void setEnabledColor(QPalette& palette, QPalette::ColorRole role, const QColor& color) {
    palette.setColor(QPalette::Active, role, color);
    palette.setColor(QPalette::Inactive, role, color);
}

}  // namespace

QColor Theme::primary(double opacity) { return black(0.85 * opacity); }
QColor Theme::secondary(double opacity) { return black(0.50 * opacity); }
QColor Theme::tertiary(double opacity) { return black(0.26 * opacity); }
QColor Theme::quaternary(double opacity) { return black(0.10 * opacity); }
QColor Theme::window() { return QColor(0xEC, 0xEC, 0xEC); }

QColor Theme::tint(Tint tint, double opacity) {
    QColor color;
    switch (tint) {
        case Tint::red: color = QColor(0xFF, 0x3B, 0x30); break;
        case Tint::orange: color = QColor(0xFF, 0x95, 0x00); break;
        case Tint::green: color = QColor(0x28, 0xCD, 0x41); break;
        case Tint::blue:
        case Tint::accent: color = QColor(0x00, 0x7A, 0xFF); break;
        case Tint::pink: color = QColor(0xFF, 0x2D, 0x55); break;
        case Tint::purple: color = QColor(0xAF, 0x52, 0xDE); break;
        case Tint::teal: color = QColor(0x59, 0xAD, 0xC4); break;
        case Tint::brown: color = QColor(0xA2, 0x84, 0x5E); break;
        case Tint::indigo: color = QColor(0x58, 0x56, 0xD6); break;
        case Tint::gray: color = QColor(0x8E, 0x8E, 0x93); break;
    }
    return withOpacity(color, opacity);
}

double Theme::pointSize(double px) {
    const QScreen* screen = QGuiApplication::primaryScreen();
    const double dpi = screen && screen->logicalDotsPerInchY() > 0 ? screen->logicalDotsPerInchY() : 96.0;
    return px * 72.0 / dpi;
}

QFont Theme::font(double px, Weight weight) {
    QFont font;
    // Emoji in data (chat, names) fall through to the colour emoji font.
    font.setFamilies({QString::fromLatin1(fontFamily), QString::fromLatin1(emojiFamily)});
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(pointSize(px));
    font.setWeight(qtWeight(weight));
    return font;
}

QFont Theme::monoFont(double px) {
    QFont font = Theme::font(px);
    font.setFamilies({QString::fromLatin1(monoFamily), QString::fromLatin1(fontFamily), QString::fromLatin1(emojiFamily)});
    font.setStyleHint(QFont::Monospace);
    return font;
}

QFont Theme::passwordFont(double px) {
    QFont font = Theme::font(px);
    font.setFamilies({QString::fromLatin1(maskFamily), QString::fromLatin1(fontFamily), QString::fromLatin1(emojiFamily)});
    return font;
}

void Theme::apply(QApplication& app) {
    QApplication::setStyle(new AppStyle);
    // Before any text is laid out: font engines made earlier would keep the small emoji.
    registerEmojiAtEmSize();
    QApplication::setFont(font(13));
    QPalette palette = QApplication::style()->standardPalette();
    palette.setColor(QPalette::Window, window());
    palette.setColor(QPalette::Highlight, tint(Tint::accent));
    palette.setColor(QPalette::Link, tint(Tint::accent));
    palette.setColor(QPalette::PlaceholderText, tertiary());
    // Text of disabled controls (a button that cannot be pressed yet) is dimmed, as the platform does.
    for (const QPalette::ColorRole role : kTextRoles) {
        setEnabledColor(palette, role, primary());
        palette.setColor(QPalette::Disabled, role, tertiary());
    }
    app.setPalette(palette);
}

void Theme::setTextColor(QWidget* widget, const QColor& color) {
    QPalette palette = widget->palette();
    for (const QPalette::ColorRole role : kTextRoles) {
        setEnabledColor(palette, role, color);
    }
    widget->setPalette(palette);
}

void Theme::setBackground(QWidget* widget, const QColor& color) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, color);
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

}  // namespace corvane
