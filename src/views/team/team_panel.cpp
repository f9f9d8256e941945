#include "views/team/team_panel.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QScrollArea>
#include <QVBoxLayout>

#include "app/app_state.h"
#include "app/logo_file.h"
#include "views/controls.h"
#include "views/main/toast_view.h"
#include "views/dialog_keys.h"
#include "views/symbols.h"
#include "views/tab_order.h"
#include "views/team/panel_parts.h"

namespace corvane {

namespace {

int activeMembers(const std::vector<nlohmann::json>& users) {
    int count = 0;
    for (const nlohmann::json& user : users) {
        const auto status = user.find("status");
        if (status != user.end() && status->is_string() && *status == "active") ++count;
    }
    return count;
}

}  // namespace

TeamPanel::TeamPanel(AppState& state, QWidget* parent)
    : Sheet(QStringLiteral("团队空间"), side, 0, parent), state_(state) {
    setObjectName(QStringLiteral("teamPanel"));
    setFixedSheetHeight(side);
    Theme::setBackground(this, Theme::window());
    column()->setContentsMargins(0, 0, 0, 0);
    column()->addWidget(header());
    column()->addWidget(new Rule(Qt::Horizontal, this));
    scroll_ = new QScrollArea(this);
    scroll_->setWidgetResizable(true);
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll_->setFocusPolicy(Qt::NoFocus);  // Tab goes to the controls inside
    keepFocusInView(scroll_);
    auto* content = new QWidget(scroll_);
    content->setObjectName(QStringLiteral("teamContent"));
    auto* stack = new QVBoxLayout(content);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->addStretch(1);
    scroll_->setWidget(content);
    column()->addWidget(scroll_, 1);
    column()->addWidget(toastRoom());

    appear();
    showColumn();
    connect(&state_, &AppState::teamReadyChanged, this, &TeamPanel::showColumn);
    connect(&state_, &AppState::teamUsersChanged, this, &TeamPanel::showSubtitle);
    connect(&state_, &AppState::toastChanged, this, &TeamPanel::showToast);
    for (auto changed : {&AppState::teamHasLogoChanged, &AppState::teamLogoStampChanged, &AppState::teamNameChanged,
                         &AppState::deviceNameChanged}) {
        connect(&state_, changed, this, &TeamPanel::showBadges);
    }
}

QWidget* TeamPanel::header() {
    auto* bar = new QWidget(this);
    auto* row = new QHBoxLayout(bar);
    row->setContentsMargins(18, 12, 18, 12);
    row->setSpacing(10);
    row->addWidget(new SymbolLabel("person.2.badge.gearshape", 15, Theme::tint(Tint::orange), bar));
    auto* titles = new QVBoxLayout();
    titles->setSpacing(1);
    titles->addWidget(sheetLabel(QStringLiteral("团队空间"), 13.5, Weight::semibold, Theme::primary(), false, bar));
    subtitle_ = sheetLabel({}, 11, Weight::regular, Theme::secondary(), false, bar);
    subtitle_->setObjectName(QStringLiteral("teamSubtitle"));
    titles->addWidget(subtitle_);
    row->addLayout(titles);
    row->addStretch(1);
    QPushButton* done = sheetButton(QStringLiteral("完成"), bar);
    done->setObjectName(QStringLiteral("teamDone"));
    row->addWidget(done);
    setDefaultButton(done);
    connect(done, &QPushButton::clicked, this, &QDialog::accept);
    return bar;
}

QWidget* TeamPanel::toastRoom() {
    // The rows scroll above the room; the capsule floats in it, as in the main window.
    toastRoom_ = new QWidget(this);
    toastRoom_->setObjectName(QStringLiteral("teamToastRoom"));
    toastRoom_->setFixedHeight(0);
    toast_ = new ToastView(this, QStringLiteral("teamToast"));
    toast_->setObjectName(QStringLiteral("teamToastView"));
    showToast();
    return toastRoom_;
}

void TeamPanel::appear() {
    state_.refreshTeamState();
    showSubtitle();
}

void TeamPanel::showSubtitle() {
    subtitle_->setText(state_.teamReady()
                           ? QString::number(activeMembers(state_.teamUsers())) + QStringLiteral(" 位成员 · 共用这台机器的存储")
                           : QStringLiteral("把本机变成工作室的中央存储"));
}

void TeamPanel::showToast() {
    const auto& toast = state_.toast();
    const bool shown = toast && !toast->empty();
    toast_->showNotice(shown ? toast : std::nullopt);
    // The room above the capsule's top keeps a little air between the last row and the notice.
    constexpr int air = 8;
    toastRoom_->setFixedHeight(shown ? toast_->roomAbove() + air : 0);
}

// The set-up form opens typing in its first field; the management view with the keys on the
// panel itself, so that Return is "完成"'s and Space presses nothing.
void TeamPanel::firstShown() { focusNowAndAfterShow(title_ ? static_cast<QWidget*>(title_) : this); }

QWidget* TeamPanel::firstControl() const {
    const std::vector<QWidget*> stops = tabStopsInLayoutOrder(scroll_->widget());
    return stops.empty() ? nullptr : stops.front();
}

// The set-up column until an administrator exists, then the management column for good.
void TeamPanel::showColumn() {
    showSubtitle();
    auto* stack = static_cast<QVBoxLayout*>(scroll_->widget()->layout());
    if (state_.teamReady() && !management_) {
        // The keys in the form go to the panel itself, as when the management view opens.
        const bool hadKeys = setup_ && (focusWidget() == this || setup_->isAncestorOf(focusWidget()));
        if (setup_) {
            setup_->hide();
            setup_->deleteLater();
            setup_ = nullptr;
            setupBadge_ = nullptr;
            dropLogo_ = nullptr;
            title_ = adminName_ = pass_ = pass2_ = nullptr;
            setupError_ = nullptr;
            enable_ = nullptr;
        }
        management_ = managementColumn();
        stack->insertWidget(0, management_);
        if (hadKeys) setFocus(Qt::OtherFocusReason);
    } else if (!state_.teamReady() && !management_ && !setup_) {
        setup_ = setupColumn();
        stack->insertWidget(0, setup_);
    }
    showBadges();
    chainTabOrder(this);
}

bool TeamPanel::eventFilter(QObject* watched, QEvent* event) {
    // Return in the rename field saves the name and goes no further (not to "完成").
    if (watched == nameDraft_ && event->type() == QEvent::KeyPress) {
        const auto key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            saveName();
            return true;
        }
    }
    return Sheet::eventFilter(watched, event);
}

void TeamPanel::pickLogo() {
    const QPointer<TeamPanel> self(this);
    state_.environment().chooseImage(ImageQuestion{"选一张图片作为团队 Logo"},
                                     [self](std::optional<std::filesystem::path> chosen) {
                                         if (!self || !chosen) return;
                                         const Result<std::string> bytes = readLogoFile(*chosen);
                                         if (!bytes) {
                                             self->state_.flash(bytes.refusal());
                                             return;
                                         }
                                         self->takeLogo(*bytes);
                                     });
}

// A picked logo waits for the set-up, or is stored at once once the team exists.
void TeamPanel::takeLogo(const std::string& bytes) {
    pickedLogo_ = bytes;
    if (setupError_) {
        setupError_->clear();
        setupError_->hide();
    }
    if (state_.teamReady()) {
        state_.saveTeamLogo(bytes);
    }
    showBadges();
}

QImage TeamPanel::currentLogo() const {
    if (pickedLogo_) return QImage::fromData(QByteArray::fromStdString(*pickedLogo_));
    if (state_.teamHasLogo()) return QImage::fromData(QByteArray::fromStdString(state_.teamLogoBytes()));
    return {};
}

void TeamPanel::showBadges() {
    const QImage logo = currentLogo();
    if (setupBadge_) setupBadge_->display(logo, title_ ? title_->text() : QString());
    if (dropLogo_) dropLogo_->setVisible(pickedLogo_.has_value());
    if (badge_) showIdentity();
}

}  // namespace corvane
