#include "views/controls.h"

#include <QPainter>

#include "views/data_text.h"
#include "views/symbols.h"
#include "views/theme.h"

namespace corvane {

QPushButton* smallButton(const QString& title, QWidget* parent) {
    auto* button = new QPushButton(buttonTitle(title), parent);
    button->setFont(Theme::font(11));
    button->setAutoDefault(false);
    button->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    return button;
}

SymbolButton::SymbolButton(const std::string& symbol, double px, const QString& help, QWidget* parent)
    : QPushButton(parent) {
    setFlat(true);
    setAutoDefault(false);
    setCursor(Qt::PointingHandCursor);
    setFont(Symbols::font(px));
    setColor(Theme::primary());
    setSymbol(symbol);
    setHelp(help);
}

void SymbolButton::setSymbol(const std::string& symbol) {
    symbol_ = QString::fromStdString(symbol);
    setText(Symbols::glyph(symbol));
}

void SymbolButton::setHelp(const QString& help) {
    setToolTip(help);
    setAccessibleName(help);
}

void SymbolButton::setColor(const QColor& color) {
    setStyleSheet(QStringLiteral("QPushButton { border: none; padding: 2px; background: transparent; color: rgba(%1, %2, %3, %4); }")
                      .arg(color.red())
                      .arg(color.green())
                      .arg(color.blue())
                      .arg(color.alphaF()));
}

Rule::Rule(Qt::Orientation orientation, QWidget* parent) : QWidget(parent) {
    if (orientation == Qt::Horizontal) {
        setFixedHeight(1);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    } else {
        setFixedWidth(1);
        setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
    }
}

void Rule::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Theme::primary(0.1));
}

}  // namespace corvane
