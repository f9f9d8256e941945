// The route table's dispatch: the team-mode gate, the WebDAV hand-off, the team
// routes, the NAS file API and the final 404.

#include "engine/routes_fixture.h"

namespace corvane::test {
namespace {

using RoutesTable = RouteTest;

const nlohmann::json kTeamModeOff{
    {"error", "拓展功能未开启"},
    {"hint", "本机没有开启「中央存储 / NAS」拓展，请在Corvane的 设置 → 拓展功能 里开启。"},
};

struct Req { const char *method, *target; };

TEST_F(RoutesTable, TeamModeOffRefusesTeamPathsWithAHint) {
    const Req cases[] = {
        {"GET", "/"},           {"GET", "/web"},         {"POST", "/login"},        {"GET", "/team"},
        {"GET", "/dav"},        {"PUT", "/dav/x"},       {"PROPFIND", "/davx"},     {"GET", "/api/team"},
        {"GET", "/api/teams"},  {"POST", "/api/auth/login"}, {"GET", "/api/tf/list"}, {"POST", "/api/mail"},
        {"DELETE", "/api/mailbox"},
    };
    for (const auto& c : cases) {
        const RawReply reply = call(c.method, c.target);
        EXPECT_EQ(reply.statusLine, "HTTP/1.1 404 Not Found") << c.method << " " << c.target;
        EXPECT_EQ(parse(reply), kTeamModeOff) << c.method << " " << c.target << ": " << reply.body;
    }
}

TEST_F(RoutesTable, NasFileApiAnswersWhetherTeamModeIsOnOrOff) {
    const struct { const char* method; const char* target; const char* hook; } cases[] = {
        {"GET", "/api/fs?path=x", "fsList"},     {"POST", "/api/fs/mkdir", "fsMkdir"},
        {"POST", "/api/fs/rename", "fsRename"},  {"POST", "/api/fs/delete", "fsDelete"},
        {"GET", "/api/trash", "trashList"},      {"POST", "/api/trash/restore", "trashRestore"},
        {"POST", "/api/trash/delete", "trashDelete"}, {"POST", "/api/trash/empty", "trashEmpty"},
    };
    for (const bool teamMode : {false, true}) {
        controls->nasExt = teamMode;
        for (const auto& c : cases) {
            EXPECT_EQ(callJSON(c.method, c.target), nlohmann::json({{"hook", c.hook}}))
                << c.method << " " << c.target << " with team mode " << teamMode;
        }
    }
}

TEST_F(RoutesTable, TeamModeIsReadOnEveryRequestAndWhenOnHandsOverDavAndTeamPaths) {
    EXPECT_EQ(callJSON("GET", "/dav"), kTeamModeOff);
    controls->nasExt = true;
    EXPECT_EQ(callJSON("GET", "/dav"), nlohmann::json({{"hook", "dav"}}));
    EXPECT_EQ(callJSON("PROPFIND", "/dav/a"), nlohmann::json({{"hook", "dav"}}));
    EXPECT_EQ(callJSON("GET", "/davx"), nlohmann::json({{"error", "not found"}}));
    EXPECT_EQ(callJSON("GET", "/api/team"), nlohmann::json({{"hook", "team"}}));
    // A team path the team routes do not take ends at the table's last row.
    EXPECT_EQ(callJSON("GET", "/api/mail/other"), nlohmann::json({{"error", "not found"}}));
    controls->nasExt = false;
    EXPECT_EQ(callJSON("GET", "/dav"), kTeamModeOff);
}

TEST_F(RoutesTable, WrongMethodOrUnknownPathIsNotFound) {
    const Req cases[] = {
        {"POST", "/api/info"},          {"DELETE", "/api/info"},        {"PUT", "/api/files"},
        {"GET", "/api/text"},           {"GET", "/api/chat"},           {"PUT", "/api/upload/0123456789abcdef"},
        {"POST", "/api/upload/0123456789abcdef"}, {"GET", "/api/upload/0123456789ABCDEF"},
        {"GET", "/api/upload/"},        {"GET", "/api/upload/0123456789abcdef/meta"},
        {"POST", "/d/a.txt"},           {"GET", "/api/file"},           {"GET", "/nothing"},
        {"POST", "/b/abc"},             {"PUT", "/api/burn/abc"},
        // Paths that merely resemble team paths pass the gate.
        {"GET", "/webx"},               {"GET", "/teams"},              {"GET", "/api/auth"},
        {"GET", "/api/tf"},
        // The NAS file API with another method.
        {"GET", "/api/fs/mkdir"},       {"POST", "/api/fs"},            {"DELETE", "/api/trash"},
    };
    for (const auto& c : cases) {
        const RawReply reply = call(c.method, c.target);
        EXPECT_EQ(reply.status, 404) << c.method << " " << c.target;
        EXPECT_EQ(reply.body, R"({"error":"not found"})") << c.method << " " << c.target;
    }
}

TEST_F(RoutesTable, HeadOfInfoIsNotFound) {
    RawClient client(server->port());
    ASSERT_TRUE(client.send("HEAD /api/info HTTP/1.1\r\n\r\n"));
    const auto reply = client.readReply();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 404);
    EXPECT_EQ(reply->body, R"({"error":"not found"})");
}

}  // namespace
}  // namespace corvane::test
