// The views need a widget application.
#include <QApplication>

#include "support/qt_test_application.h"

namespace {

const testing::Environment* const registered =
    testing::AddGlobalTestEnvironment(new corvane::test::QtApplicationEnvironment<QApplication>);

}  // namespace
