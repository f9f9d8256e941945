// config.json: how each key is read (a wrong JSON type counts as missing) and
// what is written back.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "app/app_config.h"

namespace corvane {
namespace {

TEST(AppConfig, unreadableFilesGiveTheDefaults) {
    for (const char* bytes : {"", "not json", "[1,2]", "\"text\"", "null", "{"}) {
        const AppConfig c = AppConfig::parse(bytes);
        EXPECT_EQ(c.usageMode, "lan") << bytes;
        EXPECT_FALSE(c.welcomeDone) << bytes;
        EXPECT_EQ(c.centerID, "") << bytes;
        EXPECT_EQ(c.storageDir, "") << bytes;
        EXPECT_EQ(c.deviceName, "") << bytes;
        EXPECT_TRUE(c.peerAliases.empty()) << bytes;
        EXPECT_TRUE(c.manualPeers.empty()) << bytes;
    }
}

TEST(AppConfig, usageModeIsTeamOnlyForExactlyTeam) {
    const std::pair<const char*, const char*> cases[] = {
        {R"({"usageMode":"team"})", "team"}, {R"({"usageMode":"TEAM"})", "lan"}, {R"({"usageMode":"lan"})", "lan"},
        {R"({"usageMode":" team"})", "lan"}, {R"({"usageMode":1})", "lan"},      {R"({})", "lan"},
    };
    for (const auto& [bytes, mode] : cases) EXPECT_EQ(AppConfig::parse(bytes).usageMode, mode) << bytes;
}

TEST(AppConfig, welcomeIsDoneOnlyForJSONTrue) {
    const std::pair<const char*, bool> cases[] = {
        {R"({"welcomeDone":true})", true}, {R"({"welcomeDone":false})", false}, {R"({"welcomeDone":"true"})", false},
        {R"({"welcomeDone":1})", false},   {R"({})", false},
    };
    for (const auto& [bytes, done] : cases) EXPECT_EQ(AppConfig::parse(bytes).welcomeDone, done) << bytes;
}

TEST(AppConfig, deviceNameIsTrimmedOfSpacesAndTabsOnly) {
    const std::pair<const char*, const char*> cases[] = {
        {R"({"deviceName":"   "})", ""},
        {R"({"deviceName":"\t\tStudio"})", "Studio"},
        {R"({"deviceName":" Desk 2 \t"})", "Desk 2"},
        {R"({"deviceName":"\nDesk"})", "\nDesk"},  // a leading line end stays
        {R"({"deviceName":"Desk\n"})", "Desk\n"},
        {R"({"deviceName":42})", ""},
    };
    for (const auto& [bytes, name] : cases) EXPECT_EQ(AppConfig::parse(bytes).deviceName, name) << bytes;
}

TEST(AppConfig, stringKeysOfAnotherTypeAreMissing) {
    const AppConfig good = AppConfig::parse(R"({"centerId":"abc","storageDir":"/data/x"})");
    EXPECT_EQ(good.centerID, "abc");
    EXPECT_EQ(good.storageDir, "/data/x");
    const AppConfig bad = AppConfig::parse(R"({"centerId":7,"storageDir":["/x"]})");
    EXPECT_EQ(bad.centerID, "");
    EXPECT_EQ(bad.storageDir, "");
}

TEST(AppConfig, aliasesAndManualPeersMustHoldOnlyStrings) {
    const AppConfig good = AppConfig::parse(R"({"peerAliases":{"p1":"Ann","p2":"Bo"},"manualPeers":["10.0.0.5:8899"]})");
    EXPECT_EQ(good.peerAliases, (std::map<std::string, std::string>{{"p1", "Ann"}, {"p2", "Bo"}}));
    EXPECT_EQ(good.manualPeers, std::vector<std::string>{"10.0.0.5:8899"});

    const char* bad[] = {
        R"({"peerAliases":{"p1":"Ann","p2":3},"manualPeers":["a:1",2]})",
        R"({"peerAliases":["Ann"],"manualPeers":{"a":"b"}})",
        R"({"peerAliases":"Ann","manualPeers":"a:1"})",
    };
    for (const char* bytes : bad) {
        const AppConfig c = AppConfig::parse(bytes);
        EXPECT_TRUE(c.peerAliases.empty()) << bytes;
        EXPECT_TRUE(c.manualPeers.empty()) << bytes;
    }
}

TEST(AppConfig, writtenConfigLeavesOutEmptyAliasesAndManualPeers) {
    AppConfig c;
    c.usageMode = "team";
    c.welcomeDone = true;
    c.centerID = "me";
    c.storageDir = "/home/u/Corvane";
    c.deviceName = "Desk";
    const nlohmann::json written = nlohmann::json::parse(c.serialize(true));
    EXPECT_EQ(written, (nlohmann::json{{"mode", "center"}, {"centerId", "me"}, {"storageDir", "/home/u/Corvane"},
                                        {"deviceName", "Desk"}, {"usageMode", "team"}, {"welcomeDone", true}}));

    c.peerAliases = {{"p", "Ann"}};
    c.manualPeers = {"10.0.0.5:8899"};
    const nlohmann::json full = nlohmann::json::parse(c.serialize(false));
    EXPECT_EQ(full["mode"], "direct");
    EXPECT_EQ(full["peerAliases"], (nlohmann::json{{"p", "Ann"}}));
    EXPECT_EQ(full["manualPeers"], (nlohmann::json{"10.0.0.5:8899"}));
}

TEST(AppConfig, writtenConfigIsCompactAndReadsBack) {
    AppConfig c;
    c.deviceName = "书房";
    c.peerAliases = {{"id", "客厅"}};
    const std::string bytes = c.serialize(false);
    EXPECT_EQ(bytes.find('\n'), std::string::npos);
    const AppConfig back = AppConfig::parse(bytes);
    EXPECT_EQ(back.deviceName, "书房");
    EXPECT_EQ(back.peerAliases, c.peerAliases);
}

TEST(TrimBlanks, trimsSpacesAndTabsNotLineEnds) {
    EXPECT_EQ(trimBlanks("  a b \t"), "a b");
    EXPECT_EQ(trimBlanks("\t"), "");
    EXPECT_EQ(trimBlanks("\r\na\r\n"), "\r\na\r\n");
}

}  // namespace
}  // namespace corvane
