// The mail settings: mail.json and its defaults, the public view, masking, and the
// administrator's routes that read and save them.

#include "storage/mail_settings.h"
#include "team_routes_fixture.h"
#include "team_test_support.h"

namespace corvane::test {
namespace {

using nlohmann::json;

MailConfig mailConfig(const std::string& host, int64_t port, const std::string& user, const std::string& pass) {
    MailConfig config;
    config.host = host;
    config.port = port;
    config.user = user;
    config.pass = pass;
    return config;
}

TEST(MailSettings, ReadingFallsBackFieldByField) {
    Sandbox box;
    TeamStore store;
    const MailStore mail(store);
    EXPECT_EQ(mail.load().port, 465) << "unbound";
    mail.save(mailConfig("smtp.example.com", 465, "", ""));
    store.bind(box.path());
    EXPECT_FALSE(std::filesystem::exists(box / "_team" / "mail.json")) << "nothing written while unbound";

    const MailConfig defaults = mail.load();
    EXPECT_EQ(MailStore::publicView(defaults),
              json({{"host", ""}, {"port", 465}, {"user", ""}, {"from", ""}, {"tls", true}, {"senderName", "Corvane"},
                    {"hasPass", false}, {"enabled", false}, {"configured", false}}));

    writeFile(box / "_team" / "mail.json", R"({"host":"h.example","port":"587","tls":"false","senderName":"","user":7})");
    const MailConfig odd = mail.load();
    EXPECT_EQ(odd.host, "h.example");
    EXPECT_EQ(odd.port, 465);
    EXPECT_TRUE(odd.tls);
    EXPECT_EQ(odd.senderName, "");
    EXPECT_EQ(odd.user, "");
    writeFile(box / "_team" / "mail.json", "not json");
    EXPECT_EQ(mail.load().host, "");

    MailConfig full = mailConfig("smtp.example.com", 587, "me@example.com", "secret");
    full.tls = false;
    full.senderName = "Team";
    mail.save(full);
    EXPECT_EQ(fileMode(box / "_team" / "mail.json"), 0600u);
    const MailConfig back = mail.load();
    EXPECT_EQ(back.pass, "secret");
    EXPECT_EQ(back.port, 587);
    EXPECT_FALSE(back.tls);
    EXPECT_EQ(back.senderName, "Team");
    EXPECT_TRUE(back.enabled());
    EXPECT_EQ(back.sender(), "me@example.com");
    const json view = MailStore::publicView(back);
    EXPECT_FALSE(view.contains("pass"));
    EXPECT_EQ(view["hasPass"], true);
}

TEST(MailSettings, MaskingKeepsAFewCharactersOfTheLocalPart) {
    const struct { const char* in; const char* out; } cases[] = {
        {"abcdef@example.com", "ab***@example.com"}, {"ab@example.com", "a***@example.com"},
        {"a@example.com", "a***@example.com"},       {"@example.com", "***@example.com"},
        {"no-at-sign", "no-at-sign"},                {"张三丰@example.com", "张三***@example.com"},
        {"a@b@c", "a***@b@c"},
    };
    for (const auto& c : cases) EXPECT_EQ(maskMail(c.in), c.out) << c.in;
}

TEST_F(TeamRouteTest, SavingTheMailSettingsFollowsItsRules) {
    const std::string admin = adminToken();
    const auto save = [&](const json& body) { return as(admin, "POST", "/api/mail", body); };
    const MailStore mail(*store);

    EXPECT_EQ(parse(save({{"host", "smtp.example.com"}, {"user", "me@example.com"}})),
              json({{"error", "请填写邮箱授权码（不是登录密码）"}}));
    EXPECT_EQ(parse(save({{"host", "smtp.example.com"}, {"user", "me"}, {"pass", "x"}})), json({{"error", "发件邮箱格式不对"}}));
    EXPECT_FALSE(std::filesystem::exists(root / "_team" / "mail.json")) << "nothing saved after a refusal";

    clearEvents();
    const RawReply saved = save({{"host", " smtp.example.com\t"}, {"port", 0}, {"user", "me@example.com"}, {"pass", " p "}});
    EXPECT_EQ(saved.status, 200);
    EXPECT_EQ(parse(saved)["mail"], json({{"host", "smtp.example.com"}, {"port", 465}, {"user", "me@example.com"},
                                          {"from", ""}, {"tls", true}, {"senderName", "Corvane"}, {"hasPass", true},
                                          {"enabled", true}, {"configured", true}}));
    EXPECT_EQ(mail.load().pass, " p ");
    EXPECT_EQ(fileMode(root / "_team" / "mail.json"), 0600u);
    EXPECT_EQ(events(), (std::vector<ServerEvent>{ServerEvent::log("邮件服务已配置：smtp.example.com:465"), ServerEvent::teamMail()}));

    // No "pass": the saved one stays. Port 587 without "tls": STARTTLS; with it: TLS.
    EXPECT_EQ(parse(save({{"host", "smtp.example.com"}, {"port", "587"}, {"user", "me@example.com"}}))["mail"]["tls"], false);
    EXPECT_EQ(mail.load().pass, " p ");
    EXPECT_EQ(parse(save({{"host", "smtp.example.com"}, {"port", 587}, {"user", "me@example.com"}, {"tls", true}}))["mail"]["tls"],
              true);
    EXPECT_EQ(parse(save({{"host", "h.example"}, {"port", -3}, {"user", "me@example.com"}, {"tls", "1"}}))["mail"]["port"], 465);

    clearEvents();
    const json cleared = parse(save({{"clear", true}, {"senderName", "Ops"}}))["mail"];
    EXPECT_EQ(cleared, json({{"host", ""}, {"port", 465}, {"user", ""}, {"from", ""}, {"tls", true}, {"senderName", "Ops"},
                             {"hasPass", false}, {"enabled", false}, {"configured", false}}));
    EXPECT_EQ(events(), (std::vector<ServerEvent>{ServerEvent::log("已清除邮件服务配置"), ServerEvent::teamMail()}));
    EXPECT_EQ(parse(as(admin, "GET", "/api/mail"))["mail"], cleared);
}

TEST_F(TeamRouteTest, TheTestMailNeedsSettingsAndAValidRecipient) {
    const std::string admin = adminToken();
    EXPECT_EQ(parse(as(admin, "POST", "/api/mail/test")), json({{"error", "还没配置邮件服务"}}));
    MailStore(*store).save(mailConfig("127.0.0.1", 1, "me", "p"));
    EXPECT_EQ(parse(as(admin, "POST", "/api/mail/test", {{"to", " "}})), json({{"error", "收件邮箱格式不对"}}));
    // Nothing listens on port 1: the mailer's text, unchanged.
    clearEvents();
    const RawReply failed = as(admin, "POST", "/api/mail/test", {{"to", "you@example.com"}});
    EXPECT_EQ(failed.status, 502);
    const std::string text = "连不上邮件服务器 127.0.0.1:1，检查地址、端口和网络";
    EXPECT_EQ(parse(failed), json({{"error", text}}));
    EXPECT_EQ(events(), std::vector<ServerEvent>{ServerEvent::log("测试邮件发送失败：" + text)});
}

}  // namespace
}  // namespace corvane::test
