#include "views/sheets/text_sheet.h"

#include <algorithm>

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "app/app_state.h"
#include "storage/team_text.h"
#include "views/controls.h"
#include "views/sheets/recipient_row.h"
#include "views/switch_box.h"
#include "views/symbols.h"
#include "views/text_metrics.h"
#include "views/typed_text_edit.h"

namespace corvane {

namespace {

const char* const kLocal = "local";

QString explanation(bool burn) {
    return burn ? QStringLiteral("内容只存在对方内存里，不写磁盘、不进接收目录。对方打开一次即销毁，10 分钟未读也会销毁。")
                : QStringLiteral("对方会收到一条消息，同时在接收目录留一份 txt 存档（发代码不会丢缩进）。");
}

QWidget* burnBadge(QWidget* parent) {
    auto* badge = new QWidget(parent);
    badge->setObjectName(QStringLiteral("textBurnBadge"));
    auto* row = new QHBoxLayout(badge);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(3);
    row->addWidget(new SymbolLabel("flame.fill", 10, Theme::tint(Tint::orange), badge));
    row->addWidget(sheetLabel(QStringLiteral("阅后即焚"), 10, Weight::semibold, Theme::tint(Tint::orange), false, badge));
    return badge;
}

}  // namespace

int TextSheet::listHeight(size_t peerCount) {
    const long long product = (static_cast<long long>(peerCount) + 1) * 34;
    return int(std::min<long long>(product + 8, 132));
}

TextSheet::TextSheet(AppState& state, QWidget* parent)
    : Sheet(QStringLiteral("发送文字"), 500, 12, parent), state_(state) {
    // Header: the title and, while read-once is on, the orange badge.
    auto* header = new QHBoxLayout();
    header->setSpacing(7);
    header->addWidget(sheetLabel(QStringLiteral("发送文字"), 13, Weight::semibold, Theme::primary(), false, this));
    header->addStretch(1);
    badge_ = burnBadge(this);
    header->addWidget(badge_);
    column()->addLayout(header);

    // Recipient bar.
    auto* bar = new QHBoxLayout();
    bar->addWidget(sheetLabel(QStringLiteral("收件人"), 11, Weight::semibold, Theme::secondary(), false, this));
    bar->addStretch(1);
    QPushButton* selectAll = linkButton(QStringLiteral("全选本机+设备"), 10, this);
    selectAll->setObjectName(QStringLiteral("textSelectAll"));
    onlyLocal_ = linkButton(QStringLiteral("只发本机"), 10, this);
    onlyLocal_->setObjectName(QStringLiteral("textOnlyLocal"));
    bar->addWidget(selectAll);
    bar->addWidget(onlyLocal_);
    column()->addLayout(bar);

    // The recipient list, scrolling beyond three devices.
    list_ = new QScrollArea(this);
    list_->setObjectName(QStringLiteral("textRecipients"));
    list_->setWidgetResizable(true);
    list_->setFrameShape(QFrame::NoFrame);
    list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list_->setFocusPolicy(Qt::NoFocus);  // Tab goes to the rows
    keepFocusInView(list_);
    list_->setStyleSheet(QStringLiteral("QScrollArea#textRecipients { background: rgba(0,0,0,0.0255); border-radius: 8px; }"));
    auto* content = new QWidget(list_);
    content->setAutoFillBackground(false);
    content->setStyleSheet(QStringLiteral("background: transparent;"));
    rows_ = new QVBoxLayout(content);
    rows_->setContentsMargins(0, 2, 0, 2);
    rows_->setSpacing(1);
    list_->setWidget(content);
    column()->addWidget(list_);

    explain_ = sheetLabel({}, 10.5, Weight::regular, Theme::secondary(), true, this);
    explain_->setObjectName(QStringLiteral("textExplain"));
    column()->addWidget(explain_);

    editor_ = new TypedTextEdit(this);
    editor_->setObjectName(QStringLiteral("textEditor"));
    editor_->setAccessibleName(QStringLiteral("发送文字"));
    editor_->setFont(Theme::monoFont(12));
    editor_->setFixedHeight(160);
    editor_->setTabChangesFocus(true);
    // 6 px of padding plus the 5 px a text editor keeps around its lines.
    setUpTextBox(editor_, Theme::primary(0.04), Theme::primary(0.09), 8, 11);
    column()->addWidget(editor_);

    // Footer: the read-once switch, the counter, "取消" and the send button.
    auto* footer = new QHBoxLayout();
    footer->setSpacing(10);
    burnToggle_ = new SwitchBox("flame", 11.5, QStringLiteral("阅后即焚"), this);
    burnToggle_->setObjectName(QStringLiteral("textBurnToggle"));
    counter_ = sheetLabel({}, 10.5, Weight::regular, Theme::tertiary(), false, this);
    counter_->setObjectName(QStringLiteral("textCounter"));
    QPushButton* cancelButton = sheetButton(QStringLiteral("取消"), this);
    cancelButton->setObjectName(QStringLiteral("textCancel"));
    send_ = sheetButton(QStringLiteral("发送"), this);
    send_->setObjectName(QStringLiteral("textSend"));
    footer->addWidget(burnToggle_);
    footer->addWidget(counter_);
    footer->addStretch(1);
    footer->addWidget(cancelButton);
    footer->addWidget(send_);
    column()->addLayout(footer);
    setDefaultButton(send_);
    setInitialFocus(editor_);

    buildRows();
    showText();
    showBurnMode();

    // The user's actions write AppState; AppState's changes refill the widgets.
    connect(selectAll, &QPushButton::clicked, this, [this] {
        std::set<std::string> all{kLocal};
        for (const Peer& peer : state_.peers()) all.insert(peer.id);
        state_.setTextTargets(all);
    });
    connect(onlyLocal_, &QPushButton::clicked, this, [this] { state_.setTextTargets({kLocal}); });
    connect(editor_, &QPlainTextEdit::textChanged, this, [this] { state_.setTextInput(editor_->typedText().toStdString()); });
    // Checkable controls act on toggled: assistive technology toggles them without a click.
    connect(burnToggle_, &QCheckBox::toggled, this, [this](bool on) { state_.setBurnMode(on); });
    connect(cancelButton, &QPushButton::clicked, this, &TextSheet::cancel);
    connect(send_, &QPushButton::clicked, this, [this] { state_.sendText(); });
    connect(&state_, &AppState::peersChanged, this, &TextSheet::buildRows);
    connect(&state_, &AppState::textTargetsChanged, this, &TextSheet::showTargets);
    connect(&state_, &AppState::textInputChanged, this, &TextSheet::showText);
    connect(&state_, &AppState::burnModeChanged, this, &TextSheet::showBurnMode);
}

void TextSheet::firstShown() {
    // A sheet that opens with no recipient starts with the default ones.
    if (state_.textTargets().empty()) state_.setTextTargets(state_.defaultTextTargets());
}

void TextSheet::buildRows() {
    clearLayout(rows_);
    auto add = [this](const std::string& key, const QString& title, const QString& sub, const std::string& icon) {
        auto* row = new RecipientRow(key, title, sub, icon, rows_->parentWidget());
        connect(row, &RecipientRow::toggled, this, [this, key](bool on) { choose(key, on); });
        rows_->addWidget(row);
    };
    add(kLocal, QStringLiteral("本机"), QStringLiteral("存进接收目录（不支持阅后即焚）"), "internaldrive");
    for (const Peer& peer : state_.peers()) {
        add(peer.id, QString::fromStdString(peer.name),
            QString::fromStdString(peer.platformLabel() + " · " + peer.ip + ":" + std::to_string(peer.port)),
            peer.platformIcon());
    }
    rows_->addStretch(1);
    list_->setFixedHeight(listHeight(state_.peers().size()));
    // Tab goes from the recipient links through the rows to the editor, as they stand.
    QWidget* previous = onlyLocal_;
    for (int i = 0; i < rows_->count(); ++i) {
        QWidget* row = rows_->itemAt(i)->widget();
        if (!row) continue;
        QWidget::setTabOrder(previous, row);
        previous = row;
    }
    QWidget::setTabOrder(previous, editor_);
    showTargets();
}

void TextSheet::showTargets() {
    const std::set<std::string>& targets = state_.textTargets();
    for (RecipientRow* row : list_->widget()->findChildren<RecipientRow*>()) {
        const QSignalBlocker quiet(row);
        row->setChecked(targets.count(row->key()) > 0);
    }
    showSendState();
}

void TextSheet::showText() {
    const QString text = QString::fromStdString(state_.textInput());
    if (editor_->typedText() != text) {
        const QSignalBlocker quiet(editor_);
        editor_->setTypedText(text);
    }
    counter_->setText(counterText(state_.textInput()));
    showSendState();
}

void TextSheet::showBurnMode() {
    const bool burn = state_.burnMode();
    badge_->setVisible(burn);
    explain_->setText(explanation(burn));
    {
        const QSignalBlocker quiet(burnToggle_);
        burnToggle_->setChecked(burn);
    }
    send_->setText(burn ? QStringLiteral("发送并销毁") : QStringLiteral("发送"));
}

void TextSheet::showSendState() {
    send_->setEnabled(!trimWhitespace(state_.textInput()).empty() && !state_.textTargets().empty());
}

void TextSheet::choose(const std::string& key, bool chosen) {
    // Every row shows the set as it stands: its new state puts its key in or takes it out.
    std::set<std::string> targets = state_.textTargets();
    if (chosen) {
        targets.insert(key);
    } else {
        targets.erase(key);
    }
    state_.setTextTargets(targets);
}

void TextSheet::cancel() {
    state_.setTextInput("");
    state_.setBurnMode(false);
    state_.setTextTargets({});
    state_.setShowTextSheet(false);
}

}  // namespace corvane
