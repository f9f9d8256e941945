// Password reset codes: issuing, the re-send guard, expiry and the count of wrong guesses.

#include <regex>

#include <gtest/gtest.h>

#include "storage/team_crypto.h"
#include "team_test_support.h"

using nlohmann::json;

namespace corvane::test {
namespace {

class TeamResetCodes : public TeamStoreTest {
protected:
    void SetUp() override { aliceId = setUpTeamWithAlice(); }
    std::string aliceId;
};

TEST_F(TeamResetCodes, IssuesASixDigitCodeKeptOnlyAsAHashFor900Seconds) {
    const auto ticket = store.issueReset("alice");
    ASSERT_TRUE(ticket);
    EXPECT_EQ(ticket->uid + "|" + ticket->name + "|" + ticket->user + "|" + ticket->email,
              aliceId + "|Alice|alice|alice@example.com");
    ASSERT_TRUE(std::regex_match(ticket->code, std::regex("[0-9]{6}"))) << ticket->code;
    const std::string hash = teamSHA256(aliceId + ":" + ticket->code);
    const json stored{{"hash", hash}, {"exp", clock + 900}, {"sent", clock}, {"tries", 0}};
    EXPECT_EQ(readJSON("resets.json")["codes"][aliceId], stored);
    EXPECT_EQ(readFile(teamFile("resets.json")).find(ticket->code), std::string::npos) << "the code is not stored";
    clock += 900;
    EXPECT_EQ(refusalOf(store.resetWithCode("alice", ticket->code, "new-pass")), "验证码已过期，请重新获取");
    EXPECT_EQ(refusalOf(store.resetWithCode("alice", ticket->code, "new-pass")), "验证码已失效，请重新获取");
}

TEST_F(TeamResetCodes, GoesToAnActiveOrPendingAccountWithAnAddressFoundByNameOrAddressInAnyCase) {
    ASSERT_TRUE(store.registerUser("frank", "", "frank-pass", "", "frank@example.com").ok);
    const TeamRegResult gina = store.registerUser("gina", "", "gina-pass", "", "gina@example.com");
    ASSERT_TRUE(gina.ok && store.setStatus(gina.user.id, "blocked"));
    const std::vector<std::pair<std::string, bool>> cases = {
        {" ALICE ", true}, {"Alice@Example.COM", true}, {"alice@example.com\n", true},
        {"frank", true},   // pending
        {"gina", false},   // blocked
        {"admin", false},  // no bound address
        {"", false},       {"   ", false},          {"nobody", false},
    };
    for (const auto& [account, issued] : cases) {
        clock += 60;
        EXPECT_EQ(store.issueReset(account).has_value(), issued) << "'" << account << "'";
    }
}

TEST_F(TeamResetCodes, AskingAgainWithinSixtySecondsKeepsTheFirstCodeAndLaterReplacesIt) {
    const auto first = store.issueReset("alice");
    ASSERT_TRUE(first);
    clock += 59;
    EXPECT_FALSE(store.issueReset("alice"));
    EXPECT_EQ(readJSON("resets.json")["codes"][aliceId]["hash"], teamSHA256(aliceId + ":" + first->code));
    clock += 1;
    const auto second = store.issueReset("alice");
    ASSERT_TRUE(second);
    if (first->code != second->code) {
        EXPECT_EQ(refusalOf(store.resetWithCode("alice", first->code, "new-pass")), "验证码不对，还可试 5 次");
    }
    EXPECT_EQ(refusalOf(store.resetWithCode("alice", second->code, "new-pass")), std::nullopt);
}

TEST_F(TeamResetCodes, SixWrongCodesCountDownAndTheSeventhTryEndsTheCodeEvenWhenRight) {
    const auto ticket = store.issueReset("alice");
    ASSERT_TRUE(ticket);
    for (int remaining = 5; remaining >= 0; --remaining) {
        clock += 1;
        // A six-character code that is not digits is a wrong code too.
        const std::string wrong = remaining == 5 ? "abcdef" : (ticket->code == "000000" ? "111111" : "000000");
        EXPECT_EQ(refusalOf(store.resetWithCode("alice", wrong, "new-pass")),
                  "验证码不对，还可试 " + std::to_string(remaining) + " 次") << "try " << 6 - remaining;
        EXPECT_EQ(readJSON("resets.json")["codes"][aliceId]["tries"], 6 - remaining) << "counted on disk";
        if (remaining == 3) reload();  // the count survives a restart
    }
    EXPECT_EQ(refusalOf(store.resetWithCode("alice", ticket->code, "new-pass")), "错误次数太多，请重新获取验证码");
    EXPECT_FALSE(readJSON("resets.json")["codes"].contains(aliceId));
    EXPECT_EQ(refusalOf(store.resetWithCode("alice", ticket->code, "new-pass")), "验证码已失效，请重新获取");
    EXPECT_EQ(store.login("alice", "alice-pass").kind, LoginResult::Kind::ok) << "the password is unchanged";
}

TEST_F(TeamResetCodes, ARightCodeSetsTheTrimmedPasswordAndSignsOutEverywhere) {
    const LoginResult login = store.login("alice", "alice-pass");
    const auto ticket = store.issueReset("ALICE@example.com");
    ASSERT_TRUE(ticket);
    EXPECT_EQ(refusalOf(store.resetWithCode(" Alice ", " " + ticket->code + "\t", "  fresh-pass \n")), std::nullopt);
    EXPECT_FALSE(store.userForToken(login.token));
    EXPECT_EQ(store.login("alice", "fresh-pass").kind, LoginResult::Kind::ok);
    EXPECT_EQ(store.login("alice", "  fresh-pass \n").message, "用户名或密码不对");
    EXPECT_EQ(store.user(aliceId)->status, "active");
    EXPECT_EQ(refusalOf(store.resetWithCode("alice", ticket->code, "other-pass")), "验证码已失效，请重新获取");
    reload();
    EXPECT_EQ(store.login("alice", "fresh-pass").kind, LoginResult::Kind::ok) << "saved";
}

}  // namespace
}  // namespace corvane::test
