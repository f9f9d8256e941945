#include "views/main/team_banner.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

#include "app/app_state.h"
#include "views/controls.h"
#include "views/data_labels.h"
#include "views/symbols.h"
#include "views/theme.h"

namespace corvane {

TeamBanner::TeamBanner(AppState& state, QWidget* parent) : QWidget(parent), state_(state) {
    setObjectName(QStringLiteral("teamBanner"));
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(14, 8, 14, 8);
    row->setSpacing(10);

    auto* icon = new SymbolLabel("person.2.circle.fill", 18, Theme::tint(Tint::orange), this);
    row->addWidget(icon);

    auto* texts = new QVBoxLayout();
    texts->setSpacing(1);
    title_ = new ElidedLabel({}, Qt::ElideRight, this);
    title_->setObjectName(QStringLiteral("teamBannerTitle"));
    title_->setFont(Theme::font(11.5, Weight::medium));
    auto* line = new ElidedLabel(QStringLiteral("可以申请加入，共享它的中央存储；也可以自己建一个，让本机成为独立中心。"),
                                 Qt::ElideRight, this);
    line->setFont(Theme::font(10));
    Theme::setTextColor(line, Theme::secondary());
    texts->addWidget(title_);
    texts->addWidget(line);
    row->addLayout(texts, 1);
    row->addSpacing(8);  // the flexible space keeps at least 8 px

    joinButton_ = smallButton(QStringLiteral("申请加入"), this);
    joinButton_->setObjectName(QStringLiteral("teamBannerJoin"));
    createButton_ = smallButton(QStringLiteral("自己建团队"), this);
    createButton_->setObjectName(QStringLiteral("teamBannerCreate"));
    closeButton_ = new SymbolButton("xmark", 9, QStringLiteral("本次会话不再提示"), this);
    closeButton_->setObjectName(QStringLiteral("teamBannerClose"));
    closeButton_->setFont([] {
        QFont font = Symbols::font(9);
        font.setWeight(QFont::DemiBold);
        return font;
    }());
    closeButton_->setColor(Theme::tertiary());
    row->addWidget(joinButton_);
    row->addWidget(createButton_);
    row->addWidget(closeButton_);

    connect(joinButton_, &QPushButton::clicked, this, &TeamBanner::join);
    connect(createButton_, &QPushButton::clicked, this, &TeamBanner::create);
    connect(closeButton_, &QPushButton::clicked, this, &TeamBanner::dismiss);
}

void TeamBanner::setPeer(const Peer& peer) {
    peer_ = peer;
    title_->setText(titleFor(peer));
}

QString TeamBanner::titleFor(const Peer& peer) {
    return QStringLiteral("发现团队「") + QString::fromStdString(peer.team) + QStringLiteral("」（") +
           QString::fromStdString(peer.name) + QStringLiteral(" · ") + QString::fromStdString(peer.ip) +
           QStringLiteral("）");
}

std::string TeamBanner::joinAddress(const Peer& peer) {
    return "http://" + peer.ip + ":" + std::to_string(peer.port) + "/";
}

void TeamBanner::join() {
    const std::string address = joinAddress(peer_);
    const QUrl url(QString::fromStdString(address), QUrl::StrictMode);
    // An address that is no URL (no host, or a host that is not one) does nothing.
    if (!url.isValid() || url.host().isEmpty()) return;
    state_.environment().openURL(address);
}

void TeamBanner::create() {
    dismiss();
    state_.setShowTeam(true);
}

void TeamBanner::dismiss() {
    std::set<std::string> dismissed = state_.dismissedTeamBanners();
    if (dismissed.count(peer_.id)) return;  // already hidden for the session
    dismissed.insert(peer_.id);
    state_.setDismissedTeamBanners(std::move(dismissed));
}

void TeamBanner::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Theme::tint(Tint::orange, 0.1));
}

}  // namespace corvane
