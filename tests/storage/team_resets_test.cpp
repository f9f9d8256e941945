// Password reset codes: issuing, the re-send guard, expiry and the count of wrong guesses.

#include <gtest/gtest.h>

#include "storage/team_crypto.h"
#include "team_test_support.h"

using nlohmann::json;

namespace corvane::test {
namespace {

class TeamResetCodes : public TeamStoreTest {
protected:
    void SetUp() override { aliceId = setUpTeamWithAlice(); }

    // A six-digit code that differs from the right one.
    static std::string wrongCode(const std::string& right) { return right == "000000" ? "111111" : "000000"; }

    std::string aliceId;
};

TEST_F(TeamResetCodes, IssuesASixDigitCodeKeptOnlyAsAHash) {
    const auto ticket = store.issueReset("alice");
    ASSERT_TRUE(ticket);
    EXPECT_EQ(ticket->uid, aliceId);
    EXPECT_EQ(ticket->name, "Alice");
    EXPECT_EQ(ticket->user, "alice");
    EXPECT_EQ(ticket->email, "alice@example.com");
    ASSERT_EQ(ticket->code.size(), 6u);
    EXPECT_EQ(ticket->code.find_first_not_of("0123456789"), std::string::npos);
    const json entry = readJSON("resets.json")["codes"][aliceId];
    EXPECT_EQ(entry["hash"], teamSHA256(aliceId + ":" + ticket->code));
    EXPECT_EQ(entry["exp"], clock + 900);
    EXPECT_EQ(entry["sent"], clock);
    EXPECT_EQ(entry["tries"], 0);
    EXPECT_EQ(readFile(teamFile("resets.json")).find(ticket->code), std::string::npos) << "the code is not stored";
}

TEST_F(TeamResetCodes, FindsTheAccountByNameOrAddressInAnyCase) {
    for (const std::string account : {" ALICE ", "Alice@Example.COM", "alice@example.com\n"}) {
        clock += 60;
        EXPECT_TRUE(store.issueReset(account)) << account;
    }
}

TEST_F(TeamResetCodes, NoTicketForUnknownBlockedOrAddresslessAccounts) {
    EXPECT_FALSE(store.issueReset(""));
    EXPECT_FALSE(store.issueReset("   "));
    EXPECT_FALSE(store.issueReset("nobody"));
    EXPECT_FALSE(store.issueReset("admin")) << "no bound address";
    ASSERT_TRUE(store.setStatus(aliceId, "blocked"));
    EXPECT_FALSE(store.issueReset("alice"));
    ASSERT_TRUE(store.setStatus(aliceId, "active"));
    ASSERT_EQ(store.setEmail(aliceId, ""), std::nullopt);
    EXPECT_FALSE(store.issueReset("alice"));
}

TEST_F(TeamResetCodes, APendingAccountMayGetACode) {
    const TeamRegResult reg = store.registerUser("frank", "", "frank-pass", "", "frank@example.com");
    ASSERT_TRUE(reg.ok);
    EXPECT_TRUE(store.issueReset("frank"));
}

TEST_F(TeamResetCodes, AskingAgainWithinSixtySecondsKeepsTheFirstCode) {
    const auto first = store.issueReset("alice");
    ASSERT_TRUE(first);
    clock += 59;
    EXPECT_FALSE(store.issueReset("alice"));
    EXPECT_EQ(store.resetWithCode("alice", first->code, "new-pass"), std::nullopt);
}

TEST_F(TeamResetCodes, AskingAfterSixtySecondsReplacesTheCode) {
    const auto first = store.issueReset("alice");
    ASSERT_TRUE(first);
    clock += 60;
    const auto second = store.issueReset("alice");
    ASSERT_TRUE(second);
    if (first->code != second->code) {
        EXPECT_EQ(store.resetWithCode("alice", first->code, "new-pass"), "验证码不对，还可试 5 次");
    }
    EXPECT_EQ(store.resetWithCode("alice", second->code, "new-pass"), std::nullopt);
}

TEST_F(TeamResetCodes, ArgumentChecksComeFirstInOrder) {
    struct Case {
        std::string account, code, pass, message;
    };
    const std::vector<Case> cases = {
        {"nobody", "12", " 12345 ", "新密码至少 6 位"},
        {"nobody", "12345", "new-pass", "验证码是 6 位数字"},
        {"nobody", "1234567", "new-pass", "验证码是 6 位数字"},
        {"nobody", "123456", "new-pass", "账号或验证码不对"},
        {"alice", "123456", "new-pass", "验证码已失效，请重新获取"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(store.resetWithCode(c.account, c.code, c.pass), c.message) << c.account << "/" << c.code;
    }
}

TEST_F(TeamResetCodes, SixWrongCodesCountDownAndTheSeventhTryEndsTheCodeEvenWhenRight) {
    const auto ticket = store.issueReset("alice");
    ASSERT_TRUE(ticket);
    const std::string wrong = wrongCode(ticket->code);
    for (int remaining = 5; remaining >= 0; --remaining) {
        clock += 1;
        EXPECT_EQ(store.resetWithCode("alice", wrong, "new-pass"),
                  "验证码不对，还可试 " + std::to_string(remaining) + " 次");
        EXPECT_EQ(readJSON("resets.json")["codes"][aliceId]["tries"], 6 - remaining) << "counted on disk";
    }
    EXPECT_EQ(store.resetWithCode("alice", ticket->code, "new-pass"), "错误次数太多，请重新获取验证码");
    EXPECT_FALSE(readJSON("resets.json")["codes"].contains(aliceId));
    EXPECT_EQ(store.resetWithCode("alice", ticket->code, "new-pass"), "验证码已失效，请重新获取");
    EXPECT_EQ(store.login("alice", "alice-pass").kind, LoginResult::Kind::ok) << "the password is unchanged";
}

TEST_F(TeamResetCodes, TheCountOfWrongCodesSurvivesARestart) {
    const auto ticket = store.issueReset("alice");
    ASSERT_TRUE(ticket);
    const std::string wrong = wrongCode(ticket->code);
    EXPECT_EQ(store.resetWithCode("alice", wrong, "new-pass"), "验证码不对，还可试 5 次");
    reload();
    EXPECT_EQ(store.resetWithCode("alice", wrong, "new-pass"), "验证码不对，还可试 4 次");
}

TEST_F(TeamResetCodes, ACodeExpiresAfter900Seconds) {
    const auto ticket = store.issueReset("alice");
    ASSERT_TRUE(ticket);
    clock += 900;
    EXPECT_EQ(store.resetWithCode("alice", ticket->code, "new-pass"), "验证码已过期，请重新获取");
    EXPECT_EQ(store.resetWithCode("alice", ticket->code, "new-pass"), "验证码已失效，请重新获取");
}

TEST_F(TeamResetCodes, AnExpiredCodeDroppedByAnotherSaveHasLapsed) {
    const TeamRegResult reg = store.registerUser("grace", "", "grace-pass", "", "grace@example.com");
    ASSERT_TRUE(reg.ok);
    const auto ticket = store.issueReset("alice");
    ASSERT_TRUE(ticket);
    clock += 1000;
    ASSERT_TRUE(store.issueReset("grace"));  // saves resets.json, dropping alice's expired entry
    EXPECT_EQ(store.resetWithCode("alice", ticket->code, "new-pass"), "验证码已失效，请重新获取");
}

TEST_F(TeamResetCodes, ARightCodeSetsTheTrimmedPasswordAndSignsOutEverywhere) {
    const LoginResult login = store.login("alice", "alice-pass");
    const auto ticket = store.issueReset("ALICE@example.com");
    ASSERT_TRUE(ticket);
    EXPECT_EQ(store.resetWithCode(" Alice ", " " + ticket->code + "\t", "  fresh-pass \n"), std::nullopt);
    EXPECT_FALSE(store.userForToken(login.token));
    EXPECT_EQ(store.login("alice", "fresh-pass").kind, LoginResult::Kind::ok);
    EXPECT_EQ(store.login("alice", "  fresh-pass \n").message, "用户名或密码不对");
    EXPECT_EQ(store.user(aliceId)->status, "active");
    EXPECT_EQ(store.resetWithCode("alice", ticket->code, "other-pass"), "验证码已失效，请重新获取");
    reload();
    EXPECT_EQ(store.login("alice", "fresh-pass").kind, LoginResult::Kind::ok) << "saved";
}

TEST_F(TeamResetCodes, ANonDigitCodeOfSixCharactersIsAWrongCode) {
    ASSERT_TRUE(store.issueReset("alice"));
    EXPECT_EQ(store.resetWithCode("alice", "abcdef", "new-pass"), "验证码不对，还可试 5 次");
}

TEST_F(TeamResetCodes, AnEntryWithoutANumericExpiryCountsAsExpired) {
    writeTeamFile("resets.json", json{{"codes", {{aliceId, {{"hash", "x"}, {"exp", "99999999999"}}}}}}.dump());
    reload();
    EXPECT_EQ(store.resetWithCode("alice", "123456", "new-pass"), "验证码已过期，请重新获取");
}

}  // namespace
}  // namespace corvane::test
