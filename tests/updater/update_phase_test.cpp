// The phase as the "--update-now" boot-log line shows it.
#include <gtest/gtest.h>

#include "updater/update_phase.h"

namespace corvane {
namespace {

using Kind = UpdatePhase::Kind;

TEST(UpdatePhase, textIsTheCaseNameWithItsValue) {
    const std::pair<UpdatePhase, const char*> cases[] = {
        {UpdatePhase::idle(), "idle"},
        {UpdatePhase::of(Kind::checking), "checking"},
        {UpdatePhase::of(Kind::latest), "latest"},
        {UpdatePhase::of(Kind::available), "available"},
        {UpdatePhase::downloading(0), "downloading(0.0)"},
        {UpdatePhase::downloading(0.25), "downloading(0.25)"},
        {UpdatePhase::downloading(1), "downloading(1.0)"},
        {UpdatePhase::of(Kind::verifying), "verifying"},
        {UpdatePhase::of(Kind::installing), "installing"},
        {UpdatePhase::failed("检查失败：x"), "failed(\"检查失败：x\")"},
    };
    for (const auto& [phase, text] : cases) EXPECT_EQ(phase.text(), text);
}

TEST(UpdatePhase, busyPhasesBlockAnotherCheck) {
    EXPECT_TRUE(UpdatePhase::of(Kind::checking).busy());
    EXPECT_TRUE(UpdatePhase::downloading(0.5).busy());
    EXPECT_TRUE(UpdatePhase::of(Kind::verifying).busy());
    EXPECT_TRUE(UpdatePhase::of(Kind::installing).busy());
    EXPECT_FALSE(UpdatePhase::idle().busy());
    EXPECT_FALSE(UpdatePhase::of(Kind::latest).busy());
    EXPECT_FALSE(UpdatePhase::of(Kind::available).busy());
    EXPECT_FALSE(UpdatePhase::failed("x").busy());
}

}  // namespace
}  // namespace corvane
