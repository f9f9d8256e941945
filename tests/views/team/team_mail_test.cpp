// The panel's mail settings: what is saved (implicit TLS on 465 only), the refusal
// without a code, and the test mail through a slow fake and the real mailer.
#include <QProgressBar>

#include "storage/mailer.h"
#include "storage/smtp_test_support.h"
#include "team_panel_fixture.h"

namespace fs = std::filesystem;

namespace corvane::test {
namespace {

class TeamMail : public TeamPanelTest {
protected:
    MailConfig saved() const {
        store->bind(state->root());
        return MailStore(*store).load();
    }
    QColor colorOf(const char* name) const { return find<QLabel>(name)->palette().color(QPalette::WindowText); }
};

TEST_F(TeamMail, savesTrimmedFieldsWithTLSOnlyOn465) {
    makeTeam();
    open();
    EXPECT_EQ(text("mailPort"), q("465"));
    EXPECT_FALSE(find<QPushButton>("mailSave")->isEnabled()) << "no host";
    type("mailHost", q("   "));
    EXPECT_FALSE(find<QPushButton>("mailSave")->isEnabled());
    EXPECT_FALSE(find<QPushButton>("mailTest")->isEnabled());

    type("mailHost", q(" smtp.example.com\t"));
    type("mailUser", q(" me@example.com "));
    press("mailSave");
    EXPECT_EQ(text("mailMsg"), q("请填邮箱授权码"));
    EXPECT_EQ(colorOf("mailMsg"), Theme::tint(Tint::red));
    EXPECT_FALSE(fs::exists(state->root() / "_team" / "mail.json")) << "nothing written";

    struct Case {
        const char* port;
        int64_t savedPort;
        bool tls;
    };
    const std::vector<Case> cases{{" 587 ", 587, false}, {"465", 465, true}, {"25", 25, false},
                                  {"abc", 465, true},    {"", 465, true},     {"+2525", 2525, false},
                                  {"70000", 70000, false}, {"-1", -1, false}, {"+-5", 465, true}};
    type("mailPass", q("code "));
    for (const Case& c : cases) {
        type("mailPort", q(c.port));
        press("mailSave");
        EXPECT_EQ(text("mailMsg"), q("已保存")) << c.port;
        const MailConfig config = saved();
        EXPECT_EQ(config.port, c.savedPort) << c.port;
        EXPECT_EQ(config.tls, c.tls) << c.port;
        EXPECT_EQ(config.host, "smtp.example.com");
        EXPECT_EQ(config.user, "me@example.com");
        EXPECT_EQ(config.pass, "code ") << "the code as typed, kept while the field stays empty";
    }
    EXPECT_EQ(colorOf("mailMsg"), Theme::tint(Tint::green));
    EXPECT_EQ(text("mailPass"), q(""));
    bool caption = false;
    for (QLabel* label : panel->findChildren<QLabel*>()) caption |= label->text() == q("授权码（已保存，留空表示不改）");
    EXPECT_TRUE(caption);
}

TEST_F(TeamMail, settingsChangedOnTheTeamPageShowInTheOpenPanel) {
    makeTeam();
    open();
    type("mailPass", q("typed, not saved"));
    MailConfig web;
    web.host = "smtp.163.com";
    web.port = 587;
    web.user = "team@163.com";
    web.pass = "code";
    web.from = "noreply@163.com";
    store->bind(state->root());
    MailStore(*store).save(web);
    Q_EMIT state->teamMailChanged();
    EXPECT_EQ(text("mailHost"), q("smtp.163.com"));
    EXPECT_EQ(text("mailPort"), q("587"));
    EXPECT_EQ(text("mailUser"), q("team@163.com"));
    EXPECT_EQ(text("mailPass"), q("typed, not saved")) << "what is being typed stays";
    bool caption = false;
    for (QLabel* label : panel->findChildren<QLabel*>()) caption |= label->text() == q("授权码（已保存，留空表示不改）");
    EXPECT_TRUE(caption);
    EXPECT_TRUE(find<QPushButton>("mailSave")->isEnabled());

    type("mailPass", q(""));
    press("mailSave");
    EXPECT_EQ(saved().from, "noreply@163.com") << "the sender set on the page is kept by the panel's next save";
}

TEST_F(TeamMail, aSlowTestMailKeepsBothButtonsOffUntilItsAnswer) {
    makeTeam();
    MailConfig stored;
    stored.host = "smtp.example.com";
    stored.user = "me@example.com";
    stored.pass = "code";
    stored.from = "team@example.com";
    stored.senderName = "";
    store->bind(state->root());
    MailStore(*store).save(stored);
    open();
    EXPECT_EQ(text("mailHost"), q("smtp.example.com"));
    EXPECT_EQ(text("mailPass"), q("")) << "the saved code is never shown";

    mailDelay = std::chrono::milliseconds(400);
    mailAnswer = Refusal{"发送失败：测试"};
    press("mailTest");
    EXPECT_EQ(text("mailMsg"), q("正在发送…"));
    EXPECT_EQ(colorOf("mailMsg"), Theme::tint(Tint::red));
    EXPECT_FALSE(find<QPushButton>("mailSave")->isEnabled());
    EXPECT_FALSE(find<QPushButton>("mailTest")->isEnabled());
    EXPECT_TRUE(shown("mailSpinner"));
    ASSERT_TRUE(qtWaitFor([&] { return text("mailMsg") == q("发送失败：测试"); }));
    EXPECT_FALSE(shown("mailSpinner"));
    EXPECT_TRUE(find<QPushButton>("mailTest")->isEnabled());
    {
        std::lock_guard<std::mutex> hold(mailLock);
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(sent[0].to, "team@example.com") << "the sender address receives it";
        EXPECT_EQ(sent[0].subject, "【Corvane】邮件服务测试");
        EXPECT_TRUE(sent[0].body.ends_with("发件账号：me@example.com"));
        EXPECT_EQ(sent[0].config.senderName, "") << "kept from the saved settings";
    }
    EXPECT_EQ(saved().from, "team@example.com");

    mailAnswer = Outcome();
    press("mailTest");
    panel.reset();  // closed before the answer: dropped
    qtSpin(std::chrono::milliseconds(600));
    std::lock_guard<std::mutex> hold(mailLock);
    EXPECT_EQ(sent.size(), 2u);
}

TEST_F(TeamMail, theRealMailerDeliversTheTestMailOverSTARTTLS) {
    TestCA ca(box / "ca");
    ASSERT_TRUE(ca.ok);
    ::setenv("SSL_CERT_FILE", ca.ca().c_str(), 1);
    AioSMTPServer smtp("starttls", ca, box / "smtp.log", "me@example.com", "secret");
    ASSERT_GT(smtp.port(), 0);
    AppEnvironment env = state->environment();
    env.sendMail = [](const MailConfig& config, const std::string& to, const std::string& subject,
                      const std::string& body) { return Mailer::shared().sendSync(config, to, subject, body); };
    state = std::make_unique<AppState>(env);
    makeTeam();
    open();
    type("mailHost", q("localhost"));
    type("mailPort", QString::number(smtp.port()));
    type("mailUser", q("me@example.com"));
    type("mailPass", q("secret"));
    press("mailTest");
    ASSERT_TRUE(qtWaitFor([&] { return text("mailMsg") != q("正在发送…"); }, std::chrono::seconds(20)));
    EXPECT_EQ(text("mailMsg"), q("测试邮件已发出，去收件箱看看（含垃圾箱）"));
    EXPECT_EQ(colorOf("mailMsg"), Theme::tint(Tint::green));
    EXPECT_NE(readFile(box / "smtp.log").find("RCPT TO:<me@example.com>"), std::string::npos);
    ::unsetenv("SSL_CERT_FILE");
}

}  // namespace
}  // namespace corvane::test
