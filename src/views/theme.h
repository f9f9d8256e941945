#pragma once
// The one look of every view: light colours, the text fonts and the window
// palette. Sizes given to the font helpers are pixels at the layout's scale;
// a font's point size is derived from the screen's logical DPI, so text keeps
// the same pixel size on every display.

#include <QColor>
#include <QFont>
#include <QString>

class QApplication;
class QWidget;

namespace corvane {

// The named colours of the palette.
enum class Tint { red, orange, green, blue, pink, purple, teal, brown, indigo, gray, accent };

// Font weights the views ask for. The CJK font has no Medium face: medium draws Regular.
enum class Weight { regular, medium, semibold, bold };

struct Theme {
    // Black at 0.85, 0.50, 0.26 and 0.10; a stated opacity multiplies.
    static QColor primary(double opacity = 1.0);
    static QColor secondary(double opacity = 1.0);
    static QColor tertiary(double opacity = 1.0);
    static QColor quaternary(double opacity = 1.0);
    static QColor window();  // #ECECEC
    static QColor tint(Tint tint, double opacity = 1.0);

    static constexpr const char* fontFamily = "Noto Sans CJK SC";
    static constexpr const char* emojiFamily = "Noto Color Emoji";
    static constexpr const char* monoFamily = "Noto Sans Mono CJK SC";
    // The Latin font of a password field's bullets (the CJK font's are one em wide).
    static constexpr const char* maskFamily = "DejaVu Sans";

    // The text font at a pixel size (12.5 gives 12.5 px text at any DPI).
    static QFont font(double px, Weight weight = Weight::regular);
    // The monospaced text font (notes and texts being written), CJK included.
    static QFont monoFont(double px);
    // The font of a password field: its bullets (AppStyle) from the Latin font, its
    // placeholder from the text font.
    static QFont passwordFont(double px);
    // px × 72 / the primary screen's logical DPI (96 without a screen).
    static double pointSize(double px);

    // The application's style (AppStyle), fonts (emoji at the text's size), and palette, whose
    // disabled text is dimmed: called once after the application object exists.
    static void apply(QApplication& app);

    // Sets the colour a label or button draws its text in while enabled (disabled, it is dimmed).
    static void setTextColor(QWidget* widget, const QColor& color);
    // Fills the widget's background with a colour.
    static void setBackground(QWidget* widget, const QColor& color);
};

}  // namespace corvane
