// Stored password data: making it and checking candidates, including damaged records.

#include <gtest/gtest.h>

#include "storage/team_crypto.h"
#include "storage/team_password.h"

namespace corvane {
namespace {

TEST(PasswordRecord, ANewRecordHasItsOwnSaltAnd120000RoundsAndOpensOnlyForItsPassword) {
    const PasswordRecord record = makePasswordRecord("secret-1");
    EXPECT_EQ(record.iter, 120000);
    EXPECT_EQ(base64Decode(record.salt).value_or("").size(), 16u);
    EXPECT_EQ(base64Decode(record.hash), teamPBKDF2("secret-1", *base64Decode(record.salt), 120000, 32));
    EXPECT_NE(makePasswordRecord("secret-1").salt, record.salt) << "every record gets its own salt";
    EXPECT_EQ(checkPassword("secret-1", record), PasswordCheck::match);
    for (const char* other : {"secret-2", "Secret-1", ""}) {
        EXPECT_EQ(checkPassword(other, record), PasswordCheck::mismatch) << other;
    }
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
    // The sound record of the table, with its own rounds and key length, opens.
    EXPECT_EQ(checkPassword("pw", {salt, key16, 1000}), PasswordCheck::match);
}

}  // namespace
}  // namespace corvane
