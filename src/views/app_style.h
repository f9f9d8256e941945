#pragma once
// The program's widget style: Fusion, with what a native desktop shows that
// Fusion draws otherwise:
// - scroll bars are thin knobs without arrow buttons, drawn over the content
//   (they take no room from it) and only while the content does not fit;
// - a password field hides each character behind a bullet of the text's size
//   (Fusion's "●" is the CJK font's full-width circle, as tall as the line);
// - a disabled push button draws its frame and fill dimmed; its text takes the
//   palette's disabled colour (Theme::apply).

#include <QProxyStyle>

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
    static constexpr char16_t passwordBullet = u'\u2022';

    AppStyle();

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
};

}  // namespace corvane
