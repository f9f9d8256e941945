// The limiter's bound on the keys it holds.

#include <gtest/gtest.h>

#include "storage/rate_limiter.h"

namespace corvane::test {
namespace {

TEST(RateLimiter, HoldsAtMostItsKeysForgettingTheLeastRecentlyUsed) {
    // Failed sign-ins with new 16,000-byte names grew the limiter without end.
    const double now = 1700000000;
    RateLimiter limiter([&] { return now; }, 3);
    const std::string name(16000, 'n');
    const struct { std::string key; bool allowed; const char* why; } steps[] = {
        {name + "a", true, "new"},
        {name + "b", true, "new"},
        {name + "c", true, "new"},
        {name + "a", false, "held and used again, so b is now the least recent"},
        {name + "d", true, "new, in place of b"},
        {name + "c", false, "held"},
        {name + "a", false, "held"},
        {name + "b", true, "forgotten, back in place of d"},
        {name + "c", false, "held"},
    };
    for (const auto& step : steps) {
        EXPECT_EQ(limiter.allow(step.key, 1, 60), step.allowed) << step.key.substr(16000) << ": " << step.why;
    }
}

}  // namespace
}  // namespace corvane::test
