#pragma once
// Reading what a widget drew: its pixels on the window's background, the accent
// colour among them, ink columns and contrast.

#include <algorithm>
#include <cmath>
#include <functional>

#include <QImage>
#include <QWidget>

namespace corvane::test {

// The widget as it draws itself, on an opaque window-coloured ground (as on screen).
inline QImage rendered(QWidget* widget) {
    QImage image(widget->size() * widget->devicePixelRatio(), QImage::Format_RGB32);
    image.setDevicePixelRatio(widget->devicePixelRatio());
    image.fill(QColor(0xEC, 0xEC, 0xEC));
    widget->render(&image, QPoint(), QRegion(), QWidget::DrawChildren | QWidget::DrawWindowBackground);
    return image;
}

// A pixel of the accent blue, pure or blended over the light ground.
inline bool isAccent(QRgb pixel) { return qBlue(pixel) >= 150 && qBlue(pixel) - qRed(pixel) >= 80; }

inline int countPixels(const QImage& image, const QRect& area, const std::function<bool(QRgb)>& wanted) {
    int count = 0;
    const QRect inside = area.intersected(image.rect());
    for (int y = inside.top(); y <= inside.bottom(); ++y) {
        for (int x = inside.left(); x <= inside.right(); ++x) count += wanted(image.pixel(x, y)) ? 1 : 0;
    }
    return count;
}

// The relative luminance of WCAG 2, and the contrast of two colours.
inline double luminance(QRgb pixel) {
    auto channel = [](int value) {
        const double c = value / 255.0;
        return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(qRed(pixel)) + 0.7152 * channel(qGreen(pixel)) + 0.0722 * channel(qBlue(pixel));
}

inline double contrast(QRgb a, QRgb b) {
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// The darkest pixel of an area.
inline QRgb darkest(const QImage& image, const QRect& area) {
    QRgb found = qRgb(255, 255, 255);
    const QRect inside = area.intersected(image.rect());
    for (int y = inside.top(); y <= inside.bottom(); ++y) {
        for (int x = inside.left(); x <= inside.right(); ++x) {
            if (qGray(image.pixel(x, y)) < qGray(found)) found = image.pixel(x, y);
        }
    }
    return found;
}

// The runs of columns of an area holding a pixel that passes, as [first, last] pairs.
inline std::vector<std::pair<int, int>> inkRuns(const QImage& image, const QRect& area,
                                                const std::function<bool(QRgb)>& ink) {
    std::vector<std::pair<int, int>> runs;
    const QRect inside = area.intersected(image.rect());
    for (int x = inside.left(); x <= inside.right(); ++x) {
        bool any = false;
        for (int y = inside.top(); y <= inside.bottom() && !any; ++y) any = ink(image.pixel(x, y));
        if (!any) continue;
        if (!runs.empty() && runs.back().second == x - 1) {
            runs.back().second = x;
        } else {
            runs.push_back({x, x});
        }
    }
    return runs;
}

}  // namespace corvane::test
