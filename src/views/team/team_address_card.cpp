// The management column, and its first box: the team's name and logo, and the
// address colleagues open, with copy, browser and QR code.
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QTimer>
#include <QVBoxLayout>

#include "app/app_state.h"
#include "views/controls.h"
#include "views/team/panel_parts.h"
#include "views/team/qr_code.h"
#include "views/team/team_panel.h"

namespace corvane {

namespace {

constexpr int copiedMs = 1600;

}  // namespace

QWidget* TeamPanel::managementColumn() {
    auto* column = new QWidget(scroll_->widget());
    auto* stack = new QVBoxLayout(column);
    stack->setContentsMargins(20, 20, 20, 20);
    stack->setSpacing(18);
    stack->addWidget(addressCard());
    auto* members = new QWidget(column);
    memberBoxes_ = new QVBoxLayout(members);
    memberBoxes_->setContentsMargins(0, 0, 0, 0);
    memberBoxes_->setSpacing(18);
    stack->addWidget(members);
    stack->addWidget(mailSection());
    stack->addWidget(passwordSection());
    members_.clear();  // a column of its own: its lists are made with it
    showMembers();
    connect(&state_, &AppState::teamUsersChanged, this, &TeamPanel::showMembers);
    connect(&state_, &AppState::portChanged, this, &TeamPanel::showAddress);
    connect(&state_, &AppState::localIPsChanged, this, &TeamPanel::showAddress);
    return column;
}

QWidget* TeamPanel::addressCard() {
    auto* box = new PanelBox("link", QStringLiteral("团队空间"), Theme::primary(), this);
    QVBoxLayout* card = box->content();
    card->setContentsMargins(12, 12, 12, 12);
    card->setSpacing(14);
    card->addLayout(identityRow(box));
    auto* divider = new Rule(Qt::Horizontal, box);
    card->addWidget(divider);
    card->addLayout(addressRow(box));
    showIdentity();
    showAddress();
    return box;
}

QLayout* TeamPanel::identityRow(QWidget* parent) {
    auto* row = new QHBoxLayout();
    row->setSpacing(14);
    badge_ = new LogoBadge(58, parent);
    badge_->setObjectName(QStringLiteral("teamBadge"));
    row->addWidget(badge_);
    auto* lines = new QVBoxLayout();
    lines->setSpacing(6);

    nameLine_ = new QWidget(parent);
    auto* nameRow = new QHBoxLayout(nameLine_);
    nameRow->setContentsMargins(0, 0, 0, 0);
    nameRow->setSpacing(8);
    name_ = sheetLabel({}, 15, Weight::semibold, Theme::primary(), false, nameLine_);
    name_->setObjectName(QStringLiteral("teamName"));
    nameRow->addWidget(name_);
    QPushButton* rename = smallButton(QStringLiteral("改名"), nameLine_);
    rename->setObjectName(QStringLiteral("teamRename"));
    nameRow->addWidget(rename);
    nameRow->addStretch(1);
    lines->addWidget(nameLine_);

    nameEditor_ = new QWidget(parent);
    auto* editRow = new QHBoxLayout(nameEditor_);
    editRow->setContentsMargins(0, 0, 0, 0);
    editRow->setSpacing(7);
    nameDraft_ = new QLineEdit(nameEditor_);
    nameDraft_->setObjectName(QStringLiteral("teamNameField"));
    nameDraft_->setAccessibleName(QStringLiteral("团队名称"));
    nameDraft_->setPlaceholderText(QStringLiteral("团队名称"));
    nameDraft_->setFixedWidth(190);
    nameDraft_->installEventFilter(this);
    editRow->addWidget(nameDraft_);
    QPushButton* save = smallButton(QStringLiteral("保存"), nameEditor_);
    save->setObjectName(QStringLiteral("teamNameSave"));
    editRow->addWidget(save);
    QPushButton* cancel = smallButton(QStringLiteral("取消"), nameEditor_);
    cancel->setObjectName(QStringLiteral("teamNameCancel"));
    editRow->addWidget(cancel);
    editRow->addStretch(1);
    nameEditor_->hide();
    lines->addWidget(nameEditor_);

    auto* logoRow = new QHBoxLayout();
    logoRow->setSpacing(7);
    logoButton_ = smallButton(QStringLiteral("上传 Logo"), parent);
    logoButton_->setObjectName(QStringLiteral("teamLogoButton"));
    logoRow->addWidget(logoButton_);
    logoRemove_ = smallButton(QStringLiteral("移除"), parent);
    logoRemove_->setObjectName(QStringLiteral("teamLogoRemove"));
    logoRow->addWidget(logoRemove_);
    logoRow->addWidget(sheetLabel(QStringLiteral("会显示在登录页、网页顶栏和客户端"), 10, Weight::regular,
                                  Theme::tertiary(), false, parent));
    logoRow->addStretch(1);
    lines->addLayout(logoRow);
    row->addLayout(lines, 1);

    connect(rename, &QPushButton::clicked, this, &TeamPanel::startRename);
    connect(save, &QPushButton::clicked, this, &TeamPanel::saveName);
    connect(cancel, &QPushButton::clicked, this, [this] {
        nameEditor_->hide();
        nameLine_->show();
    });
    connect(logoButton_, &QPushButton::clicked, this, &TeamPanel::pickLogo);
    connect(logoRemove_, &QPushButton::clicked, this, [this] { state_.clearTeamLogo(); });
    return row;
}

QLayout* TeamPanel::addressRow(QWidget* parent) {
    auto* row = new QHBoxLayout();
    row->setSpacing(14);
    auto* lines = new QVBoxLayout();
    lines->setSpacing(8);
    lines->addWidget(sheetLabel(QStringLiteral("同事用浏览器打开"), 11, Weight::regular, Theme::secondary(), false, parent));
    address_ = sheetLabel({}, 15, Weight::semibold, Theme::primary(), false, parent);
    address_->setObjectName(QStringLiteral("teamAddress"));
    address_->setFont([] {
        QFont mono = Theme::monoFont(15);
        mono.setWeight(QFont::DemiBold);
        return mono;
    }());
    address_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    lines->addWidget(address_);
    auto* buttons = new QHBoxLayout();
    buttons->setSpacing(8);
    copy_ = smallButton(QStringLiteral("复制地址"), parent);
    copy_->setObjectName(QStringLiteral("teamCopy"));
    buttons->addWidget(copy_);
    QPushButton* open = smallButton(QStringLiteral("在浏览器打开"), parent);
    open->setObjectName(QStringLiteral("teamOpen"));
    buttons->addWidget(open);
    buttons->addStretch(1);
    lines->addLayout(buttons);
    lines->addWidget(sheetLabel(QStringLiteral("手机连同一个 Wi-Fi 也能打开，扫右边二维码。"), 10.5, Weight::regular,
                                Theme::secondary(), true, parent));
    row->addLayout(lines, 1);
    qr_ = new QRView(parent);
    qr_->setObjectName(QStringLiteral("teamQR"));
    row->addWidget(qr_, 0, Qt::AlignTop);

    connect(copy_, &QPushButton::clicked, this, &TeamPanel::copyAddress);
    connect(open, &QPushButton::clicked, this, [this] { state_.environment().openURL(state_.teamAddress()); });
    return row;
}

void TeamPanel::showIdentity() {
    const std::string& team = state_.teamName();
    badge_->display(currentLogo(), QString::fromStdString(team.empty() ? state_.deviceName() : team));
    name_->setText(team.empty() ? QStringLiteral("未命名团队") : QString::fromStdString(team));
    logoButton_->setText(state_.teamHasLogo() ? QStringLiteral("更换 Logo") : QStringLiteral("上传 Logo"));
    logoRemove_->setVisible(state_.teamHasLogo());
}

void TeamPanel::showAddress() {
    const std::string address = state_.teamAddress();
    address_->setText(QString::fromStdString(address));
    qr_->setText(address);
}

void TeamPanel::startRename() {
    nameDraft_->setText(QString::fromStdString(state_.teamName()));
    nameLine_->hide();
    nameEditor_->show();
    nameDraft_->setFocus();
}

void TeamPanel::saveName() {
    const Outcome outcome = state_.renameTeam(nameDraft_->text().toStdString());
    if (!outcome) {
        state_.flash(outcome.refusal());
        return;
    }
    nameEditor_->hide();
    nameLine_->show();
}

// Each press sets the label back on its own timer: a later press does not put the first one off.
void TeamPanel::copyAddress() {
    state_.environment().copyText(state_.teamAddress());
    copy_->setText(QStringLiteral("已复制"));
    QTimer::singleShot(copiedMs, copy_, [button = copy_] { button->setText(QStringLiteral("复制地址")); });
}

}  // namespace corvane
