// The user-defaults store: kept in memory, written through atomically, safe
// to read from connection threads while the main thread writes.
#include <atomic>
#include <cstdlib>
#include <thread>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "app/defaults_store.h"
#include "support/test_support.h"

namespace corvane {
namespace {

using test::Sandbox;

TEST(DefaultsStore, absentKeysReadAsFalseAndNone) {
    Sandbox box;
    DefaultsStore store(box / "defaults.json");
    EXPECT_FALSE(store.boolValue("nasExt"));
    EXPECT_FALSE(store.stringValue("CorvaneMainWindow"));
    EXPECT_FALSE(std::filesystem::exists(box / "defaults.json"));  // nothing written until a change
}

TEST(DefaultsStore, valuesPersistAcrossInstances) {
    Sandbox box;
    {
        DefaultsStore store(box / "Corvane" / "defaults.json");
        store.setBool("nasExt", true);
        store.setString("CorvaneMainWindow", "10 20 1040 760");
    }
    DefaultsStore again(box / "Corvane" / "defaults.json");
    EXPECT_TRUE(again.boolValue("nasExt"));
    EXPECT_EQ(again.stringValue("CorvaneMainWindow"), "10 20 1040 760");
    const auto written = nlohmann::json::parse(test::readFile(box / "Corvane" / "defaults.json"));
    EXPECT_EQ(written["nasExt"], true);
}

TEST(DefaultsStore, boolReadingOfStoredValues) {
    const std::pair<const char*, bool> cases[] = {
        {R"({"k":true})", true}, {R"({"k":false})", false}, {R"({"k":1})", true},
        {R"({"k":0})", false},   {R"({"k":"yes"})", false}, {R"({"k":null})", false},
    };
    for (const auto& [bytes, value] : cases) {
        Sandbox box;
        test::writeFile(box / "defaults.json", bytes);
        EXPECT_EQ(DefaultsStore(box / "defaults.json").boolValue("k"), value) << bytes;
    }
}

TEST(DefaultsStore, aDamagedFileCountsAsEmptyAndIsReplacedWhole) {
    Sandbox box;
    test::writeFile(box / "defaults.json", "{not json");
    DefaultsStore store(box / "defaults.json");
    EXPECT_FALSE(store.boolValue("nasExt"));
    store.setBool("nasExt", true);
    EXPECT_EQ(nlohmann::json::parse(test::readFile(box / "defaults.json")), (nlohmann::json{{"nasExt", true}}));
}

TEST(DefaultsStore, readersOnOtherThreadsSeeWholeValues) {
    Sandbox box;
    DefaultsStore store(box / "defaults.json");
    std::atomic<bool> stop{false};
    std::atomic<int> reads{0};
    std::thread reader([&] {
        while (!stop) {
            store.boolValue("nasExt");
            ++reads;
        }
    });
    for (int i = 0; i < 200; ++i) store.setBool("nasExt", i % 2 == 0);
    stop = true;
    reader.join();
    EXPECT_FALSE(store.boolValue("nasExt"));
    EXPECT_GT(reads.load(), 0);
}

TEST(DefaultsStore, standardPathFollowsXDGConfigHome) {
    const char* saved = std::getenv("XDG_CONFIG_HOME");
    const std::string keep = saved ? saved : "";
    setenv("XDG_CONFIG_HOME", "/tmp/cfg-home", 1);
    EXPECT_EQ(DefaultsStore::standardPath(), "/tmp/cfg-home/Corvane/defaults.json");
    setenv("XDG_CONFIG_HOME", "relative", 1);  // not absolute: ignored
    EXPECT_EQ(DefaultsStore::standardPath().filename(), "defaults.json");
    EXPECT_NE(DefaultsStore::standardPath().string().rfind("relative", 0), 0u);
    if (saved) {
        setenv("XDG_CONFIG_HOME", keep.c_str(), 1);
    } else {
        unsetenv("XDG_CONFIG_HOME");
    }
}

}  // namespace
}  // namespace corvane
