// The mail settings box: server, port, sender and authorization code, saved to the
// team folder's mail settings, and a test mail sent off the main thread.
#include <charconv>
#include <cstdint>

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/app_state.h"
#include "views/spinner.h"
#include "views/controls.h"
#include "views/team/panel_parts.h"
#include "views/team/team_panel.h"

namespace corvane {

namespace {

constexpr int64_t defaultPort = 465;

// Spaces and tabs off both ends; line breaks stay.
std::string trimSpacesAndTabs(const QString& text) {
    const std::string raw = text.toStdString();
    const size_t first = raw.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    const size_t last = raw.find_last_not_of(" \t");
    return raw.substr(first, last - first + 1);
}

// A decimal integer with an optional sign, within 64 bits; the default port otherwise.
int64_t portOf(const std::string& text) {
    std::string_view digits = text;
    const bool negative = !digits.empty() && digits.front() == '-';
    if (!digits.empty() && (digits.front() == '+' || digits.front() == '-')) digits.remove_prefix(1);
    if (digits.empty() || digits.find_first_not_of("0123456789") != std::string_view::npos) return defaultPort;
    uint64_t magnitude = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), magnitude);
    const uint64_t limit = negative ? uint64_t(INT64_MAX) + 1 : uint64_t(INT64_MAX);
    if (error != std::errc() || magnitude > limit) return defaultPort;
    return negative ? int64_t(0 - magnitude) : int64_t(magnitude);
}

bool successText(const QString& text) {
    return text.startsWith(QStringLiteral("已保存")) || text.startsWith(QStringLiteral("测试邮件已"));
}

}  // namespace

QWidget* TeamPanel::mailSection() {
    auto* box = new PanelBox("envelope", QStringLiteral("邮件服务 · 忘记密码"), Theme::primary(), this);
    QVBoxLayout* form = box->content();
    form->setContentsMargins(12, 12, 12, 12);
    form->setSpacing(9);
    form->addWidget(sheetLabel(QStringLiteral("配好后，同事在网页点「忘记密码」就能收到验证码；没配也能用成员菜单里的「重置密码」手动兜底。"),
                               10.5, Weight::regular, Theme::secondary(), true, box));
    auto* serverRow = new QHBoxLayout();
    serverRow->setSpacing(8);
    mailHost_ = addCaptionedField(serverRow, box, QStringLiteral("SMTP 服务器"), QStringLiteral("smtp.qq.com"), "mailHost", false);
    auto* portColumn = new QVBoxLayout();
    mailPort_ = addCaptionedField(portColumn, box, QStringLiteral("端口"), QStringLiteral("465"), "mailPort", false);
    mailPort_->setFixedWidth(72);
    serverRow->addLayout(portColumn);
    form->addLayout(serverRow);
    mailUser_ = addCaptionedField(form, box, QStringLiteral("发件邮箱"), QStringLiteral("name@example.com"), "mailUser", false);
    mailPass_ = addCaptionedField(form, box, {}, QStringLiteral("邮箱授权码"), "mailPass", true, &mailPassCaption_);
    mailPass_->setAccessibleName(QStringLiteral("邮箱授权码"));

    auto* actions = new QHBoxLayout();
    actions->setSpacing(8);
    mailMsg_ = sheetLabel({}, 10.5, Weight::regular, Theme::tint(Tint::red), true, box);
    mailMsg_->setObjectName(QStringLiteral("mailMsg"));
    actions->addWidget(mailMsg_, 1);
    mailSpinner_ = new Spinner(box);
    mailSpinner_->setObjectName(QStringLiteral("mailSpinner"));
    mailSpinner_->setAccessibleName(QStringLiteral("正在发送"));
    actions->addWidget(mailSpinner_);
    mailSave_ = smallButton(QStringLiteral("保存"), box);
    mailSave_->setObjectName(QStringLiteral("mailSave"));
    actions->addWidget(mailSave_);
    mailTest_ = smallButton(QStringLiteral("发测试邮件"), box);
    mailTest_->setObjectName(QStringLiteral("mailTest"));
    actions->addWidget(mailTest_);
    form->addLayout(actions);
    form->addWidget(helpLine(QStringLiteral("QQ 邮箱：设置 → 账户 → 开启「POP3/SMTP 服务」→ 生成授权码。"), box));

    connect(mailHost_, &QLineEdit::textChanged, this, &TeamPanel::showMailState);
    connect(mailSave_, &QPushButton::clicked, this, [this] { (void)applyMail(); });
    connect(mailTest_, &QPushButton::clicked, this, &TeamPanel::testMail);
    connect(&state_, &AppState::teamMailChanged, this, &TeamPanel::loadMail);
    loadMail();
    return box;
}

// The saved settings into the fields; a typed code and the message stay.
void TeamPanel::loadMail() {
    const MailConfig saved = state_.loadMailSettings();
    mailHost_->setText(QString::fromStdString(saved.host));
    mailPort_->setText(QString::number(saved.port));
    mailUser_->setText(QString::fromStdString(saved.user));
    mailFrom_ = saved.from;
    mailHasPass_ = !saved.pass.empty();
    showMailState();
}

MailConfig TeamPanel::composeMail() const {
    const MailConfig saved = state_.loadMailSettings();
    MailConfig config;
    config.host = trimSpacesAndTabs(mailHost_->text());
    config.port = portOf(trimSpacesAndTabs(mailPort_->text()));
    config.user = trimSpacesAndTabs(mailUser_->text());
    config.pass = mailPass_->text().isEmpty() ? saved.pass : mailPass_->text().toStdString();
    config.from = trimSpacesAndTabs(QString::fromStdString(mailFrom_));
    // Implicit TLS only on 465, as the web settings store it; 587 and 25 use STARTTLS.
    config.tls = config.port == 465;
    config.senderName = saved.senderName;
    return config;
}

std::optional<MailConfig> TeamPanel::applyMail() {
    const MailConfig config = composeMail();
    if (!config.host.empty() && config.pass.empty()) {
        mailMsg_->setText(QStringLiteral("请填邮箱授权码"));
        showMailState();
        return std::nullopt;
    }
    state_.saveMailSettings(config);
    mailHasPass_ = !config.pass.empty();
    mailPass_->clear();
    mailMsg_->setText(QStringLiteral("已保存"));
    showMailState();
    return config;
}

void TeamPanel::testMail() {
    const std::optional<MailConfig> config = applyMail();
    if (!config) return;
    mailBusy_ = true;
    mailMsg_->setText(QStringLiteral("正在发送…"));
    showMailState();
    const std::string body =
        "这是一封测试邮件。\n\n收到它说明「Corvane · 团队空间」的邮件服务已经配置好了，\n同事忘记密码时，就能用邮箱自助找回。\n\n发件账号：" +
        config->user;
    const QPointer<TeamPanel> self(this);
    state_.sendTestMail(*config, config->sender(), "【Corvane】邮件服务测试", body, [self](const Outcome& outcome) {
        if (!self) return;
        self->mailBusy_ = false;
        self->mailMsg_->setText(outcome ? QStringLiteral("测试邮件已发出，去收件箱看看（含垃圾箱）")
                                        : QString::fromStdString(outcome.refusal()));
        self->showMailState();
    });
}

void TeamPanel::showMailState() {
    mailPassCaption_->setText(mailHasPass_ ? QStringLiteral("授权码（已保存，留空表示不改）")
                                           : QStringLiteral("授权码（不是邮箱登录密码）"));
    const QString message = mailMsg_->text();
    mailMsg_->setVisible(!message.isEmpty());
    Theme::setTextColor(mailMsg_, Theme::tint(successText(message) ? Tint::green : Tint::red));
    mailSpinner_->setVisible(mailBusy_);
    const bool usable = !mailBusy_ && !trimSpacesAndTabs(mailHost_->text()).empty();
    mailSave_->setEnabled(usable);
    mailTest_->setEnabled(usable);
}

}  // namespace corvane
