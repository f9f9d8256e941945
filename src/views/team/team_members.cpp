// The applicants, members and disabled members, rebuilt from AppState's copy of the
// accounts after every refresh, and the actions their rows offer. The rows' buttons
// say whose they are (their description is the member's name), Tab visits them in
// the rows' order, and a button that goes with its row (an approve, a reject) hands
// the keys to the same button of the next row, else to the list's nearest control.
#include <map>
#include <utility>

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/app_state.h"
#include "views/controls.h"
#include "views/symbols.h"
#include "views/tab_order.h"
#include "views/team/panel_parts.h"
#include "views/team/team_panel.h"

namespace corvane {

namespace {

using nlohmann::json;

// A String field of an account's public dictionary, or none.
std::optional<std::string> textField(const json& user, const char* key) {
    const auto found = user.find(key);
    if (found == user.end() || !found->is_string()) return std::nullopt;
    return found->get<std::string>();
}

std::string textOr(const json& user, const char* key, const std::string& fallback = "") {
    return textField(user, key).value_or(fallback);
}

// How a member is called in the dialogs: the name, else the login, else the fallback.
std::string labelOf(const json& user, const std::string& fallback) {
    if (const auto name = textField(user, "name")) return *name;
    return textOr(user, "user", fallback);
}

std::vector<json> withStatus(const std::vector<json>& users, const char* status) {
    std::vector<json> out;
    for (const json& user : users) {
        if (textField(user, "status") == status) out.push_back(user);
    }
    return out;
}

// Whose a row's button is, as a screen reader says it after the button's title.
QString whoseButton(const json& user) {
    const std::string name = textOr(user, "name");
    return QString::fromStdString(name.empty() ? textOr(user, "user") : name);
}

QString objectNameFor(const char* kind, const json& user) {
    return QString::fromLatin1(kind) + QLatin1Char(':') + QString::fromStdString(textOr(user, "id"));
}

InitialAvatar* avatar(const json& user, double opacity, QWidget* parent) {
    const std::string name = labelOf(user, "U");
    return new InitialAvatar(firstLetter(QString::fromStdString(name)), opacity, parent);
}

QWidget* rowWidget(const json& user, int verticalPad, QHBoxLayout*& row, QWidget* parent) {
    auto* widget = new QWidget(parent);
    widget->setObjectName(objectNameFor("teamRow", user));
    row = new QHBoxLayout(widget);
    row->setContentsMargins(0, verticalPad, 0, verticalPad);
    row->setSpacing(10);
    return widget;
}

QLabel* nameLabel(const json& user, const QColor& color, QWidget* parent) {
    return sheetLabel(QString::fromStdString(textOr(user, "name")), 12.5, Weight::medium, color, false, parent);
}

QLabel* detailLine(const std::string& text, QWidget* parent) {
    return sheetLabel(QString::fromStdString(text), 10.5, Weight::regular, Theme::secondary(), false, parent);
}

QLabel* adminBadge(QWidget* parent) {
    QLabel* badge = sheetLabel(QStringLiteral("管理员"), 9.5, Weight::semibold, Theme::tint(Tint::orange), false, parent);
    badge->setStyleSheet(QStringLiteral("QLabel { background: %1; color: %2; border-radius: 7px; padding: 1px 5px; }")
                             .arg(Theme::tint(Tint::orange, 0.16).name(QColor::HexArgb), Theme::tint(Tint::orange).name()));
    return badge;
}

// A titled box of rows, with a divider after every row but the last one where asked.
PanelBox* listBox(const char* objectName, const std::string& symbol, const QString& title, const QColor& color,
                  QWidget* parent) {
    auto* box = new PanelBox(symbol, title, color, parent);
    box->setObjectName(QString::fromLatin1(objectName));
    box->content()->setContentsMargins(8, 4, 8, 4);
    return box;
}

}  // namespace

void TeamPanel::showMembers() {
    // A refresh that changed nothing keeps the rows: built again, the focused one would be a new
    // control, told to a screen reader once more.
    json shown = {state_.teamUsers(), resetting_};
    if (shown == shownMembers_) return;
    shownMembers_ = std::move(shown);
    QWidget* holder = memberBoxes_->parentWidget();
    // The row buttons as they were, and which of them held the keys.
    std::vector<QString> before;
    int focused = -1;
    for (QWidget* stop : tabStopsInLayoutOrder(holder)) {
        if (stop == focusWidget()) focused = int(before.size());
        before.push_back(stop->objectName());
    }
    // The old boxes leave the layout now but go only once the keys are on the new rows: hidden
    // first, they would hand the keys to the control after the lists on the way, and a screen
    // reader would name it before the right one.
    std::vector<QWidget*> old;
    while (QLayoutItem* item = memberBoxes_->takeAt(0)) {
        if (QWidget* widget = item->widget()) old.push_back(widget);
        delete item;
    }
    const std::vector<json>& users = state_.teamUsers();
    const std::vector<json> pending = withStatus(users, "pending");
    const std::vector<json> active = withStatus(users, "active");
    const std::vector<json> blocked = withStatus(users, "blocked");

    auto fill = [&](PanelBox* box, const std::vector<json>& list, bool dividers, auto makeRow) {
        for (size_t i = 0; i < list.size(); ++i) {
            box->content()->addWidget((this->*makeRow)(list[i], box));
            if (dividers && i + 1 < list.size()) box->content()->addWidget(new Rule(Qt::Horizontal, box));
        }
        memberBoxes_->addWidget(box);
        // Shown now, not on the layout's next turn: a hidden button takes no keys for the panel
        // while another window is active (a dialog over it), and they would be lost on its return.
        box->show();
    };
    if (!pending.empty()) {
        fill(listBox("teamPendingBox", "clock.badge.questionmark",
                     QStringLiteral("等待审批 · ") + QString::number(pending.size()), Theme::tint(Tint::orange), holder),
             pending, true, &TeamPanel::pendingRow);
    }
    fill(listBox("teamMemberBox", "person.2", QStringLiteral("成员 · ") + QString::number(active.size()),
                 Theme::primary(), holder),
         active, true, &TeamPanel::memberRow);
    if (!blocked.empty()) {
        fill(listBox("teamBlockedBox", "person.crop.circle.badge.xmark",
                     QStringLiteral("已停用 · ") + QString::number(blocked.size()), Theme::primary(), holder),
             blocked, false, &TeamPanel::blockedRow);
    }
    chainTabOrder(this);  // the new rows joined the Tab chain at its end
    if (focused >= 0) {
        if (QWidget* next = rowStopAfterChange(before, size_t(focused))) next->setFocus(Qt::TabFocusReason);
    }
    for (QWidget* box : old) {
        box->hide();
        box->deleteLater();
    }
}

// Where the keys go once the row buttons were built again: the same button if it is still
// there, else the same button of the next row (or of the row before), else the nearest
// button of the lists, else the panel's first control.
QWidget* TeamPanel::rowStopAfterChange(const std::vector<QString>& before, size_t focused) {
    std::map<QString, QWidget*> now;
    for (QWidget* stop : tabStopsInLayoutOrder(memberBoxes_->parentWidget())) now[stop->objectName()] = stop;
    const QString kind = before[focused].section(QLatin1Char(':'), 0, 0);
    const auto shown = [&](size_t index, bool sameKind) -> QWidget* {
        const auto found = now.find(before[index]);
        if (found == now.end() || (sameKind && before[index].section(QLatin1Char(':'), 0, 0) != kind)) return nullptr;
        return found->second;
    };
    if (QWidget* same = shown(focused, false)) return same;
    for (const bool sameKind : {true, false}) {
        for (size_t i = focused + 1; i < before.size(); ++i) {
            if (QWidget* next = shown(i, sameKind)) return next;
        }
        for (size_t i = focused; i-- > 0;) {
            if (QWidget* previous = shown(i, sameKind)) return previous;
        }
    }
    for (QWidget* stop : tabStopsInLayoutOrder(memberBoxes_->parentWidget())) return stop;
    return firstControl();
}

QWidget* TeamPanel::pendingRow(const json& user, QWidget* parent) {
    QHBoxLayout* row = nullptr;
    QWidget* widget = rowWidget(user, 7, row, parent);
    row->addWidget(avatar(user, 1.0, widget));
    auto* lines = new QVBoxLayout();
    lines->setSpacing(1);
    lines->addWidget(nameLabel(user, Theme::primary(), widget));
    std::string detail = "@" + textOr(user, "user");
    if (const std::string note = textOr(user, "note"); !note.empty()) detail += " · " + note;
    lines->addWidget(detailLine(detail, widget));
    row->addLayout(lines, 1);
    QPushButton* reject = smallButton(QStringLiteral("拒绝"), widget);
    reject->setObjectName(objectNameFor("teamReject", user));
    reject->setAccessibleDescription(whoseButton(user));
    row->addWidget(reject);
    QPushButton* approve = filledSmallButton(QStringLiteral("通过"), Theme::tint(Tint::accent), widget);
    approve->setObjectName(objectNameFor("teamApprove", user));
    approve->setAccessibleDescription(whoseButton(user));
    row->addWidget(approve);
    const std::string id = textOr(user, "id");
    connect(reject, &QPushButton::clicked, this, [this, id] { state_.removeTeamMember(id); });
    connect(approve, &QPushButton::clicked, this, [this, id] { state_.setTeamMemberStatus(id, "active"); });
    return widget;
}

QWidget* TeamPanel::memberRow(const json& user, QWidget* parent) {
    QHBoxLayout* row = nullptr;
    QWidget* widget = rowWidget(user, 7, row, parent);
    row->addWidget(avatar(user, 1.0, widget));
    auto* lines = new QVBoxLayout();
    lines->setSpacing(1);
    auto* nameRow = new QHBoxLayout();
    nameRow->setSpacing(5);
    nameRow->addWidget(nameLabel(user, Theme::primary(), widget));
    const bool admin = textField(user, "role") == "admin";
    if (admin) nameRow->addWidget(adminBadge(widget));
    nameRow->addStretch(1);
    lines->addLayout(nameRow);
    const std::string email = textOr(user, "email");
    lines->addWidget(detailLine("@" + textOr(user, "user") + (email.empty() ? " · 未绑邮箱" : " · " + email), widget));
    row->addLayout(lines, 1);
    if (!admin) {
        // Drawn as the window's other icon buttons are.
        auto* more = new SymbolButton("ellipsis.circle", 13, QStringLiteral("更多操作"), widget);
        more->setObjectName(objectNameFor("teamMenu", user));
        more->setAccessibleDescription(whoseButton(user));
        more->setFixedWidth(26);
        more->setEnabled(!resetting_.contains(textOr(user, "id")));
        row->addWidget(more);
        connect(more, &QPushButton::clicked, this, [this, user, more] { openMemberMenu(user, more); });
    }
    return widget;
}

QWidget* TeamPanel::blockedRow(const json& user, QWidget* parent) {
    QHBoxLayout* row = nullptr;
    QWidget* widget = rowWidget(user, 6, row, parent);
    row->addWidget(avatar(user, 0.5, widget));
    row->addWidget(nameLabel(user, Theme::secondary(), widget), 1);
    QPushButton* restore = smallButton(QStringLiteral("恢复"), widget);
    restore->setObjectName(objectNameFor("teamRestore", user));
    restore->setAccessibleDescription(whoseButton(user));
    row->addWidget(restore);
    connect(restore, &QPushButton::clicked, this, [this, id = textOr(user, "id")] { state_.toggleTeamBlock(id); });
    return widget;
}

// The menu pops up without a nested event loop; its actions run from the main loop.
void TeamPanel::openMemberMenu(const json& user, QWidget* button) {
    auto* menu = new RoleMenu(this);
    menu->setObjectName(QStringLiteral("teamMemberMenu"));
    menu->setAttribute(Qt::WA_DeleteOnClose);
    const std::string id = textOr(user, "id");
    menu->addAction(QStringLiteral("重置密码（生成临时密码）"), this, [this, user] { resetTemp(user); });
    menu->addAction(QStringLiteral("设置邮箱…"), this, [this, user] { askEmail(user); });
    menu->addSeparator();
    menu->addAction(QStringLiteral("停用这个账号"), this, [this, id] { state_.toggleTeamBlock(id); });
    RoleMenu::markDestructive(
        menu->addAction(QStringLiteral("彻底移除"), this, [this, id] { state_.removeTeamMember(id); }));
    // Opened by keys (the pointer is elsewhere), its first item is highlighted, as every menu's.
    const QPoint at = button->mapToGlobal(QPoint(0, button->height()));
    if (button->underMouse()) {
        menu->popup(at);
    } else {
        popupFromKeys(menu, at);
    }
}

// The member's "更多操作" is disabled while the password is made; the keys it got back from the
// menu wait with nothing meanwhile and return to it with the panel once the alert that shows
// the password closes.
void TeamPanel::resetTemp(const json& user) {
    const std::string label = labelOf(user, "这个成员");
    const auto id = textField(user, "id");
    if (!id) return;
    resetting_.insert(*id);
    holdKeys();
    showMembers();
    const QPointer<TeamPanel> self(this);
    state_.issueTemporaryPassword(*id, [self, id = *id, label](const Result<std::string>& password) {
        if (!self) return;
        self->resetting_.erase(id);
        self->showMembers();
        if (!password) {
            self->giveKeysBack();
            return;
        }
        AlertQuestion alert{label + " 的临时密码",
                            *password + "\n\n只显示这一次，请当面或电话告诉对方；建议对方登录后立刻改密。",
                            {"复制并关闭", "关闭"}};
        self->state_.environment().showAlert(alert, [self, password = *password](int pressed) {
            if (!self) return;
            if (pressed == 0) self->state_.environment().copyText(password);
            self->state_.refreshTeamState();
        });
        self->giveKeysBackBehind();
    });
}

void TeamPanel::holdKeys() {
    QWidget* holder = focusWidget();
    if (holder == nullptr || !memberBoxes_->parentWidget()->isAncestorOf(holder)) return;
    heldKeys_ = holder->objectName();
    holder->clearFocus();
}

void TeamPanel::giveKeysBack() {
    const QString held = std::exchange(heldKeys_, QString());
    keysBackWhenInactive_ = false;
    if (held.isEmpty() || focusWidget() != nullptr) return;  // they went elsewhere meanwhile
    for (QWidget* stop : tabStopsInLayoutOrder(memberBoxes_->parentWidget())) {
        if (stop->objectName() == held && stop->isEnabled()) stop->setFocus(Qt::OtherFocusReason);
    }
}

// Given while the panel is active, the keys would be told here before the alert shows; given
// once the alert took its place, they only wait with the panel and are told as it comes back.
void TeamPanel::giveKeysBackBehind() {
    if (isActiveWindow()) {
        keysBackWhenInactive_ = true;
        return;
    }
    giveKeysBack();
}

void TeamPanel::changeEvent(QEvent* event) {
    Sheet::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && keysBackWhenInactive_ && !isActiveWindow()) giveKeysBack();
}

void TeamPanel::askEmail(const json& user) {
    const TextQuestion question{.title = "设置邮箱",
                               .message = "设置 " + labelOf(user, "对方") + " 的邮箱",
                               .informative = "填了邮箱，对方才能自己找回密码。留空表示解绑。",
                               .confirm = "保存",
                               .cancel = "取消",
                               .text = "",
                               .placeholder = "name@example.com"};
    const QPointer<TeamPanel> self(this);
    state_.environment().askText(question, [self, id = textOr(user, "id")](std::optional<std::string> typed) {
        if (!self || !typed) return;
        const Outcome outcome = self->state_.setTeamMemberEmail(id, *typed);
        if (!outcome) self->state_.environment().showAlert(AlertQuestion{outcome.refusal(), "", {"好"}}, [](int) {});
    });
}

}  // namespace corvane
