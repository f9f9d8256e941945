#pragma once
// One Qt application object for a whole test program, made before the first
// test: QCoreApplication for the state and the updater, QApplication (on the
// offscreen platform) for the views. Header only, for the programs that link Qt.

#include <cstdlib>

#include <QCoreApplication>

#include <gtest/gtest.h>

namespace corvane::test {

template <typename Application>
class QtApplicationEnvironment : public testing::Environment {
public:
    void SetUp() override {
        static int argc = 1;
        static char name[] = "corvane-tests";
        static char* argv[] = {name, nullptr};
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        if (!QCoreApplication::instance()) new Application(argc, argv);
    }
};

}  // namespace corvane::test
