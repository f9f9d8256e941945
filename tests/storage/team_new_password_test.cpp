// A new password (temporary or by reset code) is derived without the store's lock, and
// applied only when the account and its code are still the ones checked.

#include <chrono>
#include <future>

#include <gtest/gtest.h>

#include "team_test_support.h"

namespace corvane::test {
namespace {

class TeamNewPassword : public TeamStoreTest {
protected:
    // Runs `step` on another thread while the store derives the new password; had the
    // store kept its lock, the other thread would still be waiting when the guard runs out.
    void meanwhile(std::function<void()> step) {
        duringDerivation = [this, step = std::move(step)] {
            others.push_back(std::async(std::launch::async, step));
            ranMeanwhile = others.back().wait_for(std::chrono::seconds(60)) == std::future_status::ready;
        };
    }

    std::string aliceId;
    bool ranMeanwhile = false;
    std::vector<std::future<void>> others;  // joined when the test ends
};

struct Meddling {
    const char* what;
    std::function<void(TeamStore&, const std::string& aliceId)> step;
    bool applies;               // the new password is set
    const char* resetRefusal;   // resetWithCode's answer when it does not apply
    const char* alicePassword;  // what opens alice's account afterwards when the new one does not
};

const std::vector<Meddling> meddlings = {
    {"another team request", [](TeamStore& s, const std::string&) { (void)s.pendingCount(); }, true, "", nullptr},
    {"a wrong guess at the code",
     [](TeamStore& s, const std::string&) {
         EXPECT_NE(refusalOf(s.resetWithCode("alice", "abcdef", "x-pass")), std::nullopt);
     },
     true, "", nullptr},
    {"the account removed", [](TeamStore& s, const std::string& id) { EXPECT_TRUE(s.removeUser(id)); }, false,
     "账号或验证码不对", nullptr},
    {"the owner's own change",
     [](TeamStore& s, const std::string& id) {
         EXPECT_EQ(refusalOf(s.changePassword(id, "alice-pass", "owner-pass")), std::nullopt);
     },
     false, "账号或验证码不对", "owner-pass"},
};

TEST_F(TeamNewPassword, AResetByCodeDerivesWithoutTheLockAndAppliesOnlyToTheAccountItChecked) {
    for (const Meddling& m : meddlings) {
        SCOPED_TRACE(m.what);
        store.bind(box.path() / m.what);
        aliceId = setUpTeamWithAlice();
        const auto ticket = store.issueReset("alice");
        ASSERT_TRUE(ticket);
        meanwhile([this, &m] { m.step(store, aliceId); });
        const auto answer = refusalOf(store.resetWithCode("alice", ticket->code, "fresh-pass"));
        EXPECT_TRUE(ranMeanwhile) << "the lock was free during the derivation";
        EXPECT_EQ(answer.value_or(""), m.resetRefusal);
        EXPECT_EQ(store.login("alice", "fresh-pass").kind == LoginResult::Kind::ok, m.applies);
        if (m.alicePassword) {
            EXPECT_EQ(store.login("alice", m.alicePassword).kind, LoginResult::Kind::ok);
        }
        others.clear();
    }
}

TEST_F(TeamNewPassword, ACodeReissuedDuringTheDerivationIsNotSpentByTheOldOne) {
    aliceId = setUpTeamWithAlice();
    const auto first = store.issueReset("alice");
    ASSERT_TRUE(first);
    clock += 61;  // past the re-send guard, well within the lifetime
    std::optional<TeamStore::ResetTicket> second;
    meanwhile([&] { second = store.issueReset("alice"); });
    EXPECT_EQ(refusalOf(store.resetWithCode("alice", first->code, "fresh-pass")), "验证码已失效，请重新获取");
    EXPECT_TRUE(ranMeanwhile);
    ASSERT_TRUE(second);
    EXPECT_EQ(store.login("alice", "alice-pass").kind, LoginResult::Kind::ok) << "unchanged";
    EXPECT_EQ(refusalOf(store.resetWithCode("alice", second->code, "fresh-pass")), std::nullopt);
}

TEST_F(TeamNewPassword, ATemporaryPasswordDerivesWithoutTheLockAndAppliesOnlyToTheAccountItChecked) {
    for (const Meddling& m : meddlings) {
        SCOPED_TRACE(m.what);
        store.bind(box.path() / m.what);
        aliceId = setUpTeamWithAlice();
        meanwhile([this, &m] { m.step(store, aliceId); });
        const auto temporary = store.adminReset(aliceId);
        EXPECT_TRUE(ranMeanwhile) << "the lock was free during the derivation";
        EXPECT_EQ(temporary.ok(), m.applies);
        if (temporary) {
            EXPECT_EQ(store.login("alice", *temporary).kind, LoginResult::Kind::ok);
        }
        if (m.alicePassword) {
            EXPECT_EQ(store.login("alice", m.alicePassword).kind, LoginResult::Kind::ok);
        }
        others.clear();
    }
}

}  // namespace
}  // namespace corvane::test
