#include "views/main/root_sheets.h"

#include "app/app_state.h"
#include "views/main/chat_view.h"
#include "views/sheets/burn_sheet.h"
#include "views/sheets/diag_sheet.h"
#include "views/sheets/pin_sheet.h"
#include "views/sheets/stub_sheet.h"
#include "views/sheets/text_sheet.h"
#include "views/team/team_panel.h"

namespace corvane {

namespace {

using Identity = std::optional<std::string>;

Identity flag(bool raised) { return raised ? Identity(std::string()) : std::nullopt; }

// A row whose dialog is still the stand-in with the real sheet's title and size.
std::function<QDialog*(AppState*, QWidget*)> stub(const QString& title, int width, int height = 0) {
    return [spec = StubSpec{title, width, height}](AppState*, QWidget* parent) { return new StubSheet(spec, parent); };
}

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

QDialog* teamPanel(AppState* s, QWidget* parent) { return new TeamPanel(*s, parent); }

}  // namespace

std::vector<SheetRow> rootSheetRows() {
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
                    [](AppState& s) { s.setShowFeedback(false); }, stub(QStringLiteral("体验反馈"), 460), false,
                    &AppState::showFeedbackChanged});
    rows.push_back({QStringLiteral("welcomeSheet"), [](const AppState& s) { return flag(s.showWelcome()); },
                    [](AppState& s) { s.setShowWelcome(false); }, stub(QStringLiteral("欢迎使用Corvane"), 620), true,
                    &AppState::showWelcomeChanged});
    return rows;
}

}  // namespace corvane
