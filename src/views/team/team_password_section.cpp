// The last box: the administrator's password, changed by giving the current one.
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/app_state.h"
#include "views/controls.h"
#include "views/spinner.h"
#include "views/team/panel_parts.h"
#include "views/team/team_panel.h"

namespace corvane {

QWidget* TeamPanel::passwordSection() {
    auto* box = new PanelBox("key", QStringLiteral("管理员密码"), Theme::primary(), this);
    QVBoxLayout* form = box->content();
    form->setContentsMargins(12, 12, 12, 12);
    form->setSpacing(10);
    oldPass_ = addCaptionedField(form, box, QStringLiteral("当前管理员密码"), {}, "teamOldPass", true);
    newPass_ = addCaptionedField(form, box, QStringLiteral("新密码（至少 6 位）"), {}, "teamNewPass", true);
    auto* row = new QHBoxLayout();
    passMsg_ = sheetLabel({}, 11, Weight::regular, Theme::tint(Tint::red), true, box);
    passMsg_->setObjectName(QStringLiteral("teamPassMsg"));
    passMsg_->hide();
    row->addWidget(passMsg_, 1);
    row->addStretch(0);
    passSpinner_ = new Spinner(box);
    passSpinner_->setAccessibleName(QStringLiteral("正在修改"));
    passSpinner_->hide();
    row->addWidget(passSpinner_);
    passChange_ = smallButton(QStringLiteral("修改密码"), box);
    passChange_->setObjectName(QStringLiteral("teamPassChange"));
    row->addWidget(passChange_);
    form->addLayout(row);

    connect(oldPass_, &QLineEdit::textChanged, this, &TeamPanel::showPasswordState);
    connect(newPass_, &QLineEdit::textChanged, this, &TeamPanel::showPasswordState);
    connect(passChange_, &QPushButton::clicked, this, &TeamPanel::changePassword);
    showPasswordState();
    return box;
}

void TeamPanel::changePassword() {
    passBusy_ = true;
    showPasswordState();
    const QPointer<TeamPanel> self(this);
    state_.changeAdminPassword(oldPass_->text().toStdString(), newPass_->text().toStdString(),
                               [self](const Outcome& outcome) {
                                   if (!self) return;
                                   self->passBusy_ = false;
                                   if (outcome) {
                                       self->passMsg_->setText(QStringLiteral("已修改"));
                                       self->oldPass_->clear();
                                       self->newPass_->clear();
                                   } else {
                                       self->passMsg_->setText(QString::fromStdString(outcome.refusal()));
                                   }
                                   self->showPasswordState();
                               });
}

void TeamPanel::showPasswordState() {
    const QString message = passMsg_->text();
    passMsg_->setVisible(!message.isEmpty());
    Theme::setTextColor(passMsg_, Theme::tint(message.startsWith(QStringLiteral("已")) ? Tint::green : Tint::red));
    passSpinner_->setVisible(passBusy_);
    passChange_->setEnabled(!passBusy_ && !oldPass_->text().isEmpty() && !newPass_->text().isEmpty());
}

}  // namespace corvane
