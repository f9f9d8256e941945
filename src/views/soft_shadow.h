#pragma once
// The kit's soft shadow under a floating shape (the toast's capsule, a sheet without a
// window manager): black at 0.12, spread over 8 px and 3 px lower than the shape.

#include <functional>

#include <QPainterPath>
#include <QRectF>

class QPainter;

namespace corvane {

struct SoftShadow {
    static constexpr int blur = 8;
    static constexpr int down = 3;
    // Room the shadow takes round its shape, on every side.
    static constexpr int margin = blur + down;
};

// Paints the shadow of a shape as rings that fade outwards; `outline` gives the shape's
// outline for a rectangle (the shape's own rectangle, then each ring's larger one).
void paintSoftShadow(QPainter& painter, const QRectF& shape, const std::function<QPainterPath(const QRectF&)>& outline);

}  // namespace corvane
