#pragma once
// One Qt application object for a whole test program, made before the first
// test: QCoreApplication for the state and the updater, QApplication (on the
// offscreen platform) for the views. Header only, for the programs that link Qt.

#include <cstdlib>
#include <string>
#include <utility>

#include <QCoreApplication>

#include <gtest/gtest.h>

namespace corvane::test {

template <typename Application>
class QtApplicationEnvironment : public testing::Environment {
public:
    // platform: the offscreen platform with its options, if any.
    explicit QtApplicationEnvironment(std::string platform = "offscreen") : platform_(std::move(platform)) {}

    void SetUp() override {
        static int argc = 1;
        static char name[] = "corvane-tests";
        static char* argv[] = {name, nullptr};
        setenv("QT_QPA_PLATFORM", platform_.c_str(), 1);
        if (!QCoreApplication::instance()) new Application(argc, argv);
    }

private:
    std::string platform_;
};

}  // namespace corvane::test
