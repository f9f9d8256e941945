// The team router's frame: the paths it claims, the session sources, the access levels,
// team information, logo, name and page, HEAD replies, oversized bodies and events.

#include <sys/socket.h>
#include <sys/stat.h>

#include <functional>
#include <optional>

#include "base/text_util.h"
#include "team_routes_fixture.h"

namespace corvane::test {
namespace {

using nlohmann::json;

TEST_F(TeamRouteTest, ClaimsTheTeamPathsAndLeavesTheOthers) {
    const std::string member = memberToken("amy");
    const struct { const char* method; const char* target; int without; int with; } cases[] = {
        {"GET", "/api/mailbox", 401, 404},       // a plain prefix: claimed
        {"GET", "/api/team/set", 401, 404},      // a path of a POST route, other method
        {"GET", "/api/auth/login", 401, 404},
        {"POST", "/api/auth/unknown", 401, 404},
        {"GET", "/api/mail/other", 401, 404},
        {"PUT", "/api/team/logo", 401, 404},
        {"GET", "/api/tf/other", 401, 404},      // no such team-file route
        {"PUT", "/api/tf/list", 401, 404},       // a team-file route, other method
        {"GET", "/api/fs", 200, 200},            // not claimed: the NAS file API answers
        {"GET", "/api/teamx", 404, 404},
        {"GET", "/api/info", 200, 200},
    };
    for (const auto& c : cases) {
        const RawReply anonymous = call(c.method, c.target);
        EXPECT_EQ(anonymous.status, c.without) << c.method << " " << c.target;
        if (c.without == 401) {
            EXPECT_EQ(parse(anonymous), json({{"error", "请先登录"}, {"needLogin", true}}));
        }
        EXPECT_EQ(as(member, c.method, c.target).status, c.with) << c.method << " " << c.target;
    }
    EXPECT_EQ(parse(as(member, "GET", "/api/mailbox")), json({{"error", "not found"}}));
    for (const char* folder : {"_team", "_shared", "_users"}) EXPECT_TRUE(std::filesystem::is_directory(root / folder));
}

TEST_F(TeamRouteTest, TeamModeOffAnswersTheHintWithoutTouchingTheStore) {
    controls->nasExt = false;
    for (const char* target : {"/api/team", "/", "/api/auth/me", "/api/mail"}) {
        const RawReply r = call("GET", target);
        EXPECT_EQ(r.status, 404) << target;
        EXPECT_EQ(parse(r)["error"], "拓展功能未开启") << target;
    }
}

TEST_F(TeamRouteTest, TheSessionComesFromCookieThenBearerThenQuery) {
    const std::string admin = adminToken();
    const std::string member = memberToken("amy");
    const auto who = [&](const std::map<std::string, std::string>& headers, const std::string& query = "") {
        const json reply = parse(call("GET", "/api/auth/me" + query, "", headers));
        return reply.contains("user") ? reply["user"]["name"].get<std::string>() : std::string("(none)");
    };
    EXPECT_EQ(who({{"Cookie", "a=1; qp_s= \t" + member + "\t ;b=2"}}), "amy");
    EXPECT_EQ(who({{"Cookie", "qp_s=" + member}, {"Authorization", "Bearer " + admin}}), "amy");  // the cookie wins
    EXPECT_EQ(who({{"Cookie", "x=1; qp_s=; y=2"}, {"Authorization", "Bearer " + admin}}), "(none)");  // empty wins too
    EXPECT_EQ(who({{"Cookie", "qp_sx=" + member}, {"Authorization", "bEaReR  " + admin}}), "Boss");
    EXPECT_EQ(who({{"Authorization", "Basic " + admin}}, "?t=" + member), "amy");
    EXPECT_EQ(who({}, "?t=" + member), "amy");
    EXPECT_EQ(who({}, "?t=" + member.substr(0, 15)), "(none)");
    EXPECT_EQ(who({}), "(none)");
}

TEST_F(TeamRouteTest, EachAccessLevelRefusesWithItsOwnReply) {
    const std::string member = memberToken("amy");
    const json needLogin{{"error", "未登录"}, {"needLogin", true}};
    const struct { const char* method; const char* path; json anonymous; int anonymousStatus; json asMember; int memberStatus; } cases[] = {
        {"GET", "/api/auth/me", needLogin, 401, json(), 200},
        {"GET", "/api/auth/users", {{"error", "未登录"}}, 401, {{"error", "只有管理员可以查看"}}, 403},
        {"POST", "/api/auth/pass", {{"error", "未登录"}}, 401, json(), 400},
        {"POST", "/api/auth/email", {{"error", "未登录"}}, 401, json(), 200},
        {"POST", "/api/team/logo", {{"error", "只有管理员能改团队 Logo"}}, 403, {{"error", "只有管理员能改团队 Logo"}}, 403},
        {"POST", "/api/team/set", {{"error", "只有管理员能改团队名称"}}, 403, {{"error", "只有管理员能改团队名称"}}, 403},
        {"POST", "/api/auth/approve", {{"error", "只有管理员可以审批"}}, 403, {{"error", "只有管理员可以审批"}}, 403},
        {"POST", "/api/auth/block", {{"error", "只有管理员可以操作"}}, 403, {{"error", "只有管理员可以操作"}}, 403},
        {"POST", "/api/auth/recover", {{"error", "只有管理员可以重置"}}, 403, {{"error", "只有管理员可以重置"}}, 403},
        {"GET", "/api/mail", {{"error", "只有管理员可以查看"}}, 403, {{"error", "只有管理员可以查看"}}, 403},
        {"POST", "/api/mail", {{"error", "只有管理员可以修改"}}, 403, {{"error", "只有管理员可以修改"}}, 403},
        {"POST", "/api/mail/test", {{"error", "只有管理员可以测试"}}, 403, {{"error", "只有管理员可以测试"}}, 403},
    };
    for (const auto& c : cases) {
        const RawReply anonymous = call(c.method, c.path, "{}");
        EXPECT_EQ(anonymous.status, c.anonymousStatus) << c.path;
        EXPECT_EQ(parse(anonymous), c.anonymous) << c.path;
        const RawReply asMember = as(member, c.method, c.path);
        EXPECT_EQ(asMember.status, c.memberStatus) << c.path;
        if (!c.asMember.is_null()) {
            EXPECT_EQ(parse(asMember), c.asMember) << c.path;
        }
    }
}

TEST_F(TeamRouteTest, TeamInfoTellsTheDefaultNameAndTheStorage) {
    const json info = parse(call("POST", "/api/team"));
    EXPECT_EQ(info["ok"], true);
    EXPECT_EQ(info["device"], "Desk");
    EXPECT_EQ(info["team"], "团队空间");
    EXPECT_EQ(info["hasAdmin"], false);
    EXPECT_EQ(info["hasLogo"], false);
    EXPECT_EQ(info["logoStamp"], 0);
    EXPECT_EQ(info["requireApproval"], true);
    EXPECT_GT(info["storage"]["total"].get<int64_t>(), 0);
    EXPECT_GE(info["storage"]["total"].get<int64_t>(), info["storage"]["free"].get<int64_t>());
    EXPECT_EQ(info.size(), 9u);
    adminToken();
    store->setTeamName("Sales");
    EXPECT_EQ(parse(call("GET", "/api/team"))["team"], "Sales");
    EXPECT_EQ(parse(call("GET", "/api/team"))["hasAdmin"], true);
}

std::string png(size_t size) {
    std::string bytes = "\x89PNG\r\n\x1a\n";
    bytes.resize(size, 'p');
    return bytes;
}

TEST_F(TeamRouteTest, TheLogoIsSetByTheAdministratorAndServedWithItsType) {
    const std::string admin = adminToken();
    EXPECT_EQ(call("GET", "/api/team/logo").status, 404);
    EXPECT_EQ(parse(call("GET", "/api/team/logo")), json({{"error", "no logo"}}));

    const auto post = [&](const std::string& bytes) {
        return call("POST", "/api/team/logo", bytes, {{"Cookie", "qp_s=" + admin}});
    };
    EXPECT_EQ(post(std::string(2000000, 'x')).status, 413);
    EXPECT_EQ(parse(post(std::string(2000000, 'x'))), json({{"error", "图片太大了（限 1.5MB）"}}));
    EXPECT_EQ(post(png(1600000)).status, 400);
    EXPECT_EQ(parse(post(png(1600000))), json({{"error", "图片太大了（限 1.5MB）"}}));
    EXPECT_EQ(parse(post("BM123456789012")), json({{"error", "只支持 PNG / JPG / GIF / WebP"}}));

    clearEvents();
    const RawReply saved = post(png(10000));
    EXPECT_EQ(saved.status, 200);
    EXPECT_EQ(parse(saved)["logoStamp"], store->logoStamp());
    EXPECT_EQ(events(), (std::vector<ServerEvent>{ServerEvent::log("团队 Logo 已更新"), ServerEvent::teamIdentity()}));

    RawClient c(server->port());
    ASSERT_TRUE(c.send("HEAD /api/team/logo HTTP/1.1\r\n\r\nGET /api/team/logo?v=1 HTTP/1.1\r\n\r\n"));
    const auto head = c.readReply(true);
    const auto get = c.readReply();
    ASSERT_TRUE(head && get);
    EXPECT_EQ(head->head, get->head);
    EXPECT_EQ(head->headers.at("content-type"), "image/png");
    EXPECT_EQ(head->headers.at("content-length"), "10000");
    EXPECT_EQ(head->headers.at("cache-control"), "no-cache");
    EXPECT_EQ(get->body, png(10000));

    const struct { std::string bytes; const char* type; } types[] = {
        {"\xFF\xD8\xFFjpeg", "image/jpeg"}, {"GIF89a-gif", "image/gif"}, {"RIFF1234WEBPVP8 x", "image/webp"},
    };
    for (const auto& t : types) {
        ASSERT_EQ(post(t.bytes).status, 200) << t.type;
        EXPECT_EQ(call("GET", "/api/team/logo").headers.at("content-type"), t.type);
    }
}

TEST_F(TeamRouteTest, TheTeamNameIsTrimmedAndCountedInCharacters) {
    const std::string admin = adminToken();
    std::string thirty;
    for (int k = 0; k < 30; ++k) thirty += "团";
    const struct { json body; int status; json reply; } cases[] = {
        {{{"name", "  "}}, 400, {{"error", "团队名称 1-30 个字"}}},
        {json::object(), 400, {{"error", "团队名称 1-30 个字"}}},
        {{{"name", thirty + "队"}}, 400, {{"error", "团队名称 1-30 个字"}}},
        {{{"name", thirty}}, 200, {{"ok", true}, {"team", thirty}}},
        {{{"name", " \n Sales \t"}}, 200, {{"ok", true}, {"team", "Sales"}}},
    };
    for (const auto& c : cases) {
        const RawReply r = as(admin, "POST", "/api/team/set", c.body);
        EXPECT_EQ(r.status, c.status) << c.body;
        EXPECT_EQ(parse(r), c.reply) << c.body;
    }
    EXPECT_EQ(store->teamName(), "Sales");
    const std::vector<ServerEvent> seen = events();
    ASSERT_GE(seen.size(), 2u);
    EXPECT_EQ(seen[seen.size() - 2], ServerEvent::log("团队名称改为「Sales」"));
}

TEST_F(TeamRouteTest, ChangesOfNameLogoAndMailOnThePageAreAnnouncedToTheApplication) {
    // The application's team panel refreshes on these events; a refusal changed nothing.
    const std::string admin = adminToken();
    const auto logo = [&](const std::string& bytes) {
        return call("POST", "/api/team/logo", bytes, {{"Cookie", "qp_s=" + admin}});
    };
    const json mail = {{"host", "smtp.example.com"}, {"user", "me@example.com"}, {"pass", "code"}};
    const struct {
        const char* what;
        std::function<RawReply()> change;
        std::optional<ServerEvent> announced;
    } cases[] = {
        {"name", [&] { return as(admin, "POST", "/api/team/set", {{"name", "Sales"}}); }, ServerEvent::teamIdentity()},
        {"blank name", [&] { return as(admin, "POST", "/api/team/set", {{"name", " "}}); }, std::nullopt},
        {"logo", [&] { return logo(png(1000)); }, ServerEvent::teamIdentity()},
        {"not an image", [&] { return logo("BM123456789012"); }, std::nullopt},
        {"mail saved", [&] { return as(admin, "POST", "/api/mail", mail); }, ServerEvent::teamMail()},
        {"mail with a bad sender", [&] { return as(admin, "POST", "/api/mail", {{"host", "h.example"}, {"user", "me"}}); },
         std::nullopt},
        {"mail cleared", [&] { return as(admin, "POST", "/api/mail", {{"clear", true}}); }, ServerEvent::teamMail()},
        {"member's name change", [&] { return call("POST", "/api/team/set", R"({"name":"X"})"); }, std::nullopt},
    };
    for (const auto& c : cases) {
        clearEvents();
        const RawReply r = c.change();
        EXPECT_EQ(r.status == 200, c.announced.has_value()) << c.what << ": " << r.status;
        std::vector<ServerEvent> team;
        for (const ServerEvent& e : events()) {
            if (e.kind != ServerEvent::Kind::log) team.push_back(e);
        }
        EXPECT_EQ(team, c.announced ? std::vector<ServerEvent>{*c.announced} : std::vector<ServerEvent>{}) << c.what;
    }
}

TEST_F(TeamRouteTest, ThePageIsTheSameDocumentOnItsFourPaths) {
    for (const char* path : {"/", "/web", "/login", "/team"}) {
        for (const char* method : {"GET", "POST"}) {
            const RawReply r = call(method, path);
            EXPECT_EQ(r.status, 200) << method << " " << path;
            EXPECT_EQ(r.headers.at("content-type"), "text/html; charset=utf-8");
            EXPECT_EQ(r.headers.at("cache-control"), "no-store");
            EXPECT_EQ(r.headers.at("referrer-policy"), "no-referrer");
            EXPECT_NE(r.body.find("<html lang=\"zh-CN\">"), std::string::npos);
            EXPECT_NE(r.body.find("<title>团队空间 · Corvane</title>"), std::string::npos);
        }
    }
}

TEST_F(TeamRouteTest, HeadGetsTheHeadOfGetAndTheConnectionGoesOn) {
    const std::string admin = adminToken();
    // Logout last: it ends the session.
    const char* targets[] = {"/api/team", "/", "/api/auth/me", "/api/auth/users", "/api/mail", "/api/team/set",
                             "/api/mailbox", "/api/team/logo", "/api/auth/logout"};
    for (const char* target : targets) {
        for (const std::string& cookie : {std::string(), "Cookie: qp_s=" + admin + "\r\n"}) {
            RawClient c(server->port());
            const std::string get = "GET " + std::string(target) + " HTTP/1.1\r\n" + cookie + "\r\n";
            const std::string head = "HEAD " + std::string(target) + " HTTP/1.1\r\n" + cookie + "\r\n";
            ASSERT_TRUE(c.send(get + head + "GET /api/info HTTP/1.1\r\n\r\n"));
            const auto first = c.readReply();
            const auto second = c.readReply(true);
            const auto third = c.readReply();
            ASSERT_TRUE(first && second && third) << target;
            // The same status line and headers (the session's cookie-clearing included).
            EXPECT_EQ(first->head, second->head) << target;
            EXPECT_EQ(third->status, 200) << target;
            EXPECT_EQ(parse(*third)["device"], "Desk") << target;
        }
    }
}

TEST_F(TeamRouteTest, OversizedBodiesAreRefusedBeforeTheyAreRead) {
    // A logo of 256 MiB announced and trickled once held the whole body budget.
    const std::string admin = adminToken();
    const struct {
        std::string path;
        int64_t length;
        std::string error;
    } cases[] = {
        {"/api/team/set", 1048576, "请求过大"},
        {"/api/mail", 1048576, "请求过大"},
        {"/api/mailbox", 1048576, "请求过大"},
        {"/team", 1048576, "请求过大"},
        {"/api/auth/login", 16384, "请求过大"},
        {"/api/auth/register", 16384, "请求过大"},
        {"/api/auth/reset", 16384, "请求过大"},
        {"/api/auth/forgot", 8192, "请求过大"},
        {"/api/team/logo", 2000000, "图片太大了（限 1.5MB）"},
        {"/api/team/logo", 268435455, "图片太大了（限 1.5MB）"},
    };
    for (const auto& [path, length, error] : cases) {
        RawClient c(server->port());
        ASSERT_TRUE(c.send("POST " + path + " HTTP/1.1\r\nCookie: qp_s=" + admin +
                           "\r\nContent-Length: " + std::to_string(length) + "\r\n\r\n"));
        const auto reply = c.readReply();
        ASSERT_TRUE(reply) << path;
        EXPECT_EQ(reply->status, 413) << path;
        EXPECT_EQ(parse(*reply), json({{"error", error}})) << path;
        EXPECT_TRUE(c.closedByServer()) << path;
    }
    // One byte less is read and handled.
    EXPECT_EQ(call("POST", "/api/mailbox", std::string(1048575, ' ')).status, 401);
}

TEST_F(TeamRouteTest, RefusalsOfTheHeadComeBeforeTheAnswerToAnOversizedBody) {
    // A member's 2 MB logo, a sign-in of another origin and a 20 KB sign-in with team
    // mode off were answered 413 instead of the refusals that come first on their routes.
    const std::string member = memberToken("amy");
    const std::string memberCookie = "Cookie: qp_s=" + member + "\r\n";
    const std::string otherOrigin = "Host: 127.0.0.1:8899\r\nOrigin: http://192.168.1.7:8899\r\n";
    const struct {
        bool teamMode;
        std::string method, path, headers;
        int64_t length;
        int status;
        json reply;
    } cases[] = {
        {true, "POST", "/api/team/logo", memberCookie, 2000000, 403, {{"error", "只有管理员能改团队 Logo"}}},
        {true, "POST", "/api/team/logo", "", 2000000, 403, {{"error", "只有管理员能改团队 Logo"}}},
        {true, "POST", "/api/team/set", memberCookie, 1048576, 403, {{"error", "只有管理员能改团队名称"}}},
        {true, "POST", "/api/mail", memberCookie, 1048576, 403, {{"error", "只有管理员可以修改"}}},
        {true, "GET", "/api/auth/users", memberCookie, 1048576, 403, {{"error", "只有管理员可以查看"}}},
        {true, "POST", "/api/auth/pass", "", 1048576, 401, {{"error", "未登录"}}},
        {true, "POST", "/api/tf/mkdir", "", 1048576, 401, {{"error", "请先登录"}, {"needLogin", true}}},
        {true, "POST", "/api/auth/login", otherOrigin, 20000, 403, {{"error", "跨设备访问需要令牌"}}},
        {true, "POST", "/api/auth/login", "", 20000, 413, {{"error", "请求过大"}}},
        {false, "POST", "/api/auth/login", "", 20000, 404,
         {{"error", "拓展功能未开启"}, {"hint", "本机没有开启「中央存储 / NAS」拓展，请在Corvane的 设置 → 拓展功能 里开启。"}}},
        {false, "POST", "/api/team/logo", memberCookie, 2000000, 404,
         {{"error", "拓展功能未开启"}, {"hint", "本机没有开启「中央存储 / NAS」拓展，请在Corvane的 设置 → 拓展功能 里开启。"}}},
    };
    for (const auto& c : cases) {
        controls->nasExt = c.teamMode;
        // Only the head is sent: each answer comes before any byte of the body.
        RawClient client(server->port());
        ASSERT_TRUE(client.send(c.method + " " + c.path + " HTTP/1.1\r\n" + c.headers +
                                "Content-Length: " + std::to_string(c.length) + "\r\n\r\n"));
        const auto reply = client.readReply();
        ASSERT_TRUE(reply) << c.path;
        EXPECT_EQ(reply->status, c.status) << c.path << " " << c.headers;
        EXPECT_EQ(parse(*reply), c.reply) << c.path << " " << c.headers;
        ::shutdown(client.fd(), SHUT_WR);
        EXPECT_TRUE(client.closedByServer()) << c.path;
    }
}

TEST_F(TeamRouteTest, AReplyThatCannotBeEncodedIs500Json) {
    const std::string admin = adminToken();
    store->setTeamName("bad \xff name");
    const RawReply r = as(admin, "GET", "/api/auth/me");
    EXPECT_EQ(r.status, 500);
    EXPECT_EQ(r.body, R"({"error":"json"})");
}

}  // namespace
}  // namespace corvane::test
