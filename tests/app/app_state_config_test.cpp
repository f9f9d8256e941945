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

TEST_F(AppStateTest, aFreshStartTakesEveryDefault) {
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
}

TEST_F(AppStateTest, constructionWritesItsBootLogLinesInOrder) {
    writeConfig(R"({"peerAliases":{"a":"A","b":"B"},"manualPeers":["10.0.0.5:8899"]})");
    AppState& s = make();
    const std::vector<std::string> expected = {
        "init: 进入",
        "init: deviceID=" + s.deviceID(),
        "init: token 生成完毕",
        "init: deviceName=test-host 别名 2 个 手工设备 1 个",
        "init: 回调已挂载，完成",
    };
    EXPECT_EQ(log(), expected);
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
}

TEST_F(AppStateTest, deviceNameFallsBackToTheHostName) {
    const std::pair<const char*, const char*> cases[] = {
        {R"({"deviceName":"   "})", "test-host"},
        {R"({"deviceName":""})", "test-host"},
        {R"({"deviceName":5})", "test-host"},
        {R"({"deviceName":"\nDesk"})", "\nDesk"},  // a line end is not a blank
        {R"({})", "test-host"},
    };
    for (const auto& [config, name] : cases) {
        writeConfig(config);
        EXPECT_EQ(make().deviceName(), name) << config;
    }
}

TEST_F(AppStateTest, welcomeShowsUnlessWelcomeDoneIsJSONTrue) {
    const std::pair<const char*, bool> cases[] = {
        {R"({})", true}, {R"({"welcomeDone":false})", true}, {R"({"welcomeDone":true})", false}, {R"({"welcomeDone":"true"})", true}};
    for (const auto& [config, shown] : cases) {
        writeConfig(config);
        EXPECT_EQ(make().showWelcome(), shown) << config;
    }
}

TEST_F(AppStateTest, teamModeComesFromTheUserDefault) {
    DefaultsStore(defaultsFile()).setBool("nasExt", true);
    EXPECT_TRUE(make().nasEnabled());
}

TEST_F(AppStateTest, storageDirIsNormalizedAndAnEmptyOneUsesHome) {
    writeConfig(R"({"storageDir":""})");
    EXPECT_EQ(make().root(), home() / "Corvane");

    writeFile(box / "disk" / "Quillpath" / "kept.txt", "k");
    writeConfig(json{{"storageDir", (box / "disk" / "Quillpath").string()}}.dump());
    EXPECT_EQ(make().root(), box / "disk" / "Corvane");
    EXPECT_EQ(readFile(box / "disk" / "Corvane" / "kept.txt"), "k");
    EXPECT_TRUE(hasLineStarting(log(), "存储目录已从 "));

    writeConfig(json{{"storageDir", (box / "elsewhere").string() + "/"}}.dump());
    EXPECT_EQ(make().root(), box / "elsewhere");
}

TEST_F(AppStateTest, theDeviceIdSurvivesRestartsAndTheTokenDoesNot) {
    const std::string id = make().deviceID();
    const std::string token = state->token();
    AppState& again = make();
    EXPECT_EQ(again.deviceID(), id);
    EXPECT_NE(again.token(), token);
}

TEST_F(AppStateTest, saveConfigWritesTheCurrentSettings) {
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
    int entries = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(support())) ++entries;
    EXPECT_EQ(entries, 3);  // boot.log, device-id, config.json: no temporary file left
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

TEST_F(AppStateTest, eachAssignmentIsAnnouncedEvenWithoutAChange) {
    AppState& s = make();
    int announced = 0;
    QObject::connect(&s, &AppState::searchTextChanged, [&] { ++announced; });
    s.setSearchText("x");
    s.setSearchText("x");
    EXPECT_EQ(announced, 2);
}

TEST_F(AppStateTest, aToastClearsItselfAfterTheToastDelay) {
    AppState& s = make();
    std::vector<std::optional<std::string>> seen;
    QObject::connect(&s, &AppState::toastChanged, [&] { seen.push_back(s.toast()); });
    QElapsedTimer clock;
    clock.start();
    s.flash("hello");
    ASSERT_TRUE(qtWaitFor([&] { return !s.toast(); }));
    EXPECT_GE(clock.elapsed(), 300);
    EXPECT_EQ(seen, (std::vector<std::optional<std::string>>{"hello", std::nullopt}));
}

TEST_F(AppStateTest, aLaterToastIsNotClearedByTheEarlierTimer) {
    AppState& s = make();
    std::vector<std::optional<std::string>> seen;
    QObject::connect(&s, &AppState::toastChanged, [&] { seen.push_back(s.toast()); });
    s.flash("first");
    qtSpin(std::chrono::milliseconds(150));
    QElapsedTimer sinceSecond;
    sinceSecond.start();
    s.flash("second");
    ASSERT_TRUE(qtWaitFor([&] { return !s.toast(); }));
    EXPECT_GE(sinceSecond.elapsed(), 300);  // the first call's clear (due 150 ms later) never fired
    EXPECT_EQ(seen, (std::vector<std::optional<std::string>>{"first", "second", std::nullopt}));
}

TEST_F(AppStateTest, theShippedToastDelayIsTwoPointFourSeconds) {
    EXPECT_EQ(AppDelays{}.toast, std::chrono::milliseconds(2400));
    EXPECT_EQ(AppDelays{}.receivePoll, std::chrono::milliseconds(800));
    EXPECT_EQ(AppDelays{}.updateCheck, std::chrono::milliseconds(6000));
}

TEST_F(AppStateTest, isNewerComparesDottedVersions) {
    EXPECT_TRUE(AppState::isNewer("1.10", "1.9"));
    EXPECT_FALSE(AppState::isNewer("1.2", "1.2.0"));
    EXPECT_TRUE(AppState::isNewer("2", "1.9.9"));
    EXPECT_FALSE(AppState::isNewer("1.x", "1.0"));
    EXPECT_FALSE(AppState::isNewer("", ""));
}

}  // namespace
}  // namespace corvane::test
