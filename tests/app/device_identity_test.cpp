// The device-id file: made once, kept when usable, never half written.
#include <regex>

#include <gtest/gtest.h>

#include "app/device_identity.h"
#include "support/test_support.h"

namespace corvane {
namespace {

using test::Sandbox;

bool isLowerHex32(const std::string& id) { return std::regex_match(id, std::regex("[0-9a-f]{32}")); }

TEST(DeviceID, aNewIdIs32LowerCaseHexDigitsWrittenWithoutLineEnd) {
    Sandbox box;
    const std::string id = loadDeviceID(box / "support");
    EXPECT_TRUE(isLowerHex32(id)) << id;
    EXPECT_EQ(test::readFile(box / "support" / "device-id"), id);
    EXPECT_EQ(loadDeviceID(box / "support"), id);  // the next launch keeps it
}

TEST(DeviceID, storedIdsOfAtLeastEightCharactersAreKept) {
    const std::pair<std::string, std::string> cases[] = {
        {"ABCDEFGH", "ABCDEFGH"},           // no format check
        {"  abcdefgh\n", "abcdefgh"},       // trimmed
        {"0123456789abcdef0123456789abcdef\n", "0123456789abcdef0123456789abcdef"},
        {"设备设备设备设备", "设备设备设备设备"},  // characters, not bytes
    };
    for (const auto& [stored, expected] : cases) {
        Sandbox box;
        test::writeFile(box / "device-id", stored);
        EXPECT_EQ(loadDeviceID(box.path()), expected) << stored;
    }
}

TEST(DeviceID, shortOrEmptyIdsAreReplaced) {
    for (const std::string stored : {"abcdef", "", "   \n", "1234567"}) {
        Sandbox box;
        test::writeFile(box / "device-id", stored);
        const std::string id = loadDeviceID(box.path());
        EXPECT_TRUE(isLowerHex32(id)) << stored;
        EXPECT_EQ(test::readFile(box / "device-id"), id);
    }
}

TEST(DeviceID, writingLeavesNoTemporaryFileBehind) {
    Sandbox box;
    loadDeviceID(box.path());
    int entries = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(box.path())) ++entries;
    EXPECT_EQ(entries, 1);
}

TEST(DeviceID, anIdThatCannotBeWrittenIsUsedForThisLaunch) {
    Sandbox box;
    test::writeFile(box / "file", "x");  // a file where the folder should be
    const std::string id = loadDeviceID(box / "file" / "support");
    EXPECT_TRUE(isLowerHex32(id)) << id;
}

TEST(DeviceID, newIdsDiffer) { EXPECT_NE(newDeviceID(), newDeviceID()); }

TEST(RandomToken, isThirtyTwoLowerHexDigitsAndNewEachTime) {
    const std::string a = randomToken();
    EXPECT_TRUE(isLowerHex32(a)) << a;
    EXPECT_NE(a, randomToken());
}

}  // namespace
}  // namespace corvane
