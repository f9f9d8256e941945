// The SMTP client against Debian's aiosmtpd (implicit TLS, STARTTLS, AUTH LOGIN) with a
// throwaway CA, and against scripted servers for malformed and slow replies; the
// mailer's bounded wait and its one-at-a-time queue.

#include <cstdlib>

#include "base/text_util.h"
#include "smtp_test_support.h"
#include "storage/mail_connection.h"
#include "storage/mailer.h"
#include "storage/smtp_client.h"
#include "storage/team_crypto.h"

namespace corvane::test {
namespace {

using namespace std::chrono_literals;

MailConfig mailConfig(const std::string& host, int port, bool tls, const std::string& pass = "secret") {
    MailConfig config;
    config.host = host;
    config.port = port;
    config.user = "me@example.com";
    config.pass = pass;
    config.tls = tls;
    config.senderName = "团队 Mailer";
    return config;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    size_t start = 0;
    while (start <= text.size()) {
        const size_t end = text.find("\r\n", start);
        out.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) break;
        start = end + 2;
    }
    return out;
}

class SMTPWithCA : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(ca.ok) << "the openssl command could not make the test certificates";
        ::setenv("SSL_CERT_FILE", ca.ca().c_str(), 1);
    }
    void TearDown() override { ::unsetenv("SSL_CERT_FILE"); }

    Sandbox box;
    TestCA ca{box / "ca"};
};

TEST_F(SMTPWithCA, ImplicitTLSSendsOneEHLOThenAuthAndTheMessage) {
    AioSMTPServer server("implicit", ca, box / "log", "me@example.com", "secret");
    ASSERT_GT(server.port(), 0);
    std::string body;
    for (int k = 0; k < 8; ++k) body += "第 " + std::to_string(k) + " 行：中文和 ASCII text.\n";
    EXPECT_TRUE(SMTPClient(mailConfig("localhost", server.port(), true), 5s).send("you@example.com", "【Corvane】测试", body));
    EXPECT_EQ(server.commands(), (std::vector<std::string>{"EHLO corvane.local (tls)", "AUTH LOGIN (tls)",
                                                          "MAIL FROM:<me@example.com> (tls)",
                                                          "RCPT TO:<you@example.com> (tls)", "DATA"}));
    EXPECT_EQ(server.records()[1]["login"], "me@example.com");
    EXPECT_EQ(server.records()[1]["password"], "secret");

    const std::vector<std::string> message = lines(server.message());
    ASSERT_GE(message.size(), 10u);
    EXPECT_EQ(message[0], "From: =?UTF-8?B?" + base64Encode("团队 Mailer") + "?= <me@example.com>");
    EXPECT_EQ(message[1], "To: <you@example.com>");
    EXPECT_EQ(message[2], "Subject: =?UTF-8?B?" + base64Encode("【Corvane】测试") + "?=");
    EXPECT_TRUE(message[3].starts_with("Date: ")) << message[3];
    EXPECT_TRUE(message[4].starts_with("Message-ID: <") && message[4].ends_with("@localhost>")) << message[4];
    EXPECT_EQ(message[4].size(), std::string("Message-ID: <@localhost>").size() + 36);
    EXPECT_EQ(message[5], "MIME-Version: 1.0");
    EXPECT_EQ(message[6], "Content-Type: text/plain; charset=UTF-8");
    EXPECT_EQ(message[7], "Content-Transfer-Encoding: base64");
    EXPECT_EQ(message[8], "");
    std::string encoded;
    for (size_t k = 9; k < message.size() && !message[k].empty(); ++k) {
        const bool last = k + 1 == message.size() || message[k + 1].empty();
        if (!last) {
            EXPECT_EQ(message[k].size(), 76u) << k;
        }
        EXPECT_LE(message[k].size(), 76u);
        encoded += message[k];
    }
    EXPECT_EQ(base64Decode(encoded), body);
}

TEST_F(SMTPWithCA, StartTLSSaysEHLOAgainOverTLSAndChecksTheAddress) {
    AioSMTPServer server("starttls", ca, box / "log", "me@example.com", "secret");
    ASSERT_GT(server.port(), 0);
    MailConfig config = mailConfig("127.0.0.1", server.port(), false);
    config.from = "team@example.com";
    EXPECT_TRUE(SMTPClient(config, 5s).send("forward@example.com", "s", ""));  // 251 goes on
    EXPECT_EQ(server.commands(), (std::vector<std::string>{"EHLO corvane.local", "EHLO corvane.local (tls)",
                                                          "AUTH LOGIN (tls)", "MAIL FROM:<team@example.com> (tls)",
                                                          "RCPT TO:<forward@example.com> (tls)", "DATA"}));
    // An empty body: the headers and the empty line, nothing else.
    const std::vector<std::string> message = lines(server.message());
    EXPECT_EQ(message[0], "From: =?UTF-8?B?" + base64Encode("团队 Mailer") + "?= <team@example.com>");
    EXPECT_EQ(message.size(), 10u);
    EXPECT_EQ(message.back(), "");

    const Outcome refused = SMTPClient(config, 5s).send("nobody@example.com", "s", "b");
    EXPECT_EQ(refused.refusal(), "收件人被拒绝（550）：550 5.1.1 No such user");
}

TEST_F(SMTPWithCA, AWrongPasswordIsTheLoginRefusal) {
    AioSMTPServer server("implicit", ca, box / "log", "me@example.com", "secret");
    ASSERT_GT(server.port(), 0);
    const Outcome refused = SMTPClient(mailConfig("localhost", server.port(), true, "wrong"), 5s).send("you@example.com", "s", "b");
    EXPECT_EQ(refused.refusal(),
              "登录被拒绝（535）：请确认用的是「授权码」而不是邮箱登录密码。535 5.7.8 Authentication credentials invalid");
}

TEST_F(SMTPWithCA, WithoutTheTestCANoPasswordIsSent) {
    const std::string otherCA = (box / "other.pem").string();
    writeFile(otherCA, "");
    for (const char* mode : {"implicit", "starttls"}) {
        AioSMTPServer server(mode, ca, box / (std::string(mode) + ".log"), "me@example.com", "secret");
        ASSERT_GT(server.port(), 0);
        ::setenv("SSL_CERT_FILE", otherCA.c_str(), 1);
        const bool implicit = std::string(mode) == "implicit";
        const Outcome refused = SMTPClient(mailConfig("localhost", server.port(), implicit), 5s).send("you@example.com", "s", "b");
        EXPECT_EQ(refused.refusal(), "TLS 握手失败：certificate verify failed（unable to get local issuer certificate）") << mode;
        for (const std::string& command : server.commands()) EXPECT_FALSE(command.starts_with("AUTH")) << mode;
        EXPECT_EQ(server.commands().size(), implicit ? 0u : 1u) << mode;
        // The certificate names localhost and 127.0.0.1, not this host name.
        ::setenv("SSL_CERT_FILE", ca.ca().c_str(), 1);
        EXPECT_FALSE(SMTPClient(mailConfig("127.0.0.2", server.port(), implicit), 5s).send("you@example.com", "s", "b"));
    }
}

// A STARTTLS port set up as implicit TLS: the plain greeting must not be read as a
// garbled reply ("服务器返回 0，期望 220：ocalhost …").
TEST_F(SMTPWithCA, ImplicitTLSToAStartTLSPortReportsTheHandshake) {
    AioSMTPServer server("starttls", ca, box / "log", "me@example.com", "secret");
    ASSERT_GT(server.port(), 0);
    const Outcome refused = SMTPClient(mailConfig("localhost", server.port(), true), 5s).send("you@example.com", "s", "b");
    EXPECT_EQ(refused.refusal(), "TLS 握手失败：wrong version number");
    EXPECT_TRUE(server.commands().empty());
}

TEST(MailConnection, AFailedHandshakeClosesTheStream) {
    ScriptedSMTP server([](const ScriptedSMTP::Peer& p) {
        p.send("220 plain greeting\r\n");
        p.waitForClose();
    });
    MailConnection conn(3s);
    ASSERT_TRUE(conn.connect("127.0.0.1", server.port()));
    EXPECT_EQ(conn.startTLS("127.0.0.1").refusal(), "TLS 握手失败：wrong version number");
    char byte = 0;
    EXPECT_EQ(conn.readByte(byte).refusal(), "连接已关闭");
    EXPECT_EQ(conn.write("EHLO corvane.local\r\n").refusal(), "连接已关闭");
    EXPECT_EQ(conn.startTLS("127.0.0.1").refusal(), "连接已关闭");
}

// A plain script: greeting, EHLO, then STARTTLS answered 454 so that the dialogue ends.
ScriptedSMTP::Script greetingThen454(std::string greeting) {
    return [greeting](const ScriptedSMTP::Peer& p) {
        p.send(greeting);
        if (p.line().empty()) return;
        p.send("250 ok\r\n");
        if (p.line() != "STARTTLS") return;
        p.send("454 TLS not available\r\n");
        p.waitForClose();
    };
}

std::string refusalWith(ScriptedSMTP::Script script) {
    ScriptedSMTP server(std::move(script));
    return SMTPClient(mailConfig("127.0.0.1", server.port(), false), 3s).send("you@example.com", "s", "b").refusal();
}

TEST(SMTPReplies, MalformedAndOddRepliesReadAsSpecified) {
    std::string continuation41;
    for (int k = 1; k <= 41; ++k) continuation41 += "220-line " + std::to_string(k) + "\r\n";
    const std::string longLine = "220 " + std::string(8189, 'x');  // 8,193 bytes
    const struct { const char* what; ScriptedSMTP::Script script; std::string refusal; } cases[] = {
        {"three-line greeting", greetingThen454("220-a\r\n220-b\r\n220 c\r\n"),
         "服务器不接受 STARTTLS（454）：改试 465 端口。454 TLS not available"},
        {"last code wins", greetingThen454("220-a\r\n220-b\r\n221 c\r\n"), "服务器返回 221，期望 220：220-a / 220-b / 221 c"},
        {"plain-text first line", greetingThen454("hello there\r\n"), "服务器返回 0，期望 220：hello there"},
        {"41 continuation lines", greetingThen454(continuation41 + "220 end\r\n"),
         "邮件服务器握手失败（220）：220-line 41 / 220 end"},
        {"8,193-byte line", greetingThen454(longLine + "250 rest\r\n"),
         "服务器不接受 STARTTLS（250）：改试 465 端口。250 ok"},
        {"closed at once", [](const ScriptedSMTP::Peer&) {}, "服务器没有响应或已断开连接"},
    };
    for (const auto& c : cases) EXPECT_EQ(refusalWith(c.script), c.refusal) << c.what;
}

TEST(SMTPReplies, BytesAfterTheStartTLSAnswerAreNeverReadAsReplies) {
    ::setenv("SSL_CERT_FILE", "/nonexistent", 1);
    const std::string refusal = refusalWith([](const ScriptedSMTP::Peer& p) {
        p.send("220 hi\r\n");
        p.line();
        p.send("250 ok\r\n");
        p.line();
        p.send("220 go ahead\r\n250 injected\r\n");  // plain text where TLS must start
        p.waitForClose();
    });
    ::unsetenv("SSL_CERT_FILE");
    EXPECT_TRUE(refusal == "发送失败，连接可能已断开" || refusal == "服务器没有响应或已断开连接") << refusal;
}

TEST(SMTPReplies, BadSettingsAreRefusedBeforeConnecting) {
    ScriptedSMTP server([](const ScriptedSMTP::Peer& p) { p.send("220 hi\r\n"); });
    const auto refusal = [&](MailConfig config, const std::string& to, const std::string& subject) {
        return SMTPClient(config, 2s).send(to, subject, "body").refusal();
    };
    const MailConfig good = mailConfig("127.0.0.1", server.port(), false);
    MailConfig badHost = good;
    badHost.host = "127.0.0.1\r\nRCPT TO:<x@y>";
    MailConfig badFrom = good;
    badFrom.from = "a@b.c\nBcc: x@y";
    MailConfig badName = good;
    badName.senderName = std::string("n\0x", 3);
    const std::string illegal = "邮件设置含有非法字符";
    EXPECT_EQ(refusal(badHost, "you@example.com", "s"), illegal);
    EXPECT_EQ(refusal(badFrom, "you@example.com", "s"), illegal);
    EXPECT_EQ(refusal(badName, "you@example.com", "s"), illegal);
    EXPECT_EQ(refusal(good, "you@example.com\r\nDATA", "s"), illegal);
    EXPECT_EQ(refusal(good, "you@example.com", "s\r\nBcc: x@y"), illegal);
    EXPECT_EQ(server.accepted(), 0);
    for (int port : {0, -1, 65536}) {
        EXPECT_EQ(refusal(mailConfig("127.0.0.1", port, true), "you@example.com", "s"),
                  "无法建立连接（127.0.0.1:" + std::to_string(port) + "）");
    }
    EXPECT_EQ(refusal(mailConfig("127.0.0.1", 1, true), "you@example.com", "s"), "连不上邮件服务器 127.0.0.1:1，检查地址、端口和网络");
}

TEST(MailerQueue, ASilentServerTimesOutAndTheNextMailWaitsBehindIt) {
    ScriptedSMTP silent([](const ScriptedSMTP::Peer& p) { p.waitForClose(); });
    Mailer mailer(500ms, 1500ms);
    const MailConfig config = mailConfig("127.0.0.1", silent.port(), true);
    const std::string timedOut = "发送超时（15 秒）：检查服务器地址、端口是否正确（SSL 一般是 465）";
    EXPECT_EQ(mailer.sendSync(config, "you@example.com", "s", "b").refusal(), timedOut);
    EXPECT_EQ(mailer.sendSync(config, "you@example.com", "s", "b").refusal(), timedOut);
    EXPECT_EQ(silent.accepted(), 1) << "the second mail waits for the first";
    EXPECT_TRUE(waitFor([&] { return silent.accepted() == 2; }));

    // Without a time-out the client's own text comes back.
    Mailer patient(5s, 500ms);
    EXPECT_EQ(patient.sendSync(config, "you@example.com", "s", "b").refusal(), "服务器没有响应或已断开连接");
}

}  // namespace
}  // namespace corvane::test
