// The updater publishes its results through the Qt event loop.
#include "support/qt_test_application.h"

namespace {

const testing::Environment* const registered =
    testing::AddGlobalTestEnvironment(new corvane::test::QtApplicationEnvironment<QCoreApplication>);

}  // namespace
