// The account routes: registration, sign-in with the session cookie, sign-out, the
// signed-in member, and the administrator's member list, approval, blocking and
// temporary passwords; a member's own password and mail address.

#include "base/json_fields.h"
#include "engine/server/http_server.h"
#include "storage/team_router.h"
#include "storage/team_text.h"

namespace corvane {

namespace {

constexpr size_t kMaxAccountBody = 16384;  // register and login refuse this size and more
const char* const kCookieName = "qp_s";

// Failed sign-ins per peer address and account name, and per peer address whatever the
// name (each costs a full password derivation); registrations per peer address.
constexpr int kFailedLoginLimit = 20;
constexpr int kFailedLoginsPerAddress = 100;
constexpr double kFailedLoginWindow = 900;
const char* const kTooManyTries = "尝试次数过多，过一会儿再试";
constexpr int kRegisterLimit = 30;
constexpr double kRegisterWindow = 3600;

std::string field(const nlohmann::json& obj, const char* key) { return Fields(obj).s(key).value_or(""); }

std::string sessionCookie(const std::string& token) {
    return std::string(kCookieName) + "=" + token + "; Path=/; Max-Age=604800; HttpOnly; SameSite=Lax";
}

}  // namespace

void TeamRouter::registerAccount(Connection& c) {
    if (refuseLargeBody(c, kMaxAccountBody)) return;
    if (refuseOverLimit(c, limiter_, "register:" + c.peerIP, kRegisterLimit, kRegisterWindow, "操作太频繁，过一会儿再试")) return;
    bind(c);
    const nlohmann::json body = bodyObject(c.req);
    if (!store_.hasAdmin()) {
        reply(c, 403, errorJSON("中心设备还没启用团队空间"));
        return;
    }
    const TeamRegResult result = store_.registerUser(field(body, "user"), field(body, "name"), field(body, "pass"),
                                                     field(body, "note"), field(body, "email"));
    if (!result.ok) {
        reply(c, 400, errorJSON(result.message));
        return;
    }
    c.server.emit(ServerEvent::log("新的加入申请：" + result.user.name + "(@" + result.user.user + ")"));
    c.server.emit(ServerEvent::teamPending());
    c.server.emit(ServerEvent::teamAccounts());
    reply(c, 200, {{"ok", true}, {"status", "pending"}, {"id", result.user.id}});
}

void TeamRouter::login(Connection& c) {
    if (refuseLargeBody(c, kMaxAccountBody)) return;
    bind(c);
    const nlohmann::json body = bodyObject(c.req);
    const std::string user = field(body, "user");
    // Each attempt is counted before the check and taken back unless it fails, so that
    // concurrent attempts cannot pass a limit together. The name is keyed as the store
    // reads it, so case and blanks do not make new keys.
    const std::string byAddress = "login-address:" + c.peerIP;
    const std::string byName = "login:" + c.peerIP + ":" + lowerText(trimSpacesTabs(user));
    if (refuseOverLimit(c, limiter_, byAddress, kFailedLoginsPerAddress, kFailedLoginWindow, kTooManyTries)) return;
    if (refuseOverLimit(c, limiter_, byName, kFailedLoginLimit, kFailedLoginWindow, kTooManyTries)) {
        limiter_.release(byAddress);
        return;
    }
    const LoginResult result = store_.login(user, field(body, "pass"));
    if (result.kind != LoginResult::Kind::bad) {
        limiter_.release(byName);
        limiter_.release(byAddress);
    }
    switch (result.kind) {
    case LoginResult::Kind::ok:
        reply(c, 200, {{"ok", true}, {"user", result.user.publicDict()}}, {{"Set-Cookie", sessionCookie(result.token)}});
        return;
    case LoginResult::Kind::pending:
        reply(c, 200, {{"ok", false}, {"status", "pending"}, {"user", result.user.publicDict()}});
        return;
    case LoginResult::Kind::bad:
        reply(c, 401, errorJSON(result.message));
        return;
    }
}

void TeamRouter::logout(Connection& c) {
    bind(c);
    const std::string token = tfToken(c.req);
    if (!token.empty()) store_.logout(token);
    reply(c, 200, {{"ok", true}}, {{"Set-Cookie", std::string(kCookieName) + "=; Path=/; Max-Age=0; HttpOnly; SameSite=Lax"}});
}

void TeamRouter::me(Connection& c, const TeamUser& member) {
    reply(c, 200, {{"ok", true}, {"user", member.publicDict()}, {"team", store_.teamName()}, {"device", c.server.deviceName()}});
}

void TeamRouter::users(Connection& c, const TeamUser& /*admin*/) {
    nlohmann::json list = nlohmann::json::array();
    for (const TeamUser& account : store_.allUsers()) list.push_back(account.publicDict());
    reply(c, 200, {{"ok", true}, {"users", list}});
}

void TeamRouter::approve(Connection& c, const TeamUser& /*admin*/) {
    const nlohmann::json body = bodyObject(c.req);
    const std::string id = field(body, "id");
    const std::optional<TeamUser> account = store_.user(id);
    if (!account) {
        reply(c, 404, errorJSON("找不到这个申请"));
        return;
    }
    if (Fields(body).b("allow")) {
        store_.setStatus(id, "active");
        c.server.emit(ServerEvent::log("已通过 " + account->name + " 的加入申请"));
        c.server.emit(ServerEvent::teamPending());
        c.server.emit(ServerEvent::teamAccounts());
        reply(c, 200, {{"ok", true}, {"status", "active"}});
        return;
    }
    store_.removeUser(id);  // never an administrator; the reply is the same either way
    c.server.emit(ServerEvent::log("已拒绝 " + account->name + " 的加入申请"));
    c.server.emit(ServerEvent::teamPending());
    c.server.emit(ServerEvent::teamAccounts());
    reply(c, 200, {{"ok", true}, {"status", "removed"}});
}

void TeamRouter::block(Connection& c, const TeamUser& /*admin*/) {
    const std::string id = field(bodyObject(c.req), "id");
    const std::optional<TeamUser> account = store_.user(id);
    if (!account || account->isAdmin()) {
        reply(c, 400, errorJSON("不能停用管理员"));
        return;
    }
    const std::string status = account->status == "blocked" ? "active" : "blocked";
    store_.setStatus(id, status);
    c.server.emit(ServerEvent::teamAccounts());
    reply(c, 200, {{"ok", true}, {"status", status}});
}

void TeamRouter::changePassword(Connection& c, const TeamUser& member) {
    const nlohmann::json body = bodyObject(c.req);
    if (Outcome changed = store_.changePassword(member.id, field(body, "old"), field(body, "new")); !changed) {
        reply(c, 400, errorJSON(changed.refusal()));
        return;
    }
    reply(c, 200, {{"ok", true}});
}

void TeamRouter::changeEmail(Connection& c, const TeamUser& member) {
    const nlohmann::json body = bodyObject(c.req);
    std::string id = field(body, "id");
    if (id.empty()) id = member.id;
    if (id != member.id && !member.isAdmin()) {
        reply(c, 403, errorJSON("只有管理员可以改别人的邮箱"));
        return;
    }
    if (Outcome changed = store_.setEmail(id, field(body, "email")); !changed) {
        reply(c, 400, errorJSON(changed.refusal()));
        return;
    }
    c.server.emit(ServerEvent::teamAccounts());
    reply(c, 200, {{"ok", true}});
}

void TeamRouter::recover(Connection& c, const TeamUser& /*admin*/) {
    const std::string id = field(bodyObject(c.req), "id");
    const std::optional<TeamUser> account = store_.user(id);
    Result<std::string> temp = store_.adminReset(id);
    if (!account || !temp) {
        reply(c, 404, errorJSON("找不到这个成员"));
        return;
    }
    c.server.emit(ServerEvent::log("管理员重置了 " + account->name + " 的密码"));
    reply(c, 200, {{"ok", true}, {"temp", *temp}, {"msg", "临时密码只显示这一次，请当面或电话告诉对方"}});
}

}  // namespace corvane
