#include "views/main/chat_pane.h"

#include <algorithm>
#include <vector>

#include <QEasingCurve>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>
#include <QVBoxLayout>

#include "app/app_state.h"
#include "storage/team_text.h"
#include "views/alert.h"
#include "views/animations.h"
#include "views/controls.h"
#include "views/data_labels.h"
#include "views/dialog_keys.h"
#include "views/main/chat_bubble.h"
#include "views/main/chat_composer.h"
#include "views/main/chat_history_keys.h"
#include "views/theme.h"

namespace corvane {

namespace {

// The rounded field behind the message field.
QString rgba(const QColor& color) {
    return QStringLiteral("rgba(%1, %2, %3, %4)").arg(color.red()).arg(color.green()).arg(color.blue()).arg(color.alphaF());
}

}  // namespace

ChatPane::ChatPane(AppState& state, QWidget* parent) : QWidget(parent), state_(state) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(makeHeader());
    column->addWidget(new Rule(Qt::Horizontal, this));

    messages_ = new QScrollArea(this);
    messages_->setObjectName(QStringLiteral("chatMessages"));
    messages_->setAccessibleName(QStringLiteral("消息"));
    messages_->setFrameShape(QFrame::NoFrame);
    messages_->setWidgetResizable(true);
    messages_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* content = new QWidget(messages_);
    Theme::setBackground(content, Theme::primary(0.015));
    bubbles_ = new QVBoxLayout(content);
    bubbles_->setContentsMargins(0, 12, 0, 12);
    bubbles_->setSpacing(2);
    bubbles_->addStretch(1);
    messages_->setWidget(content);
    // One Tab stop: the keys walk the messages inside it.
    historyKeys_ = new ChatHistoryKeys(messages_);
    column->addWidget(messages_, 1);

    column->addWidget(new Rule(Qt::Horizontal, this));
    column->addWidget(makeComposer());

    connect(&state_, &AppState::chatConvsChanged, this, &ChatPane::refreshHeader);
    connect(&state_, &AppState::chatCurrentChanged, this, &ChatPane::refreshHeader);
    connect(&state_, &AppState::peersChanged, this, &ChatPane::refreshHeader);
    connect(&state_, &AppState::chatMsgsChanged, this, &ChatPane::refreshMessages);
    connect(&state_, &AppState::chatCurrentChanged, this, &ChatPane::refreshMessages);
    connect(&state_, &AppState::chatCurrentChanged, this, &ChatPane::focusInput);  // a conversation chosen
    refreshHeader();
    refreshMessages();
}

QWidget* ChatPane::makeHeader() {
    auto* header = new QWidget(this);
    auto* row = new QHBoxLayout(header);
    row->setContentsMargins(16, 11, 16, 11);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    title_ = new ElidedLabel({}, Qt::ElideRight, header);
    title_->setObjectName(QStringLiteral("chatHeaderTitle"));
    title_->setFont(Theme::font(14.5, Weight::semibold));
    sub_ = new ElidedLabel({}, Qt::ElideRight, header);
    sub_->setObjectName(QStringLiteral("chatHeaderSub"));
    sub_->setFont(Theme::font(10.5));
    Theme::setTextColor(sub_, Theme::secondary());
    texts->addWidget(title_);
    texts->addWidget(sub_);
    row->addLayout(texts, 1);
    // Made in the order they show, left to right, which is the order Tab visits them.
    clear_ = plainButton(QStringLiteral("清空记录"), 11, Theme::secondary(), header);
    clear_->setObjectName(QStringLiteral("chatClear"));
    auto* done = plainButton(QStringLiteral("完成"), 11.5, Theme::tint(Tint::accent), header, true);
    done->setObjectName(QStringLiteral("chatDone"));
    row->addWidget(clear_);
    row->addWidget(done);
    connect(clear_, &QPushButton::clicked, this, &ChatPane::confirmClear);
    connect(done, &QPushButton::clicked, this, [this] { state_.setShowChat(false); });
    return header;
}

QWidget* ChatPane::makeComposer() {
    auto* block = new QWidget(this);
    auto* column = new QVBoxLayout(block);
    column->setContentsMargins(14, 10, 14, 12);
    column->setSpacing(7);

    burnBanner_ = new QWidget(block);
    auto* banner = new QHBoxLayout(burnBanner_);
    banner->setContentsMargins(0, 0, 0, 0);
    banner->setSpacing(5);
    banner->addWidget(textLabel(QStringLiteral("🔥"), 10.5, Theme::primary(), burnBanner_));
    banner->addWidget(textLabel(QStringLiteral("开启后：对方看到这条消息立即销毁，不留记录、不落硬盘"), 10.5,
                                Theme::tint(Tint::red), burnBanner_));
    banner->addStretch(1);
    burnBanner_->hide();
    column->addWidget(burnBanner_);

    auto* row = new QHBoxLayout;
    row->setSpacing(8);
    burn_ = new BurnToggle(block);
    burn_->setText(QStringLiteral("🔥 焚毁"));
    burn_->setObjectName(QStringLiteral("chatBurnToggle"));
    burn_->setToolTip(QStringLiteral("开启后，对方读到即焚毁"));
    const QColor red = Theme::tint(Tint::red);
    burn_->setStyleSheet(
        QStringLiteral("QPushButton { border: 1px solid %1; border-radius: 6px; padding: 4px 9px; background: white; color: %2; }"
                       "QPushButton:checked { border-color: %3; background: %3; color: white; }")
            .arg(rgba(Theme::quaternary()), rgba(Theme::primary()), rgba(red)));
    row->addWidget(burn_, 0, Qt::AlignBottom);

    auto* field = new FieldFrame(Theme::primary(0.055), 9, block);
    auto* fieldLayout = new QVBoxLayout(field);
    // The text starts 10 px in and 8 px down; the editor's own room for the caret is part of that.
    constexpr int inset = ComposerEdit::textMargin;
    fieldLayout->setContentsMargins(10 - inset, 8 - inset, 10 - inset, 8 - inset);
    input_ = new ComposerEdit(field);
    field->setField(input_);
    input_->setObjectName(QStringLiteral("chatInput"));
    input_->setPlaceholderText(QStringLiteral("输入消息，Enter 发送"));
    input_->setAccessibleName(QStringLiteral("输入消息，Enter 发送"));
    fieldLayout->addWidget(input_);
    row->addWidget(field, 1, Qt::AlignBottom);

    send_ = new QPushButton(QStringLiteral("发送"), block);
    send_->setObjectName(QStringLiteral("chatSend"));
    send_->setAutoDefault(false);
    send_->setFont(Theme::font(12));
    send_->setStyleSheet(
        QStringLiteral("QPushButton { border: none; border-radius: 6px; padding: 5px 14px; background: %1; color: white; }"
                       "QPushButton:disabled { background: %2; color: %3; }")
            .arg(rgba(Theme::tint(Tint::accent)), rgba(Theme::quaternary(0.7)), rgba(Theme::tertiary())));
    row->addWidget(send_, 0, Qt::AlignBottom);
    column->addLayout(row);

    auto* hint = textLabel(QStringLiteral("Enter 发送 · Shift+Enter 换行"), 9.5, Theme::tertiary(), block);
    column->addWidget(hint);

    connect(burn_, &QPushButton::toggled, this, [this](bool on) {
        burn_->setText(on ? QStringLiteral("🔥 阅后即焚") : QStringLiteral("🔥 焚毁"));
        burnBanner_->setVisible(on);
    });
    connect(input_, &QPlainTextEdit::textChanged, this, &ChatPane::refreshSendable);
    connect(input_, &ComposerEdit::submitted, this, &ChatPane::send);
    connect(send_, &QPushButton::clicked, this, &ChatPane::send);
    refreshSendable();
    return block;
}

void ChatPane::refreshSendable() { send_->setEnabled(!trimWhitespace(input_->typedText().toStdString()).empty()); }

void ChatPane::send() {
    const std::string text = trimWhitespace(input_->typedText().toStdString());
    if (text.empty()) return;  // the draft stays as typed
    state_.sendChat(text, burn_->isChecked());
    input_->clear();
}

void ChatPane::focusInput() { focusNowAndAfterShow(input_); }

QString ChatPane::headerSub() const {
    const std::optional<ChatConv> conv = state_.chatConvForCurrent();
    if (!conv) return {};
    const QString sub = QString::fromStdString(conv->sub);
    if (!conv->isGroup) return sub;
    return sub + QStringLiteral(" · ") + QString::number(state_.peers().size()) + QStringLiteral(" 台设备在线");
}

void ChatPane::refreshHeader() {
    const std::optional<ChatConv> conv = state_.chatConvForCurrent();
    title_->setText(conv ? QString::fromStdString(conv->title) : QStringLiteral("聊天"));
    sub_->setText(headerSub());
}

ChatBubble* ChatPane::bubble(const std::string& id) const {
    const auto found = shown_.find(id);
    return found == shown_.end() ? nullptr : found->second;
}

void ChatPane::refreshMessages() {
    const std::vector<ChatMsg> msgs = state_.chatMsgsForCurrent();
    const bool switched = state_.chatCurrent() != shownConv_;
    std::map<std::string, ChatBubble*> kept;
    std::vector<ChatBubble*> ordered;
    QWidget* content = messages_->widget();
    // A message holding the keys keeps them while messages come and go round it.
    ChatBubble* held = switched ? nullptr : historyKeys_->holdingKeys();
    for (const ChatMsg& msg : msgs) {
        if (kept.count(msg.id)) continue;
        ChatBubble* row = switched ? nullptr : bubble(msg.id);
        if (!row) {
            row = new ChatBubble(msg, content);
            historyKeys_->watch(row);
        } else if (!(row->msg() == msg)) {
            row->setMsg(msg);
        }
        kept[msg.id] = row;
        ordered.push_back(row);
    }
    if (held) {
        // Its message gone, the keys go to the first one still shown before it is hidden.
        const auto stays = kept.find(held->msg().id);
        if (stays == kept.end() || stays->second != held) {
            const auto next = std::find_if(ordered.begin(), ordered.end(), [](ChatBubble* row) { return row->isVisible(); });
            held = next == ordered.end() ? nullptr : *next;
        }
    }
    if (held && !held->hasFocus()) historyKeys_->give(held);
    for (const auto& [id, row] : shown_) {
        if (kept.count(id) && kept[id] == row) continue;
        bubbles_->removeWidget(row);
        row->hide();
        row->deleteLater();
    }
    // Rows stand in list order before the closing stretch; only misplaced ones move.
    for (size_t k = 0; k < ordered.size(); ++k) {
        if (bubbles_->indexOf(ordered[k]) == int(k)) continue;
        bubbles_->removeWidget(ordered[k]);
        bubbles_->insertWidget(int(k), ordered[k]);
        // A row made while the list is hidden shows with it, after the layout has given it its width:
        // shown now it would lay its text out once more at a width it never has.
        if (content->isVisible()) ordered[k]->show();
    }
    shown_ = std::move(kept);
    const bool grew = msgs.size() != shownCount_;
    shownConv_ = state_.chatCurrent();
    shownCount_ = msgs.size();
    clear_->setVisible(!msgs.empty());
    historyKeys_->setHasRows(!msgs.empty());
    if (msgs.empty()) return;
    if (held) {
        // Not pulled to the newest: the keys' message stays on screen.
        historyKeys_->give(held);
    } else if (switched) {
        scrollToBottom(false);
    } else if (grew) {
        scrollToBottom(true);
    }
}

void ChatPane::scrollToBottom(bool animated) {
    // After the layout has placed the new rows, so the range is known.
    QTimer::singleShot(0, this, [this, animated] {
        if (!isVisible()) return;
        messages_->widget()->layout()->activate();
        QScrollBar* bar = messages_->verticalScrollBar();
        if (scrolling_) scrolling_->stop();
        if (!animated) {
            bar->setValue(bar->maximum());
            return;
        }
        auto* animation = new QPropertyAnimation(bar, "value", this);
        animation->setDuration(150);
        animation->setEasingCurve(QEasingCurve::OutCubic);
        animation->setStartValue(bar->value());
        animation->setEndValue(bar->maximum());
        connect(animation, &QAbstractAnimation::finished, animation, &QObject::deleteLater);
        scrolling_ = animation;
        startAnimation(animation);
    });
}

void ChatPane::hideEvent(QHideEvent* event) {
    if (scrolling_) scrolling_->stop();
    QWidget::hideEvent(event);
}

void ChatPane::confirmClear() {
    if (clearAlert_) return;
    const std::optional<ChatConv> conv = state_.chatConvForCurrent();
    auto* alert = new Alert(QStringLiteral("清空记录"),
                            QStringLiteral("清空与「") + (conv ? QString::fromStdString(conv->title) : QString()) +
                                QStringLiteral("」的聊天记录？"),
                            QStringLiteral("只清我这边，对方不受影响。"), window());
    alert->setAttribute(Qt::WA_DeleteOnClose);
    // Space or Return right after the alert opens keeps the history.
    QPushButton* clear = alert->addDestructive(QStringLiteral("清空"));
    alert->addCancel(QStringLiteral("取消"));
    connect(alert, &QMessageBox::buttonClicked, this, [this, clear](QAbstractButton* chosen) {
        if (chosen != clear) return;
        // The conversation open when the user confirms.
        if (const std::optional<ChatConv> open = state_.chatConvForCurrent()) state_.clearChat(open->id);
    });
    clearAlert_ = alert;
    alert->open();
}

}  // namespace corvane
