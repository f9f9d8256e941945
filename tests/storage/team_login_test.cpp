// Signing in, session tokens, their expiry and their bound per account.

#include <atomic>
#include <latch>
#include <mutex>
#include <thread>

#include <gtest/gtest.h>

#include "storage/team_crypto.h"
#include "team_test_support.h"

using nlohmann::json;

namespace corvane::test {
namespace {

using TeamLogin = TeamStoreTest;
using TeamSessions = TeamStoreTest;

TEST_F(TeamLogin, TrimsOnlySpacesAndTabsAndIgnoresCase) {
    setUpTeamWithAlice();
    using Kind = LoginResult::Kind;
    const std::vector<std::pair<std::string, Kind>> cases = {
        {"alice", Kind::ok},    {"ALICE", Kind::ok},        {" \tAlice\t ", Kind::ok}, {"alice\n", Kind::bad},
        {"\u3000alice", Kind::bad}, {"", Kind::bad},
        {"alice@example.com", Kind::bad},  // the bound address is no login name
    };
    for (const auto& [name, kind] : cases) {
        const LoginResult r = store.login(name, "alice-pass");
        EXPECT_EQ(r.kind, kind) << "'" << name << "'";
        if (kind == Kind::bad) {
            EXPECT_EQ(r.message, "用户名或密码不对") << name;
        }
    }
}

TEST_F(TeamLogin, PendingBlockedAndUnknownStatesAreToldApartOnlyWithTheRightPassword) {
    ASSERT_TRUE(store.createAdmin("Boss", "admin-pass", ""));
    const TeamRegResult reg = store.registerUser("erin", "", "erin-pass", "", "");
    ASSERT_TRUE(reg.ok);
    EXPECT_EQ(store.login("erin", "erin-pass").kind, LoginResult::Kind::pending);
    EXPECT_EQ(store.login("erin", "erin-pass").user.id, reg.user.id);
    EXPECT_EQ(store.login("erin", "wrong-pass").message, "用户名或密码不对");
    EXPECT_FALSE(std::filesystem::exists(teamFile("sessions.json"))) << "a pending sign-in stores nothing";
    EXPECT_EQ(store.user(reg.user.id)->lastLogin, 0);

    ASSERT_TRUE(store.setStatus(reg.user.id, "blocked"));
    EXPECT_EQ(store.login("erin", "erin-pass").message, "这个账号已被停用");
    EXPECT_EQ(store.login("erin", "wrong-pass").message, "用户名或密码不对");

    ASSERT_TRUE(store.setStatus(reg.user.id, "someday"));
    EXPECT_EQ(store.login("erin", "erin-pass").kind, LoginResult::Kind::ok) << "an unknown status counts as active";
}

TEST_F(TeamLogin, AnUnknownNameCostsOneDerivationLikeAWrongPassword) {
    // An unknown name was answered at once and a real one after the derivation, so the
    // time of the answer told which accounts exist.
    setUpTeamWithAlice();
    checked.clear();
    ASSERT_EQ(store.login("alice", "wrong-pass").message, "用户名或密码不对");
    ASSERT_EQ(checked.size(), 1u);
    const PasswordRecord real = checked[0];
    for (const char* name : {"nobody", "someone-else"}) {
        checked.clear();
        EXPECT_EQ(store.login(name, "wrong-pass").message, "用户名或密码不对") << name;
        ASSERT_EQ(checked.size(), 1u) << name;
        EXPECT_EQ(checked[0].iter, real.iter) << name;
        EXPECT_EQ(base64Decode(checked[0].salt)->size(), base64Decode(real.salt)->size()) << name;
        EXPECT_EQ(base64Decode(checked[0].hash)->size(), base64Decode(real.hash)->size()) << name;
    }
}

TEST_F(TeamLogin, DamagedPasswordDataNeverLetsAnyoneInAndSaysSo) {
    // Every kind of damage is in the password record tests; this key matches but has 8 bytes.
    const std::string salt = "0123456789abcdef";
    loadAccounts({{{"id", "u1"}, {"user", "alice"}, {"salt", base64Encode(salt)}, {"iter", 1000},
                   {"hash", base64Encode(teamPBKDF2("alice-pass", salt, 1000, 8))}, {"status", "active"}}});
    const LoginResult r = store.login("alice", "alice-pass");
    EXPECT_EQ(r.kind, LoginResult::Kind::bad);
    EXPECT_EQ(r.message, "账号数据损坏");
    EXPECT_EQ(refusalOf(store.changePassword("u1", "alice-pass", "new-pass")), "账号数据损坏");
}

TEST_F(TeamLogin, APasswordReplacedDuringTheSlowCheckIsCheckedAgain) {
    // A password of a million rounds keeps the login deriving while the administrator
    // replaces it. Had the login not taken its copy yet, it meets the new password, with the
    // same outcome; had it held the lock while deriving, the reset would wait and it would pass.
    const std::string salt = "0123456789abcdef";
    loadAccounts({{{"id", "u1"}, {"user", "slow"}, {"salt", base64Encode(salt)}, {"iter", 1000000},
                   {"hash", base64Encode(teamPBKDF2("slow-pass", salt, 1000000, 32))}, {"status", "active"}}});
    LoginResult result;
    std::thread login([&] { result = store.login("slow", "slow-pass"); });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const auto temporary = store.adminReset("u1");
    login.join();
    ASSERT_TRUE(temporary);
    EXPECT_EQ(result.kind, LoginResult::Kind::bad) << "the old password no longer opens the account";
    EXPECT_EQ(result.message, "用户名或密码不对");
    EXPECT_EQ(store.login("slow", *temporary).kind, LoginResult::Kind::ok);
}

TEST_F(TeamSessions, ALoginStoresASevenDaySessionThatLookupsNeverExtendAndLogoutEnds) {
    const std::string id = setUpTeamWithAlice();
    clock += 100;
    const LoginResult r = store.login("alice", "alice-pass");
    const LoginResult other = store.login("alice", "alice-pass");
    const double loginMillis = clock * 1000;
    ASSERT_EQ(r.kind, LoginResult::Kind::ok);
    EXPECT_EQ(r.token.size(), 48u);
    EXPECT_EQ(r.token.find_first_not_of("0123456789abcdef"), std::string::npos);
    EXPECT_EQ(r.user.id, id);
    EXPECT_EQ(r.user.lastLogin, loginMillis);
    const json session = readJSON("sessions.json")["sessions"][r.token];
    EXPECT_EQ(session["uid"], id);
    EXPECT_EQ(session["exp"], clock + 604800);
    EXPECT_EQ(readJSON("accounts.json")["users"][1]["lastLogin"], loginMillis);

    clock += 604799;
    EXPECT_TRUE(store.userForToken(r.token));
    EXPECT_EQ(store.user(id)->lastLogin, loginMillis) << "a lookup is no login";
    store.logout(other.token);
    EXPECT_FALSE(store.userForToken(other.token));
    EXPECT_TRUE(store.userForToken(r.token)) << "logout ends only that session";
    EXPECT_FALSE(readJSON("sessions.json")["sessions"].contains(other.token));
    clock += 1;
    EXPECT_FALSE(store.userForToken(r.token));
    EXPECT_TRUE(readJSON("sessions.json")["sessions"].contains(r.token)) << "a lookup writes nothing";
    store.logout("some-other-token");
    EXPECT_FALSE(readJSON("sessions.json")["sessions"].contains(r.token)) << "the next save drops it";
}

TEST_F(TeamSessions, AnAccountKeepsAtMostOneHundredLiveSessionsDroppingTheOldest) {
    // bob's password data is the key of "密码Secret1" made by Python's hashlib.
    json sessions = json::object();
    for (int i = 0; i < 100; ++i) {
        sessions["old-session-" + std::to_string(1000 + i)] = {{"uid", "u1"}, {"exp", clock + 1000 + i}};
    }
    sessions["other-user-session-1"] = {{"uid", "u2"}, {"exp", clock + 1}};
    writeTeamFile("sessions.json", json{{"sessions", sessions}}.dump());
    loadAccounts({{{"id", "u1"}, {"user", "bob"}, {"status", "active"}, {"salt", "AAECAwQFBgcICQoLDA0ODw=="},
                   {"hash", "BASZt+Z1P3tIRyC9Md4kocOEjPrEj1t1XIdz69CXOHs="}}});

    EXPECT_EQ(store.login("bob", "密码Secret2").message, "用户名或密码不对");
    const LoginResult r = store.login("bob", "密码Secret1");
    ASSERT_EQ(r.kind, LoginResult::Kind::ok);
    EXPECT_TRUE(store.userForToken(r.token));
    EXPECT_FALSE(store.userForToken("old-session-1000")) << "the oldest went";
    EXPECT_TRUE(store.userForToken("old-session-1001"));
    const json saved = readJSON("sessions.json")["sessions"];
    EXPECT_EQ(saved.size(), 101u) << "100 of bob's and the other account's one";
    EXPECT_TRUE(saved.contains("other-user-session-1"));
}

TEST(TeamSignInsTogether, EachOfTwentyIsOnDiskWhenItReturnsAndEditsMeanwhileEndOnDisk) {
    // Sign-ins at the same time save the account and session files together; none may
    // return before its own session is written, and edits made meanwhile by another
    // request end on disk, not an older copy of the accounts.
    constexpr int kSignIns = 20;
    Sandbox box;
    const PasswordRecord record = makePasswordRecord("same-pass");
    json users = json::array({{{"id", "u0"}, {"user", "admin"}, {"role", "admin"}, {"status", "active"}}});
    for (int k = 1; k <= kSignIns; ++k) {
        users.push_back({{"id", "u" + std::to_string(k)}, {"user", "member" + std::to_string(k)}, {"status", "active"},
                         {"salt", record.salt}, {"hash", record.hash}, {"iter", record.iter}});
    }
    writeFile(box.path() / "_team" / "accounts.json", json{{"users", users}}.dump());
    std::latch checking(kSignIns);
    TeamStore store([] { return 1700000000.0; }, [](const std::string&) {}, makePasswordRecord,
                    [&](const std::string& pass, const PasswordRecord& stored) {
                        checking.arrive_and_wait();  // all twenty reach the lock together
                        return checkPassword(pass, stored);
                    });
    store.bind(box.path());
    const auto onDisk = [&](const char* name) {
        return json::parse(readFile(box.path() / "_team" / name), nullptr, false);
    };

    std::mutex seenLock;
    std::vector<std::string> missing;
    std::vector<std::thread> threads;
    for (int k = 1; k <= kSignIns; ++k) {
        threads.emplace_back([&, k] {
            const LoginResult r = store.login("member" + std::to_string(k), "same-pass");
            const bool session = r.kind == LoginResult::Kind::ok && onDisk("sessions.json")["sessions"].contains(r.token);
            const bool stamped = onDisk("accounts.json")["users"][k]["lastLogin"] == 1700000000000.0;
            std::lock_guard hold(seenLock);
            if (!session || !stamped) {
                missing.push_back("member" + std::to_string(k) + (session ? "" : " without its session") +
                                  (stamped ? "" : " without its time") + " (" + r.message + ")");
            }
        });
    }
    std::atomic<bool> signedIn{false};
    std::string lastEmail;
    std::thread editor([&] {
        for (int n = 0; !signedIn || n < 3; ++n) {
            lastEmail = "seven-" + std::to_string(n) + "@example.com";
            EXPECT_TRUE(store.setEmail("u7", lastEmail).ok());
        }
    });
    for (auto& t : threads) t.join();
    signedIn = true;
    editor.join();
    EXPECT_EQ(missing, std::vector<std::string>{}) << "sign-ins that returned before their files were written";
    EXPECT_EQ(onDisk("accounts.json")["users"][7]["email"], lastEmail);
    EXPECT_EQ(onDisk("sessions.json")["sessions"].size(), size_t(kSignIns));
}

}  // namespace
}  // namespace corvane::test
