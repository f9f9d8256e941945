#pragma once
// The team panel ("团队空间", 640 × 640): while no administrator exists, the set-up
// form that creates the administrator and the team in one step; afterwards the
// management column: address card with name and logo, applicants, members,
// disabled members, mail settings and the administrator's password. Built fresh
// for every presentation; it reaches the team only through AppState, and every
// slow operation answers later on the main thread (an answer for a closed panel
// is dropped). "完成" is the default button; Escape does nothing. The set-up form
// opens with the keys in its first field, the management view with them on the
// panel itself (Return is "完成"'s, Space presses nothing), and Tab follows the
// screen order; each member list is one Tab stop, however many rows. Notices show in
// the main window's capsule, in a room kept free below the content while they show.
//
// The root window's sheet table makes it with one line:
//     return new TeamPanel(*state, parent);

#include <optional>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "base/refusal.h"
#include "storage/mail_settings.h"
#include "views/main/row_action_list.h"
#include "views/sheet.h"
#include "views/team/team_member_model.h"

class QLabel;
class QLineEdit;
class QScrollArea;
class QVBoxLayout;

namespace corvane {

class AppState;
class LogoBadge;
class PanelBox;
class QRView;
class Spinner;
class ToastView;

class TeamPanel : public Sheet {
    Q_OBJECT

public:
    static constexpr int side = 640;

    TeamPanel(AppState& state, QWidget* parent);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void firstShown() override;

private:
    // Shell (team_panel.cpp).
    QWidget* header();
    QWidget* toastRoom();
    void appear();
    void showSubtitle();
    void showToast();
    void showColumn();
    void pickLogo();
    void takeLogo(const std::string& bytes);
    QImage currentLogo() const;
    void showBadges();
    // The first control below the header.
    QWidget* firstControl() const;

    // Set-up form (team_setup_form.cpp).
    QWidget* setupColumn();
    void submit();
    void finishSetup(const Outcome& outcome);

    // Address card (team_address_card.cpp).
    QWidget* managementColumn();
    QWidget* addressCard();
    QLayout* identityRow(QWidget* parent);
    QLayout* addressRow(QWidget* parent);
    void showIdentity();
    void showAddress();
    void startRename();
    void saveName();
    void copyAddress();

    // Administrator password (team_password_section.cpp).
    QWidget* passwordSection();
    void changePassword();
    void showPasswordState();

    // Members (team_members.cpp): a box with a list of rows for each kind of account.
    struct MemberList {
        PanelBox* box = nullptr;
        RowActionList* list = nullptr;
        TeamMemberModel* model = nullptr;
    };
    MemberList memberList(TeamMemberModel::Kind kind, const char* boxName, const char* listName,
                          const std::string& symbol, const QColor& color);
    std::vector<RowActionList::Action> memberActions(const TeamMemberModel& model, RowActionList& list,
                                                     const QModelIndex& row);
    void showMembers();
    void openMemberMenu(const nlohmann::json& user, const QPoint& at, bool byKeys);
    void resetTemp(const nlohmann::json& user);
    void askEmail(const nlohmann::json& user);

    // Mail settings (team_mail_section.cpp).
    QWidget* mailSection();
    void loadMail();
    MailConfig composeMail() const;
    std::optional<MailConfig> applyMail();
    void testMail();
    void showMailState();

    AppState& state_;
    QLabel* subtitle_ = nullptr;
    ToastView* toast_ = nullptr;
    QWidget* toastRoom_ = nullptr;
    QScrollArea* scroll_ = nullptr;
    QWidget* setup_ = nullptr;
    QWidget* management_ = nullptr;
    std::optional<std::string> pickedLogo_;

    // Set-up form.
    LogoBadge* setupBadge_ = nullptr;
    QPushButton* dropLogo_ = nullptr;
    QLineEdit* title_ = nullptr;
    QLineEdit* adminName_ = nullptr;
    QLineEdit* pass_ = nullptr;
    QLineEdit* pass2_ = nullptr;
    QLabel* setupError_ = nullptr;
    QPushButton* enable_ = nullptr;

    // Address card.
    LogoBadge* badge_ = nullptr;
    QWidget* nameLine_ = nullptr;
    QLabel* name_ = nullptr;
    QWidget* nameEditor_ = nullptr;
    QLineEdit* nameDraft_ = nullptr;
    QPushButton* logoButton_ = nullptr;
    QPushButton* logoRemove_ = nullptr;
    QLabel* address_ = nullptr;
    QPushButton* copy_ = nullptr;
    QRView* qr_ = nullptr;

    // Members.
    QVBoxLayout* memberBoxes_ = nullptr;
    std::vector<MemberList> members_;  // applicants, members, disabled members
    std::set<std::string> resetting_;  // ids whose temporary password is being made

    // Mail settings.
    QLineEdit* mailHost_ = nullptr;
    QLineEdit* mailPort_ = nullptr;
    QLineEdit* mailUser_ = nullptr;
    QLineEdit* mailPass_ = nullptr;
    QLabel* mailPassCaption_ = nullptr;
    QLabel* mailMsg_ = nullptr;
    Spinner* mailSpinner_ = nullptr;
    QPushButton* mailSave_ = nullptr;
    QPushButton* mailTest_ = nullptr;
    std::string mailFrom_;
    bool mailHasPass_ = false;
    bool mailBusy_ = false;

    // Administrator password.
    QLineEdit* oldPass_ = nullptr;
    QLineEdit* newPass_ = nullptr;
    QLabel* passMsg_ = nullptr;
    Spinner* passSpinner_ = nullptr;
    QPushButton* passChange_ = nullptr;
    bool passBusy_ = false;
};

}  // namespace corvane
