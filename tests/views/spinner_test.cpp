// The busy spinner turns while it shows and rests while it is hidden.
#include <QImage>

#include <gtest/gtest.h>

#include "support/qt_wait.h"
#include "views/spinner.h"

namespace corvane {
namespace {

TEST(Spinner, turnsWhileShownAndRestsWhileHidden) {
    Spinner spinner;
    EXPECT_EQ(spinner.size(), QSize(Spinner::smallSide, Spinner::smallSide));
    spinner.show();
    const QImage first = spinner.grab().toImage();
    EXPECT_TRUE(test::qtWaitFor([&] { return spinner.grab().toImage() != first; }, std::chrono::seconds(5)));
    spinner.hide();
    const int resting = spinner.step();
    test::qtSpin(std::chrono::milliseconds(200));
    EXPECT_EQ(spinner.step(), resting);
}

}  // namespace
}  // namespace corvane
