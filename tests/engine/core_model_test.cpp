#include <gtest/gtest.h>

#include "base/cfg.h"
#include "engine/format.h"
#include "engine/model.h"
#include "support/test_support.h"

namespace fs = std::filesystem;
using namespace corvane;

namespace {

TEST(HumanSize, UnitsStepOnlyAtAThousandTwentyFour) {
    const struct { int64_t bytes; const char* want; } cases[] = {
        {0, "0 B"},        {1023, "1023 B"},          {-5, "-5 B"},           {1024, "1.00 KB"},
        {1536, "1.50 KB"}, {1048575, "1024 KB"},      {10 * 1048576, "10.0 MB"}, {int64_t(100) << 30, "100 GB"},
        {10240, "10.0 KB"}, {102400, "100 KB"},       {int64_t(5) << 50, "5120 TB"}};
    for (const auto& c : cases) EXPECT_EQ(humanSize(c.bytes), c.want) << c.bytes;
}

TEST(HumanSpeed, BelowOneIsADash) {
    EXPECT_EQ(humanSpeed(0.5), "—");
    EXPECT_EQ(humanSpeed(0), "—");
    EXPECT_EQ(humanSpeed(2048.9), "2.00 KB/s");
    EXPECT_EQ(humanSpeed(1), "1 B/s");
}

TEST(AppSupportFolder, EarlierFolderMovedOnlyWhenAlone) {
    test::Sandbox box;
    test::writeFile(box / "Quillpath" / "config.json", "{}");
    const fs::path moved = Cfg::appSupportIn(box.path());
    EXPECT_EQ(moved, box / "Corvane");
    EXPECT_TRUE(fs::exists(box / "Corvane" / "config.json"));
    EXPECT_FALSE(fs::exists(box / "Quillpath"));

    test::writeFile(box / "Quillpath" / "old.txt", "x");
    Cfg::appSupportIn(box.path());
    EXPECT_TRUE(fs::exists(box / "Quillpath" / "old.txt"));
    EXPECT_FALSE(fs::exists(box / "Corvane" / "old.txt"));
}

}  // namespace
