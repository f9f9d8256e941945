// Sort keys agree with the localized standard comparison they stand in for.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/unicode_text.h"

namespace corvane {
namespace {

int sign(int v) { return (v > 0) - (v < 0); }

TEST(LocalizedSortKey, OrdersEveryPairAsTheComparisonDoes) {
    const std::vector<std::string> texts = {
        "", "a", "A", "b", "file2.txt", "file10.txt", "File10.txt", "file010.txt", "Zebra", "zebra2",
        "照片1", "照片10", "照片2", "é", "e", "ü/inner", "u/inner", "x\"y", "x\ty", "x\x01y", "a b", "a-b",
        std::string(300, 'q') + "1", std::string(300, 'q') + "01"};
    for (const auto& a : texts) {
        for (const auto& b : texts) {
            EXPECT_EQ(sign(localizedStandardSortKey(a).compare(localizedStandardSortKey(b))),
                      sign(localizedStandardCompare(a, b)))
                << "\"" << a << "\" against \"" << b << "\"";
        }
    }
}

}  // namespace
}  // namespace corvane
