// Dotted versions compared piece by piece: the rule behind "is there an update".
#include <gtest/gtest.h>

#include "updater/version_compare.h"

namespace corvane {
namespace {

struct VersionCase {
    const char* a;
    const char* b;
    bool newer;
};

TEST(VersionCompare, comparesPiecesAsNumbers) {
    const VersionCase cases[] = {
        {"1.10", "1.9", true},      // numbers, not text
        {"1.9", "1.10", false},
        {"1.2", "1.2.0", false},    // a missing piece counts as 0
        {"1.2.0", "1.2", false},
        {"1.2.1", "1.2", true},
        {"2", "1.9.9", true},
        {"1.x", "1.0", false},      // a piece that is not a number counts as 0
        {"1.0", "1.x", false},
        {"", "", false},
        {"1..2", "1.1", true},      // empty pieces are dropped: 1.2
        {"0.1.0", "0.1.0", false},
        {"10.0", "9.99", true},
        {"1.0.0.1", "1", true},
    };
    for (const VersionCase& c : cases) {
        EXPECT_EQ(isNewerVersion(c.a, c.b), c.newer) << c.a << " against " << c.b;
    }
}

}  // namespace
}  // namespace corvane
