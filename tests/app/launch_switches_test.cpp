// The unattended switches as the delegate finds them on the command line.
#include <gtest/gtest.h>

#include "app/launch_switches.h"

namespace corvane {
namespace {

TEST(LaunchSwitches, shotTakesTheArgumentAfterTheFirstShotThatHasOne) {
    using Args = std::vector<std::string>;
    const std::pair<Args, std::optional<std::string>> cases[] = {
        {{"--shot", "/tmp/a.png"}, "/tmp/a.png"},
        {{"--shot"}, std::nullopt},  // as the last argument: ignored
        {{"x", "--shot"}, std::nullopt},
        {{"--shot", "--shot", "x"}, "--shot"},
        {{"--shot", "a", "--shot", "b"}, "a"},
        {{}, std::nullopt},
    };
    for (const auto& [args, path] : cases) EXPECT_EQ(LaunchSwitches::parse(args).shotPath, path);
}

TEST(LaunchSwitches, updateNowAnywhereAndSelftestLikeShot) {
    const LaunchSwitches s = LaunchSwitches::parse({"--selftest", "/tmp/r.txt", "--update-now", "--shot", "p"});
    EXPECT_TRUE(s.updateNow);
    EXPECT_EQ(s.selftestPath, "/tmp/r.txt");
    EXPECT_EQ(s.shotPath, "p");
    EXPECT_FALSE(LaunchSwitches::parse({"--update-now=1"}).updateNow);
    EXPECT_FALSE(LaunchSwitches::parse({"--selftest"}).selftestPath);
}

}  // namespace
}  // namespace corvane
