// The set-up form: logo, team name, administrator and password, then one submit.
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

#include "app/app_state.h"
#include "views/controls.h"
#include "views/symbols.h"
#include "views/team/panel_parts.h"
#include "views/team/team_panel.h"

namespace corvane {

namespace {

QLayout* bullet(const QString& text, QWidget* parent) {
    auto* row = new QHBoxLayout();
    row->setSpacing(7);
    auto* mark = new SymbolLabel("checkmark.circle.fill", 11, Theme::tint(Tint::green, 0.85), parent);
    mark->setContentsMargins(0, 2, 0, 0);
    row->addWidget(mark, 0, Qt::AlignTop);
    row->addWidget(sheetLabel(text, 11.5, Weight::regular, Theme::secondary(), true, parent), 1);
    return row;
}

}  // namespace

QWidget* TeamPanel::setupColumn() {
    auto* column = new QWidget(scroll_->widget());
    auto* stack = new QVBoxLayout(column);
    stack->setContentsMargins(20, 20, 20, 20);
    stack->setSpacing(14);

    auto* box = new PanelBox("sparkles", QStringLiteral("开启后，同事用浏览器就能存取这里的文件"), Theme::primary(), column);
    QVBoxLayout* form = box->content();
    form->setContentsMargins(12, 12, 12, 12);
    form->setSpacing(12);

    auto* logoRow = new QHBoxLayout();
    logoRow->setSpacing(14);
    setupBadge_ = new LogoBadge(58, box);
    setupBadge_->setObjectName(QStringLiteral("teamSetupBadge"));
    logoRow->addWidget(setupBadge_);
    auto* logoActions = new QVBoxLayout();
    logoActions->setSpacing(5);
    QPushButton* pick = smallButton(QStringLiteral("选择团队 Logo…"), box);
    pick->setObjectName(QStringLiteral("teamPickLogo"));
    logoActions->addWidget(pick, 0, Qt::AlignLeft);
    logoActions->addWidget(sheetLabel(QStringLiteral("正方形最好看 · PNG/JPG · 小于 1.5MB"), 10, Weight::regular,
                                      Theme::tertiary(), false, box));
    dropLogo_ = linkButton(QStringLiteral("不用 Logo"), 10, box);
    dropLogo_->setObjectName(QStringLiteral("teamDropLogo"));
    dropLogo_->setStyleSheet(QStringLiteral("QPushButton { border: none; padding: 0px; background: transparent; color: %1; }")
                                 .arg(Theme::tint(Tint::red, 0.8).name(QColor::HexArgb)));
    logoActions->addWidget(dropLogo_, 0, Qt::AlignLeft);
    logoRow->addLayout(logoActions);
    logoRow->addStretch(1);
    form->addLayout(logoRow);

    title_ = addCaptionedField(form, box, QStringLiteral("团队名称"), QStringLiteral("例如：Tovar工作室"), "teamTitleField", false);
    adminName_ = addCaptionedField(form, box, QStringLiteral("你的名字（管理员）"), QStringLiteral("例如：老张"),
                                   "teamAdminField", false);
    pass_ = addCaptionedField(form, box, QStringLiteral("管理员密码（至少 6 位）"), {}, "teamPassField", true);
    pass2_ = addCaptionedField(form, box, QStringLiteral("再输一次"), {}, "teamPass2Field", true);

    setupError_ = sheetLabel({}, 11.5, Weight::regular, Theme::tint(Tint::red), true, box);
    setupError_->setObjectName(QStringLiteral("teamSetupError"));
    setupError_->hide();
    form->addWidget(setupError_);

    auto* submitRow = new QHBoxLayout();
    submitRow->addStretch(1);
    enable_ = sheetButton(QStringLiteral("启用团队空间"), box);
    enable_->setObjectName(QStringLiteral("teamEnable"));
    enable_->setMinimumWidth(110);
    enable_->setStyleSheet(QStringLiteral("QPushButton { background: %1; color: white; border-radius: 5px; padding: 4px 12px; }"
                                          " QPushButton:disabled { background: %2; }")
                               .arg(Theme::tint(Tint::accent).name(), Theme::tint(Tint::accent, 0.45).name(QColor::HexArgb)));
    submitRow->addWidget(enable_);
    form->addLayout(submitRow);
    stack->addWidget(box);

    auto* bullets = new QVBoxLayout();
    bullets->setContentsMargins(4, 0, 4, 0);
    bullets->setSpacing(7);
    for (const char* line : {"需要账号才能访问，新用户要你点「通过」才能进", "共享区：所有人都能看、能传",
                             "我的备份：每个人自己的，别人看不到", "文件和账号都存在本机，不经过任何服务器"}) {
        bullets->addLayout(bullet(QString::fromUtf8(line), column));
    }
    stack->addLayout(bullets);
    QLabel* after = sheetLabel(QStringLiteral("启用后把地址和密码告诉同事即可。你也可以随时在设置里查看这个地址。"), 11,
                               Weight::regular, Theme::secondary(), true, column);
    after->setContentsMargins(4, 0, 4, 0);
    stack->addWidget(after);

    // The appear steps' defaults: the stored team name or "<device> 的团队", and "群主".
    const std::string name = state_.teamName().empty() ? state_.deviceName() + " 的团队" : state_.teamName();
    title_->setText(QString::fromStdString(name));
    adminName_->setText(QStringLiteral("群主"));

    connect(pick, &QPushButton::clicked, this, &TeamPanel::pickLogo);
    connect(dropLogo_, &QPushButton::clicked, this, [this] {
        pickedLogo_.reset();
        showBadges();
    });
    connect(title_, &QLineEdit::textChanged, this, &TeamPanel::showBadges);
    connect(enable_, &QPushButton::clicked, this, &TeamPanel::submit);
    return column;
}

void TeamPanel::submit() {
    setupError_->hide();
    setupError_->clear();
    if (pass_->text() != pass2_->text()) {
        setupError_->setText(QStringLiteral("两次输入的密码不一样"));
        setupError_->show();
        return;
    }
    // A disabled button hands the keys to the next control, "完成": the panel holds them meanwhile.
    if (focusWidget() == enable_) setFocus(Qt::OtherFocusReason);
    enable_->setEnabled(false);
    enable_->setText(QStringLiteral("启用中…"));
    const QPointer<TeamPanel> self(this);
    state_.enableTeam(title_->text().toStdString(), adminName_->text().toStdString(), pass_->text().toStdString(),
                      [self](const Outcome& outcome) {
                          if (self) self->finishSetup(outcome);
                      });
}

void TeamPanel::finishSetup(const Outcome& outcome) {
    if (!outcome) {
        if (!setup_) return;
        enable_->setEnabled(true);
        enable_->setText(QStringLiteral("启用团队空间"));
        if (focusWidget() == this) enable_->setFocus(Qt::TabFocusReason);
        setupError_->setText(QString::fromStdString(outcome.refusal()));
        setupError_->show();
        return;
    }
    if (pickedLogo_) state_.saveTeamLogo(*pickedLogo_);
    state_.refreshTeamState();
}

}  // namespace corvane
