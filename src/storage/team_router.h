#pragma once
// The team router: the team page and the team, account, password-reset, mail and
// team-file routes as rows of the server's route table, in their dispatch order, over
// one team store, one mailer and the limiter's clock. Every claimed request gets exactly
// one reply; every reply to HEAD is the GET's head without a body.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "engine/server/http_response.h"
#include "engine/server/route_table.h"
#include "storage/rate_limiter.h"
#include "storage/team_store.h"

namespace corvane {

class Mailer;

// What the storage rows work on.
struct StorageContext {
    std::shared_ptr<TeamStore> store;
    std::shared_ptr<Mailer> mailer;
    std::function<double()> clock;  // seconds since 1970, for the abuse limits
};

// A route of the team files: reached only with a signed-in member, after the team
// folders were prepared.
struct TeamFileRoute {
    std::vector<std::string> methods;
    std::string path;
    std::function<void(Connection&, const TeamUser&)> handler;
};

// The team-file routes in the order they are tried (team_file_routes.cpp).
std::vector<TeamFileRoute> teamFileRoutes(const StorageContext& context);

// Who may use a team row: a request without an active member gets `refusal` with
// `status`; on rows of administrators, other members get 403 {"error": notAdmin}. The
// frame checks it before the handler, and before a body over the row's limit is refused.
struct TeamAccess {
    int status = 401;
    nlohmann::json refusal;
    std::string notAdmin = {};

    // Administrators only: every other request gets 403 with the text.
    static TeamAccess admins(const std::string& text);
};

class TeamRouter : public std::enable_shared_from_this<TeamRouter> {
public:
    explicit TeamRouter(StorageContext context);

    // Adds every team row to the team stage.
    void addRows(RouteTable& table);

    // The session token a request carries: the "qp_s" cookie (even when empty), else a
    // Bearer header, else the query "t"; "" when none.
    static std::string tfToken(const HTTPReq& req);
    // The active member the request's token belongs to, the store bound to the server's folder.
    std::optional<TeamUser> tfMe(const Connection& c) const;

    // One JSON reply, head only for HEAD; 500 {"error":"json"} when it cannot be encoded.
    static void reply(const Connection& c, int status, const nlohmann::json& value, const HeaderList& extra = {});
    // The request's JSON object, or an empty one.
    static nlohmann::json bodyObject(const HTTPReq& req);

private:
    using Handler = void (TeamRouter::*)(Connection&);
    // The handler of a row with access: it gets the member the request is made by.
    using MemberHandler = void (TeamRouter::*)(Connection&, const TeamUser&);
    void add(RouteTable& table, std::vector<std::string> methods, PathTest path, Handler handler,
             const RouteFacts& facts);
    void add(RouteTable& table, std::vector<std::string> methods, PathTest path, const TeamAccess& access,
             MemberHandler handler, const RouteFacts& facts);

    void bind(const Connection& c) const;
    // The member the access lets in, or its refusal written and none.
    std::optional<TeamUser> allowed(Connection& c, const TeamAccess& access) const;
    // Refusals written before a route reads anything: a body of `limit` bytes or more
    // (413), and a key that used up its requests within the window (429 with the text;
    // otherwise the request is counted).
    bool refuseLargeBody(Connection& c, size_t limit) const;
    bool refuseOverLimit(Connection& c, RateLimiter& limiter, const std::string& key, int limit, double window,
                         const char* text);

    // Frame and team info (team_router.cpp).
    void teamInfo(Connection& c);
    void logoGet(Connection& c);
    void logoSet(Connection& c, const TeamUser& admin);
    void teamSet(Connection& c, const TeamUser& admin);
    void page(Connection& c);
    void teamFiles(Connection& c, const TeamUser& member);
    // Accounts (account_routes.cpp).
    void registerAccount(Connection& c);
    void login(Connection& c);
    void logout(Connection& c);
    void me(Connection& c, const TeamUser& member);
    void users(Connection& c, const TeamUser& admin);
    void approve(Connection& c, const TeamUser& admin);
    void block(Connection& c, const TeamUser& admin);
    void changePassword(Connection& c, const TeamUser& member);
    void changeEmail(Connection& c, const TeamUser& member);
    void recover(Connection& c, const TeamUser& admin);
    // Password reset (reset_routes.cpp).
    void forgot(Connection& c);
    void reset(Connection& c);
    // Mail settings (mail_routes.cpp).
    void mailGet(Connection& c, const TeamUser& admin);
    void mailSet(Connection& c, const TeamUser& admin);
    void mailTest(Connection& c, const TeamUser& admin);

    StorageContext context_;
    TeamStore& store_;
    Mailer& mailer_;
    RateLimiter limiter_;  // per peer address (and sign-in name)
    // Per account whatever the address. Its keys are account ids, which requests cannot
    // make up, so a flood of other keys never pushes them out.
    RateLimiter accountLimits_;
    std::vector<TeamFileRoute> fileRoutes_;
};

}  // namespace corvane
