// The update check against a manifest server on loopback: outcome phases,
// boot-log lines, and when a check may not start.
#include <cstdlib>
#include <vector>

#include <gtest/gtest.h>

#include "support/boot_log_lines.h"
#include "support/qt_wait.h"
#include "support/scripted_http_server.h"
#include "support/test_support.h"
#include "updater/updater.h"

namespace corvane {
namespace {

using test::ScriptedHTTPServer;
using test::ScriptedReply;
using Kind = UpdatePhase::Kind;

// An updater whose phase a test may put in place (as the installer will).
class TestUpdater : public Updater {
public:
    using Updater::Updater;
    using Updater::setPhase;
};

class UpdaterCheck : public testing::Test {
protected:
    void SetUp() override { useManifest(server.base() + "update.json"); }
    void TearDown() override { unsetenv("CORVANE_MANIFEST"); }

    static void useManifest(const std::string& url) { setenv("CORVANE_MANIFEST", url.c_str(), 1); }

    Updater::Options options() const {
        Updater::Options o;
        o.version = "1.2.0";
        o.logFolder = logs.path();
        o.builtInManifestURL = "http://127.0.0.1:1/corvane/update.json";
        return o;
    }

    void reply(const std::string& body, int status = 200) { server.setReply({status, "application/json", body}); }

    // Waits until the check has published an outcome (phase leaves checking, or a log line appears).
    static bool settled(const Updater& u) { return u.phase().kind != Kind::checking && u.phase().kind != Kind::idle; }

    std::vector<std::string> log() const { return test::bootLogLines(logs.path()); }

    test::Sandbox logs;
    ScriptedHTTPServer server;
};

TEST_F(UpdaterCheck, newerVersionWithoutFilesIsAvailableWithoutEntry) {
    reply(R"({"latest":"1.3","notes":["修复"]})");
    TestUpdater u(options());
    u.check(false);
    EXPECT_EQ(u.phase().kind, Kind::checking);
    ASSERT_TRUE(test::qtWaitFor([&] { return settled(u); }));
    EXPECT_EQ(u.phase(), UpdatePhase::of(Kind::available));
    EXPECT_EQ(u.latest(), "1.3");
    EXPECT_EQ(u.notes(), std::vector<std::string>{"修复"});
    EXPECT_FALSE(u.entry());
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(server.requests()[0].method, "GET");
    EXPECT_EQ(server.requests()[0].path, "/update.json");
}

TEST_F(UpdaterCheck, theEntryForThisPlatformIsTakenAndOnlyThatOne) {
    reply(R"({"latest":"2.0","files":{"mac":{"url":"http://m/"},"linux":{"url":"http://l/","md5":"AB"}}})");
    TestUpdater u(options());
    u.check(false);
    ASSERT_TRUE(test::qtWaitFor([&] { return settled(u); }));
    ASSERT_TRUE(u.entry());
    EXPECT_EQ(u.entry()->url, "http://l/");

    reply(R"({"latest":"2.1","files":{"mac":{"url":"http://m/"}}})");
    u.check(false);
    ASSERT_TRUE(test::qtWaitFor([&] { return settled(u) && u.latest() == "2.1"; }));
    EXPECT_EQ(u.phase().kind, Kind::available);
    EXPECT_FALSE(u.entry());
}

TEST_F(UpdaterCheck, theRunningVersionIsLatestAndClearsTheEntry) {
    reply(R"({"latest":"1.5","files":{"linux":{"url":"http://l/"}}})");
    TestUpdater u(options());
    u.check(false);
    ASSERT_TRUE(test::qtWaitFor([&] { return settled(u); }));
    ASSERT_TRUE(u.entry());

    for (const char* version : {"1.2.0", "1.2", "1.1.9"}) {
        reply(std::string(R"({"latest":")") + version + R"(","files":{"linux":{"url":"http://l/"}}})");
        u.check(false);
        ASSERT_TRUE(test::qtWaitFor([&] { return settled(u) && u.latest() == version; })) << version;
        EXPECT_EQ(u.phase(), UpdatePhase::of(Kind::latest)) << version;
        EXPECT_FALSE(u.entry()) << version;
    }
}

TEST_F(UpdaterCheck, aSilentCheckNeverShowsCheckingButSetsItsOutcome) {
    reply(R"({"latest":"1.2.0"})");
    TestUpdater u(options());
    std::vector<Kind> seen;
    QObject::connect(&u, &Updater::phaseChanged, [&] { seen.push_back(u.phase().kind); });
    u.check(true);
    EXPECT_EQ(u.phase().kind, Kind::idle);
    ASSERT_TRUE(test::qtWaitFor([&] { return settled(u); }));
    EXPECT_EQ(seen, std::vector<Kind>{Kind::latest});
}

TEST_F(UpdaterCheck, anUnreadableBodyFailsWithItsFirstBytes) {
    const std::string html = "<html><head><title>404 Not Found</title></head><body>" + std::string(80, 'z') + "</body></html>";
    reply(html, 404);
    TestUpdater u(options());
    u.check(false);
    ASSERT_TRUE(test::qtWaitFor([&] { return settled(u); }));
    const std::string reason = "响应无法解析：" + html.substr(0, 100);
    EXPECT_EQ(u.phase(), UpdatePhase::failed("检查失败：" + reason));
    EXPECT_TRUE(test::hasLineStarting(log(), "更新检查失败 @" + server.base() + "update.json：" + reason));
}

TEST_F(UpdaterCheck, anEmptyBodyHasNoData) {
    reply("");
    TestUpdater u(options());
    u.check(false);
    ASSERT_TRUE(test::qtWaitFor([&] { return settled(u); }));
    EXPECT_EQ(u.phase(), UpdatePhase::failed("检查失败：没有返回数据"));
}

TEST_F(UpdaterCheck, aSilentFailureOnlyWritesTheBootLog) {
    reply(R"({"latest":"1.9"})");
    TestUpdater u(options());
    u.check(false);
    ASSERT_TRUE(test::qtWaitFor([&] { return settled(u); }));
    u.setPhase(UpdatePhase::failed("earlier"));

    reply("not json");
    u.check(true);
    ASSERT_TRUE(test::qtWaitFor([&] { return test::hasLineStarting(log(), "更新检查失败 @"); }));
    EXPECT_EQ(u.phase(), UpdatePhase::failed("earlier"));
    EXPECT_EQ(u.latest(), "1.9");  // a failed check keeps what the last good one found
}

TEST_F(UpdaterCheck, anUnreachableServerFailsWithTheTransportText) {
    useManifest("http://127.0.0.1:1/update.json");
    TestUpdater u(options());
    u.check(false);
    ASSERT_TRUE(test::qtWaitFor([&] { return settled(u); }));
    EXPECT_EQ(u.phase(), UpdatePhase::failed("检查失败：未能连接到服务器。"));
    EXPECT_TRUE(test::hasLineStarting(log(), "更新检查失败 @http://127.0.0.1:1/update.json：Couldn't connect to server"));
}

TEST_F(UpdaterCheck, aSecondCheckWhileCheckingDoesNothing) {
    reply(R"({"latest":"1.2.0"})");
    TestUpdater u(options());
    u.check(false);
    u.check(false);
    u.check(true);
    ASSERT_TRUE(test::qtWaitFor([&] { return settled(u); }));
    EXPECT_EQ(server.requests().size(), 1u);
}

TEST_F(UpdaterCheck, aCheckWhileDownloadingDoesNothingAndOneAfterAFailureRuns) {
    reply(R"({"latest":"1.2.0"})");
    TestUpdater u(options());
    u.setPhase(UpdatePhase::downloading(0.5));
    u.check(false);
    EXPECT_EQ(u.phase(), UpdatePhase::downloading(0.5));

    u.setPhase(UpdatePhase::failed("下载中断：x"));
    u.check(false);
    ASSERT_TRUE(test::qtWaitFor([&] { return settled(u) && u.phase().kind == Kind::latest; }));
    EXPECT_EQ(server.requests().size(), 1u);
}

TEST(UpdaterManifestURL, theOverrideMustBeAnAbsoluteURL) {
    const std::string builtIn = "https://updates.example/corvane/update.json";
    unsetenv("CORVANE_MANIFEST");
    EXPECT_EQ(Updater::manifestURL(builtIn), builtIn);
    const std::pair<const char*, std::string> cases[] = {
        {"http://127.0.0.1:9/u.json", "http://127.0.0.1:9/u.json"},
        {"not a url", builtIn},
        {"", builtIn},
        {"http://bad host/", builtIn},
    };
    for (const auto& [value, expected] : cases) {
        setenv("CORVANE_MANIFEST", value, 1);
        EXPECT_EQ(Updater::manifestURL(builtIn), expected) << value;
    }
    unsetenv("CORVANE_MANIFEST");
}

TEST(UpdaterAddresses, builtInAddressesUseTheFixedPaths) {
    EXPECT_EQ(Updater::Options{}.builtInManifestURL.substr(0, 8), "https://");
    EXPECT_NE(Updater::Options{}.builtInManifestURL.find("/corvane/update.json"), std::string::npos);
    EXPECT_EQ(Updater::pageURL().substr(Updater::pageURL().size() - 9), "/corvane/");
}

}  // namespace
}  // namespace corvane
