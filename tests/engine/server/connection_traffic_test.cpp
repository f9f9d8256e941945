// What a full server reads of a connection's traffic to choose the one to close: the
// bytes it moved over the last few seconds, not over its whole life.

#include <gtest/gtest.h>

#include "engine/server/connection_traffic.h"

namespace corvane {
namespace {

TEST(TrafficMeter, ARateLooksBackTwoToThreeSecondsOrOverAYoungConnectionsLife) {
    TrafficMeter meter;
    meter.open(10);
    // Young: since the opening, over at least 0.1 s.
    EXPECT_DOUBLE_EQ(meter.rate(10.01, 500), 5000);
    EXPECT_DOUBLE_EQ(meter.rate(11, 1000), 1000);
    // Counts are kept a second apart at most once: the one at 11.5 is not kept.
    for (const auto& [at, bytes] : {std::pair{11.0, 1000}, {11.5, 1500}, {12.0, 3000}, {13.0, 3000}, {14.0, 3000}}) {
        meter.note(at, bytes);
    }
    const struct { double at; int64_t bytes; double rate; } cases[] = {
        {13.5, 3000, 2000.0 / 2.5},  // from the count at 11
        {14.5, 3000, 0},             // from the one at 12: it moved nothing since
        {14.5, 8000, 2000},          // 5,000 bytes in the last 2.5 s
    };
    for (const auto& c : cases) EXPECT_DOUBLE_EQ(meter.rate(c.at, c.bytes), c.rate) << c.at << " " << c.bytes;
}

}  // namespace
}  // namespace corvane
