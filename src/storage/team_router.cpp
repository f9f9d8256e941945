// The frame of the team router: which paths it claims (as rows of the team stage, in
// dispatch order), the session, the access levels, the JSON reply, and the routes of
// the team page, team information, logo and name.
//
// Dispatch order (the first row whose path and method match takes the request):
//   /api/team (any) · GET/HEAD and POST /api/team/logo · POST /api/team/set ·
//   the account routes · forgot and reset · the mail routes · the team page (any) ·
//   everything else claimed: a member's team-file routes, else 401 or 404.

#include "storage/team_router.h"

#include <algorithm>
#include <sys/statvfs.h>

#include "base/cfg.h"
#include "base/json_fields.h"
#include "base/text_util.h"
#include "base/unicode_text.h"
#include "engine/server/http_server.h"
#include "engine/server/storage_gate.h"
#include "storage/mailer.h"
#include "storage/team_page.h"
#include "storage/team_text.h"

namespace corvane {

namespace {

// Bodies of 1 MiB and more are refused before they are read, except the logo's.
constexpr int64_t kMaxTeamBody = (int64_t(1) << 20) - 1;
const char* const kTooLarge = "请求过大";
constexpr int64_t kLogoMaxBody = 1999999;

// The gates' facts of the team paths, the same as the engine's reserved rows.
const RouteFacts kPage{.teamGated = true, .pinExempt = true, .originFree = true, .maxBody = kMaxTeamBody,
                       .oversizeError = kTooLarge};
const RouteFacts kOpenAPI{.teamGated = true, .pinExempt = true, .maxBody = kMaxTeamBody, .oversizeError = kTooLarge};
const RouteFacts kLogo{.teamGated = true, .pinExempt = true, .maxBody = kLogoMaxBody,
                       .oversizeError = "图片太大了（限 1.5MB）"};
// Sign-in, registration and reset take small bodies; forgot the smallest.
const RouteFacts kAccount{.teamGated = true, .pinExempt = true, .maxBody = 16383, .oversizeError = kTooLarge};
const RouteFacts kForgot{.teamGated = true, .pinExempt = true, .maxBody = 8191, .oversizeError = kTooLarge};

// The member rows and what a request without a session gets on them.
const TeamAccess kSignedIn{401, {{"error", "未登录"}}};
const TeamAccess kMe{401, {{"error", "未登录"}, {"needLogin", true}}};
const TeamAccess kUserList{401, {{"error", "未登录"}}, "只有管理员可以查看"};
const TeamAccess kTeamFiles{401, {{"error", "请先登录"}, {"needLogin", true}}};

const std::vector<std::string> kAny;
const std::vector<std::string> kGet{"GET", "HEAD"};
const std::vector<std::string> kPost{"POST"};

nlohmann::json storageInfo(const std::filesystem::path& root) {
    struct statvfs fs {};
    if (::statvfs(root.c_str(), &fs) != 0) return {{"free", 0}, {"total", 0}};
    return {{"free", int64_t(fs.f_bavail) * int64_t(fs.f_frsize)},
            {"total", int64_t(fs.f_blocks) * int64_t(fs.f_frsize)}};
}

std::string logoType(std::string_view bytes) {
    if (bytes.size() >= 3 && bytes.starts_with("\xFF\xD8")) return "image/jpeg";
    if (bytes.size() >= 4 && bytes.starts_with("GI")) return "image/gif";
    if (bytes.size() >= 13 && bytes[8] == 'W') return "image/webp";
    return "image/png";
}

std::string trimBlanks(std::string_view text) { return trimSpacesTabs(text); }

}  // namespace

TeamRouter::TeamRouter(StorageContext context)
    : context_(std::move(context)),
      store_(*context_.store),
      mailer_(*context_.mailer),
      limiter_(context_.clock),
      accountLimits_(context_.clock),
      fileRoutes_(teamFileRoutes(context_)) {}

TeamAccess TeamAccess::admins(const std::string& text) { return TeamAccess{403, errorJSON(text), text}; }

void TeamRouter::add(RouteTable& table, std::vector<std::string> methods, PathTest path, Handler handler,
                     const RouteFacts& facts) {
    // Rows keep the router alive as long as the table lives.
    auto self = shared_from_this();
    table.add(RouteStage::team, Route{std::move(methods), std::move(path),
                                      [self, handler](Connection& c) { ((*self).*handler)(c); }, facts});
}

void TeamRouter::add(RouteTable& table, std::vector<std::string> methods, PathTest path, const TeamAccess& access,
                     MemberHandler handler, const RouteFacts& facts) {
    auto self = shared_from_this();
    const auto run = [self, access, handler](Connection& c) {
        if (const std::optional<TeamUser> member = self->allowed(c, access)) ((*self).*handler)(c, *member);
    };
    const auto check = [self, access](Connection& c) { return self->allowed(c, access).has_value(); };
    table.add(RouteStage::team, Route{std::move(methods), std::move(path), run, facts, check});
}

void TeamRouter::addRows(RouteTable& table) {
    using P = PathTest;
    using A = TeamAccess;
    add(table, kAny, P::exact("/api/team"), &TeamRouter::teamInfo, kOpenAPI);
    add(table, kGet, P::exact("/api/team/logo"), &TeamRouter::logoGet, kLogo);
    add(table, kPost, P::exact("/api/team/logo"), A::admins("只有管理员能改团队 Logo"), &TeamRouter::logoSet, kLogo);
    add(table, kPost, P::exact("/api/team/set"), A::admins("只有管理员能改团队名称"), &TeamRouter::teamSet, kOpenAPI);
    add(table, kPost, P::exact("/api/auth/register"), &TeamRouter::registerAccount, kAccount);
    add(table, kPost, P::exact("/api/auth/login"), &TeamRouter::login, kAccount);
    add(table, kAny, P::exact("/api/auth/logout"), &TeamRouter::logout, kOpenAPI);
    add(table, kAny, P::exact("/api/auth/me"), kMe, &TeamRouter::me, kOpenAPI);
    add(table, kAny, P::exact("/api/auth/users"), kUserList, &TeamRouter::users, kOpenAPI);
    add(table, kPost, P::exact("/api/auth/approve"), A::admins("只有管理员可以审批"), &TeamRouter::approve, kOpenAPI);
    add(table, kPost, P::exact("/api/auth/block"), A::admins("只有管理员可以操作"), &TeamRouter::block, kOpenAPI);
    add(table, kPost, P::exact("/api/auth/pass"), kSignedIn, &TeamRouter::changePassword, kOpenAPI);
    add(table, kPost, P::exact("/api/auth/forgot"), &TeamRouter::forgot, kForgot);
    add(table, kPost, P::exact("/api/auth/reset"), &TeamRouter::reset, kAccount);
    add(table, kPost, P::exact("/api/auth/email"), kSignedIn, &TeamRouter::changeEmail, kOpenAPI);
    add(table, kPost, P::exact("/api/auth/recover"), A::admins("只有管理员可以重置"), &TeamRouter::recover, kOpenAPI);
    add(table, kGet, P::exact("/api/mail"), A::admins("只有管理员可以查看"), &TeamRouter::mailGet, kOpenAPI);
    add(table, kPost, P::exact("/api/mail"), A::admins("只有管理员可以修改"), &TeamRouter::mailSet, kOpenAPI);
    add(table, kPost, P::exact("/api/mail/test"), A::admins("只有管理员可以测试"), &TeamRouter::mailTest, kOpenAPI);
    for (const char* path : {"/", "/web", "/login", "/team"}) add(table, kAny, P::exact(path), &TeamRouter::page, kPage);
    // The end of the list: every other claimed request.
    add(table, kAny, P::exact("/api/team/logo"), kTeamFiles, &TeamRouter::teamFiles, kLogo);
    add(table, kAny, P::exact("/api/team/set"), kTeamFiles, &TeamRouter::teamFiles, kOpenAPI);
    for (const char* prefix : {"/api/auth/", "/api/tf/", "/api/mail"}) {
        add(table, kAny, P::prefix(prefix), kTeamFiles, &TeamRouter::teamFiles, kOpenAPI);
    }
}

// ---- Session, access and replies ----

std::string TeamRouter::tfToken(const HTTPReq& req) {
    const std::string cookie = req.header("cookie");
    for (std::string_view piece : splitDroppingEmpty(cookie, ";")) {
        const size_t eq = piece.find('=');
        if (eq == std::string_view::npos) continue;
        if (trimBlanks(piece.substr(0, eq)) == "qp_s") return trimBlanks(piece.substr(eq + 1));
    }
    const std::string authorization = req.header("authorization");
    if (lowerASCII(authorization).starts_with("bearer ")) return trimBlanks(std::string_view(authorization).substr(7));
    return req.param("t");
}

void TeamRouter::bind(const Connection& c) const { store_.bind(c.server.root()); }

std::optional<TeamUser> TeamRouter::tfMe(const Connection& c) const {
    bind(c);
    const std::string token = tfToken(c.req);
    if (token.empty()) return std::nullopt;
    return store_.userForToken(token);
}

std::optional<TeamUser> TeamRouter::allowed(Connection& c, const TeamAccess& access) const {
    std::optional<TeamUser> me = tfMe(c);
    if (!me) {
        reply(c, access.status, access.refusal);
        return std::nullopt;
    }
    if (!access.notAdmin.empty() && !me->isAdmin()) {
        reply(c, 403, errorJSON(access.notAdmin));
        return std::nullopt;
    }
    return me;
}

bool TeamRouter::refuseLargeBody(Connection& c, size_t limit) const {
    if (c.req.body.size() < limit) return false;
    reply(c, 413, errorJSON(kTooLarge));
    return true;
}

bool TeamRouter::refuseOverLimit(Connection& c, RateLimiter& limiter, const std::string& key, int limit, double window,
                                 const char* text) {
    if (limiter.allow(key, limit, window)) return false;
    reply(c, 429, errorJSON(text));
    return true;
}

void TeamRouter::reply(const Connection& c, int status, const nlohmann::json& value, const HeaderList& extra) {
    HeaderList headers{{"Content-Type", "application/json; charset=utf-8"}};
    headers.insert(headers.end(), extra.begin(), extra.end());
    const bool headOnly = c.req.method == "HEAD";
    if (const auto body = encodeJSONBody(value)) {
        respond(c.fd, status, headers, *body, headOnly);
    } else {
        respond(c.fd, 500, {headers.front()}, R"({"error":"json"})", headOnly);
    }
}

nlohmann::json TeamRouter::bodyObject(const HTTPReq& req) {
    nlohmann::json obj = nlohmann::json::parse(req.body, nullptr, false);
    return obj.is_object() ? obj : nlohmann::json::object();
}

// ---- Team information, logo, name and page ----

void TeamRouter::teamInfo(Connection& c) {
    bind(c);
    const std::string name = store_.teamName();
    reply(c, 200, {{"ok", true},
                   {"device", c.server.deviceName()},
                   {"team", name.empty() ? "团队空间" : name},
                   {"version", Cfg::version()},
                   {"hasAdmin", store_.hasAdmin()},
                   {"hasLogo", store_.hasLogo()},
                   {"logoStamp", store_.logoStamp()},
                   {"storage", storageInfo(c.server.root())},
                   {"requireApproval", true}});
}

void TeamRouter::logoGet(Connection& c) {
    bind(c);
    const std::string bytes = store_.logoBytes();
    if (bytes.empty()) {
        reply(c, 404, errorJSON("no logo"));
        return;
    }
    respond(c.fd, 200,
            {{"Content-Type", logoType(bytes)}, {"Cache-Control", "no-cache"}, {"Content-Length", std::to_string(bytes.size())}},
            bytes, c.req.method == "HEAD");
}

void TeamRouter::logoSet(Connection& c, const TeamUser& /*admin*/) {
    // A body over the row's limit was answered 413 before it was read.
    if (Outcome saved = store_.saveLogo(c.req.body); !saved) {
        reply(c, 400, errorJSON(saved.refusal()));
        return;
    }
    reply(c, 200, {{"ok", true}, {"logoStamp", store_.logoStamp()}});
    c.server.emit(ServerEvent::log("团队 Logo 已更新"));
    c.server.emit(ServerEvent::teamIdentity());
}

void TeamRouter::teamSet(Connection& c, const TeamUser& /*admin*/) {
    const auto name = trimWhitespace(Fields(bodyObject(c.req)).s("name").value_or(""));
    if (name.empty() || graphemeCount(name) > 30) {
        reply(c, 400, errorJSON("团队名称 1-30 个字"));
        return;
    }
    store_.setTeamName(name);
    reply(c, 200, {{"ok", true}, {"team", name}});
    c.server.emit(ServerEvent::log("团队名称改为「" + name + "」"));
    c.server.emit(ServerEvent::teamIdentity());
}

void TeamRouter::page(Connection& c) {
    bind(c);
    respond(c.fd, 200,
            {{"Content-Type", "text/html; charset=utf-8"},
             {"Cache-Control", "no-store"},
             {"X-Content-Type-Options", "nosniff"},
             {"Referrer-Policy", "no-referrer"}},
            teamPageHTML(), c.req.method == "HEAD");
}

void TeamRouter::teamFiles(Connection& c, const TeamUser& member) {
    if (!storageAnswers(c)) return;
    store_.prepareDirs();
    for (const TeamFileRoute& route : fileRoutes_) {
        const bool methodMatches =
            route.methods.empty() || std::find(route.methods.begin(), route.methods.end(), c.req.method) != route.methods.end();
        if (methodMatches && route.path == c.req.path) {
            route.handler(c, member);
            return;
        }
    }
    reply(c, 404, errorJSON("not found"));
}

}  // namespace corvane
