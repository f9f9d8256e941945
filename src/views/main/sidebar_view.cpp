#include "views/main/sidebar_view.h"

#include <algorithm>
#include <set>
#include <utility>

#include <QAccessible>

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QScrollArea>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

#include "app/app_state.h"
#include "base/cfg.h"
#include "views/announcer.h"
#include "views/controls.h"
#include "views/data_labels.h"
#include "views/main/device_list.h"
#include "views/main/device_row.h"
#include "views/tab_order.h"
#include "views/theme.h"

namespace corvane {

namespace {

QString qs(const std::string& text) { return QString::fromStdString(text); }

QLabel* styledLabel(QLabel* label, double px, Weight weight, const QColor& color) {
    label->setFont(Theme::font(px, weight));
    Theme::setTextColor(label, color);
    return label;
}

}  // namespace

StatusDot::StatusDot(QWidget* parent) : QWidget(parent) { setFixedSize(6, 6); }

void StatusDot::setColor(const QColor& color) {
    color_ = color;
    update();
}

void StatusDot::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(color_);
    painter.drawEllipse(QRectF(rect()));
}

SidebarView::SidebarView(AppState& state, QWidget* parent) : QWidget(parent), state_(state) {
    setObjectName(QStringLiteral("sidebarView"));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    auto* scroll = new QScrollArea(this);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setFocusPolicy(Qt::NoFocus);  // Tab goes to the rows
    keepFocusInView(scroll);
    auto* list = new QWidget(scroll);
    Theme::setBackground(list, Theme::window());
    auto* rows = new QVBoxLayout(list);
    rows->setContentsMargins(8, 10, 8, 0);
    rows->setSpacing(0);

    rows->addWidget(sectionHeader(QStringLiteral("这台设备"), nullptr));
    localRow_ = new DeviceRow(list);
    localRow_->setObjectName(QStringLiteral("deviceRow:local"));
    rows->addWidget(localRow_);
    localRow_->installEventFilter(this);
    connect(localRow_, &DeviceRow::clicked, this, [this] { state_.switchTarget(Target::local()); });

    rows->addSpacing(14);
    nearbyCount_ = styledLabel(new PlainLabel({}, list), 11, Weight::medium, Theme::tertiary());
    nearbyCount_->setObjectName(QStringLiteral("nearbyCount"));
    rows->addWidget(sectionHeader(QStringLiteral("附近的设备"), nearbyCount_));
    empty_ = emptyState();
    rows->addWidget(empty_);
    peerList_ = new DeviceList(list);
    peerList_->setObjectName(QStringLiteral("deviceList"));
    peerList_->setAccessibleName(QStringLiteral("附近的设备"));
    peerModel_ = new DeviceListModel(peerList_);
    peerList_->setModel(peerModel_);
    peerList_->setActions([this](const QModelIndex& row) { return peerActions(peerModel_->row(row.row()).peer); });
    peerList_->setRowKey([this](const QModelIndex& row) { return qs(peerModel_->row(row.row()).peer.id); });
    peerList_->setRowChecked([this](const QModelIndex& row) { return peerModel_->row(row.row()).look.selected; });
    peerList_->installEventFilter(this);
    connect(peerList_, &QAbstractItemView::clicked, this, [this](const QModelIndex& row) {
        const Peer peer = peerModel_->row(row.row()).peer;  // the call may replace the list
        state_.switchTarget(Target::of(peer));
    });
    // The row the keys reach shows in the scroll area, as a focused control does.
    connect(peerList_->selectionModel(), &QItemSelectionModel::currentChanged, this, [this, scroll](const QModelIndex& row) {
        if (!row.isValid()) return;
        const QRect shown = peerList_->visualRect(row);
        const QPoint at = peerList_->viewport()->mapTo(scroll->widget(), shown.center());
        scroll->ensureWidgetVisible(peerList_, 0, 0);
        scroll->ensureVisible(at.x(), at.y(), 0, shown.height() / 2 + 6);
    });
    rows->addWidget(peerList_, 1);
    rows->addStretch(0);
    scroll->setWidget(list);
    column->addWidget(scroll, 1);
    column->addWidget(new Rule(Qt::Horizontal, this));
    column->addWidget(footer());
    announcer_ = new Announcer(this);

    connect(&state_, &AppState::peersChanged, this, &SidebarView::showPeers);
    connect(&state_, &AppState::targetChanged, this, &SidebarView::showPeers);
    connect(&state_, &AppState::targetChanged, this, &SidebarView::showLocal);
    connect(&state_, &AppState::deviceNameChanged, this, &SidebarView::showLocal);
    connect(&state_, &AppState::localIPsChanged, this, &SidebarView::showLocal);
    connect(&state_, &AppState::portChanged, this, &SidebarView::showLocal);
    connect(&state_, &AppState::portChanged, this, &SidebarView::showDiscovery);
    connect(&state_, &AppState::discoveryEnabledChanged, this, &SidebarView::showDiscovery);
    showLocal();
    showPeers();
    showDiscovery();
}

QWidget* SidebarView::sectionHeader(const QString& title, QLabel* trailing) {
    auto* header = new QWidget(this);
    auto* row = new QHBoxLayout(header);
    row->setContentsMargins(10, 0, 10, 5);
    row->addWidget(styledLabel(new PlainLabel(title, header), 11, Weight::semibold, Theme::secondary()));
    row->addStretch(1);
    if (trailing) row->addWidget(trailing);
    return header;
}

QWidget* SidebarView::emptyState() {
    auto* block = new QWidget(this);
    auto* column = new QVBoxLayout(block);
    column->setContentsMargins(10, 8, 10, 8);
    column->setSpacing(6);
    emptyHeadline_ = styledLabel(new PlainLabel({}, block), 12, Weight::medium, Theme::secondary());
    emptyHeadline_->setObjectName(QStringLiteral("sidebarEmptyHeadline"));
    emptyText_ = styledLabel(new PlainLabel({}, block), 11, Weight::regular, Theme::tertiary());
    emptyText_->setObjectName(QStringLiteral("sidebarEmptyText"));
    emptyText_->setWordWrap(true);
    auto* diag = new SymbolTextButton("wave.3.right.circle", 11, QStringLiteral("看不到设备？诊断一下"), 11,
                                      Theme::tint(Tint::accent), block);
    diag->setObjectName(QStringLiteral("diagLink"));
    diag->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    diag->installEventFilter(this);
    connect(diag, &QPushButton::clicked, this, [this] { state_.setShowDiag(true); });
    column->addWidget(emptyHeadline_);
    column->addWidget(emptyText_);
    column->addSpacing(2);
    column->addWidget(diag);
    return block;
}

QWidget* SidebarView::footer() {
    auto* block = new QWidget(this);
    auto* column = new QVBoxLayout(block);
    column->setContentsMargins(14, 10, 14, 10);
    column->setSpacing(7);
    auto* statusRow = new QHBoxLayout();
    statusRow->setSpacing(6);
    dot_ = new StatusDot(block);
    dot_->setObjectName(QStringLiteral("discoveryDot"));
    status_ = styledLabel(new PlainLabel({}, block), 11, Weight::regular, Theme::secondary());
    status_->setObjectName(QStringLiteral("discoveryStatus"));
    statusRow->addWidget(dot_);
    statusRow->addWidget(status_);
    statusRow->addStretch(1);
    column->addLayout(statusRow);

    auto* folder = new SymbolTextButton("folder", 11.5, QStringLiteral("接收目录"), 11.5, Theme::secondary(), block);
    folder->setObjectName(QStringLiteral("openFolderButton"));
    folder->setToolTip(QStringLiteral("打开接收文件夹"));
    connect(folder, &QPushButton::clicked, this, [this] { state_.environment().openPath(state_.root()); });
    webPage_ = new SymbolTextButton("globe", 11.5, QStringLiteral("NAS 网页管理"), 11.5, Theme::secondary(), block);
    webPage_->setObjectName(QStringLiteral("webPageButton"));
    connect(webPage_, &QPushButton::clicked, this, [this] {
        const std::string address = "http://127.0.0.1:" + std::to_string(state_.port()) + "/web";
        const QUrl url(qs(address), QUrl::StrictMode);
        if (!url.isValid() || url.host().isEmpty()) return;
        state_.environment().openURL(address);
    });
    folder->installEventFilter(this);
    webPage_->installEventFilter(this);
    column->addWidget(folder);
    column->addWidget(webPage_);
    return block;
}

QString SidebarView::subtitle(const Peer& peer) {
    const std::string first = peer.name != peer.realName ? peer.realName : peer.platformLabel();
    return qs(first + " · " + peer.ip + ":" + std::to_string(peer.port));
}

DeviceRowLook SidebarView::peerLook(const Peer& peer, const Target& target) {
    DeviceRowLook look;
    look.title = qs(peer.name);
    look.subtitle = subtitle(peer);
    look.icon = peer.platformIcon();
    if (peer.pin) {
        look.badge = QStringLiteral("口令");
    } else if (peer.plat == "manual") {
        look.badge = QStringLiteral("手动");
    }
    look.badgeColor = Theme::tint(peer.plat == "manual" ? Tint::blue : Tint::orange);
    // Selected only when every field equals the target's peer (a fresher lastSeen is another peer).
    look.selected = target.peer && *target.peer == peer;
    return look;
}

DeviceRowLook SidebarView::localLook() const {
    DeviceRowLook look;
    look.title = qs(state_.deviceName());
    look.subtitleEnd = qs(" · v" + Cfg::version());
    look.subtitle = qs("本机 · " + state_.myIP() + ":" + std::to_string(state_.port())) + look.subtitleEnd;
    look.icon = "laptopcomputer";
    look.badge = QStringLiteral("在线");
    look.badgeColor = Theme::tint(Tint::green);
    look.selected = state_.target().isLocal();
    look.subtitleToolTip = true;
    look.badgeBesideTitle = true;
    return look;
}

void SidebarView::showLocal() { localRow_->setLook(localLook()); }

void SidebarView::showDiscovery() {
    const bool on = state_.discoveryEnabled();
    emptyHeadline_->setText(on ? QStringLiteral("正在搜索…") : QStringLiteral("发现功能不可用"));
    emptyText_->setText(on ? QStringLiteral("同一 WiFi 下运行了Corvane的设备会自动出现在这里")
                           : QStringLiteral("UDP 8898 端口被占用，仍可用 IP 直连"));
    dot_->setColor(Theme::tint(on ? Tint::green : Tint::orange));
    status_->setText(on ? QStringLiteral("局域网发现已开启") : QStringLiteral("仅 IP 直连"));
    webPage_->setToolTip(QStringLiteral("在浏览器中打开本机文件管理（局域网内其他设备可访问 http://本机IP:") +
                         QString::number(state_.port()) + QStringLiteral("/web）"));
}

void SidebarView::showPeers() {
    const std::vector<Peer>& peers = state_.peers();
    nearbyCount_->setText(QString::number(peers.size()));
    empty_->setVisible(peers.empty());
    peerList_->setVisible(!peers.empty());

    std::vector<DeviceListModel::Row> rows;
    std::set<std::string> listed;
    for (const Peer& peer : peers) {
        if (!listed.insert(peer.id).second) continue;  // one row per id
        rows.push_back({peer, peerLook(peer, state_.target())});
    }
    peerModel_->setRows(std::move(rows));
    tellChoiceSoon();
}

// A new list comes before the target that follows it (a fresher copy of the chosen device):
// what a screen reader is told of the choice waits until both are in.
void SidebarView::tellChoiceSoon() {
    if (choiceTellPending_) return;
    choiceTellPending_ = true;
    QTimer::singleShot(0, this, &SidebarView::tellChoice);
}

// The chosen device that left is heard by name; a row whose choice changed tells it only
// while it holds the keys (a reader speaks the focused row's states, and nothing else
// changed for it to hear).
void SidebarView::tellChoice() {
    choiceTellPending_ = false;
    std::optional<std::string> chosen;
    QString chosenName;
    for (int k = 0; k < peerModel_->rowCount(); ++k) {
        if (!peerModel_->row(k).look.selected) continue;
        chosen = peerModel_->row(k).peer.id;
        chosenName = peerModel_->row(k).look.title;
    }
    const std::optional<std::string> before = std::exchange(toldChosen_, chosen);
    const QString nameBefore = std::exchange(toldChosenName_, chosenName);
    if (before == chosen) return;
    if (before && peerModel_->rowOf(*before) < 0) announcer_->announce(nameBefore + QStringLiteral(" 已离开"));
    const QModelIndex keys = peerList_->currentIndex();
    if (!QAccessible::isActive() || !peerList_->hasFocus() || !keys.isValid()) return;
    const std::string& id = peerModel_->row(keys.row()).peer.id;
    if (id != before && id != chosen) return;
    QAccessible::State changed;
    changed.checked = true;
    QAccessibleStateChangeEvent event(peerList_->accessibleRow(keys.row()), changed);
    QAccessible::updateAccessibility(&event);
}

bool SidebarView::eventFilter(QObject* watched, QEvent* event) {
    auto* widget = qobject_cast<QWidget*>(watched);
    if (event->type() == QEvent::KeyPress && widget && stopKey(widget, static_cast<QKeyEvent*>(event))) return true;
    return QWidget::eventFilter(watched, event);
}

// Up and Down move to the Tab stop before or after (this device's row, the peers' rows, then
// the footer's buttons) and stop at the ends; inside the peers' list they move its rows.
// Whether the key was taken.
bool SidebarView::stopKey(QWidget* stop, const QKeyEvent* key) {
    if (key->key() != Qt::Key_Up && key->key() != Qt::Key_Down) return false;
    if (stop == peerList_ && key->modifiers() != Qt::NoModifier) return false;
    if (stop == peerList_) {
        const int row = peerList_->currentIndex().row();
        const int rows = peerModel_->rowCount();
        if (key->key() == Qt::Key_Up && row > 0) return false;
        if (key->key() == Qt::Key_Down && row >= 0 && row + 1 < rows) return false;
    }
    std::vector<QWidget*> shown = tabStopsInLayoutOrder(this);
    std::erase_if(shown, [](const QWidget* widget) { return !widget->isVisible() || !widget->isEnabled(); });
    const auto at = std::find(shown.begin(), shown.end(), stop);
    if (at == shown.end()) return false;
    QWidget* to = nullptr;
    if (key->key() == Qt::Key_Up && at != shown.begin()) to = *(at - 1);
    if (key->key() == Qt::Key_Down && at + 1 != shown.end()) to = *(at + 1);
    if (to == nullptr) return true;
    // The arrows come into the list at its near end, as they would over a row of buttons.
    const int rows = peerModel_->rowCount();
    if (to == peerList_ && rows > 0) {
        const int row = key->key() == Qt::Key_Down ? 0 : rows - 1;
        peerList_->selectionModel()->setCurrentIndex(peerModel_->index(row), QItemSelectionModel::NoUpdate);
    }
    to->setFocus(key->key() == Qt::Key_Down ? Qt::TabFocusReason : Qt::BacktabFocusReason);
    return true;
}

std::vector<RowActionList::Action> SidebarView::peerActions(const Peer& peer) {
    // The row's press chooses its device; the menu renames it, and removes a device added by address.
    std::vector<RowActionList::Action> actions;
    actions.push_back({QAccessibleActionInterface::pressAction(), Qt::Key_Return,
                       [this, peer] { state_.switchTarget(Target::of(peer)); }, false});
    actions.push_back({QStringLiteral("重命名…"), 0, [this, peer] { state_.promptAlias(peer); }});
    if (peer.plat == "manual") {
        actions.push_back({QStringLiteral("移除这台设备"), 0,
                           [this, entry = peer.ip + ":" + std::to_string(peer.port)] { state_.removeManualPeer(entry); }});
    }
    return actions;
}

}  // namespace corvane
