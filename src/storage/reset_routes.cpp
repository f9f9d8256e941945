// Password reset by mail: a six-digit code sent to the account's bound address, then
// the code with a new password; both routes limited per peer address, and per account
// whatever the address: codes issued per hour, wrong codes compared per day.

#include "base/json_fields.h"
#include "base/text_util.h"
#include "engine/server/http_server.h"
#include "storage/mail_settings.h"
#include "storage/mailer.h"
#include "storage/team_router.h"

namespace corvane {

namespace {

constexpr size_t kMaxForgotBody = 8192;
constexpr size_t kMaxResetBody = 16384;
constexpr int kForgotLimit = 12;
constexpr int kResetLimit = 20;
constexpr double kResetWindow = 3600;
constexpr int kCodesPerAccount = 5;          // within kResetWindow
constexpr int kWrongCodesPerAccount = 20;    // within kWrongCodeWindow
constexpr double kWrongCodeWindow = 86400;
const char* const kTooOften = "操作太频繁，过一会儿再试";
const char* const kTooManyTries = "尝试次数过多，过一会儿再试";

// The reply to any name for which no code goes out, so that it tells nothing of the account.
nlohmann::json neutralReply() {
    return {{"ok", true}, {"sent", false}, {"msg", "如果这个账号绑定了邮箱，验证码已经发出，请查收（含垃圾箱）。"}};
}

std::string resetMailBody(const TeamStore::ResetTicket& ticket, const std::string& teamName) {
    return joined({ticket.name + "，你好：", "", "有人在「Corvane · 团队空间」申请重置你的密码。",
                   "验证码：" + ticket.code, "15 分钟内有效，只能使用一次。", "",
                   "如果不是你本人操作，忽略这封邮件即可，密码不会改变。", "",
                   "—— Corvane · 团队空间（" + teamName + "）"},
                  "\n");
}

}  // namespace

void TeamRouter::forgot(Connection& c) {
    if (refuseLargeBody(c, kMaxForgotBody)) return;
    if (refuseOverLimit(c, limiter_, "forgot:" + c.peerIP, kForgotLimit, kResetWindow, kTooOften)) return;
    bind(c);
    const nlohmann::json body = bodyObject(c.req);
    const MailConfig mail = MailStore(store_).load();
    const std::string account = Fields(body).s("account").value_or("");
    // Counted before the code is drawn and taken back when none is. Beyond the account's
    // cap no code is drawn or mailed, and the reply is the one an unknown name gets.
    const std::optional<std::string> uid = store_.resetAccountId(account);
    const std::string issued = "codes:" + uid.value_or("");
    if (uid && !accountLimits_.allow(issued, kCodesPerAccount, kResetWindow)) {
        reply(c, 200, neutralReply());
        return;
    }
    const auto ticket = store_.issueReset(account);
    if (!ticket) {
        if (uid) accountLimits_.release(issued);
        reply(c, 200, neutralReply());
        return;
    }
    if (!mail.enabled()) {
        reply(c, 200, {{"ok", true},
                       {"sent", false},
                       {"noMail", true},
                       {"msg", "中心设备还没配置邮件服务，请联系管理员帮你重置密码。"}});
        return;
    }
    const Outcome sent = mailer_.sendSync(mail, ticket->email, "【Corvane】重置密码验证码 " + ticket->code,
                                          resetMailBody(*ticket, store_.teamName()));
    if (!sent) {
        c.server.emit(ServerEvent::log("找回密码邮件发送失败：" + sent.refusal()));
        reply(c, 502, errorJSON("验证码没发出去：" + sent.refusal()));
        return;
    }
    const std::string masked = maskMail(ticket->email);
    reply(c, 200, {{"ok", true}, {"sent", true}, {"masked", masked}, {"msg", "验证码已发到 " + masked + "，15 分钟内有效。"}});
}

void TeamRouter::reset(Connection& c) {
    if (refuseLargeBody(c, kMaxResetBody)) return;
    if (refuseOverLimit(c, limiter_, "reset:" + c.peerIP, kResetLimit, kResetWindow, kTooManyTries)) return;
    bind(c);
    const nlohmann::json obj = bodyObject(c.req);
    const Fields body(obj);
    const std::string account = body.s("account").value_or("");
    // Counted before the code is compared and taken back unless it was a wrong one, so
    // that concurrent guesses cannot pass the limit together.
    const std::optional<std::string> uid = store_.resetAccountId(account);
    const std::string guesses = "wrong-codes:" + uid.value_or("");
    if (uid && refuseOverLimit(c, accountLimits_, guesses, kWrongCodesPerAccount, kWrongCodeWindow, kTooManyTries)) {
        return;
    }
    const TeamStore::ResetOutcome done =
        store_.resetWithCode(account, body.s("code").value_or(""), body.s("pass").value_or(""));
    if (uid && !done.isWrongCode()) accountLimits_.release(guesses);
    if (!done) {
        reply(c, 400, errorJSON(done.refusal()));
        return;
    }
    c.server.emit(ServerEvent::log("账号 @" + account + " 通过邮箱验证重置了密码"));
    reply(c, 200, {{"ok", true}});
}

}  // namespace corvane
