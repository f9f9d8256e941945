// "--selftest PATH" on the built program: against itself through a manual
// device entry, with a file of the test's name already stored, with no device,
// against a dead address, and between two instances in two network namespaces
// joined by a veth pair. Each instance has its own home and data folders, and
// nothing leaves the machine.
#include <regex>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "program_run.h"
#include "support/boot_log_lines.h"
#include "support/netns.h"

namespace fs = std::filesystem;

namespace corvane::test {
namespace {

using nlohmann::json;
using std::chrono::seconds;

// The update check after start-up finds nothing listening here.
const std::string noManifest = "http://127.0.0.1:9/update.json";

void writeConfig(const ProgramRun& run, const json& config) {
    writeFile(run.dataFolder() / "config.json", config.dump());
}

class SelfTestProgram : public testing::Test {
protected:
    void SetUp() override {
        if (!enterFreshNetwork()) GTEST_SKIP() << "needs a network namespace of its own (run as root)";
    }

    // Runs the program with "--selftest" until it quits; false when it did not quit with status 0.
    bool runSelfTest(ProgramRun& run, seconds timeout = seconds(40)) {
        if (!run.start({"--selftest", report().string()})) return false;
        return run.waitForExit(timeout) == 0;
    }

    fs::path report() const { return out.path() / "report.txt"; }

    Sandbox out;
};

TEST_F(SelfTestProgram, againstItselfTheRoundTripPassesAndLeavesNothingBehind) {
    ProgramRun run(noManifest);
    writeConfig(run, {{"manualPeers", {"127.0.0.1:8899"}}});
    ASSERT_TRUE(runSelfTest(run)) << run.output();

    EXPECT_EQ(readFile(report()), "发现对端: 手动 127.0.0.1 127.0.0.1:8899\n对端文件数: 0 首个: -\n"
                                  "上传落盘: selftest.bin 3000000B\n下载往返一致 ✓\n对端清理完成");
    const fs::path received = run.home() / "Corvane";
    EXPECT_FALSE(fs::exists(received / "selftest.bin"));
    EXPECT_FALSE(fs::exists(received / ".parts" / "47ca0d824252d3e5"));
    const std::vector<std::string> log = run.bootLog();
    EXPECT_TRUE(hasLineStarting(log, "SELFTEST:"));
    EXPECT_EQ(log.back(), "退出");
}

TEST_F(SelfTestProgram, aStoredFileOfTheSameNameIsLeftAloneAndTheUploadLandsBesideIt) {
    ProgramRun run(noManifest);
    writeConfig(run, {{"manualPeers", {"127.0.0.1:8899"}}});
    writeFile(run.home() / "Corvane" / "selftest.bin", "kept");
    ASSERT_TRUE(runSelfTest(run)) << run.output();

    EXPECT_EQ(readFile(report()), "发现对端: 手动 127.0.0.1 127.0.0.1:8899\n对端文件数: 1 首个: selftest.bin\n"
                                  "上传落盘: selftest (1).bin 3000000B\n下载往返一致 ✓\n对端清理完成");
    EXPECT_EQ(readFile(run.home() / "Corvane" / "selftest.bin"), "kept");
    EXPECT_FALSE(fs::exists(run.home() / "Corvane" / "selftest (1).bin"));
}

TEST_F(SelfTestProgram, withNoDeviceTheReportSaysSoAndTheProgramStillQuitsWithZero) {
    ProgramRun run(noManifest);
    ASSERT_TRUE(runSelfTest(run)) << run.output();
    EXPECT_EQ(readFile(report()), "FAIL: 未发现对端");
    EXPECT_TRUE(hasLineStarting(run.bootLog(), "SELFTEST FAIL: 未发现对端"));
}

TEST_F(SelfTestProgram, aDeadAddressFailsTheListingAndTheUpload) {
    ProgramRun run(noManifest);
    writeConfig(run, {{"manualPeers", {"192.0.2.1:8899"}}});  // no route to it in this namespace
    ASSERT_TRUE(runSelfTest(run)) << run.output();
    const std::string text = readFile(report());
    EXPECT_TRUE(std::regex_match(text, std::regex("发现对端: 手动 192\\.0\\.2\\.1 192\\.0\\.2\\.1:8899\n"
                                                  "列文件失败: [^\n]*\n上传失败: [^\n]*")))
        << text;
}

TEST_F(SelfTestProgram, betweenTwoNamespacesItFindsTheOtherInstanceByDiscovery) {
    VethPair net;
    ASSERT_TRUE(net.ready()) << "could not make the namespaces and the veth pair";
    ProgramRun other(noManifest);
    writeConfig(other, {{"deviceName", "Beta desk"}});
    bool started = false;
    net.runIn(VethPair::Side::b, [&] { started = other.start(); });
    ASSERT_TRUE(started);
    ASSERT_TRUE(other.waitForLine("窗口完成")) << other.output();

    ProgramRun tester(noManifest);
    net.runIn(VethPair::Side::a, [&] { started = tester.start({"--selftest", report().string()}); });
    ASSERT_TRUE(started);
    ASSERT_EQ(tester.waitForExit(seconds(40)), 0) << tester.output();

    EXPECT_EQ(readFile(report()), "发现对端: Beta desk " + net.address(VethPair::Side::b) +
                                      ":8899\n对端文件数: 0 首个: -\n上传落盘: selftest.bin 3000000B\n下载往返一致 ✓\n对端清理完成");
    EXPECT_FALSE(fs::exists(other.home() / "Corvane" / "selftest.bin"));
    EXPECT_FALSE(fs::exists(other.home() / "Corvane" / ".parts" / "47ca0d824252d3e5"));
    other.terminate();
    EXPECT_EQ(other.waitForExit(seconds(15)), 0);
}

}  // namespace
}  // namespace corvane::test
