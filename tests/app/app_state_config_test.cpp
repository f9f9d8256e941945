// AppState's construction from config.json, the user defaults and the
// device-id file, and the settings operations of the state object.
#include <QElapsedTimer>
#include <nlohmann/json.hpp>

#include "app_state_fixture.h"

namespace fs = std::filesystem;

namespace corvane::test {
namespace {

using nlohmann::json;

json writtenConfig(const fs::path& support) { return json::parse(readFile(support / "config.json")); }

TEST_F(AppStateTest, aFreshStartTakesEveryDefaultAndANewTokenEachLaunch) {
    AppState& s = make();
    EXPECT_FALSE(s.started());
    EXPECT_EQ(s.usageMode(), "lan");
    EXPECT_TRUE(s.showWelcome());
    EXPECT_EQ(s.centerID(), "");
    EXPECT_EQ(s.deviceName(), "test-host");
    EXPECT_FALSE(s.nasEnabled());
    EXPECT_EQ(s.root(), home() / "Corvane");
    EXPECT_TRUE(fs::is_directory(home() / "Corvane"));
    EXPECT_EQ(s.deviceID().size(), 32u);
    EXPECT_EQ(readFile(support() / "device-id"), s.deviceID());
    EXPECT_EQ(s.token().size(), 32u);
    EXPECT_NE(s.token(), s.deviceID());
    EXPECT_TRUE(s.target().isLocal());
    EXPECT_EQ(s.chatCurrent(), "all");
    EXPECT_EQ(s.port(), 0);
    EXPECT_FALSE(fs::exists(support() / "config.json"));  // written only by saveConfig

    const std::string id = s.deviceID();
    const std::string token = s.token();
    EXPECT_EQ(make().deviceID(), id);
    EXPECT_NE(state->token(), token);
}

TEST_F(AppStateTest, storedSettingsAreRead) {
    writeConfig(R"({"usageMode":"team","welcomeDone":true,"centerId":"c1","deviceName":"\tStudio ",
                    "peerAliases":{"p":"Ann"},"manualPeers":["10.0.0.5:8899"],"mode":"center"})");
    AppState& s = make();
    EXPECT_EQ(s.usageMode(), "team");
    EXPECT_FALSE(s.showWelcome());
    EXPECT_EQ(s.centerID(), "c1");
    EXPECT_EQ(s.deviceName(), "Studio");
    EXPECT_EQ(s.peerAliases(), (std::map<std::string, std::string>{{"p", "Ann"}}));
    EXPECT_EQ(s.manualPeers(), std::vector<std::string>{"10.0.0.5:8899"});
    EXPECT_FALSE(s.nasEnabled());  // "mode" is never read: team mode is the user default
    DefaultsStore(defaultsFile()).setBool("nasExt", true);
    EXPECT_TRUE(make().nasEnabled());
}

TEST_F(AppStateTest, deviceNameFallsBackToTheHostName) {
    for (const char* config : {R"({"deviceName":"   "})", R"({"deviceName":""})", R"({"deviceName":5})", "{}"}) {
        writeConfig(config);
        EXPECT_EQ(make().deviceName(), "test-host") << config;
    }
    writeConfig(R"({"deviceName":"\nDesk"})");  // a line end is not a blank
    EXPECT_EQ(make().deviceName(), "\nDesk");
}

TEST_F(AppStateTest, storageDirIsNormalizedAndAnEmptyOneUsesHome) {
    writeConfig(R"({"storageDir":""})");
    EXPECT_EQ(make().root(), home() / "Corvane");
    writeConfig(json{{"storageDir", (box / "disk" / "Quillpath").string()}}.dump());
    EXPECT_EQ(make().root(), box / "disk" / "Corvane");
    writeConfig(json{{"storageDir", (box / "elsewhere").string() + "/"}}.dump());
    EXPECT_EQ(make().root(), box / "elsewhere");
}

TEST_F(AppStateTest, saveConfigWritesTheCurrentSettingsThroughARename) {
    AppState& s = make();
    s.saveConfig();
    EXPECT_EQ(writtenConfig(support()),
              (json{{"mode", "direct"}, {"centerId", ""}, {"storageDir", (home() / "Corvane").string()},
                    {"deviceName", "test-host"}, {"usageMode", "lan"}, {"welcomeDone", false}}));

    s.setPeerAliases({{"p", "Ann"}});
    s.setManualPeers({"10.0.0.5:8899"});
    s.saveConfig();
    const json full = writtenConfig(support());
    EXPECT_EQ(full["peerAliases"], (json{{"p", "Ann"}}));
    EXPECT_EQ(full["manualPeers"], (json{"10.0.0.5:8899"}));
    EXPECT_EQ(folderEntries(support()), (std::vector<std::string>{"boot.log", "config.json", "device-id"}))
        << "no temporary file left";
}

TEST_F(AppStateTest, setNasOnMakesThisDeviceTheCenterWhenNoneIsSet) {
    AppState& s = make();
    s.setNas(true);
    EXPECT_TRUE(s.nasEnabled());
    EXPECT_TRUE(DefaultsStore(defaultsFile()).boolValue("nasExt"));
    EXPECT_EQ(s.centerID(), s.deviceID());
    EXPECT_EQ(s.usageMode(), "team");
    EXPECT_EQ(s.toast(), "团队模式已开启：文件默认存到本机（设置里可换存储设备）");
    EXPECT_EQ(writtenConfig(support())["mode"], "center");
    EXPECT_EQ(writtenConfig(support())["usageMode"], "team");
}

TEST_F(AppStateTest, setNasKeepsAChosenCenterAndOffLeavesIt) {
    writeConfig(R"({"centerId":"other"})");
    AppState& s = make();
    s.setNas(true);
    EXPECT_EQ(s.centerID(), "other");
    s.setNas(false);
    EXPECT_FALSE(s.nasEnabled());
    EXPECT_FALSE(DefaultsStore(defaultsFile()).boolValue("nasExt"));
    EXPECT_EQ(s.centerID(), "other");
    EXPECT_EQ(s.usageMode(), "lan");
    EXPECT_EQ(s.toast(), "已切换为点对点模式：免注册，不对外提供网页");
    EXPECT_EQ(writtenConfig(support())["mode"], "direct");
}

TEST_F(AppStateTest, finishWelcomeRecordsTheChoice) {
    const std::tuple<const char*, const char*, bool> cases[] = {
        {"team", "team", true}, {"lan", "lan", false}, {"Team", "lan", false}, {"", "lan", false}};
    for (const auto& [choice, mode, team] : cases) {
        AppState& s = make();
        s.finishWelcome(choice);
        EXPECT_EQ(s.usageMode(), mode) << choice;
        EXPECT_EQ(s.nasEnabled(), team) << choice;
        EXPECT_EQ(DefaultsStore(defaultsFile()).boolValue("nasExt"), team) << choice;
        EXPECT_FALSE(s.showWelcome()) << choice;
        EXPECT_EQ(s.showTeam(), team) << choice;
        EXPECT_EQ(s.centerID(), "") << choice;
        EXPECT_FALSE(s.toast()) << choice;
        EXPECT_EQ(writtenConfig(support())["welcomeDone"], true) << choice;
        EXPECT_FALSE(make().showWelcome()) << choice;  // and stays done on the next launch
    }
}

TEST_F(AppStateTest, aToastClearsItselfAfterTheToastDelayCountedFromTheLatestToast) {
    EXPECT_EQ(AppDelays{}.toast, std::chrono::milliseconds(2400));  // shipped; the fixture uses 300 ms
    EXPECT_EQ(AppDelays{}.receivePoll, std::chrono::milliseconds(800));
    EXPECT_EQ(AppDelays{}.updateCheck, std::chrono::milliseconds(6000));
    AppState& s = make();
    std::vector<std::optional<std::string>> seen;
    QObject::connect(&s, &AppState::toastChanged, [&] { seen.push_back(s.toast()); });
    QElapsedTimer sinceFirst;
    sinceFirst.start();
    s.flash("first");
    qtSpin(std::chrono::milliseconds(150));
    QElapsedTimer sinceSecond;
    sinceSecond.start();
    s.flash("second");
    ASSERT_TRUE(qtWaitFor([&] { return !s.toast(); }));
    EXPECT_GE(sinceFirst.elapsed(), 300);
    EXPECT_GE(sinceSecond.elapsed(), 300);  // the first call's clear (due 150 ms later) never fired
    EXPECT_EQ(seen, (std::vector<std::optional<std::string>>{"first", "second", std::nullopt}));
}

TEST_F(AppStateTest, isNewerComparesDottedVersions) {
    const std::tuple<const char*, const char*, bool> cases[] = {
        {"1.10", "1.9", true}, {"1.2", "1.2.0", false}, {"2", "1.9.9", true}, {"1.x", "1.0", false}, {"", "", false}};
    for (const auto& [a, b, newer] : cases) EXPECT_EQ(AppState::isNewer(a, b), newer) << a << " vs " << b;
}

}  // namespace
}  // namespace corvane::test
