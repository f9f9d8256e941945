// Signing in, session tokens, their expiry and their bound per account.

#include <atomic>
#include <thread>

#include <gtest/gtest.h>

#include "storage/team_crypto.h"
#include "team_test_support.h"

namespace fs = std::filesystem;
using nlohmann::json;

namespace corvane::test {
namespace {

using TeamLogin = TeamStoreTest;
using TeamSessions = TeamStoreTest;

// An active account "slow" whose password "slow-pass" takes a million rounds to check.
void writeSlowAccount(const std::filesystem::path& root) {
    const std::string salt = "0123456789abcdef";
    const json user{{"id", "u1"}, {"user", "slow"}, {"salt", base64Encode(salt)},
                    {"hash", base64Encode(teamPBKDF2("slow-pass", salt, 1000000, 32))}, {"iter", 1000000},
                    {"status", "active"}, {"role", "member"}};
    writeFile(root / "_team" / "accounts.json", json{{"users", {user}}}.dump());
}

// Signs in as "slow" on a thread of its own; `done` turns true when the answer is there.
struct SlowLogin {
    explicit SlowLogin(TeamStore& store) : thread([this, &store] {
        result = store.login("slow", "slow-pass");
        done = true;
    }) {}
    ~SlowLogin() { join(); }
    void join() {
        if (thread.joinable()) thread.join();
    }
    std::atomic<bool> done{false};
    LoginResult result;
    std::thread thread;
};

TEST_F(TeamLogin, TrimsOnlySpacesAndTabsAndIgnoresCase) {
    setUpTeamWithAlice();
    const std::vector<std::pair<std::string, LoginResult::Kind>> cases = {
        {"alice", LoginResult::Kind::ok},
        {"ALICE", LoginResult::Kind::ok},
        {" \tAlice\t ", LoginResult::Kind::ok},
        {"alice\n", LoginResult::Kind::bad},
        {"\u3000alice", LoginResult::Kind::bad},
        {"alice@example.com", LoginResult::Kind::bad},  // the bound address is no login name
        {"", LoginResult::Kind::bad},
    };
    for (const auto& [name, kind] : cases) {
        const LoginResult r = store.login(name, "alice-pass");
        EXPECT_EQ(r.kind, kind) << "'" << name << "'";
        if (kind == LoginResult::Kind::bad) {
            EXPECT_EQ(r.message, "用户名或密码不对") << name;
        }
    }
}

TEST_F(TeamLogin, ASuccessfulLoginStoresASevenDaySessionAndTheLoginTime) {
    const std::string id = setUpTeamWithAlice();
    clock += 100;
    const LoginResult r = store.login("alice", "alice-pass");
    ASSERT_EQ(r.kind, LoginResult::Kind::ok);
    EXPECT_EQ(r.token.size(), 48u);
    EXPECT_EQ(r.token.find_first_not_of("0123456789abcdef"), std::string::npos);
    EXPECT_EQ(r.user.id, id);
    EXPECT_EQ(r.user.lastLogin, clock * 1000);
    EXPECT_EQ(store.user(id)->lastLogin, clock * 1000);
    const json session = readJSON("sessions.json")["sessions"][r.token];
    EXPECT_EQ(session["uid"], id);
    EXPECT_EQ(session["exp"], clock + 604800);
    EXPECT_EQ(readJSON("accounts.json")["users"][1]["lastLogin"], clock * 1000);
}

TEST_F(TeamLogin, PendingAndBlockedAccountsAreToldApartOnlyWithTheRightPassword) {
    ASSERT_TRUE(store.createAdmin("Boss", "admin-pass", ""));
    const TeamRegResult reg = store.registerUser("erin", "", "erin-pass", "", "");
    ASSERT_TRUE(reg.ok);
    EXPECT_EQ(store.login("erin", "erin-pass").kind, LoginResult::Kind::pending);
    EXPECT_EQ(store.login("erin", "erin-pass").user.id, reg.user.id);
    EXPECT_EQ(store.login("erin", "wrong-pass").message, "用户名或密码不对");
    EXPECT_FALSE(fs::exists(teamFile("sessions.json"))) << "a pending sign-in stores nothing";
    EXPECT_EQ(store.user(reg.user.id)->lastLogin, 0);

    ASSERT_TRUE(store.setStatus(reg.user.id, "blocked"));
    EXPECT_EQ(store.login("erin", "erin-pass").message, "这个账号已被停用");
    EXPECT_EQ(store.login("erin", "wrong-pass").message, "用户名或密码不对");
}

TEST_F(TeamLogin, AnUnknownStatusCountsAsActive) {
    const std::string id = setUpTeamWithAlice();
    ASSERT_TRUE(store.setStatus(id, "someday"));
    EXPECT_EQ(store.login("alice", "alice-pass").kind, LoginResult::Kind::ok);
}

TEST_F(TeamLogin, DamagedPasswordDataNeverLetsAnyoneIn) {
    const std::string salt = base64Encode("0123456789abcdef");
    const std::string shortKey = base64Encode(teamPBKDF2("alice-pass", "0123456789abcdef", 1000, 8));
    struct Case {
        const char* what;
        std::string salt, hash;
        int64_t iter;
    };
    const std::vector<Case> cases = {
        {"salt not Base64", "***", base64Encode(std::string(32, 'k')), 120000},
        {"hash not Base64", salt, "not base64", 120000},
        {"empty hash", salt, "", 120000},
        {"empty salt", "", base64Encode(std::string(32, 'k')), 120000},
        {"hash of 8 bytes that matches", salt, shortKey, 1000},
        {"rounds beyond 32 bits", salt, base64Encode(std::string(32, 'k')), int64_t(1) << 33},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Sandbox root;
        const json user{{"id", "u1"}, {"user", "alice"}, {"salt", c.salt}, {"hash", c.hash},
                        {"iter", c.iter}, {"status", "active"}};
        writeFile(root / "_team" / "accounts.json", json{{"users", {user}}}.dump());
        TeamStore fresh([] { return 1700000000.0; }, [](const std::string&) {});
        fresh.bind(root.path());
        const LoginResult r = fresh.login("alice", "alice-pass");
        EXPECT_EQ(r.kind, LoginResult::Kind::bad);
        EXPECT_EQ(r.message, "账号数据损坏");
    }
}

TEST_F(TeamLogin, AcceptsAHashMadeByAnotherImplementation) {
    // Salt bytes 0..15 and the key of "密码Secret1", 120000 rounds, from Python's hashlib.
    const json user{{"id", "u1"}, {"user", "Zoe"}, {"salt", "AAECAwQFBgcICQoLDA0ODw=="},
                    {"hash", "BASZt+Z1P3tIRyC9Md4kocOEjPrEj1t1XIdz69CXOHs="}, {"iter", 120000},
                    {"status", "active"}};
    writeTeamFile("accounts.json", json{{"users", {user}}}.dump());
    reload();
    EXPECT_EQ(store.login("zoe", "密码Secret1").kind, LoginResult::Kind::ok);
    EXPECT_EQ(store.login("zoe", "密码Secret2").message, "用户名或密码不对");
}

TEST_F(TeamLogin, ASlowPasswordCheckDoesNotStallOtherCalls) {
    writeSlowAccount(box.path());
    reload();
    SlowLogin login(store);
    // Calls made while the check runs come back before it ends (each waits 1 ms first).
    int answeredMeanwhile = 0;
    while (!login.done) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        EXPECT_EQ(store.pendingCount(), 0);
        if (!login.done) ++answeredMeanwhile;
    }
    login.join();
    EXPECT_EQ(login.result.kind, LoginResult::Kind::ok);
    EXPECT_GE(answeredMeanwhile, 10) << "other calls waited for the whole password check";
}

TEST_F(TeamLogin, APasswordReplacedDuringTheCheckIsCheckedAgain) {
    writeSlowAccount(box.path());
    reload();
    SlowLogin login(store);
    // Give the login time to take its copy and start deriving; had it not started yet, it
    // would simply meet the new password, with the same outcome.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const auto temporary = store.adminReset("u1");
    login.join();
    ASSERT_TRUE(temporary);
    EXPECT_EQ(login.result.kind, LoginResult::Kind::bad) << "the old password no longer opens the account";
    EXPECT_EQ(login.result.message, "用户名或密码不对");
    EXPECT_EQ(store.login("slow", *temporary).kind, LoginResult::Kind::ok);
}

TEST_F(TeamSessions, ATokenOfFifteenCharactersIsNeverLookedUp) {
    writeTeamFile("accounts.json", R"({"users":[{"id":"u1","user":"bob","status":"active"}]})");
    const std::string exp = std::to_string(clock + 100);
    writeTeamFile("sessions.json", R"({"sessions":{"abcdefghijklmno":{"uid":"u1","exp":)" + exp +
                                       R"(},"abcdefghijklmnop":{"uid":"u1","exp":)" + exp + "}}}");
    reload();
    EXPECT_FALSE(store.userForToken("abcdefghijklmno"));
    ASSERT_TRUE(store.userForToken("abcdefghijklmnop"));
    EXPECT_EQ(store.userForToken("abcdefghijklmnop")->id, "u1");
    EXPECT_FALSE(store.userForToken(""));
}

TEST_F(TeamSessions, AnExpiredTokenGivesNobodyAndStaysUntilTheNextSave) {
    setUpTeamWithAlice();
    const LoginResult r = store.login("alice", "alice-pass");
    clock += 604799;
    EXPECT_TRUE(store.userForToken(r.token));
    clock += 1;
    EXPECT_FALSE(store.userForToken(r.token));
    EXPECT_TRUE(readJSON("sessions.json")["sessions"].contains(r.token)) << "a lookup writes nothing";
    store.logout("some-other-token");
    EXPECT_FALSE(readJSON("sessions.json")["sessions"].contains(r.token)) << "the next save drops it";
}

TEST_F(TeamSessions, LookupsNeverExtendASession) {
    const std::string id = setUpTeamWithAlice();
    const LoginResult r = store.login("alice", "alice-pass");
    const double lastLogin = store.user(id)->lastLogin;
    clock += 1000;
    ASSERT_TRUE(store.userForToken(r.token));
    EXPECT_EQ(store.user(id)->lastLogin, lastLogin);
    clock = clock - 1000 + 604800;
    EXPECT_FALSE(store.userForToken(r.token));
}

TEST_F(TeamSessions, LogoutEndsOnlyThatSession) {
    setUpTeamWithAlice();
    const LoginResult a = store.login("alice", "alice-pass");
    const LoginResult b = store.login("alice", "alice-pass");
    store.logout(a.token);
    EXPECT_FALSE(store.userForToken(a.token));
    EXPECT_TRUE(store.userForToken(b.token));
    const json sessions = readJSON("sessions.json")["sessions"];
    EXPECT_FALSE(sessions.contains(a.token));
    EXPECT_TRUE(sessions.contains(b.token));
}

TEST_F(TeamSessions, APendingAccountWithALiveTokenHasNoAccess) {
    const std::string id = setUpTeamWithAlice();
    const LoginResult r = store.login("alice", "alice-pass");
    {
        std::lock_guard hold(store.lock());
        store.usersLocked()[1].status = "pending";
    }
    EXPECT_FALSE(store.userForToken(r.token));
}

TEST_F(TeamSessions, AnAccountKeepsAtMostOneHundredLiveSessionsDroppingTheOldest) {
    writeTeamFile("accounts.json", json{{"users", {{{"id", "u1"}, {"user", "bob"}, {"status", "active"},
                                                    {"salt", "AAECAwQFBgcICQoLDA0ODw=="},
                                                    {"hash", "BASZt+Z1P3tIRyC9Md4kocOEjPrEj1t1XIdz69CXOHs="}}}}}
                                       .dump());
    json sessions = json::object();
    for (int i = 0; i < 100; ++i) {
        sessions["old-session-" + std::to_string(1000 + i)] = {{"uid", "u1"}, {"exp", clock + 1000 + i}};
    }
    sessions["other-user-session-1"] = {{"uid", "u2"}, {"exp", clock + 1}};
    writeTeamFile("sessions.json", json{{"sessions", sessions}}.dump());
    reload();

    const LoginResult r = store.login("bob", "密码Secret1");
    ASSERT_EQ(r.kind, LoginResult::Kind::ok);
    EXPECT_TRUE(store.userForToken(r.token));
    EXPECT_FALSE(store.userForToken("old-session-1000")) << "the oldest went";
    EXPECT_TRUE(store.userForToken("old-session-1001"));
    const json saved = readJSON("sessions.json")["sessions"];
    EXPECT_EQ(saved.size(), 101u) << "100 of bob's and the other account's one";
    EXPECT_TRUE(saved.contains("other-user-session-1"));
}

}  // namespace
}  // namespace corvane::test
