#include "views/sheets/update_block.h"

#include <algorithm>

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/app_state.h"
#include "base/cfg.h"
#include "updater/updater.h"
#include "views/announcer.h"
#include "views/controls.h"
#include "views/data_text.h"
#include "views/sheet.h"
#include "views/text_metrics.h"

namespace corvane {

namespace {

using Kind = UpdatePhase::Kind;

QString notesText(const std::vector<std::string>& notes) {
    QStringList lines;
    for (const std::string& note : notes) lines << QStringLiteral("· ") + QString::fromStdString(note);
    return lines.join(QLatin1Char('\n'));
}

// The status line of the phases that have one besides the progress and the failure.
QString statusOf(Kind kind) {
    switch (kind) {
        case Kind::checking: return QStringLiteral("正在检查…");
        case Kind::latest: return QStringLiteral("已是最新版本");
        case Kind::verifying: return QStringLiteral("正在校验安装包…");
        case Kind::installing: return QStringLiteral("正在替换并重启，请稍候…");
        default: return {};
    }
}

}  // namespace

UpdateBlock::UpdateBlock(AppState& state, Updater& updater, QWidget* parent)
    : QWidget(parent), state_(state), updater_(updater) {
    setObjectName(QStringLiteral("updateBlock"));
    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(7);
    stack->addWidget(sectionTitle(QStringLiteral("软件更新"), this));

    auto* row = new QHBoxLayout();
    row->setSpacing(8);
    QLabel* version = sheetLabel(QStringLiteral("当前版本 v") + QString::fromStdString(Cfg::version()), 11,
                                 Weight::regular, Theme::primary(), false, this);
    version->setObjectName(QStringLiteral("updateVersion"));
    row->addWidget(version);
    row->addStretch(1);
    install_ = smallButton({}, this);
    install_->setObjectName(QStringLiteral("updateInstall"));
    cancel_ = smallButton(QStringLiteral("取消"), this);
    cancel_->setObjectName(QStringLiteral("updateCancel"));
    check_ = smallButton(QStringLiteral("检查更新"), this);
    check_->setObjectName(QStringLiteral("updateCheck"));
    checkKeys_.emplace(check_);
    announcer_ = new Announcer(this);
    QPushButton* page = smallButton(QStringLiteral("下载页"), this);
    page->setObjectName(QStringLiteral("updatePage"));
    for (QPushButton* button : {install_, cancel_, check_, page}) row->addWidget(button);
    stack->addLayout(row);

    progress_ = new QProgressBar(this);
    progress_->setObjectName(QStringLiteral("updateProgress"));
    progress_->setAccessibleName(QStringLiteral("下载进度"));
    progress_->setRange(0, 1000);
    progress_->setTextVisible(false);
    progress_->setFixedHeight(6);
    stack->addWidget(progress_);
    status_ = sheetLabel({}, 10.5, Weight::regular, Theme::secondary(), true, this);
    status_->setObjectName(QStringLiteral("updateStatus"));
    stack->addWidget(status_);

    newVersion_ = new QWidget(this);
    auto* news = new QVBoxLayout(newVersion_);
    news->setContentsMargins(0, 0, 0, 0);
    news->setSpacing(3);
    newVersionTitle_ = sheetLabel({}, 11, Weight::medium, Theme::tint(Tint::accent), true, newVersion_);
    newVersionTitle_->setObjectName(QStringLiteral("updateNewVersion"));
    notes_ = sheetLabel({}, 10.5, Weight::regular, Theme::secondary(), true, newVersion_);
    notes_->setObjectName(QStringLiteral("updateNotes"));
    news->addWidget(newVersionTitle_);
    news->addWidget(notes_);
    news->addWidget(sheetLabel(QStringLiteral("点「立即更新」会自己下载替换，完成后自动重开，设置和设备/团队数据都不动。"), 10,
                               Weight::regular, Theme::tertiary(), true, newVersion_));
    stack->addWidget(newVersion_);

    showPhase();

    connect(install_, &QPushButton::clicked, this, [this] { updater_.install(); });
    connect(cancel_, &QPushButton::clicked, this, [this] { updater_.cancel(); });
    connect(check_, &QPushButton::clicked, this, [this] { updater_.check(false); });
    connect(page, &QPushButton::clicked, this, [this] {
        if (state_.environment().openURL) state_.environment().openURL(Updater::pageURL());  // the outcome is not shown
    });
    connect(&updater_, &Updater::phaseChanged, this, &UpdateBlock::showPhase);
    connect(&updater_, &Updater::latestChanged, this, &UpdateBlock::showPhase);
    connect(&updater_, &Updater::notesChanged, this, &UpdateBlock::showPhase);
}

void UpdateBlock::showPhase() {
    const UpdatePhase& phase = updater_.phase();
    const QString latest = QString::fromStdString(updater_.latest());
    const bool available = phase.kind == Kind::available;
    const bool downloading = phase.kind == Kind::downloading;

    install_->setText(buttonTitle(QStringLiteral("立即更新到 v") + latest));
    install_->setVisible(available);
    cancel_->setVisible(downloading);
    check_->setVisible(!downloading);
    checkKeys_->setEnabled(!phase.busy());  // checking, downloading, verifying, installing

    progress_->setVisible(downloading);
    progress_->setValue(int(std::clamp(phase.fraction, 0.0, 1.0) * 1000));

    QString status = statusOf(phase.kind);
    if (downloading) {
        status = QStringLiteral("正在下载 ") + QString::number(wholePercent(phase.fraction)) +
                 QStringLiteral("% · 下完自动校验并重启，数据都保留");
    }
    const bool failed = phase.kind == Kind::failed;
    if (failed) status = QString::fromStdString(phase.message);
    status_->setText(status);
    status_->setVisible(!status.isEmpty());
    Theme::setTextColor(status_, failed ? Theme::tint(Tint::red) : Theme::secondary());

    newVersion_->setVisible(available);
    newVersionTitle_->setText(QStringLiteral("发现新版本 v") + latest);
    notes_->setText(notesText(updater_.notes()));
    notes_->setVisible(!updater_.notes().empty());
    tellResult(phase);
}

void UpdateBlock::tellResult(const UpdatePhase& phase) {
    const bool changed = shownKind_ && *shownKind_ != phase.kind;
    shownKind_ = phase.kind;
    if (!changed) return;
    if (phase.kind == Kind::available) announcer_->announce(newVersionTitle_->text());
    if (phase.kind == Kind::latest || phase.kind == Kind::failed) announcer_->announce(status_->text());
}

}  // namespace corvane
