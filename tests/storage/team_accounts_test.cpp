// Creating the administrator, registration, approval, removal and passwords.

#include <algorithm>
#include <regex>
#include <thread>

#include <gtest/gtest.h>

#include "team_test_support.h"

namespace corvane::test {
namespace {

using TeamAdmin = TeamStoreTest;
using TeamRegistration = TeamStoreTest;
using TeamStatus = TeamStoreTest;
using TeamPasswordChange = TeamStoreTest;

TEST_F(TeamAdmin, AFreshFolderHasNoAdminUntilOneIsCreatedAndNeverASecond) {
    EXPECT_FALSE(store.hasAdmin());
    EXPECT_EQ(store.pendingCount(), 0);
    EXPECT_TRUE(store.allUsers().empty());
    EXPECT_EQ(store.teamName(), "");
    EXPECT_FALSE(std::filesystem::exists(teamDir())) << "binding writes nothing";

    const auto admin = store.createAdmin("Boss", "admin-pass", "Crew");
    ASSERT_TRUE(admin);
    EXPECT_EQ(admin->user, "admin");
    EXPECT_EQ(admin->role, "admin");
    EXPECT_EQ(admin->status, "active");
    EXPECT_TRUE(std::regex_match(admin->id, std::regex("u[0-9a-f]{12}"))) << admin->id;
    EXPECT_EQ(admin->approvedAt, clock * 1000);
    EXPECT_TRUE(store.hasAdmin());
    EXPECT_EQ(readJSON("accounts.json")["users"][0]["id"], admin->id);

    const std::string before = readFile(teamFile("accounts.json"));
    EXPECT_FALSE(store.createAdmin("Other", "other-pass", "Other team"));
    EXPECT_EQ(store.allUsers().size(), 1u);
    EXPECT_EQ(store.teamName(), "Crew");
    EXPECT_EQ(readFile(teamFile("accounts.json")), before) << "a second administrator changes nothing";
}

TEST_F(TeamRegistration, ChecksRunInOrderWithTheirOwnTexts) {
    struct Case {
        const char* what;
        std::string user, pass, email, message;
    };
    const auto check = [this](const std::vector<Case>& cases) {
        for (const auto& c : cases) {
            const TeamRegResult r = store.registerUser(c.user, "", c.pass, "", c.email);
            EXPECT_FALSE(r.ok) << c.what;
            EXPECT_EQ(r.message, c.message) << c.what;
        }
    };
    const std::string badName = "用户名 3-20 位，只能英文、数字、下划线";
    check({
        {"name of 2 characters", "ab", "x", "bad", badName},
        {"name of 21 characters", std::string(21, 'a'), "secret-1", "", badName},
        {"space inside the name", "al ice", "secret-1", "", badName},
        {"Chinese name", "张三丰", "secret-1", "", badName},
        {"line break inside", "ali\nce", "secret-1", "", badName},
        {"short password before bad address", "alice", "12345", "bad", "密码至少 6 位"},
        {"password of 5 Chinese characters", "alice", "一二三四五", "", "密码至少 6 位"},
        {"bad address", "alice", "secret-1", "alice@x", "邮箱格式不对"},
        {"no administrator yet, all else good", "  alice  ", "secret-1", " Alice@Example.com ",
         "中心设备还没启用团队空间"},
    });
    EXPECT_TRUE(store.allUsers().empty());

    setUpTeamWithAlice();
    check({
        {"admin", "admin", "secret-1", "", "这个用户名已被占用"},
        {"Admin", "Admin", "secret-1", "", "这个用户名已被占用"},
        {"ADMIN", "ADMIN", "secret-1", "", "这个用户名已被占用"},
        {"alice in capitals", " ALICE ", "secret-1", "", "这个用户名已被占用"},
        {"alice's address in capitals", "carol", "secret-1", "ALICE@example.com", "这个邮箱已经被别的账号绑定"},
    });
    EXPECT_EQ(store.allUsers().size(), 2u);
}

TEST_F(TeamRegistration, ANewAccountWaitsAsAPendingMember) {
    ASSERT_TRUE(store.createAdmin("Boss", "admin-pass", ""));
    clock += 5;
    std::string note, first80;
    for (int i = 0; i < 100; ++i) note += "字";
    for (int i = 0; i < 80; ++i) first80 += "字";
    const TeamRegResult r = store.registerUser("  Bob.Smith_1 ", "", " pass word ", note, " Bob@Example.COM ");
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_EQ(r.user.user, "Bob.Smith_1");
    EXPECT_EQ(r.user.name, "Bob.Smith_1") << "an empty display name becomes the user name";
    EXPECT_EQ(r.user.role, "member");
    EXPECT_EQ(r.user.status, "pending");
    EXPECT_EQ(r.user.email, "bob@example.com");
    EXPECT_EQ(r.user.note, first80) << "the first 80 characters";
    EXPECT_EQ(r.user.created, clock * 1000);
    EXPECT_EQ(r.user.approvedAt, 0);
    EXPECT_EQ(store.pendingCount(), 1);
    EXPECT_EQ(store.login("bob.smith_1", " pass word ").kind, LoginResult::Kind::pending)
        << "the password is kept untrimmed";
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
    for (const auto& r : results) {
        EXPECT_TRUE(r.ok || r.message == "这个用户名已被占用") << r.message;
    }
    EXPECT_EQ(std::count_if(results.begin(), results.end(), [](const TeamRegResult& r) { return r.ok; }), 1);
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

TEST_F(TeamStatus, RemovingDeletesAMembersAccountAndSessionsButTheAdministratorStaysActive) {
    const std::string id = setUpTeamWithAlice();
    const std::string admin = store.allUsers()[0].id;
    const LoginResult login = store.login("alice", "alice-pass");
    ASSERT_TRUE(store.removeUser(id));
    EXPECT_FALSE(store.user(id));
    EXPECT_FALSE(store.userForToken(login.token));
    EXPECT_EQ(readJSON("accounts.json")["users"].size(), 1u);
    EXPECT_TRUE(readJSON("sessions.json")["sessions"].empty());
    for (const char* status : {"blocked", "pending"}) EXPECT_FALSE(store.setStatus(admin, status)) << status;
    EXPECT_TRUE(store.setStatus(admin, "active"));
    EXPECT_FALSE(store.removeUser(admin));
    EXPECT_EQ(store.user(admin)->status, "active");
    EXPECT_FALSE(store.setStatus("u000000000000", "active"));
    EXPECT_FALSE(store.removeUser("u000000000000"));
}

TEST_F(TeamPasswordChange, TheOwnersChangeChecksInOrderAndKeepsSessions) {
    const std::string id = setUpTeamWithAlice();
    const LoginResult login = store.login("alice", "alice-pass");
    EXPECT_EQ(refusalOf(store.changePassword("nobody", "x", "12345")), "新密码至少 6 位");
    EXPECT_EQ(refusalOf(store.changePassword("nobody", "x", "new-pass")), "账号不存在");
    EXPECT_EQ(refusalOf(store.changePassword(id, "wrong-pass", "new-pass")), "原密码不对");
    EXPECT_EQ(refusalOf(store.changePassword(id, "alice-pass", "new-pass")), std::nullopt);
    EXPECT_EQ(store.login("alice", "alice-pass").message, "用户名或密码不对");
    EXPECT_TRUE(store.userForToken(login.token)) << "the owner's own change keeps sessions";
    reload();
    EXPECT_EQ(store.login("alice", "new-pass").kind, LoginResult::Kind::ok) << "saved";
}

TEST_F(TeamPasswordChange, ATemporaryPasswordIsQpAndEightUnambiguousCharactersAndEndsSessionsAndCodes) {
    const std::string id = setUpTeamWithAlice();
    const LoginResult login = store.login("alice", "alice-pass");
    ASSERT_TRUE(store.issueReset("alice"));
    const auto temporary = store.adminReset(id);
    ASSERT_TRUE(temporary);
    EXPECT_TRUE(std::regex_match(*temporary, std::regex("qp[A-HJ-NP-Z2-9]{8}"))) << *temporary;
    EXPECT_FALSE(store.userForToken(login.token));
    EXPECT_TRUE(readJSON("resets.json")["codes"].empty());
    EXPECT_EQ(store.login("alice", *temporary).kind, LoginResult::Kind::ok);
    EXPECT_FALSE(store.adminReset("nobody"));
}

}  // namespace
}  // namespace corvane::test
