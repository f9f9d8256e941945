// The loop-back self-test run by AppState against a device on loopback (the
// engine's own server), with short looks: the report's lines, the boot-log
// entry, the device search, and what the device holds afterwards.
#include <nlohmann/json.hpp>

#include "app/self_test_transfer.h"
#include "app_state_fixture.h"
#include "support/loopback_server.h"
#include "support/scripted_http_server.h"

namespace fs = std::filesystem;

namespace corvane::test {
namespace {

using nlohmann::json;
using std::chrono::milliseconds;

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (true) {
        const size_t end = text.find('\n', start);
        lines.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) return lines;
        start = end + 1;
    }
}

class SelfTestRun : public AppStateTest {
protected:
    AppState& makeWith(const std::vector<std::string>& manualPeers) {
        writeConfig(json{{"manualPeers", manualPeers}}.dump());
        AppEnvironment env = environment();
        env.delays.selfTestLook = milliseconds(5);
        state = std::make_unique<AppState>(env);
        return *state;
    }

    // Starts the self-test; the report's text once done was called.
    std::string run(AppState& s) {
        s.runSelfTest(reportPath().string(), [this] { ++doneCalls; });
        EXPECT_TRUE(qtWaitFor([this] { return doneCalls > 0; }, std::chrono::seconds(30)));
        return readFile(reportPath());
    }

    fs::path reportPath() const { return box / "out" / "report.txt"; }
    std::string address(int port) const { return "127.0.0.1:" + std::to_string(port); }

    int doneCalls = 0;
};

TEST_F(SelfTestRun, aRoundTripReportsFiveLinesAndLeavesTheDeviceAsItWas) {
    LoopbackServer device;
    ASSERT_TRUE(device.started());
    // Parts of an earlier, interrupted run: the test sends its whole chunk again.
    APIClient(device.base(), "", "").putChunk(SelfTestFile::uploadID(), 0, "stale");
    ASSERT_TRUE(fs::exists(device.partFolder("47ca0d824252d3e5")));
    fs::create_directories(box / "out");

    AppState& s = makeWith({address(device.port())});
    const std::string report = run(s);
    EXPECT_EQ(report, "发现对端: 手动 127.0.0.1 " + address(device.port()) +
                          "\n对端文件数: 0 首个: -\n上传落盘: selftest.bin 3000000B\n下载往返一致 ✓\n对端清理完成");
    EXPECT_FALSE(fs::exists(device.root() / "selftest.bin"));
    EXPECT_FALSE(fs::exists(device.partFolder("47ca0d824252d3e5")));
    EXPECT_EQ(doneCalls, 1);

    // One boot-log entry: "SELFTEST:" and the report's lines indented below it.
    const std::vector<std::string> log = this->log();
    const auto entry = std::find(log.begin(), log.end(), "SELFTEST:");
    ASSERT_NE(entry, log.end());
    EXPECT_EQ(std::vector<std::string>(entry + 1, log.end()), linesOf(report));
}

TEST_F(SelfTestRun, aDeviceThatFailsEveryRequestGetsTheFailedStepsLines) {
    ScriptedHTTPServer broken({500, "application/json", R"({"error":"磁盘坏了"})"});
    fs::create_directories(box / "out");
    AppState& s = makeWith({address(broken.port())});
    EXPECT_EQ(run(s), "发现对端: 手动 127.0.0.1 " + address(broken.port()) + "\n列文件失败: 磁盘坏了\n上传失败: 磁盘坏了");
    ASSERT_EQ(broken.requests().size(), 2u) << "the chunk, the download and the delete are skipped";
    EXPECT_EQ(broken.requests()[1].path, "/api/upload/47ca0d824252d3e5/meta");
}

TEST_F(SelfTestRun, withNoDeviceItLooksTwentyFourTimesAndReportsTheFailure) {
    fs::create_directories(box / "out");
    AppState& s = makeWith({});
    int looks = 0;
    QObject::connect(&s, &AppState::peersChanged, [&] { ++looks; });
    EXPECT_EQ(run(s), "FAIL: 未发现对端");
    EXPECT_EQ(looks, 24);
    EXPECT_TRUE(hasLineStarting(log(), "SELFTEST FAIL: 未发现对端"));
    EXPECT_FALSE(hasLineStarting(log(), "SELFTEST:"));
}

TEST_F(SelfTestRun, aDeviceThatAppearsWhileItWaitsIsTakenAtTheNextLook) {
    LoopbackServer device;
    ASSERT_TRUE(device.started());
    fs::create_directories(box / "out");
    AppEnvironment env = environment();
    env.delays.selfTestLook = milliseconds(100);
    state = std::make_unique<AppState>(env);
    AppState& s = *state;
    int looks = 0;
    QObject::connect(&s, &AppState::peersChanged, [&] {
        if (++looks == 3) s.setManualPeers({address(device.port())});
    });
    const std::vector<std::string> lines = linesOf(run(s));
    EXPECT_EQ(looks, 4);
    EXPECT_EQ(lines.front(), "发现对端: 手动 127.0.0.1 " + address(device.port()));
    EXPECT_EQ(lines.back(), "对端清理完成");
}

TEST_F(SelfTestRun, aDeviceWithoutAUsableAddressEndsAtOnceAndLogsNothing) {
    fs::create_directories(box / "out");
    AppState& s = makeWith({"bad host:8899"});
    EXPECT_EQ(run(s), "FAIL: 客户端构造失败");
    EXPECT_FALSE(hasLineStarting(log(), "SELFTEST"));
}

TEST_F(SelfTestRun, anUnwritableReportStillEndsTheRun) {
    LoopbackServer device;
    ASSERT_TRUE(device.started());
    AppState& s = makeWith({address(device.port())});  // the report's folder does not exist
    EXPECT_EQ(run(s), "");
    EXPECT_EQ(doneCalls, 1);
    EXPECT_TRUE(hasLineStarting(log(), "SELFTEST:"));
}

TEST(SelfTestFile, theDataCountsModulo251AndTheUploadIDIsFixed) {
    const std::string data = SelfTestFile::bytes();
    ASSERT_EQ(data.size(), 3000000u);
    EXPECT_EQ(uint8_t(data[0]), 0);
    EXPECT_EQ(uint8_t(data[250]), 250);
    EXPECT_EQ(uint8_t(data[251]), 0);
    EXPECT_EQ(uint8_t(data[2999999]), 2999999 % 251);
    EXPECT_EQ(SelfTestFile::uploadID(), "47ca0d824252d3e5");
}

}  // namespace
}  // namespace corvane::test
