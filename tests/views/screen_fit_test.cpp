// Windows on the screen: moved the least onto the available area (a larger one
// keeps its top-left corner on it), shrunk to the area but never below the
// minimum, with the window manager's frame round them, centred over another.
#include <gtest/gtest.h>

#include "views/screen_fit.h"

namespace corvane {
namespace {

const QRect low(0, 0, 1280, 720);
const QRect rightOfIt(1280, 0, 1400, 900);

TEST(ScreenFit, aFrameMovesTheLeastOntoTheArea) {
    const std::tuple<const char*, QRect, QRect, QRect> cases[] = {
        {"on it", QRect(100, 100, 480, 300), low, QRect(100, 100, 480, 300)},
        {"past the bottom", QRect(400, 80, 480, 720), low, QRect(400, 0, 480, 720)},
        {"past the bottom, room above", QRect(400, 600, 480, 300), low, QRect(400, 420, 480, 300)},
        {"above the top", QRect(120, -13, 1040, 700), low, QRect(120, 0, 1040, 700)},
        {"taller than the area", QRect(120, -13, 1040, 744), low, QRect(120, 0, 1040, 744)},
        {"past the right edge", QRect(1000, 10, 480, 300), low, QRect(800, 10, 480, 300)},
        {"left of it", QRect(-50, 10, 480, 300), low, QRect(0, 10, 480, 300)},
        {"wider than the area", QRect(-50, 10, 1400, 300), low, QRect(0, 10, 1400, 300)},
        {"an area not at the origin", QRect(1300, 850, 400, 300), rightOfIt, QRect(1300, 600, 400, 300)},
        {"far off it", QRect(-3000, 5000, 400, 300), rightOfIt, QRect(1280, 600, 400, 300)},
    };
    for (const auto& [what, frame, area, placed] : cases) EXPECT_EQ(movedOnto(frame, area), placed) << what;
}

TEST(ScreenFit, aFrameShrinksToTheAreaButNotBelowTheMinimum) {
    const QSize minimum(880, 624);
    const std::tuple<const char*, QRect, QRect, QRect> cases[] = {
        {"fits", QRect(40, 50, 1040, 744), rightOfIt.translated(-1280, 0), QRect(40, 50, 1040, 744)},
        {"saved on a larger screen", QRect(100, 150, 1300, 850), low, QRect(0, 0, 1280, 720)},
        {"too tall only", QRect(120, -12, 1040, 744), low, QRect(120, 0, 1040, 720)},
        {"a screen below the minimum", QRect(50, 50, 1040, 744), QRect(0, 0, 640, 450), QRect(0, 0, 880, 624)},
        {"onto another screen", QRect(-900, 300, 1300, 850), rightOfIt, QRect(1280, 50, 1300, 850)},
    };
    for (const auto& [what, frame, area, placed] : cases) EXPECT_EQ(shrunkOnto(frame, area, minimum), placed) << what;
}

TEST(ScreenFit, aFramedWindowFitsWithItsTitleBarAndBorder) {
    const QSize minimum(880, 624);
    const QMargins openbox(1, 20, 1, 5);  // left, title bar, right, bottom handle
    const std::tuple<const char*, QRect, QMargins, QRect, QRect> cases[] = {
        {"no frame: as without one", QRect(120, 0, 1040, 744), QMargins(), low, QRect(120, 0, 1040, 720)},
        {"first start at 720: title bar above the screen", QRect(120, 0, 1040, 720), openbox, low,
         QRect(120, 20, 1040, 695)},
        {"centred at 768: 8 px of it above", QRect(163, 12, 1040, 744), openbox, QRect(0, 0, 1366, 768),
         QRect(163, 20, 1040, 743)},
        {"on the screen already", QRect(100, 50, 1040, 640), openbox, low, QRect(100, 50, 1040, 640)},
        {"bottom handle below the screen", QRect(100, 100, 1040, 640), openbox, low, QRect(100, 75, 1040, 640)},
        {"a screen below the minimum", QRect(50, 50, 1040, 744), openbox, QRect(0, 0, 640, 450),
         QRect(1, 20, 880, 624)},
    };
    for (const auto& [what, window, frame, area, placed] : cases) {
        EXPECT_EQ(fittedWithFrame(window, frame, area, minimum), placed) << what;
    }
}

TEST(ScreenFit, aSizeCentresOverARectangle) {
    EXPECT_EQ(centredOver(QRect(120, 0, 1040, 720), QSize(480, 600)), QRect(400, 60, 480, 600));
    EXPECT_EQ(centredOver(QRect(120, 0, 1040, 720), QSize(480, 721)), QRect(400, 0, 480, 721));
    EXPECT_EQ(centredOver(QRect(0, 0, 640, 450), QSize(1040, 744)), QRect(-200, -147, 1040, 744));
}

}  // namespace
}  // namespace corvane
