// The applicants, members and disabled members: one list on a model per box, filled
// from AppState's copy of the accounts after every refresh. Each list is one Tab stop
// whose arrows move between its rows; a row's actions are its keys' (Return, Delete),
// its painted buttons' and a screen reader's. When an approve or a reject takes a row
// away, the keys stay at its place in the list: on the next applicant.
#include <algorithm>
#include <utility>

#include <QMenu>
#include <QPointer>
#include <QVBoxLayout>

#include "app/app_state.h"
#include "views/controls.h"
#include "views/main/row_action_list.h"
#include "views/team/panel_parts.h"
#include "views/team/team_member_delegate.h"
#include "views/team/team_member_model.h"
#include "views/team/team_panel.h"

namespace corvane {

namespace {

using nlohmann::json;
using Kind = TeamMemberModel::Kind;

// Rows a list shows before it scrolls: a team of thousands scrolls inside its box.
constexpr int kShownRows = 8;

QString boxTitle(Kind kind, int count) {
    const QString number = QString::number(count);
    switch (kind) {
        case Kind::pending: return QStringLiteral("等待审批 · ") + number;
        case Kind::active: return QStringLiteral("成员 · ") + number;
        case Kind::blocked: return QStringLiteral("已停用 · ") + number;
    }
    return {};
}

}  // namespace

TeamPanel::MemberList TeamPanel::memberList(Kind kind, const char* boxName, const char* listName,
                                            const std::string& symbol, const QColor& color) {
    QWidget* holder = memberBoxes_->parentWidget();
    MemberList made;
    made.box = new PanelBox(symbol, boxTitle(kind, 0), color, holder);
    made.box->setObjectName(QString::fromLatin1(boxName));
    made.box->content()->setContentsMargins(8, 4, 8, 4);
    made.list = new RowActionList(made.box);
    made.list->setObjectName(QString::fromLatin1(listName));
    made.list->setAccessibleName(made.box->title()->text().section(QLatin1Char(' '), 0, 0));
    made.list->setUniformItemSizes(true);
    made.list->setAutoFillBackground(false);
    made.list->viewport()->setAutoFillBackground(false);
    made.list->setAccessibleRowsShownOnly(true);
    made.model = new TeamMemberModel(kind, made.list);
    made.list->setModel(made.model);
    auto* delegate = new TeamMemberDelegate(made.list);
    made.list->setItemDelegate(delegate);
    TeamMemberModel* model = made.model;
    RowActionList* list = made.list;
    made.list->setRowKey([model](const QModelIndex& row) { return QString::fromStdString(memberText(model->user(row.row()), "id")); });
    made.list->setActions([this, model, list](const QModelIndex& row) { return memberActions(*model, *list, row); });
    connect(delegate, &TeamMemberDelegate::buttonPressed, this,
            [this, model, list, delegate](const QPersistentModelIndex& row, const QString& name) {
                list->setCurrentIndex(row);
                list->setFocus(Qt::MouseFocusReason);
                if (name != QStringLiteral("更多操作")) {
                    list->runAction(row, name);
                    return;
                }
                for (const auto& [title, area] : delegate->buttons(list->visualRect(row), row)) {
                    if (title == name) openMemberMenu(model->user(row.row()), list->viewport()->mapToGlobal(area.bottomLeft()), false);
                }
            });
    made.box->content()->addWidget(made.list);
    memberBoxes_->addWidget(made.box);
    return made;
}

std::vector<RowActionList::Action> TeamPanel::memberActions(const TeamMemberModel& model, RowActionList& list,
                                                            const QModelIndex& row) {
    const json user = model.user(row.row());
    const std::string id = memberText(user, "id");
    switch (model.kind()) {
        case Kind::pending:
            return {{QStringLiteral("通过"), Qt::Key_Return, [this, id] { state_.setTeamMemberStatus(id, "active"); }},
                    {QStringLiteral("拒绝"), Qt::Key_Delete, [this, id] { state_.removeTeamMember(id); }}};
        case Kind::blocked:
            return {{QStringLiteral("恢复"), Qt::Key_Return, [this, id] { state_.toggleTeamBlock(id); }}};
        case Kind::active: break;
    }
    if (model.admin(row.row()) || model.busy(row.row())) return {};
    const QPersistentModelIndex kept(row);
    const auto openMenu = [this, &list, kept, user] {
        if (!kept.isValid()) return;
        const QRect area = list.visualRect(kept);
        openMemberMenu(user, list.viewport()->mapToGlobal(QPoint(area.right() - 26, area.bottom())), true);
    };
    return {{QStringLiteral("更多操作"), Qt::Key_Return, openMenu, false},
            {QStringLiteral("重置密码（生成临时密码）"), 0, [this, user] { resetTemp(user); }},
            {QStringLiteral("设置邮箱…"), 0, [this, user] { askEmail(user); }},
            {QStringLiteral("停用这个账号"), 0, [this, id] { state_.toggleTeamBlock(id); }},
            {QStringLiteral("彻底移除"), 0, [this, id] { state_.removeTeamMember(id); }}};
}

void TeamPanel::showMembers() {
    if (members_.empty()) {
        members_.push_back(memberList(Kind::pending, "teamPendingBox", "teamPendingList", "clock.badge.questionmark",
                                      Theme::tint(Tint::orange)));
        members_.push_back(memberList(Kind::active, "teamMemberBox", "teamMemberList", "person.2", Theme::primary()));
        members_.push_back(memberList(Kind::blocked, "teamBlockedBox", "teamBlockedList",
                                      "person.crop.circle.badge.xmark", Theme::primary()));
    }
    for (const MemberList& shown : members_) {
        shown.model->show(state_.teamUsers(), resetting_);
        const int rows = shown.model->rowCount();
        shown.box->title()->setText(boxTitle(shown.model->kind(), rows));
        shown.list->setFixedHeight(std::min(rows, kShownRows) * TeamMemberDelegate::rowHeight);
        // The members' box shows even when empty; the others only with rows.
        shown.box->setVisible(rows > 0 || shown.model->kind() == Kind::active);
    }
}

// The menu pops up without a nested event loop; its actions run from the main loop.
void TeamPanel::openMemberMenu(const json& user, const QPoint& at, bool byKeys) {
    auto* menu = new RoleMenu(this);
    menu->setObjectName(QStringLiteral("teamMemberMenu"));
    menu->setAttribute(Qt::WA_DeleteOnClose);
    const std::string id = memberText(user, "id");
    menu->addAction(QStringLiteral("重置密码（生成临时密码）"), this, [this, user] { resetTemp(user); });
    menu->addAction(QStringLiteral("设置邮箱…"), this, [this, user] { askEmail(user); });
    menu->addSeparator();
    menu->addAction(QStringLiteral("停用这个账号"), this, [this, id] { state_.toggleTeamBlock(id); });
    RoleMenu::markDestructive(
        menu->addAction(QStringLiteral("彻底移除"), this, [this, id] { state_.removeTeamMember(id); }));
    // Opened by keys, its first item is highlighted, as every menu's.
    if (byKeys) {
        popupFromKeys(menu, at);
    } else {
        menu->popup(at);
    }
}

// The member's row offers nothing while the password is made; the keys stay on it.
void TeamPanel::resetTemp(const json& user) {
    const std::string label = memberLabel(user, "这个成员");
    const std::string id = memberText(user, "id");
    if (id.empty()) return;
    resetting_.insert(id);
    showMembers();
    const QPointer<TeamPanel> self(this);
    state_.issueTemporaryPassword(id, [self, id, label](const Result<std::string>& password) {
        if (!self) return;
        self->resetting_.erase(id);
        self->showMembers();
        if (!password) return;
        AlertQuestion alert{label + " 的临时密码",
                            *password + "\n\n只显示这一次，请当面或电话告诉对方；建议对方登录后立刻改密。",
                            {"复制并关闭", "关闭"}};
        self->state_.environment().showAlert(alert, [self, password = *password](int pressed) {
            if (!self) return;
            if (pressed == 0) self->state_.environment().copyText(password);
            self->state_.refreshTeamState();
        });
    });
}

void TeamPanel::askEmail(const json& user) {
    const TextQuestion question{.title = "设置邮箱",
                               .message = "设置 " + memberLabel(user, "对方") + " 的邮箱",
                               .informative = "填了邮箱，对方才能自己找回密码。留空表示解绑。",
                               .confirm = "保存",
                               .cancel = "取消",
                               .text = "",
                               .placeholder = "name@example.com"};
    const QPointer<TeamPanel> self(this);
    state_.environment().askText(question, [self, id = memberText(user, "id")](std::optional<std::string> typed) {
        if (!self || !typed) return;
        const Outcome outcome = self->state_.setTeamMemberEmail(id, *typed);
        if (!outcome) self->state_.environment().showAlert(AlertQuestion{outcome.refusal(), "", {"好"}}, [](int) {});
    });
}

}  // namespace corvane
