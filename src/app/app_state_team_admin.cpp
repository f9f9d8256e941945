// The team panel's quick operations: members, logo and mail settings, and the test mail.
#include <QPointer>

#include "app/app_state.h"
#include "storage/team_store.h"

namespace corvane {

void AppState::setTeamMemberStatus(const std::string& id, const std::string& status) {
    env_.teamStore->bind(root_);
    (void)env_.teamStore->setStatus(id, status);
    refreshTeamState();
}

void AppState::removeTeamMember(const std::string& id) {
    env_.teamStore->bind(root_);
    (void)env_.teamStore->removeUser(id);
    refreshTeamState();
}

Outcome AppState::setTeamMemberEmail(const std::string& id, const std::string& email) {
    env_.teamStore->bind(root_);
    Outcome outcome = env_.teamStore->setEmail(id, email);
    refreshTeamState();
    return outcome;
}

void AppState::saveTeamLogo(const std::string& bytes) {
    env_.teamStore->bind(root_);
    (void)env_.teamStore->saveLogo(bytes);
    refreshTeamState();
}

void AppState::clearTeamLogo() {
    env_.teamStore->bind(root_);
    env_.teamStore->clearLogo();
    refreshTeamState();
}

std::string AppState::teamLogoBytes() const {
    env_.teamStore->bind(root_);
    return env_.teamStore->logoBytes();
}

MailConfig AppState::loadMailSettings() const {
    env_.teamStore->bind(root_);
    return MailStore(*env_.teamStore).load();
}

void AppState::saveMailSettings(const MailConfig& config) {
    env_.teamStore->bind(root_);
    MailStore(*env_.teamStore).save(config);
}

void AppState::sendTestMail(const MailConfig& config, const std::string& to, const std::string& subject,
                            const std::string& body, std::function<void(Outcome)> done) {
    const QPointer<AppState> self(this);
    workers_.run([self, queue = env_.mainQueue, send = env_.sendMail, config, to, subject, body,
                  done = std::move(done)] {
        Outcome outcome = send(config, to, subject, body);
        queue->post([self, outcome = std::move(outcome), done] {
            if (self) done(outcome);
        });
    });
}

}  // namespace corvane
