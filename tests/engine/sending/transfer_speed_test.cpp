// The speed of a send-queue row: a chunk whose bytes stand still reads 0 after 3 s,
// told once per stall, while bytes that keep moving never do, however long a chunk takes.

#include <gtest/gtest.h>

#include "engine/sending/transfer_speed.h"

namespace corvane {
namespace {

TEST(TransferSpeed, AChunkStallsOnceItsBytesStandStillForThreeSeconds) {
    double now = 100;
    TransferSpeed speed([&] { return now; }, 0);
    const struct {
        const char* what;
        double at;
        int64_t bytes;
        bool stalls;
    } steps[] = {
        {"a slow chunk that keeps moving", 110, 1000, false},
        {"", 120, 2000, false},
        {"standing still a moment", 122.9, 2000, false},
        {"three seconds without a byte", 123, 2000, true},
        {"told once", 130, 2000, false},
        {"moving again", 131, 2500, false},
        {"and stuck again", 134, 2500, true},
    };
    speed.chunkBegins();
    for (const auto& step : steps) {
        now = step.at;
        EXPECT_EQ(speed.stalls(step.bytes), step.stalls) << step.what << " at " << step.at;
    }
    // The next chunk starts its own watch: its first seconds without a byte are no stall.
    speed.chunkBegins();
    now = 136;
    EXPECT_FALSE(speed.stalls(0));
    now = 137;
    EXPECT_TRUE(speed.stalls(0));
}

TEST(TransferSpeed, TheRateLeavesTheHeldBytesOutAndWaitsForAFifthOfASecond) {
    double now = 50;
    TransferSpeed speed([&] { return now; }, 4194304);
    now = 50.1;
    EXPECT_EQ(speed.afterChunk(8388608), std::nullopt);
    now = 52;
    EXPECT_EQ(speed.afterChunk(8388608), 2097152.0);
}

}  // namespace
}  // namespace corvane
