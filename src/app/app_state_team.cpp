// The team-state mirror and the team operations of the team panel.
#include "app/app_config.h"
#include "app/app_state.h"
#include "base/unicode_text.h"
#include "engine/discovery.h"
#include "storage/team_password.h"
#include "storage/team_store.h"
#include "storage/team_text.h"

namespace corvane {

namespace {

constexpr size_t teamNameMaxLength = 30;

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

Outcome AppState::enableTeam(const std::string& title, const std::string& adminName, const std::string& pass) {
    TeamStore& store = *env_.teamStore;
    store.bind(root_);
    if (graphemeCount(pass) < teamMinPassword) return Refusal{"密码至少 6 位"};
    std::string name = trimBlanks(adminName);
    if (name.empty()) name = "群主";
    if (!store.createAdmin(name, pass, trimBlanks(title))) return Refusal{"团队空间已经启用过了"};
    store.prepareDirs();
    refreshTeamState();
    return {};
}

void AppState::toggleTeamBlock(const std::string& id) {
    TeamStore& store = *env_.teamStore;
    store.bind(root_);
    const std::optional<TeamUser> account = store.user(id);
    if (!account || account->isAdmin()) return;
    store.setStatus(id, account->status == "blocked" ? "active" : "blocked");
    refreshTeamState();
}

Outcome AppState::changeAdminPassword(const std::string& oldPass, const std::string& newPass) {
    TeamStore& store = *env_.teamStore;
    store.bind(root_);
    for (const TeamUser& account : store.allUsers()) {
        if (account.isAdmin()) return store.changePassword(account.id, oldPass, newPass);
    }
    return Refusal{"找不到管理员账号"};
}

std::string AppState::teamAddress() const {
    const std::string host = localIPs_.empty() ? "127.0.0.1" : localIPs_.front();
    return "http://" + host + ":" + std::to_string(port_) + "/";
}

}  // namespace corvane
