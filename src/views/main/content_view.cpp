#include "views/main/content_view.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

#include "app/app_state.h"
#include "views/controls.h"
#include "views/main/detail_view.h"
#include "views/main/root_sheets.h"
#include "views/main/sidebar_view.h"
#include "views/main/team_banner.h"
#include "views/main/toast_view.h"
#include "views/sheet_host.h"
#include "views/theme.h"

namespace corvane {

namespace {

// Puts the view into its slot, filling it.
void fill(QWidget* slot, QWidget* view) {
    auto* layout = new QVBoxLayout(slot);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(view);
}

}  // namespace

ContentView::ContentView(AppState& state, QWidget* parent) : QWidget(parent), state_(state) {
    setObjectName(QStringLiteral("contentView"));
    setMinimumSize(880, 600);
    Theme::setBackground(this, Theme::window());

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    banner_ = new TeamBanner(state_, this);
    bannerRule_ = new Rule(Qt::Horizontal, this);
    bannerRule_->setObjectName(QStringLiteral("teamBannerRule"));
    column->addWidget(banner_);
    column->addWidget(bannerRule_);

    auto* split = new QHBoxLayout();
    split->setSpacing(0);
    sidebar_ = new QWidget(this);
    sidebar_->setObjectName(QStringLiteral("sidebar"));
    sidebar_->setFixedWidth(sidebarWidth);
    fill(sidebar_, new SidebarView(state_, sidebar_));
    auto* splitRule = new Rule(Qt::Vertical, this);
    detailPane_ = new QWidget(this);
    detailPane_->setObjectName(QStringLiteral("detailPane"));
    detailPane_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    fill(detailPane_, new DetailView(state_, detailPane_));
    split->addWidget(sidebar_);
    split->addWidget(splitRule);
    split->addWidget(detailPane_, 1);
    column->addLayout(split, 1);

    toast_ = new ToastView(this);
    sheets_ = new SheetHost(state_, this, rootSheetRows(state_.environment().feedback), this);

    connect(&state_, &AppState::nearbyTeamChanged, this, &ContentView::showBanner);
    connect(&state_, &AppState::dismissedTeamBannersChanged, this, &ContentView::showBanner);
    connect(&state_, &AppState::toastChanged, this, &ContentView::showToast);
    showBanner();
    showToast();
}

QSize ContentView::sizeHint() const { return {1040, 720}; }

QSize ContentView::minimumSizeHint() const { return {880, 600}; }

void ContentView::showBanner() {
    const auto& team = state_.nearbyTeam();
    const bool shown = team && !state_.dismissedTeamBanners().count(team->id);
    if (shown) banner_->setPeer(*team);
    banner_->setVisible(shown);
    bannerRule_->setVisible(shown);
}

void ContentView::showToast() { toast_->showNotice(state_.toast()); }

void ContentView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    toast_->place();
}

}  // namespace corvane
