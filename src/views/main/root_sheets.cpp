#include "views/main/root_sheets.h"

#include "app/app_state.h"
#include "views/main/chat_view.h"
#include "views/sheets/burn_sheet.h"
#include "views/sheets/diag_sheet.h"
#include "views/sheets/feedback_sheet.h"
#include "views/sheets/pin_sheet.h"
#include "views/sheets/text_sheet.h"
#include "views/sheets/welcome_sheet.h"
#include "views/team/team_panel.h"

namespace corvane {

namespace {

using Identity = std::optional<std::string>;

Identity flag(bool raised) { return raised ? Identity(std::string()) : std::nullopt; }

QDialog* pinSheet(AppState* s, QWidget* parent) {
    if (!s->pinPromptFor()) return nullptr;
    return new PINSheet(*s, *s->pinPromptFor(), parent);
}

QDialog* textSheet(AppState* s, QWidget* parent) { return new TextSheet(*s, parent); }

QDialog* chatView(AppState* s, QWidget* parent) { return new ChatView(*s, parent); }

QDialog* burnSheet(AppState* s, QWidget* parent) {
    if (!s->burnNote()) return nullptr;
    return new BurnSheet(*s, *s->burnNote(), parent);
}

QDialog* diagSheet(AppState* s, QWidget* parent) { return new DiagSheet(*s, parent); }

QDialog* welcomeSheet(AppState* s, QWidget* parent) { return new WelcomeSheet(*s, parent); }
QDialog* teamPanel(AppState* s, QWidget* parent) { return new TeamPanel(*s, parent); }

}  // namespace

std::vector<SheetRow> rootSheetRows(std::shared_ptr<const FeedbackSubmitter> feedback) {
    std::vector<SheetRow> rows;
    rows.push_back({QStringLiteral("pinSheet"),
                    [](const AppState& s) -> Identity {
                        if (!s.pinPromptFor()) return std::nullopt;
                        return s.pinPromptFor()->id;
                    },
                    [](AppState& s) { s.setPinPromptFor(std::nullopt); }, pinSheet, true,
                    &AppState::pinPromptForChanged});
    rows.push_back({QStringLiteral("textSheet"), [](const AppState& s) { return flag(s.showTextSheet()); },
                    [](AppState& s) { s.setShowTextSheet(false); }, textSheet, true,
                    &AppState::showTextSheetChanged});
    rows.push_back({QStringLiteral("chatView"), [](const AppState& s) { return flag(s.showChat()); },
                    [](AppState& s) { s.setShowChat(false); }, chatView, true,
                    &AppState::showChatChanged});
    rows.push_back({QStringLiteral("teamPanel"), [](const AppState& s) { return flag(s.showTeam()); },
                    [](AppState& s) { s.setShowTeam(false); }, teamPanel, true,
                    &AppState::showTeamChanged});
    rows.push_back({QStringLiteral("burnSheet"),
                    [](const AppState& s) -> Identity {
                        if (!s.burnNote()) return std::nullopt;
                        return s.burnNote()->id;
                    },
                    [](AppState& s) { s.setBurnNote(std::nullopt); }, burnSheet, true,
                    &AppState::burnNoteChanged});
    rows.push_back({QStringLiteral("diagSheet"), [](const AppState& s) { return flag(s.showDiag()); },
                    [](AppState& s) { s.setShowDiag(false); }, diagSheet, true,
                    &AppState::showDiagChanged});
    rows.push_back({QStringLiteral("feedbackSheet"), [](const AppState& s) { return flag(s.showFeedback()); },
                    [](AppState& s) { s.setShowFeedback(false); },
                    [feedback](AppState*, QWidget* parent) { return new FeedbackSheet(feedback, parent); }, false,
                    &AppState::showFeedbackChanged});
    rows.push_back({QStringLiteral("welcomeSheet"), [](const AppState& s) { return flag(s.showWelcome()); },
                    [](AppState& s) { s.setShowWelcome(false); }, welcomeSheet, true,
                    &AppState::showWelcomeChanged});
    return rows;
}

}  // namespace corvane
