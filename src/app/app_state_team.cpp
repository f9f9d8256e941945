// The team-state mirror: what the views show of the team store.
#include "app/app_state.h"
#include "engine/discovery.h"

namespace corvane {

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

}  // namespace corvane
