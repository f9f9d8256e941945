// The team-state mirror and the team operations of the team panel.
#include <QPointer>

#include "app/app_config.h"
#include "app/app_state.h"
#include "base/unicode_text.h"
#include "engine/discovery/discovery.h"
#include "storage/team_password.h"
#include "storage/team_store.h"
#include "storage/team_text.h"

namespace corvane {

namespace {

constexpr size_t teamNameMaxLength = 30;

// The first administrator's password change, on the caller's thread.
Outcome changeFirstAdminPassword(TeamStore& store, const std::string& oldPass, const std::string& newPass) {
    for (const TeamUser& account : store.allUsers()) {
        if (account.isAdmin()) return store.changePassword(account.id, oldPass, newPass);
    }
    return Refusal{"找不到管理员账号"};
}

}  // namespace

void AppState::refreshTeamState() {
    const TeamFacts facts = env_.readTeam(root_);
    setTeamReady(facts.hasAdmin);
    setTeamPending(facts.pending);
    setTeamName(facts.teamName);
    setTeamHasLogo(facts.hasLogo);
    setTeamLogoStamp(facts.logoStamp);
    setTeamUsers(facts.users);
    if (discovery_) discovery_->setTeam(usageMode_ == "team" ? teamName_ : "");
}

Outcome AppState::renameTeam(const std::string& name) {
    const std::string trimmed = trimWhitespace(name);
    if (trimmed.empty() || graphemeCount(trimmed) > teamNameMaxLength) return Refusal{"团队名称 1-30 个字"};
    TeamStore& store = *env_.teamStore;
    store.bind(root_);
    store.setTeamName(trimmed);
    refreshTeamState();
    return {};
}

void AppState::enableTeam(const std::string& title, const std::string& adminName, const std::string& pass,
                          std::function<void(Outcome)> done) {
    env_.teamStore->bind(root_);
    if (graphemeCount(pass) < teamMinPassword) {
        done(Refusal{"密码至少 6 位"});
        return;
    }
    std::string name = trimBlanks(adminName);
    if (name.empty()) name = "群主";
    const QPointer<AppState> self(this);
    workers_.run([self, queue = env_.mainQueue, store = env_.teamStore, root = root_, name, pass,
                  team = trimBlanks(title), done = std::move(done)] {
        store->bind(root);
        const bool created = store->createAdmin(name, pass, team).has_value();
        if (created) store->prepareDirs();
        queue->post([self, created, done] {
            if (!self) return;
            if (!created) {
                done(Refusal{"团队空间已经启用过了"});
                return;
            }
            self->refreshTeamState();
            done(Outcome());
        });
    });
}

void AppState::toggleTeamBlock(const std::string& id) {
    TeamStore& store = *env_.teamStore;
    store.bind(root_);
    const std::optional<TeamUser> account = store.user(id);
    if (!account || account->isAdmin()) return;
    store.setStatus(id, account->status == "blocked" ? "active" : "blocked");
    refreshTeamState();
}

void AppState::changeAdminPassword(const std::string& oldPass, const std::string& newPass,
                                   std::function<void(Outcome)> done) {
    env_.teamStore->bind(root_);
    const QPointer<AppState> self(this);
    workers_.run([self, queue = env_.mainQueue, store = env_.teamStore, root = root_, oldPass, newPass,
                  done = std::move(done)] {
        store->bind(root);
        Outcome outcome = changeFirstAdminPassword(*store, oldPass, newPass);
        queue->post([self, outcome = std::move(outcome), done] {
            if (self) done(outcome);
        });
    });
}

void AppState::issueTemporaryPassword(const std::string& id, std::function<void(Result<std::string>)> done) {
    env_.teamStore->bind(root_);
    const QPointer<AppState> self(this);
    workers_.run([self, queue = env_.mainQueue, store = env_.teamStore, root = root_, id, done = std::move(done)] {
        store->bind(root);
        Result<std::string> password = store->adminReset(id);
        queue->post([self, password = std::move(password), done] {
            if (self) done(password);
        });
    });
}

std::string AppState::teamAddress() const {
    const std::string host = localIPs_.empty() ? "127.0.0.1" : localIPs_.front();
    return "http://" + host + ":" + std::to_string(port_) + "/";
}

}  // namespace corvane
