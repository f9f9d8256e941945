#include "views/main/detail_header.h"

#include <algorithm>

#include <QEvent>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/app_state.h"
#include "base/cfg.h"
#include "engine/format.h"
#include "views/controls.h"
#include "views/data_labels.h"
#include "views/main/capsule_label.h"
#include "views/symbols.h"
#include "views/theme.h"

namespace corvane {

namespace {

QString qs(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

DetailHeader::DetailHeader(AppState& state, QWidget* parent) : QWidget(parent), state_(state) {
    setObjectName(QStringLiteral("detailHeader"));
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(16, 11, 16, 11);
    row->setSpacing(12);

    auto* titleBlock = new QVBoxLayout();
    titleBlock->setSpacing(2);
    auto* titleRow = new QHBoxLayout();
    titleRow->setSpacing(7);
    title_ = new ElidedLabel({}, Qt::ElideRight, this);
    title_->setObjectName(QStringLiteral("detailTitle"));
    title_->setFont(Theme::font(15, Weight::semibold));
    title_->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    platformTag_ = new CapsuleLabel(9.5, Weight::semibold, 5, 2, this);
    platformTag_->setObjectName(QStringLiteral("platformTag"));
    platformTag_->setColors(Theme::tint(Tint::accent), Theme::tint(Tint::accent, 0.14));
    back_ = new QPushButton(QStringLiteral("返回本机"), this);
    back_->setObjectName(QStringLiteral("backToLocal"));
    back_->setFlat(true);
    back_->setAutoDefault(false);
    back_->setCursor(Qt::PointingHandCursor);
    back_->setFont(Theme::font(10.5));
    back_->setStyleSheet(QStringLiteral("QPushButton { border: none; padding: 0; background: transparent; color: %1; }")
                             .arg(Theme::tint(Tint::accent).name()));
    connect(back_, &QPushButton::clicked, this, [this] { state_.switchTarget(Target::local()); });
    modeBadge_ = new SymbolTextButton("wifi", 8.5, {}, 9.5, Theme::tint(Tint::blue), this);
    modeBadge_->setObjectName(QStringLiteral("modeBadge"));
    modeBadge_->setFont(Theme::font(9.5, Weight::semibold));
    modeBadge_->setPadding(6, 2);
    modeBadge_->setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Fixed);
    connect(modeBadge_, &QPushButton::clicked, this, [this] { state_.setShowTeam(true); });
    titleRow->addWidget(title_);
    titleRow->addWidget(platformTag_);
    titleRow->addWidget(back_);
    titleRow->addWidget(modeBadge_);
    titleRow->addStretch(1);
    subtitle_ = new ElidedLabel({}, Qt::ElideRight, this);
    subtitle_->setObjectName(QStringLiteral("detailSubtitle"));
    subtitle_->setFont(Theme::font(10.5));
    Theme::setTextColor(subtitle_, Theme::secondary());
    titleBlock->addLayout(titleRow);
    titleBlock->addWidget(subtitle_);
    row->addLayout(titleBlock, 1);
    row->addSpacing(8);  // the flexible space keeps at least 8 px besides the row's spacing
    row->addWidget(searchField(), 0, Qt::AlignVCenter);

    chat_ = new SymbolButton("bubble.left.and.bubble.right", 13, QStringLiteral("办公室聊天"), this);
    chat_->setObjectName(QStringLiteral("chatButton"));
    connect(chat_, &QPushButton::clicked, this, [this] { state_.setShowChat(true); });
    chatBadge_ = new CapsuleLabel(8, Weight::bold, 3.5, 1, this);
    chatBadge_->setObjectName(QStringLiteral("chatBadge"));
    chatBadge_->setColors(Qt::white, Theme::tint(Tint::red));
    chat_->installEventFilter(this);
    auto* text = new SymbolButton("text.bubble", 13, QStringLiteral("发送文字"), this);
    text->setObjectName(QStringLiteral("sendTextButton"));
    connect(text, &QPushButton::clicked, this, [this] { state_.setShowTextSheet(true); });
    auto* refresh = new SymbolButton("arrow.clockwise", 13, QStringLiteral("刷新列表"), this);
    refresh->setObjectName(QStringLiteral("refreshButton"));
    connect(refresh, &QPushButton::clicked, this, [this] { state_.refreshFiles(); });
    auto* gear = new SymbolButton("gearshape", 13, QStringLiteral("设置"), this);
    gear->setObjectName(QStringLiteral("settingsButton"));
    connect(gear, &QPushButton::clicked, this, &DetailHeader::settingsRequested);
    row->addWidget(chat_);
    row->addWidget(text);
    row->addWidget(refresh);
    row->addWidget(gear);

    connect(&state_, &AppState::targetChanged, this, &DetailHeader::showTarget);
    connect(&state_, &AppState::filesChanged, this, &DetailHeader::showTarget);
    connect(&state_, &AppState::filesTruncatedChanged, this, &DetailHeader::showTarget);
    connect(&state_, &AppState::portChanged, this, &DetailHeader::showTarget);
    connect(&state_, &AppState::usageModeChanged, this, &DetailHeader::showMode);
    connect(&state_, &AppState::teamNameChanged, this, &DetailHeader::showMode);
    connect(&state_, &AppState::teamPendingChanged, this, &DetailHeader::showMode);
    connect(&state_, &AppState::searchTextChanged, this, &DetailHeader::showSearch);
    connect(&state_, &AppState::chatConvsChanged, this, &DetailHeader::showUnread);
    showTarget();
    showMode();
    showSearch();
    showUnread();
}

QWidget* DetailHeader::searchField() {
    auto* frame = new FieldFrame(Theme::primary(0.06), 7, this);
    frame->setObjectName(QStringLiteral("searchFrame"));
    frame->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    auto* row = new QHBoxLayout(frame);
    row->setContentsMargins(8, 5, 8, 5);
    row->setSpacing(5);
    row->addWidget(new SymbolLabel("magnifyingglass", 10.5, Theme::secondary(), frame));
    search_ = new QLineEdit(frame);
    search_->setObjectName(QStringLiteral("searchField"));
    search_->setPlaceholderText(QStringLiteral("搜索"));
    search_->setAccessibleName(QStringLiteral("搜索"));
    search_->setFrame(false);
    search_->setFont(Theme::font(11.5));
    search_->setFixedWidth(118);
    search_->setFixedHeight(search_->fontMetrics().height() + 2);
    search_->setStyleSheet(QStringLiteral("QLineEdit { background: transparent; border: none; padding: 0; }"));
    frame->setField(search_);
    // Only what the user types is written; the state's text comes back through showSearch().
    connect(search_, &QLineEdit::textEdited, this,
            [this](const QString& text) { state_.setSearchText(text.toStdString()); });
    clear_ = new SymbolButton("xmark.circle.fill", 10, QStringLiteral("清除搜索"), frame);
    clear_->setObjectName(QStringLiteral("searchClear"));
    clear_->setColor(Theme::tertiary());
    clear_->setToolTip({});
    connect(clear_, &QPushButton::clicked, this, [this] { state_.setSearchText(""); });
    row->addWidget(search_);
    row->addWidget(clear_);
    return frame;
}

QString DetailHeader::counter(int count) { return count < 1 ? QString() : QString::number(std::min(count, 99)); }

QString DetailHeader::subtitle() const {
    // A cut listing counts what it holds and more; its size is only the listed files'.
    const std::string count = std::to_string(state_.files().size());
    const std::string size = humanSize(state_.totalSize());
    const std::string head = state_.filesTruncated() ? count + "+ 个文件 · 已列出 " + size : count + " 个文件 · " + size;
    const auto& peer = state_.target().peer;
    if (!peer) return qs(head + " · 端口 " + std::to_string(state_.port()) + " · v" + Cfg::version());
    return qs(head + " · " + peer->ip + ":" + std::to_string(peer->port));
}

QString DetailHeader::modeLabel() const {
    if (state_.usageMode() != "team") return QStringLiteral("局域网模式");
    QString label = state_.teamName().empty() ? QStringLiteral("团队模式") : qs(state_.teamName());
    if (state_.teamPending() >= 1) label += QLatin1Char(' ') + counter(state_.teamPending());
    return label;
}

void DetailHeader::showTarget() {
    const auto& peer = state_.target().peer;
    title_->setText(peer ? qs(peer->name) : QStringLiteral("本机"));
    platformTag_->setVisible(peer.has_value());
    back_->setVisible(peer.has_value());
    if (peer) platformTag_->setText(qs(peer->platformLabel()));
    subtitle_->setText(subtitle());
}

void DetailHeader::showMode() {
    const bool team = state_.usageMode() == "team";
    const QColor color = Theme::tint(team ? Tint::orange : Tint::blue);
    modeBadge_->setSymbol(team ? "person.2.fill" : "wifi");
    modeBadge_->setTitle(modeLabel());
    modeBadge_->setColors(color, Theme::tint(team ? Tint::orange : Tint::blue, 0.14),
                          modeBadge_->sizeHint().height() / 2);
    modeBadge_->setToolTip(team ? QStringLiteral("团队模式：点这里管理团队空间 / 成员审批")
                                : QStringLiteral("局域网模式：免注册，同事之间直接互传。点这里切换"));
}

void DetailHeader::showSearch() {
    const QString text = qs(state_.searchText());
    if (search_->text() != text) search_->setText(text);
    clear_->setVisible(!text.isEmpty());
}

void DetailHeader::showUnread() {
    const QString count = counter(state_.chatUnreadTotal());
    chatBadge_->setText(count);
    chatBadge_->setVisible(!count.isEmpty());
    placeBadge();
}

void DetailHeader::placeBadge() {
    // Over the chat symbol's top-right corner (inside the button's 2 px padding),
    // shifted 8 px right and 7 px up.
    const QSize size = chatBadge_->sizeHint();
    const QRect symbol = chat_->geometry().adjusted(2, 2, -2, -2);
    chatBadge_->setGeometry(symbol.right() + 1 - size.width() + 8, symbol.top() - 7, size.width(), size.height());
    chatBadge_->raise();
}

bool DetailHeader::eventFilter(QObject* watched, QEvent* event) {
    if (watched == chat_ && (event->type() == QEvent::Move || event->type() == QEvent::Resize)) placeBadge();
    return QWidget::eventFilter(watched, event);
}

}  // namespace corvane
