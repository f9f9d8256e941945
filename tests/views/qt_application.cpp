// The views need a widget application with the program's fonts, palette and style, on
// a screen of 1280 x 900 (the offscreen platform's own 800 x 600 is lower than the team
// panel, which would then shrink to fit it).
#include <cstdlib>

#include <QApplication>

#include "support/qt_test_application.h"
#include "support/test_support.h"
#include "views/theme.h"

namespace {

class ViewsApplication : public corvane::test::QtApplicationEnvironment<QApplication> {
public:
    ViewsApplication()
        : QtApplicationEnvironment("offscreen:configfile=" CORVANE_SOURCE_DIR "/tests/views/offscreen_screen.json") {}

    void SetUp() override {
        // Qt's file dialogs keep their state (view mode, column widths, history) in the
        // user's QtProject.conf: a test program keeps its own, so runs never mix.
        setenv("XDG_CONFIG_HOME", settings_.path().c_str(), 1);
        QtApplicationEnvironment::SetUp();
        corvane::Theme::apply(*qApp);
    }

private:
    corvane::test::Sandbox settings_;
};

const testing::Environment* const registered = testing::AddGlobalTestEnvironment(new ViewsApplication);

}  // namespace
