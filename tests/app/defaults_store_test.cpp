// The user-defaults store: how stored values read as booleans, a damaged file,
// and its place under the XDG config folder. (Writing and reading back "nasExt"
// is held by the settings tests of the application state.)
#include <cstdlib>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "app/defaults_store.h"
#include "support/test_support.h"

namespace corvane {
namespace {

using test::Sandbox;

TEST(DefaultsStore, boolReadingOfStoredValuesAndADamagedFileReplacedWhole) {
    const std::pair<const char*, bool> cases[] = {
        {R"({"k":true})", true}, {R"({"k":false})", false}, {R"({"k":1})", true}, {R"({"k":0})", false},
        {R"({"k":"yes"})", false}, {R"({"k":null})", false}, {"{not json", false},
    };
    for (const auto& [bytes, value] : cases) {
        Sandbox box;
        test::writeFile(box / "defaults.json", bytes);
        EXPECT_EQ(DefaultsStore(box / "defaults.json").boolValue("k"), value) << bytes;
    }
    Sandbox box;
    test::writeFile(box / "defaults.json", "{not json");
    DefaultsStore(box / "defaults.json").setBool("nasExt", true);  // the damaged file is replaced whole
    EXPECT_EQ(nlohmann::json::parse(test::readFile(box / "defaults.json")), (nlohmann::json{{"nasExt", true}}));
}

TEST(DefaultsStore, standardPathFollowsAnAbsoluteXDGConfigHome) {
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
