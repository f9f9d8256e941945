// The administrator's mail routes: the saved settings (without the password), saving
// them, and a test mail.

#include <memory>
#include <unicode/datefmt.h>
#include <unicode/unistr.h>

#include "base/json_fields.h"
#include "base/text_util.h"
#include "engine/server/http_server.h"
#include "storage/mail_settings.h"
#include "storage/mailer.h"
#include "storage/team_crypto.h"
#include "storage/team_router.h"
#include "storage/team_text.h"

namespace corvane {

namespace {

// The moment as the default locale writes a medium date and a short time.
std::string localDateTime(double seconds) {
    std::unique_ptr<icu::DateFormat> format(
        icu::DateFormat::createDateTimeInstance(icu::DateFormat::kMedium, icu::DateFormat::kShort));
    if (!format) return "";
    icu::UnicodeString text;
    format->format(UDate(seconds * 1000), text);
    std::string out;
    text.toUTF8String(out);
    return out;
}

std::string blanksTrimmed(const nlohmann::json& obj, const char* key) {
    return trimSpacesTabs(Fields(obj).s(key).value_or(""));
}

// The settings a POST describes, over the saved ones (whose password stays when none is sent).
MailConfig settingsFromRequest(const nlohmann::json& body, const MailConfig& saved) {
    const Fields fields(body);
    MailConfig config;
    config.host = blanksTrimmed(body, "host");
    config.port = fields.i("port");
    if (config.port < 1) config.port = 465;
    config.user = blanksTrimmed(body, "user");
    config.from = blanksTrimmed(body, "from");
    config.senderName = fields.s("senderName").value_or("");
    if (config.senderName.empty()) config.senderName = "Corvane";
    config.tls = body.contains("tls") ? fields.b("tls") : config.port == 465;
    config.pass = fields.s("pass").value_or("");
    if (config.pass.empty()) config.pass = saved.pass;
    if (fields.b("clear")) config.host = config.user = config.pass = config.from = "";
    return config;
}

}  // namespace

void TeamRouter::mailGet(Connection& c, const TeamUser& /*admin*/) {
    reply(c, 200, {{"ok", true}, {"mail", MailStore::publicView(MailStore(store_).load())}});
}

void TeamRouter::mailSet(Connection& c, const TeamUser& /*admin*/) {
    const MailStore mailStore(store_);
    // The password kept from the saved settings is the one saved now, not one another server replaced.
    const TeamFileLock held = mailStore.lockFile();
    const MailConfig config = settingsFromRequest(bodyObject(c.req), mailStore.load());
    if (!config.host.empty()) {
        if (!config.user.empty() && !teamValidEmail(config.user)) {
            reply(c, 400, errorJSON("发件邮箱格式不对"));
            return;
        }
        if (config.pass.empty()) {
            reply(c, 400, errorJSON("请填写邮箱授权码（不是登录密码）"));
            return;
        }
    }
    mailStore.save(config);
    c.server.emit(ServerEvent::log(config.host.empty() ? "已清除邮件服务配置"
                                                        : "邮件服务已配置：" + config.host + ":" + std::to_string(config.port)));
    c.server.emit(ServerEvent::teamMail());
    reply(c, 200, {{"ok", true}, {"mail", MailStore::publicView(config)}});
}

void TeamRouter::mailTest(Connection& c, const TeamUser& /*admin*/) {
    const MailConfig config = MailStore(store_).load();
    if (!config.enabled()) {
        reply(c, 400, errorJSON("还没配置邮件服务"));
        return;
    }
    std::string to = blanksTrimmed(bodyObject(c.req), "to");
    if (to.empty()) to = config.sender();
    if (!teamValidEmail(to)) {
        reply(c, 400, errorJSON("收件邮箱格式不对"));
        return;
    }
    const std::string body = joined({"这是一封测试邮件。", "", "收到它说明「Corvane · 团队空间」的邮件服务已经配置好了，",
                                     "同事忘记密码时，就能用邮箱自助找回。", "", "发件账号：" + config.user,
                                     "时间：" + localDateTime(context_.clock())},
                                    "\n");
    const Outcome sent = mailer_.sendSync(config, to, "【Corvane】邮件服务测试", body);
    if (!sent) {
        c.server.emit(ServerEvent::log("测试邮件发送失败：" + sent.refusal()));
        reply(c, 502, errorJSON(sent.refusal()));
        return;
    }
    c.server.emit(ServerEvent::log("测试邮件已发往 " + to));
    reply(c, 200, {{"ok", true}, {"msg", "测试邮件已发出，去收件箱看看（含垃圾箱）"}});
}

}  // namespace corvane
