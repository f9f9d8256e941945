// Creating the administrator, registration, approval, removal, passwords and addresses.

#include <thread>

#include <gtest/gtest.h>

#include "team_test_support.h"

using nlohmann::json;

namespace corvane::test {
namespace {

using TeamAdmin = TeamStoreTest;
using TeamRegistration = TeamStoreTest;
using TeamStatus = TeamStoreTest;
using TeamPasswordChange = TeamStoreTest;
using TeamEmail = TeamStoreTest;
using TeamTemporaryPassword = TeamStoreTest;

TEST_F(TeamAdmin, CreatesAnActiveAdministratorNamedAdmin) {
    const auto admin = store.createAdmin("Boss", "admin-pass", "Crew");
    ASSERT_TRUE(admin);
    EXPECT_EQ(admin->user, "admin");
    EXPECT_EQ(admin->name, "Boss");
    EXPECT_EQ(admin->role, "admin");
    EXPECT_EQ(admin->status, "active");
    EXPECT_EQ(admin->iter, 120000);
    EXPECT_EQ(admin->id.size(), 13u);
    EXPECT_EQ(admin->id[0], 'u');
    EXPECT_EQ(admin->id.find_first_not_of("0123456789abcdef", 1), std::string::npos) << admin->id;
    EXPECT_EQ(admin->created, clock * 1000);
    EXPECT_EQ(admin->approvedAt, clock * 1000);
    EXPECT_EQ(admin->lastLogin, 0);
    EXPECT_EQ(store.teamName(), "Crew");
    EXPECT_TRUE(store.hasAdmin());
    EXPECT_EQ(readJSON("accounts.json")["users"][0]["id"], admin->id);
}

TEST_F(TeamAdmin, ASecondAdministratorIsRefusedAndNothingChanges) {
    ASSERT_TRUE(store.createAdmin("Boss", "admin-pass", "Crew"));
    const std::string before = readFile(teamFile("accounts.json"));
    EXPECT_FALSE(store.createAdmin("Other", "other-pass", "Other team"));
    EXPECT_EQ(store.allUsers().size(), 1u);
    EXPECT_EQ(store.teamName(), "Crew");
    EXPECT_EQ(readFile(teamFile("accounts.json")), before);
}

TEST_F(TeamAdmin, DefaultsForDisplayNameAndTeamName) {
    struct Case {
        std::string name, team, storedTeam, wantName, wantTeam;
    };
    const std::vector<Case> cases = {
        {"", "", "", "群主", " 的团队"},
        {"Boss", "", "", "Boss", "Boss 的团队"},
        {"Boss", "", "Kept", "Boss", "Kept"},
        {"Boss", "Given", "Kept", "Boss", "Given"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name + "/" + c.team + "/" + c.storedTeam);
        Sandbox root;
        TeamStore fresh([] { return 1.0; }, [](const std::string&) {});
        fresh.bind(root.path());
        if (!c.storedTeam.empty()) fresh.setTeamName(c.storedTeam);
        const auto admin = fresh.createAdmin(c.name, "pw-123456", c.team);
        ASSERT_TRUE(admin);
        EXPECT_EQ(admin->name, c.wantName);
        EXPECT_EQ(fresh.teamName(), c.wantTeam);
    }
}

TEST_F(TeamRegistration, ChecksRunInOrderWithTheirOwnTexts) {
    struct Case {
        const char* what;
        std::string user, pass, email;
        std::string message;
    };
    const std::vector<Case> cases = {
        {"name of 2 characters", "ab", "x", "bad", "用户名 3-20 位，只能英文、数字、下划线"},
        {"name of 21 characters", std::string(21, 'a'), "secret-1", "", "用户名 3-20 位，只能英文、数字、下划线"},
        {"space inside the name", "al ice", "secret-1", "", "用户名 3-20 位，只能英文、数字、下划线"},
        {"Chinese name", "张三丰", "secret-1", "", "用户名 3-20 位，只能英文、数字、下划线"},
        {"line break inside", "ali\nce", "secret-1", "", "用户名 3-20 位，只能英文、数字、下划线"},
        {"short password before bad address", "alice", "12345", "bad", "密码至少 6 位"},
        {"password of 5 Chinese characters", "alice", "一二三四五", "", "密码至少 6 位"},
        {"bad address", "alice", "secret-1", "alice@x", "邮箱格式不对"},
        {"no administrator yet, all else good", "  alice  ", "secret-1", " Alice@Example.com ",
         "中心设备还没启用团队空间"},
    };
    for (const auto& c : cases) {
        const TeamRegResult r = store.registerUser(c.user, "", c.pass, "", c.email);
        EXPECT_FALSE(r.ok) << c.what;
        EXPECT_EQ(r.message, c.message) << c.what;
    }
    EXPECT_TRUE(store.allUsers().empty());
}

TEST_F(TeamRegistration, NamesAndAddressesAreTakenRegardlessOfCase) {
    setUpTeamWithAlice();
    struct Case {
        std::string user, email, message;
    };
    const std::vector<Case> cases = {
        {"admin", "", "这个用户名已被占用"},
        {"Admin", "", "这个用户名已被占用"},
        {"ADMIN", "", "这个用户名已被占用"},
        {" ALICE ", "", "这个用户名已被占用"},
        {"carol", "ALICE@example.com", "这个邮箱已经被别的账号绑定"},
    };
    for (const auto& c : cases) {
        const TeamRegResult r = store.registerUser(c.user, "", "secret-1", "", c.email);
        EXPECT_FALSE(r.ok) << c.user;
        EXPECT_EQ(r.message, c.message) << c.user;
    }
    EXPECT_EQ(store.allUsers().size(), 2u);
}

TEST_F(TeamRegistration, ANewAccountWaitsAsAPendingMember) {
    ASSERT_TRUE(store.createAdmin("Boss", "admin-pass", ""));
    clock += 5;
    const std::string note(100, 'n');
    const TeamRegResult r = store.registerUser("  Bob.Smith_1 ", "", " pass word ", note, " Bob@Example.COM ");
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_EQ(r.user.user, "Bob.Smith_1");
    EXPECT_EQ(r.user.name, "Bob.Smith_1") << "an empty display name becomes the user name";
    EXPECT_EQ(r.user.role, "member");
    EXPECT_EQ(r.user.status, "pending");
    EXPECT_EQ(r.user.email, "bob@example.com");
    EXPECT_EQ(r.user.note, std::string(80, 'n'));
    EXPECT_EQ(r.user.created, clock * 1000);
    EXPECT_EQ(r.user.approvedAt, 0);
    EXPECT_EQ(store.pendingCount(), 1);
    EXPECT_EQ(store.login("bob.smith_1", " pass word ").kind, LoginResult::Kind::pending)
        << "the password is kept untrimmed";
    const auto stored = readJSON("accounts.json")["users"];
    ASSERT_EQ(stored.size(), 2u);
    EXPECT_EQ(stored[1]["user"], "Bob.Smith_1");
}

TEST_F(TeamRegistration, KeepsTheFirst80CharactersOfANoteAndTrimsTheDisplayName) {
    ASSERT_TRUE(store.createAdmin("Boss", "admin-pass", ""));
    std::string note;
    for (int i = 0; i < 100; ++i) note += "字";
    const TeamRegResult r = store.registerUser("carol", "\t卡罗尔 \n", "secret-1", note, "");
    ASSERT_TRUE(r.ok) << r.message;
    std::string want;
    for (int i = 0; i < 80; ++i) want += "字";
    EXPECT_EQ(r.user.note, want);
    EXPECT_EQ(r.user.name, "卡罗尔");
    EXPECT_EQ(r.user.email, "");
}

TEST_F(TeamRegistration, TwoRegistrationsOfOneNameAtOnceGiveExactlyOneAccount) {
    ASSERT_TRUE(store.createAdmin("Boss", "admin-pass", ""));
    std::vector<TeamRegResult> results(4);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < results.size(); ++i) {
        threads.emplace_back([&, i] {
            results[i] = store.registerUser(i % 2 ? "dave" : "DAVE", "", "secret-" + std::to_string(i), "", "");
        });
    }
    for (auto& t : threads) t.join();
    int created = 0;
    for (const auto& r : results) {
        if (r.ok) {
            ++created;
        } else {
            EXPECT_EQ(r.message, "这个用户名已被占用");
        }
    }
    EXPECT_EQ(created, 1);
    EXPECT_EQ(store.allUsers().size(), 2u);
    reload();
    EXPECT_EQ(store.allUsers().size(), 2u) << "the file holds the same";
}

TEST_F(TeamStatus, BlockingEndsEverySessionAndRestoringKeepsTheFirstApproval) {
    const std::string id = setUpTeamWithAlice();
    const double approvedAt = store.user(id)->approvedAt;
    EXPECT_EQ(approvedAt, clock * 1000);
    const LoginResult first = store.login("alice", "alice-pass");
    const LoginResult second = store.login("alice", "alice-pass");
    ASSERT_TRUE(store.userForToken(first.token) && store.userForToken(second.token));

    ASSERT_TRUE(store.setStatus(id, "blocked"));
    EXPECT_FALSE(store.userForToken(first.token));
    EXPECT_FALSE(store.userForToken(second.token));
    EXPECT_TRUE(readJSON("sessions.json")["sessions"].empty());
    EXPECT_EQ(store.login("alice", "alice-pass").message, "这个账号已被停用");

    clock += 3600;
    ASSERT_TRUE(store.setStatus(id, "active"));
    EXPECT_EQ(store.user(id)->approvedAt, approvedAt);
    EXPECT_FALSE(store.userForToken(first.token)) << "ended sessions stay ended";
    EXPECT_EQ(store.login("alice", "alice-pass").kind, LoginResult::Kind::ok);
}

TEST_F(TeamStatus, TheAdministratorCanOnlyBeActiveAndCannotBeRemoved) {
    const auto admin = store.createAdmin("Boss", "admin-pass", "");
    ASSERT_TRUE(admin);
    EXPECT_FALSE(store.setStatus(admin->id, "blocked"));
    EXPECT_FALSE(store.setStatus(admin->id, "pending"));
    EXPECT_TRUE(store.setStatus(admin->id, "active"));
    EXPECT_FALSE(store.removeUser(admin->id));
    EXPECT_EQ(store.user(admin->id)->status, "active");
    EXPECT_FALSE(store.setStatus("u000000000000", "active"));
    EXPECT_FALSE(store.removeUser("u000000000000"));
}

TEST_F(TeamStatus, RemovingAMemberDeletesTheAccountAndItsSessions) {
    const std::string id = setUpTeamWithAlice();
    const LoginResult login = store.login("alice", "alice-pass");
    ASSERT_TRUE(store.removeUser(id));
    EXPECT_FALSE(store.user(id));
    EXPECT_FALSE(store.userForToken(login.token));
    EXPECT_EQ(readJSON("accounts.json")["users"].size(), 1u);
    EXPECT_TRUE(readJSON("sessions.json")["sessions"].empty());
}

TEST_F(TeamPasswordChange, ChecksInOrderAndKeepsSessions) {
    const std::string id = setUpTeamWithAlice();
    const LoginResult login = store.login("alice", "alice-pass");
    EXPECT_EQ(store.changePassword("nobody", "x", "12345"), "新密码至少 6 位");
    EXPECT_EQ(store.changePassword("nobody", "x", "new-pass"), "账号不存在");
    EXPECT_EQ(store.changePassword(id, "wrong-pass", "new-pass"), "原密码不对");
    EXPECT_EQ(store.changePassword(id, "alice-pass", "new-pass"), std::nullopt);
    EXPECT_EQ(store.login("alice", "alice-pass").message, "用户名或密码不对");
    EXPECT_EQ(store.login("alice", "new-pass").kind, LoginResult::Kind::ok);
    EXPECT_TRUE(store.userForToken(login.token)) << "the owner's own change keeps sessions";
    reload();
    EXPECT_EQ(store.login("alice", "new-pass").kind, LoginResult::Kind::ok) << "saved";
}

TEST_F(TeamPasswordChange, ADamagedAccountSaysSo) {
    const std::string id = setUpTeamWithAlice();
    {
        std::lock_guard hold(store.lock());
        store.usersLocked()[1].salt = "%%%";
    }
    EXPECT_EQ(store.changePassword(id, "alice-pass", "new-pass"), "账号数据损坏");
}

TEST_F(TeamEmail, BindsTrimmedLowerCaseAddressesOnlyOnce) {
    const std::string id = setUpTeamWithAlice();
    const std::string admin = store.allUsers()[0].id;
    EXPECT_EQ(store.setEmail(id, "not-an-address"), "邮箱格式不对");
    EXPECT_EQ(store.setEmail("nobody", "x@y.cn"), "账号不存在");
    EXPECT_EQ(store.setEmail(admin, " ALICE@example.com "), "这个邮箱已经被别的账号绑定");
    EXPECT_EQ(store.setEmail(id, " ALICE@Example.com\n"), std::nullopt) << "the owner may bind its own again";
    EXPECT_EQ(store.setEmail(admin, " Boss@Example.COM "), std::nullopt);
    EXPECT_EQ(store.user(admin)->email, "boss@example.com");
    EXPECT_EQ(store.setEmail(id, "  "), std::nullopt);
    EXPECT_EQ(store.user(id)->email, "") << "an empty address unbinds";
    EXPECT_EQ(readJSON("accounts.json")["users"][0]["email"], "boss@example.com");
}

TEST_F(TeamTemporaryPassword, IsQpAndEightUnambiguousCharactersAndEndsSessionsAndCodes) {
    const std::string id = setUpTeamWithAlice();
    const LoginResult login = store.login("alice", "alice-pass");
    ASSERT_TRUE(store.issueReset("alice"));
    const auto temporary = store.adminReset(id);
    ASSERT_TRUE(temporary);
    EXPECT_EQ(temporary->size(), 10u);
    EXPECT_EQ(temporary->substr(0, 2), "qp");
    EXPECT_EQ(temporary->find_first_not_of("ABCDEFGHJKLMNPQRSTUVWXYZ23456789", 2), std::string::npos) << *temporary;
    EXPECT_FALSE(store.userForToken(login.token));
    EXPECT_TRUE(readJSON("resets.json")["codes"].empty());
    EXPECT_EQ(store.user(id)->status, "active");
    EXPECT_EQ(store.login("alice", *temporary).kind, LoginResult::Kind::ok);
    EXPECT_FALSE(store.adminReset("nobody"));
}

}  // namespace
}  // namespace corvane::test
