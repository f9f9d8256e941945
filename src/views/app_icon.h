#pragma once
// The application's icon, painted at any size: a blue rounded square with two
// white arrows passing each other (files going both ways). The window icon, the
// task bar and the desktop entry's icon files all come from this one drawing.

#include <QIcon>
#include <QImage>

namespace corvane {

// The sizes desktops look for in the hicolor icon theme (pixels, square).
inline constexpr int kAppIconSizes[] = {16, 22, 24, 32, 48, 64, 128, 256, 512};

// The icon at one size, on a transparent background.
QImage appIconImage(int size);
// The icon at every size above.
QIcon appIcon();

}  // namespace corvane
