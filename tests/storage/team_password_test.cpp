// Stored password data: making it and checking candidates, including damaged records.

#include <gtest/gtest.h>

#include "storage/team_crypto.h"
#include "storage/team_password.h"

namespace corvane {
namespace {

TEST(PasswordRecord, NewRecordUsesASixteenByteSaltAnd120000RoundsForA32ByteKey) {
    const PasswordRecord record = makePasswordRecord("secret-1");
    EXPECT_EQ(record.iter, 120000);
    EXPECT_EQ(base64Decode(record.salt).value_or("").size(), 16u);
    EXPECT_EQ(base64Decode(record.hash).value_or("").size(), 32u);
    EXPECT_EQ(base64Decode(record.hash), teamPBKDF2("secret-1", *base64Decode(record.salt), 120000, 32));
    EXPECT_NE(makePasswordRecord("secret-1").salt, record.salt) << "every record gets its own salt";
}

TEST(PasswordRecord, ChecksTheRightPasswordAndRefusesOthers) {
    const PasswordRecord record = makePasswordRecord("secret-1");
    EXPECT_EQ(checkPassword("secret-1", record), PasswordCheck::match);
    EXPECT_EQ(checkPassword("secret-2", record), PasswordCheck::mismatch);
    EXPECT_EQ(checkPassword("Secret-1", record), PasswordCheck::mismatch);
    EXPECT_EQ(checkPassword("", record), PasswordCheck::mismatch);
}

TEST(PasswordRecord, UsesTheStoredRoundsAndKeyLength) {
    // Records made elsewhere may use other parameters; the check follows them.
    const std::string salt = "0123456789abcdef";
    const PasswordRecord record{base64Encode(salt), base64Encode(teamPBKDF2("pw", salt, 1000, 20)), 1000};
    EXPECT_EQ(checkPassword("pw", record), PasswordCheck::match);
}

TEST(PasswordRecord, DamagedDataNeverPassesAsAPasswordCheck) {
    const std::string salt = base64Encode("0123456789abcdef");
    const std::string key16 = base64Encode(teamPBKDF2("pw", "0123456789abcdef", 1000, 16));
    const std::string key15 = base64Encode(teamPBKDF2("pw", "0123456789abcdef", 1000, 15));
    const std::string key65 = base64Encode(std::string(65, 'k'));
    struct Case {
        const char* what;
        PasswordRecord record;
    };
    const std::vector<Case> cases = {
        {"salt not Base64", {"not base64!", key16, 1000}},
        {"key not Base64", {salt, "####", 1000}},
        {"empty salt", {"", key16, 1000}},
        {"empty key", {salt, "", 1000}},
        {"key of 15 bytes", {salt, key15, 1000}},
        {"key of 65 bytes", {salt, key65, 1000}},
        {"zero rounds", {salt, key16, 0}},
        {"rounds beyond 32 bits", {salt, key16, int64_t(1) << 32}},
        {"negative rounds", {salt, key16, -1}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(checkPassword("pw", c.record), PasswordCheck::damaged) << c.what;
    }
    EXPECT_EQ(checkPassword("pw", {salt, key16, 1000}), PasswordCheck::match) << "the sound record of the table";
}

}  // namespace
}  // namespace corvane
