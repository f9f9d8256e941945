#pragma once
// The symbol names the model and the views use ("doc.text", "xmark", ...),
// each mapped to one glyph of the "Material Icons" font, and the widgets that
// draw them. A symbol is drawn as text at about 1.15 times the stated size,
// which matches the optical size of the text beside it. Every icon widget
// carries its name in the property "symbol".

#include <optional>
#include <string>
#include <vector>

#include <QFont>
#include <QIcon>
#include <QLabel>
#include <QString>

namespace corvane {

struct Symbols {
    static constexpr const char* family = "Material Icons";
    static constexpr double scale = 1.15;

    // The glyph's code point; none for a name outside the table.
    static std::optional<char32_t> codePoint(const std::string& name);
    // The glyph as text; empty for a name outside the table.
    static QString glyph(const std::string& name);
    // Every name of the table, in table order.
    static std::vector<std::string> names();
    // The icon font for a symbol of the stated pixel size.
    static QFont font(double px);
    // The symbol drawn in one colour as an icon (for buttons that also show a text);
    // a null icon for a name outside the table.
    static QIcon icon(const std::string& name, double px, const QColor& color);
    // The side of the square such an icon fills, in pixels.
    static int iconSide(double px);
};

// An icon: one symbol in one colour, painted, centred in its contents. It holds no text, so
// assistive technology reads neither the private-use glyph nor the symbol's name: a
// decorative icon has no accessible name, and one that tells something gets a Chinese one
// from its owner (setAccessibleName).
class SymbolLabel : public QLabel {
    Q_OBJECT
    Q_PROPERTY(QString symbol READ symbol)

public:
    SymbolLabel(const std::string& name, double px, const QColor& color, QWidget* parent = nullptr);

    QString symbol() const { return symbol_; }
    void setSymbol(const std::string& name);
    void setColor(const QColor& color);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString symbol_;
    QString glyph_;
};

}  // namespace corvane
