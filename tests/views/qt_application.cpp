// The views need a widget application with the program's fonts, palette and style, on
// a screen of 1280 x 900 (the offscreen platform's own 800 x 600 is lower than the team
// panel, which would then shrink to fit it).
#include <QApplication>

#include "support/qt_test_application.h"
#include "views/theme.h"

namespace {

class ViewsApplication : public corvane::test::QtApplicationEnvironment<QApplication> {
public:
    ViewsApplication()
        : QtApplicationEnvironment("offscreen:configfile=" CORVANE_SOURCE_DIR "/tests/views/offscreen_screen.json") {}

    void SetUp() override {
        QtApplicationEnvironment::SetUp();
        corvane::Theme::apply(*qApp);
    }
};

const testing::Environment* const registered = testing::AddGlobalTestEnvironment(new ViewsApplication);

}  // namespace
