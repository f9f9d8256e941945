// The account routes: registration, sign-in and its cookie, sign-out, approval,
// blocking, password and address changes, temporary passwords, and the limits on
// failed sign-ins and registrations.

#include "team_routes_fixture.h"

namespace corvane::test {
namespace {

using nlohmann::json;

json registration(const std::string& user) {
    return {{"user", user}, {"name", "Name " + user}, {"pass", user + "-pass"}, {"note", ""}, {"email", ""}};
}

TEST_F(TeamRouteTest, RegistrationWaitsForTheFirstAdministratorAndForApproval) {
    EXPECT_EQ(parse(call("POST", "/api/auth/register", registration("amy").dump())),
              json({{"error", "中心设备还没启用团队空间"}}));
    const std::string admin = adminToken();
    clearEvents();
    const RawReply r = call("POST", "/api/auth/register", registration("amy").dump());
    EXPECT_EQ(r.status, 200);
    const std::string id = parse(r)["id"];
    EXPECT_EQ(parse(r), json({{"ok", true}, {"status", "pending"}, {"id", id}}));
    EXPECT_EQ(events(), (std::vector<ServerEvent>{ServerEvent::log("新的加入申请：Name amy(@amy)"), ServerEvent::teamPending(),
                                                  ServerEvent::teamAccounts()}));
    EXPECT_EQ(parse(call("POST", "/api/auth/register", registration("AMY").dump())), json({{"error", "这个用户名已被占用"}}));

    // Pending with the right password: no session.
    const RawReply pending = call("POST", "/api/auth/login", R"({"user":"amy","pass":"amy-pass"})");
    EXPECT_EQ(pending.status, 200);
    EXPECT_EQ(parse(pending)["ok"], false);
    EXPECT_EQ(parse(pending)["status"], "pending");
    EXPECT_EQ(parse(pending)["user"]["id"], id);
    EXPECT_FALSE(pending.headers.count("set-cookie"));

    clearEvents();
    EXPECT_EQ(parse(as(admin, "POST", "/api/auth/approve", {{"id", id}, {"allow", "1"}})),
              json({{"ok", true}, {"status", "active"}}));
    EXPECT_EQ(events(), (std::vector<ServerEvent>{ServerEvent::log("已通过 Name amy 的加入申请"), ServerEvent::teamPending(),
                                                  ServerEvent::teamAccounts()}));

    const RawReply in = call("POST", "/api/auth/login", R"({"user":" AMY ","pass":"amy-pass"})");
    EXPECT_EQ(in.status, 200);
    EXPECT_EQ(parse(in)["ok"], true);
    EXPECT_FALSE(parse(in)["user"].contains("hash"));
    const std::string cookie = in.headers.at("set-cookie");
    ASSERT_EQ(cookie.size(), 5 + 48 + std::string("; Path=/; Max-Age=604800; HttpOnly; SameSite=Lax").size());
    EXPECT_TRUE(cookie.starts_with("qp_s="));
    EXPECT_TRUE(cookie.ends_with("; Path=/; Max-Age=604800; HttpOnly; SameSite=Lax"));
    EXPECT_EQ(in.body.find(cookie.substr(5, 48)), std::string::npos) << "the token never in the body";
    const std::string token = cookie.substr(5, 48);
    store->setTeamName("");
    const json me = parse(as(token, "GET", "/api/auth/me"));
    EXPECT_EQ(me["user"]["user"], "amy");
    EXPECT_EQ(me["team"], "");  // no default here, unlike /api/team
    EXPECT_EQ(me["device"], "Desk");

    const RawReply out = as(token, "GET", "/api/auth/logout");
    EXPECT_EQ(parse(out), json({{"ok", true}}));
    EXPECT_EQ(out.headers.at("set-cookie"), "qp_s=; Path=/; Max-Age=0; HttpOnly; SameSite=Lax");
    EXPECT_EQ(as(token, "GET", "/api/auth/me").status, 401);
    EXPECT_EQ(call("POST", "/api/auth/logout").headers.at("set-cookie"), "qp_s=; Path=/; Max-Age=0; HttpOnly; SameSite=Lax");
}

TEST_F(TeamRouteTest, RegisterAndLoginRefuseBodiesOf16KiB) {
    adminToken();
    for (const char* path : {"/api/auth/register", "/api/auth/login"}) {
        EXPECT_EQ(call("POST", path, std::string(16384, ' ')).status, 413) << path;
        EXPECT_EQ(parse(call("POST", path, std::string(16384, ' '))), json({{"error", "请求过大"}}));
    }
    std::string body = registration("bob").dump();
    body.insert(body.size() - 1, std::string(16383 - body.size(), ' '));
    ASSERT_EQ(body.size(), 16383u);
    EXPECT_EQ(call("POST", "/api/auth/register", body).status, 200);
}

TEST_F(TeamRouteTest, TheAdministratorRejectsBlocksAndResetsMembers) {
    const std::string admin = adminToken();
    const std::string amy = memberToken("amy");
    const std::string amyID = parse(as(amy, "GET", "/api/auth/me"))["user"]["id"];
    const std::string bossID = parse(as(admin, "GET", "/api/auth/me"))["user"]["id"];

    const json users = parse(as(admin, "GET", "/api/auth/users"));
    ASSERT_EQ(users["users"].size(), 2u);
    EXPECT_EQ(users["users"][0]["user"], "admin");
    EXPECT_FALSE(users["users"][1].contains("salt"));

    const struct { const char* path; json body; int status; json reply; } cases[] = {
        {"/api/auth/block", {{"id", "u000000000000"}}, 400, {{"error", "不能停用管理员"}}},
        {"/api/auth/block", {{"id", ""}}, 400, {{"error", "不能停用管理员"}}},
        {"/api/auth/block", {{"id", bossID}}, 400, {{"error", "不能停用管理员"}}},
        {"/api/auth/block", {{"id", amyID}}, 200, {{"ok", true}, {"status", "blocked"}}},
        {"/api/auth/block", {{"id", amyID}}, 200, {{"ok", true}, {"status", "active"}}},
        {"/api/auth/approve", {{"id", "nobody"}, {"allow", true}}, 404, {{"error", "找不到这个申请"}}},
        {"/api/auth/approve", {{"id", bossID}, {"allow", false}}, 200, {{"ok", true}, {"status", "removed"}}},
        {"/api/auth/recover", {{"id", "nobody"}}, 404, {{"error", "找不到这个成员"}}},
    };
    for (const auto& c : cases) {
        const RawReply r = as(admin, "POST", c.path, c.body);
        EXPECT_EQ(r.status, c.status) << c.path << " " << c.body;
        EXPECT_EQ(parse(r), c.reply) << c.path << " " << c.body;
    }
    EXPECT_TRUE(store->user(bossID)) << "an administrator is never removed";

    clearEvents();
    const json temp = parse(as(admin, "POST", "/api/auth/recover", {{"id", amyID}}));
    EXPECT_EQ(temp["msg"], "临时密码只显示这一次，请当面或电话告诉对方");
    EXPECT_EQ(temp["temp"].get<std::string>().size(), 10u);
    EXPECT_EQ(events(), std::vector<ServerEvent>{ServerEvent::log("管理员重置了 amy 的密码")});
    EXPECT_EQ(as(amy, "GET", "/api/auth/me").status, 401) << "its sessions ended";
    EXPECT_EQ(call("POST", "/api/auth/login", json({{"user", "amy"}, {"pass", temp["temp"]}}).dump()).status, 200);

    clearEvents();
    EXPECT_EQ(parse(as(admin, "POST", "/api/auth/approve", {{"id", amyID}})), json({{"ok", true}, {"status", "removed"}}));
    EXPECT_EQ(events(), (std::vector<ServerEvent>{ServerEvent::log("已拒绝 amy 的加入申请"), ServerEvent::teamPending(),
                                                  ServerEvent::teamAccounts()}));
    EXPECT_FALSE(store->user(amyID));
}

TEST_F(TeamRouteTest, MembersChangeTheirOwnPasswordAndAddress) {
    const std::string admin = adminToken();
    const std::string amy = memberToken("amy");
    const std::string bob = memberToken("bob");
    const std::string bobID = parse(as(bob, "GET", "/api/auth/me"))["user"]["id"];

    EXPECT_EQ(as(amy, "POST", "/api/auth/pass", {{"old", "wrong-pass"}, {"new", "newer-pass"}}).status, 400);
    EXPECT_EQ(parse(as(amy, "POST", "/api/auth/pass", {{"old", "amy-pass"}, {"new", "newer-pass"}})), json({{"ok", true}}));
    EXPECT_EQ(store->login("amy", "newer-pass").kind, LoginResult::Kind::ok);

    EXPECT_EQ(parse(as(amy, "POST", "/api/auth/email", {{"id", bobID}, {"email", "x@example.com"}})),
              json({{"error", "只有管理员可以改别人的邮箱"}}));
    EXPECT_EQ(parse(as(amy, "POST", "/api/auth/email", {{"email", "Amy@Example.com"}})), json({{"ok", true}}));
    EXPECT_EQ(parse(as(amy, "GET", "/api/auth/me"))["user"]["email"], "am***@example.com");
    EXPECT_EQ(as(amy, "POST", "/api/auth/email", {{"email", "not-an-address"}}).status, 400);
    EXPECT_EQ(parse(as(admin, "POST", "/api/auth/email", {{"id", bobID}, {"email", "bob@example.com"}})), json({{"ok", true}}));
    EXPECT_EQ(store->user(bobID)->email, "bob@example.com");
}

TEST_F(TeamRouteTest, EveryChangeOfTheAccountsIsAnnouncedAndNothingElseIs) {
    // The team panel redraws its members from these announcements while it is open.
    const std::string admin = adminToken();
    const std::string amy = memberToken("amy");
    const std::string amyID = parse(as(amy, "GET", "/api/auth/me"))["user"]["id"];
    const std::string bossID = parse(as(admin, "GET", "/api/auth/me"))["user"]["id"];
    const std::string bobID = parse(call("POST", "/api/auth/register", registration("bob").dump()))["id"];
    const std::string carolID = parse(call("POST", "/api/auth/register", registration("carol").dump()))["id"];

    const struct { const char* what; std::string token; const char* path; json body; int status; bool announced; } cases[] = {
        {"register", "", "/api/auth/register", registration("dan"), 200, true},
        {"approve", admin, "/api/auth/approve", {{"id", bobID}, {"allow", true}}, 200, true},
        {"reject", admin, "/api/auth/approve", {{"id", carolID}, {"allow", false}}, 200, true},
        {"own address", amy, "/api/auth/email", {{"email", "amy@example.com"}}, 200, true},
        {"another's address", admin, "/api/auth/email", {{"id", amyID}, {"email", "amy2@example.com"}}, 200, true},
        {"refused address", amy, "/api/auth/email", {{"email", "not-an-address"}}, 400, false},
        {"own password", amy, "/api/auth/pass", {{"old", "amy-pass"}, {"new", "newer-pass"}}, 200, false},
        {"sign-in", "", "/api/auth/login", {{"user", "amy"}, {"pass", "newer-pass"}}, 200, false},
        {"block", admin, "/api/auth/block", {{"id", amyID}}, 200, true},
        {"restore", admin, "/api/auth/block", {{"id", amyID}}, 200, true},
        {"refused block", admin, "/api/auth/block", {{"id", bossID}}, 400, false},
        {"refused registration", "", "/api/auth/register", registration("dan"), 400, false},
    };
    for (const auto& c : cases) {
        clearEvents();
        const RawReply reply = c.token.empty() ? call("POST", c.path, c.body.dump()) : as(c.token, "POST", c.path, c.body);
        EXPECT_EQ(reply.status, c.status) << c.what;
        const std::vector<ServerEvent> seen = events();
        EXPECT_EQ(std::count(seen.begin(), seen.end(), ServerEvent::teamAccounts()), c.announced ? 1 : 0) << c.what;
    }
}

TEST_F(TeamRouteTest, FailedSignInsAreLimitedPerAddressAndName) {
    adminToken();
    memberToken("amy");
    const auto login = [&](const std::string& user, const std::string& pass) {
        return call("POST", "/api/auth/login", json({{"user", user}, {"pass", pass}}).dump());
    };
    // Successes never count.
    for (int k = 0; k < 25; ++k) ASSERT_EQ(login("amy", "amy-pass").status, 200);
    for (int k = 0; k < 20; ++k) {
        // Case and blanks make no new key.
        ASSERT_EQ(login(k % 2 ? " AMY " : "amy", "wrong").status, 401) << k;
    }
    const RawReply limited = login("amy", "amy-pass");
    EXPECT_EQ(limited.status, 429);
    EXPECT_EQ(limited.statusLine, "HTTP/1.1 429 Too Many Requests");
    EXPECT_EQ(parse(limited), json({{"error", "尝试次数过多，过一会儿再试"}}));
    EXPECT_EQ(login("admin", "boss-pass").status, 200) << "another name";
    // Another address.
    const auto other = httpRequestFrom("127.0.0.2", server->port(), "POST", "/api/auth/login",
                                       json({{"user", "amy"}, {"pass", "amy-pass"}}).dump());
    ASSERT_TRUE(other);
    EXPECT_EQ(other->status, 200);
    advance(899);
    EXPECT_EQ(login("amy", "amy-pass").status, 429);
    advance(1);
    EXPECT_EQ(login("amy", "amy-pass").status, 200);
}

TEST_F(TeamRouteTest, FailedSignInsWithAnyNamesAreLimitedPerAddress) {
    // Made-up names, each a new key, kept the processor busy with a derivation apiece.
    adminToken();
    const auto login = [&](const std::string& user) {
        return call("POST", "/api/auth/login", json({{"user", user}, {"pass", "wrong"}}).dump());
    };
    for (int k = 0; k < 100; ++k) ASSERT_EQ(login("made-up-" + std::to_string(k)).status, 401) << k;
    const RawReply limited = login("made-up-100");
    EXPECT_EQ(limited.status, 429);
    EXPECT_EQ(parse(limited), json({{"error", "尝试次数过多，过一会儿再试"}}));
    const auto other = httpRequestFrom("127.0.0.2", server->port(), "POST", "/api/auth/login",
                                       json({{"user", "made-up-100"}, {"pass", "wrong"}}).dump());
    ASSERT_TRUE(other);
    EXPECT_EQ(other->status, 401);
    EXPECT_EQ(parse(*other), json({{"error", "用户名或密码不对"}}));
    advance(900);
    EXPECT_EQ(login("made-up-100").status, 401) << "the window has passed";
}

TEST_F(TeamRouteTest, RegistrationsAreLimitedPerAddress) {
    adminToken();
    EXPECT_EQ(call("POST", "/api/auth/register", std::string(16384, ' ')).status, 413);  // not counted
    for (int k = 0; k < 30; ++k) {
        // Refused registrations count too.
        ASSERT_EQ(call("POST", "/api/auth/register", registration(k < 3 ? "user" + std::to_string(k) : "x").dump()).status,
                  k < 3 ? 200 : 400) << k;
    }
    const RawReply limited = call("POST", "/api/auth/register", registration("late").dump());
    EXPECT_EQ(limited.status, 429);
    EXPECT_EQ(parse(limited), json({{"error", "操作太频繁，过一会儿再试"}}));
    advance(3600);
    EXPECT_EQ(call("POST", "/api/auth/register", registration("late").dump()).status, 200);
}

}  // namespace
}  // namespace corvane::test
