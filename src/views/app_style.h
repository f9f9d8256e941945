#pragma once
// The program's widget style: Fusion, with what a native desktop shows that
// Fusion draws otherwise:
// - scroll bars are thin knobs without arrow buttons, drawn over the content
//   (they take no room from it) and only while the content does not fit;
// - a password field hides each character behind a "●", which a password field's
//   font (Theme::passwordFont) takes from a Latin font: the CJK font draws "●"
//   and "•" one em wide, "•" as a 2 px dot (tiny bullets 12 px apart);
// - a disabled push button draws its frame and fill dimmed; its text takes the
//   palette's disabled colour (Theme::apply);
// - keyboard focus is an accent ring: a push button keeps room for it around its
//   frame (so a focused button never looks like the default one, whose frame is
//   blue), other controls draw it around what Qt gives as their focus area;
// - a push button keeps at least `buttonPadding` between its text and its frame;
// - a framed one-line field starts its text `fieldInset` inside its edge, as the
//   text boxes do.

#include <QProxyStyle>

class QPainter;

namespace corvane {

class AppStyle : public QProxyStyle {
    Q_OBJECT

public:
    // Room a scroll bar takes across, over the content's edge.
    static constexpr int scrollBarExtent = 10;
    // Width of the knob inside that room, and its gap to the edge.
    static constexpr int knobThickness = 6;
    static constexpr int knobInset = 2;
    static constexpr int knobMinLength = 24;
    // The character a password field shows for each one typed.
    static constexpr char16_t passwordBullet = u'\u25CF';
    // The focus ring's width, and the room a push button keeps for it on every side.
    static constexpr int focusRing = 2;
    // The least room between a push button's text and its frame, on each side.
    static constexpr int buttonPadding = 12;
    // Where a framed one-line field's text starts, from the field's edge.
    static constexpr int fieldInset = 10;

    AppStyle();

    // Whether a widget shows keyboard focus now: it has the focus, and its window's focus
    // last moved by the keyboard (a click leaves no ring).
    static bool showsFocus(const QWidget* widget);
    // The focus ring in the outer `focusRing` px of `outer`, with a light inner edge that keeps
    // it apart from a fill of the accent colour; for widgets that paint themselves.
    static void drawFocusRing(QPainter* painter, const QRectF& outer, double radius);

    int pixelMetric(PixelMetric metric, const QStyleOption* option = nullptr,
                    const QWidget* widget = nullptr) const override;
    int styleHint(StyleHint hint, const QStyleOption* option = nullptr, const QWidget* widget = nullptr,
                  QStyleHintReturn* returnData = nullptr) const override;
    QRect subControlRect(ComplexControl control, const QStyleOptionComplex* option, SubControl subControl,
                         const QWidget* widget = nullptr) const override;
    void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option, QPainter* painter,
                            const QWidget* widget = nullptr) const override;
    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget = nullptr) const override;
    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget = nullptr) const override;
    QSize sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& contents,
                           const QWidget* widget = nullptr) const override;
    QRect subElementRect(SubElement element, const QStyleOption* option, const QWidget* widget = nullptr) const override;
};

}  // namespace corvane
