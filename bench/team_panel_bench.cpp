// The team panel opened on a team of 10, 1,000 and 5,000 members: the time from its
// construction until it has shown and painted once, and the time until a key in the
// member list (Down) has moved the row and repainted. Prints milliseconds; asserts
// nothing. Runs on the offscreen platform with an application state in a temporary
// folder, never started, whose accounts come from memory rather than a team store.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <QApplication>
#include <QKeyEvent>
#include <QTemporaryDir>

#include "app/app_state.h"
#include "app/defaults_store.h"
#include "views/main/row_action_list.h"
#include "views/team/team_panel.h"
#include "views/theme.h"

namespace {

using Clock = std::chrono::steady_clock;

double millis(Clock::time_point since) {
    return std::chrono::duration<double, std::milli>(Clock::now() - since).count();
}

// An administrator, then members: one in ten asks to join, one in fifty is disabled.
corvane::TeamFacts team(int members) {
    corvane::TeamFacts facts;
    facts.hasAdmin = true;
    facts.teamName = "设计部";
    facts.users.push_back({{"id", "admin"}, {"user", "admin"}, {"name", "Ann"}, {"role", "admin"}, {"status", "active"}});
    for (int k = 0; k < members; ++k) {
        const std::string status = k % 10 == 0 ? "pending" : k % 50 == 1 ? "blocked" : "active";
        facts.users.push_back({{"id", "u" + std::to_string(k)},
                               {"user", "user" + std::to_string(k)},
                               {"name", "成员 " + std::to_string(k)},
                               {"role", "member"},
                               {"email", k % 2 ? "m" + std::to_string(k) + "@example.com" : ""},
                               {"status", status}});
        if (status == "pending") ++facts.pending;
    }
    return facts;
}

}  // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    corvane::Theme::apply(app);
    for (const int members : {10, 1000, 5000}) {
        QTemporaryDir box;
        corvane::AppEnvironment env;
        env.home = box.filePath("home").toStdString();
        env.appSupport = box.filePath("support").toStdString();
        env.defaults = std::make_shared<corvane::DefaultsStore>(box.filePath("defaults.json").toStdString());
        const corvane::TeamFacts facts = team(members);
        env.readTeam = [facts](const std::filesystem::path&) { return facts; };
        corvane::AppState state(env);
        state.setShowWelcome(false);
        state.refreshTeamState();

        auto started = Clock::now();
        auto panel = std::make_unique<corvane::TeamPanel>(state, nullptr);
        panel->show();
        QApplication::processEvents();
        panel->grab();
        const double opened = millis(started);

        auto* list = panel->findChild<corvane::RowActionList*>(QStringLiteral("teamMemberList"));
        list->setFocus(Qt::TabFocusReason);
        QApplication::processEvents();
        started = Clock::now();
        QKeyEvent down(QEvent::KeyPress, Qt::Key_Down, Qt::NoModifier);
        QApplication::sendEvent(list, &down);
        panel->grab();
        const double key = millis(started);
        std::printf("team panel, %5d members: opened and painted in %8.1f ms; Down in the list answered in %6.1f ms\n",
                    members, opened, key);
        panel.reset();
        QApplication::processEvents();
    }
    return 0;
}
