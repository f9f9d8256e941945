// The views need a widget application with the program's fonts, palette and style.
#include <QApplication>

#include "support/qt_test_application.h"
#include "views/theme.h"

namespace {

class ViewsApplication : public corvane::test::QtApplicationEnvironment<QApplication> {
public:
    void SetUp() override {
        QtApplicationEnvironment::SetUp();
        corvane::Theme::apply(*qApp);
    }
};

const testing::Environment* const registered = testing::AddGlobalTestEnvironment(new ViewsApplication);

}  // namespace
