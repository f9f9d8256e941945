// config.json: how each key is read; a wrong JSON type counts as missing.
#include <gtest/gtest.h>

#include "app/app_config.h"

namespace corvane {
namespace {

TEST(AppConfig, unreadableFilesGiveTheDefaults) {
    for (const char* bytes : {"", "not json", "[1,2]", "\"text\"", "null", "{"}) {
        const AppConfig c = AppConfig::parse(bytes);
        EXPECT_EQ(c.usageMode, "lan") << bytes;
        EXPECT_FALSE(c.welcomeDone) << bytes;
        EXPECT_EQ(c.centerID + c.storageDir + c.deviceName, "") << bytes;
        EXPECT_TRUE(c.peerAliases.empty() && c.manualPeers.empty()) << bytes;
    }
}

TEST(AppConfig, scalarKeysFollowTheirTypeRules) {
    struct Case {
        const char* bytes;
        std::string usageMode, deviceName, centerID, storageDir;
        bool welcomeDone;
    };
    const Case cases[] = {
        {R"({"usageMode":"team","welcomeDone":true})", "team", "", "", "", true},
        {R"({"usageMode":"TEAM","welcomeDone":"true"})", "lan", "", "", "", false},
        {R"({"usageMode":" team","welcomeDone":1})", "lan", "", "", "", false},
        {R"({"usageMode":1,"welcomeDone":false})", "lan", "", "", "", false},
        // deviceName: spaces and tabs are trimmed, line ends stay
        {R"({"deviceName":"   "})", "lan", "", "", "", false},
        {R"({"deviceName":"\t Desk 2 \t"})", "lan", "Desk 2", "", "", false},
        {R"({"deviceName":"\nDesk"})", "lan", "\nDesk", "", "", false},
        {R"({"deviceName":"Desk\n"})", "lan", "Desk\n", "", "", false},
        {R"({"deviceName":42})", "lan", "", "", "", false},
        {R"({"centerId":"abc","storageDir":"/data/x"})", "lan", "", "abc", "/data/x", false},
        {R"({"centerId":7,"storageDir":["/x"]})", "lan", "", "", "", false},
    };
    for (const Case& c : cases) {
        const AppConfig parsed = AppConfig::parse(c.bytes);
        EXPECT_EQ(parsed.usageMode, c.usageMode) << c.bytes;
        EXPECT_EQ(parsed.welcomeDone, c.welcomeDone) << c.bytes;
        EXPECT_EQ(parsed.deviceName, c.deviceName) << c.bytes;
        EXPECT_EQ(parsed.centerID, c.centerID) << c.bytes;
        EXPECT_EQ(parsed.storageDir, c.storageDir) << c.bytes;
    }
}

TEST(AppConfig, aliasesAndManualPeersMustHoldOnlyStrings) {
    const AppConfig good = AppConfig::parse(R"({"peerAliases":{"p1":"Ann","p2":"Bo"},"manualPeers":["10.0.0.5:8899"]})");
    EXPECT_EQ(good.peerAliases, (std::map<std::string, std::string>{{"p1", "Ann"}, {"p2", "Bo"}}));
    EXPECT_EQ(good.manualPeers, std::vector<std::string>{"10.0.0.5:8899"});
    for (const char* bytes : {R"({"peerAliases":{"p1":"Ann","p2":3},"manualPeers":["a:1",2]})",
                              R"({"peerAliases":["Ann"],"manualPeers":{"a":"b"}})",
                              R"({"peerAliases":"Ann","manualPeers":"a:1"})"}) {
        const AppConfig c = AppConfig::parse(bytes);
        EXPECT_TRUE(c.peerAliases.empty()) << bytes;
        EXPECT_TRUE(c.manualPeers.empty()) << bytes;
    }
}

}  // namespace
}  // namespace corvane
