#include "views/sheets/settings_sheet.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "app/app_state.h"
#include "views/controls.h"
#include "views/data_labels.h"
#include "views/elided_combo_box.h"
#include "views/sheets/diag_sheet.h"
#include "views/sheets/update_block.h"
#include "views/symbols.h"
#include "views/text_metrics.h"

namespace corvane {

namespace {

QVBoxLayout* section(const QString& title, QWidget* parent) {
    auto* stack = new QVBoxLayout();
    stack->setSpacing(6);
    stack->addWidget(sectionTitle(title, parent));
    return stack;
}

QString nasHelpText(const AppState& state) {
    if (!state.nasEnabled()) {
        return QStringLiteral("关闭时只做点对点互传，不对外提供任何网页。\n开启后本机可当 NAS：浏览器管理文件、WebDAV "
                              "挂载成网络盘、可创建团队空间。");
    }
    const std::string address = "http://" + state.myIP() + ":" + std::to_string(state.port());
    return QStringLiteral("已开启：本机可作为团队中央存储。\n· NAS 网页：") + QString::fromStdString(address) +
           QStringLiteral("/web（浏览器直接访问）\n· WebDAV 挂载：") + QString::fromStdString(address) +
           QStringLiteral("/dav/（用户名任意，密码 = 访问口令）\n关闭时只做点对点互传，不对外提供任何网页。");
}

}  // namespace

SettingsSheet::SettingsSheet(AppState& state, Updater& updater, QWidget* parent, std::optional<int> room)
    : Sheet(QStringLiteral("设置"), 480, 14, parent ? parent->window() : nullptr), state_(state), updater_(updater) {
    setObjectName(QStringLiteral("settingsSheet"));
    setRoom(room);
    // Everything but "完成" scrolls when the screen is lower than the sheet.
    QVBoxLayout* body = scrollingBody();
    body->addWidget(sheetLabel(QStringLiteral("设置"), 14, Weight::semibold, Theme::primary(), false, this));
    body->addLayout(nameSection());
    body->addWidget(new Rule(Qt::Horizontal, this));
    body->addLayout(storageSection());
    body->addWidget(new Rule(Qt::Horizontal, this));
    body->addLayout(destinationSection());
    body->addWidget(new Rule(Qt::Horizontal, this));
    body->addLayout(networkSection());
    body->addWidget(new Rule(Qt::Horizontal, this));
    body->addLayout(featuresSection());
    body->addWidget(new Rule(Qt::Horizontal, this));
    body->addLayout(modeSection());
    body->addWidget(new Rule(Qt::Horizontal, this));
    body->addWidget(new UpdateBlock(state_, updater_, this));
    body->addWidget(new Rule(Qt::Horizontal, this));
    body->addWidget(new Rule(Qt::Horizontal, this));
    body->addLayout(feedbackRow());

    auto* closing = new QHBoxLayout();
    closing->addStretch(1);
    QPushButton* done = sheetButton(QStringLiteral("完成"), this);
    done->setObjectName(QStringLiteral("settingsDone"));
    closing->addWidget(done);
    footer()->addLayout(closing);
    setDefaultButton(done);
    connect(done, &QPushButton::clicked, this, &QDialog::accept);

    showCenterPicker();
    showMode();
    showDiscovery();

    connect(&state_, &AppState::deviceNameChanged, this, &SettingsSheet::showNameState);
    for (auto changed : {&AppState::peersChanged, &AppState::centerIDChanged, &AppState::teamNameChanged,
                         &AppState::localIPsChanged, &AppState::nasEnabledChanged}) {
        connect(&state_, changed, this, &SettingsSheet::showCenterPicker);
    }
    for (auto changed : {&AppState::nasEnabledChanged, &AppState::portChanged, &AppState::localIPsChanged}) {
        connect(&state_, changed, this, &SettingsSheet::showMode);
    }
    connect(&state_, &AppState::discoveryEnabledChanged, this, &SettingsSheet::showDiscovery);
}

void SettingsSheet::firstShown() {
    nameField_->setText(QString::fromStdString(state_.deviceName()));  // the draft starts as the name
    showNameState();
}

QLayout* SettingsSheet::nameSection() {
    const QString title = QStringLiteral("这台设备的名字");
    QVBoxLayout* stack = section(title, this);
    auto* row = new QHBoxLayout();
    nameField_ = new QLineEdit(this);
    nameField_->setObjectName(QStringLiteral("settingsNameField"));
    nameField_->setPlaceholderText(QStringLiteral("例如 剪辑主机 / 小张的 Mac"));
    nameField_->setAccessibleName(title);
    nameField_->setFont(Theme::font(11.5));
    nameSave_ = smallButton(QStringLiteral("保存"), this);
    nameSave_->setObjectName(QStringLiteral("settingsNameSave"));
    nameSave_->setEnabled(false);
    row->addWidget(nameField_, 1);
    row->addWidget(nameSave_);
    stack->addLayout(row);
    stack->addWidget(helpLine(QStringLiteral("其他设备会在 1~3 秒内看到新名字。想让别人记住你，就起个好认的。"), this));
    connect(nameField_, &QLineEdit::textEdited, this, &SettingsSheet::showNameState);
    // The draft goes as typed: renameDevice trims it, checks it and tells the user.
    connect(nameSave_, &QPushButton::clicked, this, [this] { state_.renameDevice(nameField_->text().toStdString()); });
    return stack;
}

QLayout* SettingsSheet::storageSection() {
    QVBoxLayout* stack = section(QStringLiteral("存储目录"), this);
    auto* row = new QHBoxLayout();
    rootPath_ = new ElidedLabel(QString::fromStdString(state_.root().string()), Qt::ElideLeft, this);
    rootPath_->setObjectName(QStringLiteral("settingsRootPath"));
    rootPath_->setFont(Theme::font(11));
    QPushButton* move = smallButton(QStringLiteral("更改并迁移…"), this);
    move->setObjectName(QStringLiteral("settingsMoveRoot"));
    row->addWidget(rootPath_, 1);
    row->addWidget(move);
    stack->addLayout(row);
    stack->addWidget(helpLine(QStringLiteral("更改后，现有接收文件会自动移动到新目录。"), this));
    connect(move, &QPushButton::clicked, this, [this] {
        // The sheet closes once the folder question is answered, whatever the answer.
        const QPointer<SettingsSheet> self(this);
        state_.changeStorageDir([self] {
            if (self) self->accept();
        });
    });
    return stack;
}

QLayout* SettingsSheet::destinationSection() {
    QVBoxLayout* stack = section(QStringLiteral("文件去向"), this);
    pickerRow_ = new QWidget(this);
    auto* row = new QHBoxLayout(pickerRow_);
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(sheetLabel(QStringLiteral("存储设备："), 11.5, Weight::regular, Theme::primary(), false, pickerRow_));
    // As wide as the longest device needs, up to the row's width; beyond it the entry elides.
    picker_ = new ElidedComboBox(pickerRow_);
    picker_->setObjectName(QStringLiteral("settingsCenterPicker"));
    picker_->setAccessibleName(QStringLiteral("存储设备："));
    row->addWidget(picker_);
    row->addStretch(1);
    stack->addWidget(pickerRow_);
    destHelp_ = helpLine({}, this);
    destHelp_->setObjectName(QStringLiteral("settingsDestHelp"));
    stack->addWidget(destHelp_);
    connect(picker_, &QComboBox::activated, this, &SettingsSheet::chooseCenter);
    return stack;
}

QLayout* SettingsSheet::networkSection() {
    QVBoxLayout* stack = section(QStringLiteral("网络与连接"), this);
    auto* row = new QHBoxLayout();
    discovery_ = sheetLabel({}, 11, Weight::regular, Theme::secondary(), false, this);
    discovery_->setObjectName(QStringLiteral("settingsDiscoveryText"));
    QPushButton* diag = smallButton(QStringLiteral("网络诊断…"), this);
    diag->setObjectName(QStringLiteral("settingsDiagButton"));
    row->addWidget(discovery_, 1);
    row->addWidget(diag);
    stack->addLayout(row);
    stack->addWidget(
        helpLine(QStringLiteral("看不到别的设备？先跑一次诊断——能判断出是「AP 隔离」还是「跨了路由器」。"), this));
    connect(diag, &QPushButton::clicked, this, &SettingsSheet::openDiagnostics);
    return stack;
}

QLayout* SettingsSheet::featuresSection() {
    QVBoxLayout* stack = section(QStringLiteral("拓展功能"), this);
    nasToggle_ = new QCheckBox(QStringLiteral("中央存储 / NAS（默认关闭）"), this);
    nasToggle_->setObjectName(QStringLiteral("settingsNasToggle"));
    nasToggle_->setFont(Theme::font(12));
    stack->addWidget(nasToggle_);
    nasHelp_ = helpLine({}, this);
    nasHelp_->setObjectName(QStringLiteral("settingsNasHelp"));
    stack->addWidget(nasHelp_);
    // On toggled, not clicked: assistive technology toggles the box without a click.
    connect(nasToggle_, &QCheckBox::toggled, this, [this](bool on) { state_.setNas(on); });
    return stack;
}

QLayout* SettingsSheet::modeSection() {
    QVBoxLayout* stack = section(QStringLiteral("当前模式"), this);
    modeText_ = sheetLabel({}, 11, Weight::regular, Theme::primary(), true, this);
    modeText_->setObjectName(QStringLiteral("settingsModeText"));
    stack->addWidget(modeText_);
    stack->addWidget(helpLine(QStringLiteral("模式由「拓展功能」里的团队模式开关决定，切换后立即生效，不用重启。"), this));
    return stack;
}

QLayout* SettingsSheet::feedbackRow() {
    auto* row = new QHBoxLayout();
    row->setSpacing(8);
    row->addWidget(new SymbolLabel("bubble.left.and.text.bubble.right", 11, Theme::secondary(), this));
    row->addWidget(sheetLabel(QStringLiteral("用着不顺、想要什么功能？说给我们听"), 11, Weight::regular, Theme::secondary(),
                              false, this),
                   1);
    QPushButton* feedback = smallButton(QStringLiteral("意见反馈…"), this);
    feedback->setObjectName(QStringLiteral("settingsFeedbackButton"));
    row->addWidget(feedback);
    // The root window shows the feedback sheet; this one stays open.
    connect(feedback, &QPushButton::clicked, this, [this] { state_.setShowFeedback(true); });
    return row;
}

void SettingsSheet::showNameState() {
    const QString draft = nameField_->text();
    nameSave_->setEnabled(!trimSpaceSeparators(draft).isEmpty() &&
                          draft != QString::fromStdString(state_.deviceName()));
}

void SettingsSheet::showCenterPicker() {
    // Refilled without signals: refilling never chooses a device.
    const QSignalBlocker quiet(picker_);
    picker_->clear();
    const QString mine = QStringLiteral("🖥 本设备（") + QString::fromStdString(state_.myIP()) + QStringLiteral("）");
    picker_->addItem(state_.teamName().empty() ? mine : mine + QStringLiteral("· 团队中心"),
                     QString::fromStdString(state_.deviceID()));
    const std::string& center = state_.centerID();
    if (!state_.centerPeer() && !center.empty() && center != state_.deviceID()) {
        picker_->addItem(QStringLiteral("离线"), QString());
    }
    for (const Peer& peer : state_.peers()) {
        picker_->addItem(Symbols::icon(peer.platformIcon(), 11.5, Theme::secondary()),
                         QString::fromStdString(peer.name + "（" + peer.ip + "）"), QString::fromStdString(peer.id));
    }
    // No row carries the centre's tag (an offline centre): nothing is selected.
    picker_->setCurrentIndex(picker_->findData(QString::fromStdString(center)));

    const bool team = state_.nasEnabled();
    pickerRow_->setVisible(team);
    if (!team) {
        destHelp_->setText(QStringLiteral("点对点模式：选中谁就发给谁，也可以一次发多台，文件不集中存放。\n开启下方「团队模式」后，"
                                          "可以把文件统一存到指定的那台设备。"));
    } else if (center == state_.deviceID()) {
        destHelp_->setText(QStringLiteral("已选本设备：发送的文件直接存进本机接收目录。"));
    } else {
        destHelp_->setText(QStringLiteral("团队模式下，发送的文件都会自动存到所选设备。"));
    }
}

void SettingsSheet::showMode() {
    const bool team = state_.nasEnabled();
    {
        const QSignalBlocker quiet(nasToggle_);
        nasToggle_->setChecked(team);
    }
    nasHelp_->setText(nasHelpText(state_));
    modeText_->setText(team ? QStringLiteral("团队模式 · 需要账号；团队聊天 + 中央存储，文件统一存到上面选的设备。")
                            : QStringLiteral("点对点模式 · 免注册，选中谁就发给谁。"));
}

void SettingsSheet::showDiscovery() {
    const bool on = state_.discoveryEnabled();
    discovery_->setText(on ? QStringLiteral("局域网发现已开启") : QStringLiteral("仅能手动 IP 直连"));
    Theme::setTextColor(discovery_, on ? Theme::secondary() : Theme::tint(Tint::orange));
}

void SettingsSheet::chooseCenter(int index) {
    state_.setCenterID(picker_->itemData(index).toString().toStdString());
    state_.saveConfig();
    state_.reloadPeers();
    state_.updateTargetLabel();
}

void SettingsSheet::openDiagnostics() {
    if (diag_) return;
    diag_ = new DiagSheet(state_, this);
    diag_->setObjectName(QStringLiteral("diagSheet"));
    diag_->setAttribute(Qt::WA_DeleteOnClose);
    diag_->setWindowModality(Qt::WindowModal);
    diag_->open();
}

DiagSheet* SettingsSheet::diagSheet() const { return diag_; }

}  // namespace corvane
