// Password reset by mail through the routes: the code mailed through aiosmtpd, the
// reset with it, the neutral and the no-mail replies, and the limits on the routes per
// address and per account.

#include <algorithm>
#include <cstdlib>

#include "smtp_test_support.h"
#include "storage/mail_settings.h"
#include "team_routes_fixture.h"

namespace corvane::test {
namespace {

using nlohmann::json;

// The decoded text of a message's Base64 body.
std::string decodedBody(const std::string& message) {
    const size_t blank = message.find("\r\n\r\n");
    std::string encoded;
    for (char c : message.substr(blank + 4)) {
        if (c != '\r' && c != '\n') encoded += c;
    }
    return base64Decode(encoded).value_or("(not base64)");
}

std::string headerLine(const std::string& message, const std::string& name) {
    const size_t at = message.find("\r\n" + name + ": ");
    return message.substr(at + 2, message.find("\r\n", at + 2) - at - 2);
}

// Mail settings for the stand-in server on loopback, with its account.
void useMailServer(TeamStore& store, int port) {
    MailConfig mail;
    mail.host = "localhost";
    mail.port = port;
    mail.user = "me@example.com";
    mail.pass = "secret";
    MailStore(store).save(mail);
}

// The code a reset mail carries.
std::string codeIn(const std::string& message) {
    const std::string text = decodedBody(message);
    return text.substr(text.find("验证码：") + std::string("验证码：").size(), 6);
}

TEST_F(TeamRouteTest, ForgotMailsACodeThatResetsThePassword) {
    TestCA ca(box / "ca");
    ASSERT_TRUE(ca.ok);
    ::setenv("SSL_CERT_FILE", ca.ca().c_str(), 1);
    AioSMTPServer smtp("implicit", ca, box / "smtp.log", "me@example.com", "secret");
    ASSERT_GT(smtp.port(), 0);
    const std::string session = memberToken("amy", "amy.lee@example.com");
    store->setTeamName("");
    useMailServer(*store, smtp.port());

    const RawReply sent = call("POST", "/api/auth/forgot", R"({"account":"AMY.LEE@example.com"})");
    EXPECT_EQ(parse(sent), json({{"ok", true}, {"sent", true}, {"masked", "am***@example.com"},
                                 {"msg", "验证码已发到 am***@example.com，15 分钟内有效。"}}));
    const std::string message = smtp.message();
    const std::string subject = headerLine(message, "Subject");
    const std::string code = codeIn(message);
    EXPECT_EQ(subject, "Subject: =?UTF-8?B?" + base64Encode("【Corvane】重置密码验证码 " + code) + "?=");
    EXPECT_EQ(headerLine(message, "To"), "To: <amy.lee@example.com>");
    EXPECT_EQ(decodedBody(message), "amy，你好：\n\n有人在「Corvane · 团队空间」申请重置你的密码。\n验证码：" + code +
                                        "\n15 分钟内有效，只能使用一次。\n\n如果不是你本人操作，忽略这封邮件即可，密码不会改变。\n\n"
                                        "—— Corvane · 团队空间（）");

    EXPECT_EQ(parse(call("POST", "/api/auth/reset", json({{"account", "amy"}, {"code", "000000"}, {"pass", "brand-new"}}).dump()))["error"]
                  .get<std::string>()
                  .substr(0, 15),
              "验证码不对");
    clearEvents();
    const RawReply done = call("POST", "/api/auth/reset", json({{"account", "amy"}, {"code", code}, {"pass", "brand-new"}}).dump());
    EXPECT_EQ(parse(done), json({{"ok", true}}));
    EXPECT_EQ(events(), std::vector<ServerEvent>{ServerEvent::log("账号 @amy 通过邮箱验证重置了密码")});
    EXPECT_EQ(as(session, "GET", "/api/auth/me").status, 401) << "earlier sessions end";
    EXPECT_EQ(store->login("amy", "brand-new").kind, LoginResult::Kind::ok);
    ::unsetenv("SSL_CERT_FILE");
}

TEST_F(TeamRouteTest, ForgotNeverTellsWhetherTheAccountExists) {
    memberToken("amy", "amy@example.com");
    memberToken("bob");
    const json neutral{{"ok", true}, {"sent", false}, {"msg", "如果这个账号绑定了邮箱，验证码已经发出，请查收（含垃圾箱）。"}};
    EXPECT_EQ(parse(call("POST", "/api/auth/forgot", R"({"account":"nobody"})")), neutral);
    EXPECT_EQ(parse(call("POST", "/api/auth/forgot", R"({"account":"bob"})")), neutral);
    EXPECT_EQ(parse(call("POST", "/api/auth/forgot", "not json")), neutral);
    EXPECT_EQ(parse(call("POST", "/api/auth/forgot", R"({"account":"amy"})")),
              json({{"ok", true}, {"sent", false}, {"noMail", true}, {"msg", "中心设备还没配置邮件服务，请联系管理员帮你重置密码。"}}));
    // A failed mail: 502 with the mailer's text, and the log line.
    advance(61);
    MailConfig mail;
    mail.host = "127.0.0.1";
    mail.port = 1;
    mail.user = "me@example.com";
    mail.pass = "p";
    MailStore(*store).save(mail);
    clearEvents();
    const RawReply failed = call("POST", "/api/auth/forgot", R"({"account":"amy"})");
    const std::string text = "连不上邮件服务器 127.0.0.1:1，检查地址、端口和网络";
    EXPECT_EQ(failed.status, 502);
    EXPECT_EQ(parse(failed), json({{"error", "验证码没发出去：" + text}}));
    EXPECT_EQ(events(), std::vector<ServerEvent>{ServerEvent::log("找回密码邮件发送失败：" + text)});
}

TEST_F(TeamRouteTest, ForgotAndResetAreLimitedPerAddress) {
    const struct { const char* path; size_t maxBody; int limit; const char* refusal; } routes[] = {
        {"/api/auth/forgot", 8192, 12, "操作太频繁，过一会儿再试"},
        {"/api/auth/reset", 16384, 20, "尝试次数过多，过一会儿再试"},
    };
    for (const auto& r : routes) {
        const RawReply big = call("POST", r.path, std::string(r.maxBody, ' '));
        EXPECT_EQ(big.status, 413) << r.path;
        EXPECT_EQ(parse(big), json({{"error", "请求过大"}}));
        for (int k = 0; k < r.limit; ++k) {
            advance(10);
            ASSERT_NE(call("POST", r.path, R"({"account":"x","code":"123456","pass":"long-enough"})").status, 429) << r.path << k;
        }
        const RawReply limited = call("POST", r.path, "{}");
        EXPECT_EQ(limited.status, 429) << r.path;
        EXPECT_EQ(parse(limited), json({{"error", r.refusal}}));
        const auto other = httpRequestFrom("127.0.0.3", server->port(), "POST", r.path, "{}");
        ASSERT_TRUE(other);
        EXPECT_NE(other->status, 429) << "another address";
        // One hour after the first counted request, one more is let through.
        advance(3600 - 10 * r.limit);
        EXPECT_EQ(call("POST", r.path, "{}").status, 429) << r.path;
        advance(10);
        EXPECT_NE(call("POST", r.path, "{}").status, 429) << r.path;
        EXPECT_EQ(call("POST", r.path, "{}").status, 429) << r.path;
    }
}

// A request from the loopback address 127.0.0.<host>.
RawReply postFrom(const HTTPServer& server, int host, const std::string& path, const json& body) {
    const auto reply = httpRequestFrom("127.0.0." + std::to_string(host), server.port(), "POST", path, body.dump());
    EXPECT_TRUE(reply) << path << " from 127.0.0." << host;
    return reply.value_or(RawReply{});
}

TEST_F(TeamRouteTest, AnAccountIsSentAtMostFiveCodesAnHourWhateverTheAddressAndTheCapTellsNothing) {
    // From many addresses a new code, and a mail to the victim, every minute.
    TestCA ca(box / "ca");
    ASSERT_TRUE(ca.ok);
    ::setenv("SSL_CERT_FILE", ca.ca().c_str(), 1);
    AioSMTPServer smtp("implicit", ca, box / "smtp.log", "me@example.com", "secret");
    ASSERT_GT(smtp.port(), 0);
    useMailServer(*store, smtp.port());
    memberToken("amy", "amy@example.com");
    memberToken("bob", "bob@example.com");
    const auto mails = [&] {
        int n = 0;
        for (const auto& r : smtp.records()) n += r.contains("message");
        return n;
    };
    const json neutral{{"ok", true}, {"sent", false}, {"msg", "如果这个账号绑定了邮箱，验证码已经发出，请查收（含垃圾箱）。"}};
    for (int k = 0; k < 5; ++k) {
        advance(61);
        EXPECT_TRUE(parse(postFrom(*server, 2 + k, "/api/auth/forgot", {{"account", k % 2 ? "AMY" : "amy@example.com"}}))["sent"]
                        .get<bool>())
            << k;
        if (k == 0) {
            EXPECT_EQ(parse(postFrom(*server, 2, "/api/auth/forgot", {{"account", "amy"}})), neutral) << "too soon, not counted";
        }
    }
    ASSERT_EQ(mails(), 5);
    const std::vector<json> records = smtp.records();
    const auto last = std::find_if(records.rbegin(), records.rend(), [](const json& r) { return r.contains("message"); });
    const std::string code = codeIn(last->at("message").get<std::string>());
    // Beyond the cap: the reply an unknown name gets, no mail, and the code sent stays the one that works.
    for (int k = 0; k < 3; ++k) {
        advance(61);
        const RawReply capped = postFrom(*server, 9, "/api/auth/forgot", {{"account", "amy"}});
        EXPECT_EQ(capped.status, 200) << k;
        EXPECT_EQ(parse(capped), neutral) << k;
        EXPECT_EQ(parse(postFrom(*server, 9, "/api/auth/forgot", {{"account", "nobody"}})), neutral) << k;
    }
    EXPECT_EQ(mails(), 5);
    EXPECT_TRUE(parse(postFrom(*server, 9, "/api/auth/forgot", {{"account", "bob"}}))["sent"].get<bool>()) << "another account";
    EXPECT_EQ(mails(), 6);
    EXPECT_EQ(parse(postFrom(*server, 9, "/api/auth/reset", {{"account", "amy"}, {"code", code}, {"pass", "brand-new"}})),
              json({{"ok", true}}));
    ::unsetenv("SSL_CERT_FILE");
}

TEST_F(TeamRouteTest, AnAccountTakesAtMostTwentyWrongCodesADayWhateverTheAddress) {
    // Six guesses per code and a new code every minute, from many addresses.
    memberToken("amy", "amy@example.com");
    memberToken("bob", "bob@example.com");
    const auto reset = [&](int host, const std::string& account, const std::string& code) {
        return postFrom(*server, host, "/api/auth/reset", {{"account", account}, {"code", code}, {"pass", "brand-new"}});
    };
    // Refusals that compare no code are not counted.
    EXPECT_EQ(parse(reset(2, "amy", "123456")), json({{"error", "验证码已失效，请重新获取"}}));
    EXPECT_EQ(parse(reset(2, "amy", "12345")), json({{"error", "验证码是 6 位数字"}}));
    std::string code;
    for (int wrong = 0; wrong < 20; ++wrong) {
        if (wrong % 6 == 0) {
            advance(61);
            const auto ticket = store->issueReset("amy");
            ASSERT_TRUE(ticket);
            code = ticket->code;
        }
        const std::string guess = code == "000000" ? "111111" : "000000";
        ASSERT_EQ(reset(3 + wrong / 6, wrong % 2 ? "AMY@example.com" : "amy", guess).status, 400) << wrong;
    }
    const RawReply limited = reset(9, "amy", code);
    EXPECT_EQ(limited.status, 429) << "even with the right code";
    EXPECT_EQ(parse(limited), json({{"error", "尝试次数过多，过一会儿再试"}}));
    EXPECT_EQ(parse(reset(9, "bob", "123456")), json({{"error", "验证码已失效，请重新获取"}})) << "another account";
    advance(86400);
    EXPECT_EQ(parse(reset(10, "amy", code)), json({{"error", "验证码已过期，请重新获取"}})) << "a day later";
}

}  // namespace
}  // namespace corvane::test
