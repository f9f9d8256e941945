// The built program from the outside: a fresh start with "--shot", the port
// and discovery fall-backs, "--update-now", and orderly quitting on SIGTERM.
// Each test runs in a network namespace of its own, so the shipped ports are
// used for real and nothing leaves loopback.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <regex>
#include <sys/socket.h>

#include "base/cfg.h"
#include "held_port.h"
#include "program_run.h"
#include "support/boot_log_lines.h"
#include "support/scripted_http_server.h"

namespace fs = std::filesystem;

namespace corvane::test {
namespace {

using nlohmann::json;
using std::chrono::seconds;

// Whether the lines hold lines beginning with the prefixes, in this order.
::testing::AssertionResult inOrder(const std::vector<std::string>& lines, const std::vector<std::string>& prefixes) {
    size_t at = 0;
    for (const std::string& prefix : prefixes) {
        while (at < lines.size() && lines[at].rfind(prefix, 0) != 0) ++at;
        if (at == lines.size()) {
            std::string all;
            for (const std::string& line : lines) all += "\n  " + line;
            return ::testing::AssertionFailure() << "missing in order: \"" << prefix << "\" in:" << all;
        }
        ++at;
    }
    return ::testing::AssertionSuccess();
}

// The width and height of a PNG file from its header.
std::pair<uint32_t, uint32_t> pngSize(const std::string& bytes) {
    if (bytes.size() < 24 || bytes.compare(1, 3, "PNG") != 0) return {0, 0};
    const auto word = [&bytes](size_t at) {
        return uint32_t(uint8_t(bytes[at])) << 24 | uint32_t(uint8_t(bytes[at + 1])) << 16 |
               uint32_t(uint8_t(bytes[at + 2])) << 8 | uint32_t(uint8_t(bytes[at + 3]));
    };
    return {word(16), word(20)};
}

class Program : public testing::Test {
protected:
    void SetUp() override {
        if (!enterFreshNetwork()) GTEST_SKIP() << "needs a network namespace of its own (run as root)";
        manifest = std::make_unique<ScriptedHTTPServer>(ScriptedReply{200, "application/json", R"({"latest":"0.0.1"})"});
        run = std::make_unique<ProgramRun>(manifest->base() + "corvane/update.json");
    }

    std::unique_ptr<ScriptedHTTPServer> manifest;
    std::unique_ptr<ProgramRun> run;
};

TEST_F(Program, aFreshStartWithShotServesWritesTheImageAndQuits) {
    const fs::path shot = run->sandbox() / "shot.png";
    ASSERT_TRUE(run->start({"--shot", shot.string()}));

    std::optional<RawReply> info;
    ASSERT_TRUE(waitFor(
        [&] {
            info = httpRequest(8899, "GET", "/api/info");
            return info && info->status == 200;
        },
        seconds(15)))
        << run->output();
    const std::optional<int> status = run->waitForExit(seconds(30));
    ASSERT_EQ(status, 0) << run->output();

    const std::string id = readFile(run->dataFolder() / "device-id");
    EXPECT_TRUE(std::regex_match(id, std::regex("[0-9a-f]{32}"))) << id;
    EXPECT_EQ(json::parse(info->body)["id"], id);
    EXPECT_TRUE(inOrder(run->bootLog(), {"进程启动 pid=", "didFinishLaunching → 创建 AppState", "init: 进入",
                                         "init: deviceID=" + id, "AppState 已创建 → start()", "start() 进入",
                                         "HTTP 已监听 8899", "UDP 发现：已开启", "start() 返回 → 建菜单",
                                         "菜单完成 → 建窗口", "窗口已显示", "窗口完成", "已截图 " + shot.string(),
                                         "退出"}));
    EXPECT_EQ(pngSize(readFile(shot)), (std::pair<uint32_t, uint32_t>{1040, 720}));
    // A fresh start shows the welcome sheet: its picture lands beside the window's.
    EXPECT_EQ(pngSize(readFile(run->sandbox() / "shot-welcomeSheet.png")).first, 620u);
    EXPECT_TRUE(fs::is_directory(run->home() / "Corvane"));
}

TEST_F(Program, aTakenPortMovesToTheNextAndSigtermQuitsInOrder) {
    HeldPort taken(8899, SOCK_STREAM);
    ASSERT_TRUE(taken.held());
    ASSERT_TRUE(run->start());
    ASSERT_TRUE(run->waitForLine("窗口完成")) << run->output();
    EXPECT_TRUE(inOrder(run->bootLog(), {"HTTP 已监听 8900"}));
    const auto info = httpRequest(8900, "GET", "/api/info");
    ASSERT_TRUE(info);
    EXPECT_EQ(info->status, 200);

    run->terminate();
    EXPECT_EQ(run->waitForExit(seconds(15)), 0) << run->output();
    EXPECT_EQ(run->bootLog().back(), "退出");
}

TEST_F(Program, withTeamModeOnTheTeamRoutesAnswerFromStartUp) {
    writeFile(run->sandbox() / "config" / "Corvane" / "defaults.json", R"({"nasExt":true})");
    ASSERT_TRUE(run->start());
    ASSERT_TRUE(run->waitForLine("窗口完成")) << run->output();
    const auto team = httpRequest(8899, "GET", "/api/team");
    ASSERT_TRUE(team);
    EXPECT_EQ(team->status, 200);
    EXPECT_EQ(json::parse(team->body)["team"], "团队空间");
    EXPECT_EQ(json::parse(team->body)["hasAdmin"], false);
    const auto page = httpRequest(8899, "GET", "/");
    ASSERT_TRUE(page);
    EXPECT_EQ(page->status, 200);
    EXPECT_NE(page->body.find("<title>团队空间 · Corvane</title>"), std::string::npos);
    run->terminate();
    EXPECT_EQ(run->waitForExit(seconds(15)), 0) << run->output();
}

TEST_F(Program, withEveryPortTakenNothingElseStarts) {
    std::vector<std::unique_ptr<HeldPort>> held;
    for (int port = 8899; port <= 8918; ++port) {
        held.push_back(std::make_unique<HeldPort>(port, SOCK_STREAM));
        ASSERT_TRUE(held.back()->held()) << port;
    }
    ASSERT_TRUE(run->start());
    ASSERT_TRUE(run->waitForLine("窗口完成")) << run->output();
    const std::vector<std::string> log = run->bootLog();
    EXPECT_TRUE(inOrder(log, {"start() 进入", "监听失败：8899-8918 全部不可用", "start() 返回 → 建菜单"}));
    EXPECT_FALSE(hasLineStarting(log, "HTTP 已监听"));
    EXPECT_FALSE(hasLineStarting(log, "本机 IP："));
    EXPECT_FALSE(hasLineStarting(log, "UDP 发现"));
    HeldPort discoveryPort(8898, SOCK_DGRAM);
    EXPECT_TRUE(discoveryPort.held());  // discovery never bound it

    run->terminate();
    EXPECT_EQ(run->waitForExit(seconds(15)), 0);
}

TEST_F(Program, aTakenDiscoveryPortIsLoggedAndThePeerListSaysDisabled) {
    HeldPort taken(8898, SOCK_DGRAM);
    ASSERT_TRUE(taken.held());
    ASSERT_TRUE(run->start());
    ASSERT_TRUE(run->waitForLine("窗口完成")) << run->output();
    EXPECT_TRUE(inOrder(run->bootLog(), {"HTTP 已监听 8899", "UDP 发现：失败（8898 被占用）"}));
    const auto peers = httpRequest(8899, "GET", "/api/peers");
    ASSERT_TRUE(peers);
    EXPECT_EQ(json::parse(peers->body)["enabled"], false);
    run->terminate();
    EXPECT_EQ(run->waitForExit(seconds(15)), 0);
}

TEST_F(Program, updateNowWithTheRunningVersionFindsNothingAndQuits) {
    manifest->setReply({200, "application/json", json{{"latest", Cfg::version()}}.dump()});
    ASSERT_TRUE(run->start({"--update-now"}));
    ASSERT_EQ(run->waitForExit(seconds(30)), 0) << run->output();
    const std::vector<std::string> log = run->bootLog();
    EXPECT_TRUE(inOrder(log, {"窗口完成", "--update-now：进入更新分支", "--update-now：无可安装更新（latest）", "退出"}));
    ASSERT_EQ(manifest->requests().size(), 1u);
    EXPECT_EQ(manifest->requests()[0].path, "/corvane/update.json");
}

TEST_F(Program, updateNowWithAnUnreachableManifestLogsTheFailedPhase) {
    run = std::make_unique<ProgramRun>("http://127.0.0.1:9/update.json");
    ASSERT_TRUE(run->start({"--update-now"}));
    ASSERT_EQ(run->waitForExit(seconds(30)), 0) << run->output();
    const std::vector<std::string> log = run->bootLog();
    EXPECT_TRUE(inOrder(log, {"--update-now：进入更新分支", "更新检查失败 @http://127.0.0.1:9/update.json：",
                              "--update-now：无可安装更新（failed(\"检查失败：", "退出"}));
}

TEST_F(Program, updateNowWithANewerVersionWithoutChecksumFailsTheInstallAndQuits) {
    manifest->setReply({200, "application/json", R"({"latest":"999.0","files":{"linux":{"url":"http://127.0.0.1:9/c.zip"}}})"});
    ASSERT_TRUE(run->start({"--update-now"}));
    ASSERT_EQ(run->waitForExit(seconds(30)), 0) << run->output();
    EXPECT_TRUE(inOrder(run->bootLog(), {"--update-now：发现 v999.0，开始安装",
                                         "--update-now：安装失败（failed(\"清单缺少校验值，为安全起见请到下载页手动更新\")）",
                                         "退出"}));
}

TEST_F(Program, theDeviceIdIsKeptAcrossLaunches) {
    ASSERT_TRUE(run->start());
    ASSERT_TRUE(run->waitForLine("窗口完成")) << run->output();
    const std::string id = readFile(run->dataFolder() / "device-id");
    run->terminate();
    ASSERT_EQ(run->waitForExit(seconds(15)), 0);

    ASSERT_TRUE(run->start());
    ASSERT_TRUE(waitFor([&] {
        const auto lines = run->bootLog();
        return std::count(lines.begin(), lines.end(), "窗口完成") == 2;
    }, seconds(15)));
    EXPECT_EQ(readFile(run->dataFolder() / "device-id"), id);
    const std::vector<std::string> log = run->bootLog();
    EXPECT_EQ(std::count(log.begin(), log.end(), "init: deviceID=" + id), 2);
    run->terminate();
    EXPECT_EQ(run->waitForExit(seconds(15)), 0);
}

}  // namespace
}  // namespace corvane::test
