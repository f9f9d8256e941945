// The diagnostics' lines from the counters alone: where the beacon counts
// switch between "wait", "isolation" and nothing, and the counter line's level.
#include <gtest/gtest.h>

#include "app/network_diagnosis.h"

namespace corvane {
namespace {

using Level = DiagLine::Level;

TEST(DiagnosisLines, theBeaconCountsDecideTheNoDeviceAdvice) {
    struct Case {
        int64_t sent, recv;
        Level counterLevel;
        std::vector<std::string> advice;  // the texts after the counter line
    };
    const std::vector<Case> cases{
        {0, 0, Level::warn, {"广播次数还不够，稍等几秒再测一次"}},
        {1, 0, Level::warn, {"广播次数还不够，稍等几秒再测一次"}},
        {1, 3, Level::ok, {"广播次数还不够，稍等几秒再测一次"}},
        {2, 0, Level::warn, {"广播发出去了，但一台同伴设备都没回应", "另一种可能：其他设备根本没打开Corvane"}},
        {9, 0, Level::warn, {"广播发出去了，但一台同伴设备都没回应", "另一种可能：其他设备根本没打开Corvane"}},
        {2, 1, Level::ok, {}},
    };
    for (const Case& c : cases) {
        DiagnosisFacts facts;
        facts.addresses = {{"eth0", "192.168.1.23", "255.255.255.0"}};
        facts.sent = c.sent;
        facts.recv = c.recv;
        const std::vector<DiagLine> lines = diagnosisLines(facts);
        ASSERT_EQ(lines.size(), 2 + c.advice.size()) << c.sent << "/" << c.recv;
        EXPECT_NE(lines[0].id, lines[1].id) << "every line gets an id of its own";
        EXPECT_EQ(lines[1].text, "已发出 " + std::to_string(c.sent) + " 次广播 · 收到 " + std::to_string(c.recv) + " 次同伴广播");
        EXPECT_EQ(lines[1].level, c.counterLevel) << c.sent << "/" << c.recv;
        for (size_t i = 0; i < c.advice.size(); ++i) EXPECT_EQ(lines[2 + i].text, c.advice[i]) << c.sent << "/" << c.recv;
    }
}

}  // namespace
}  // namespace corvane
