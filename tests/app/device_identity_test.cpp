// The device-id file: made once, kept when usable, never half written.
#include <regex>

#include <gtest/gtest.h>

#include "app/device_identity.h"
#include "support/test_support.h"

namespace corvane {
namespace {

using test::Sandbox;

bool isLowerHex32(const std::string& id) { return std::regex_match(id, std::regex("[0-9a-f]{32}")); }

TEST(DeviceID, aNewIdIs32LowerCaseHexDigitsWrittenAloneWithoutLineEnd) {
    Sandbox box;
    const std::string id = loadDeviceID(box.path());
    EXPECT_TRUE(isLowerHex32(id)) << id;
    EXPECT_EQ(test::readFile(box / "device-id"), id);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(box.path()), {}), 1) << "no temporary file left";
    EXPECT_EQ(loadDeviceID(box.path()), id);  // the next launch keeps it
    EXPECT_NE(newDeviceID(), newDeviceID());
}

TEST(DeviceID, storedIdsOfAtLeastEightCharactersAreKeptShorterOnesReplaced) {
    const std::pair<std::string, std::string> cases[] = {
        {"ABCDEFGH", "ABCDEFGH"},      // no format check
        {"  abcdefgh\n", "abcdefgh"},  // trimmed
        {"0123456789abcdef0123456789abcdef\n", "0123456789abcdef0123456789abcdef"},
        {"设备设备设备设备", "设备设备设备设备"},  // characters, not bytes
        {"1234567", ""},  // "" expects a new id
        {"   \n", ""},
        {"", ""},
    };
    for (const auto& [stored, expected] : cases) {
        Sandbox box;
        test::writeFile(box / "device-id", stored);
        const std::string id = loadDeviceID(box.path());
        if (expected.empty()) {
            EXPECT_TRUE(isLowerHex32(id)) << "stored: [" << stored << "] gave " << id;
            EXPECT_EQ(test::readFile(box / "device-id"), id) << stored;
        } else {
            EXPECT_EQ(id, expected) << "stored: [" << stored << "]";
        }
    }
}

}  // namespace
}  // namespace corvane
