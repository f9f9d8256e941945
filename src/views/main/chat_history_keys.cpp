#include "views/main/chat_history_keys.h"

#include <algorithm>

#include <QAccessibleWidget>
#include <QKeyEvent>
#include <QLayout>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>

#include "views/main/chat_bubble.h"

namespace corvane {

namespace {

// One message as a reader meets it: a list item named by its text.
class MessageAccessible : public QAccessibleWidget {
public:
    explicit MessageAccessible(ChatBubble* row) : QAccessibleWidget(row, QAccessible::ListItem) {}

    QString text(QAccessible::Text kind) const override {
        const auto* row = static_cast<const ChatBubble*>(widget());
        if (kind == QAccessible::Name) return ChatHistoryKeys::spokenText(*row);
        if (kind == QAccessible::Description) return ChatHistoryKeys::spokenDetail(*row);
        return QAccessibleWidget::text(kind);
    }
};

QAccessibleInterface* historyAccessible(const QString& className, QObject* object) {
    if (auto* row = qobject_cast<ChatBubble*>(object)) {
        if (className != QLatin1String(ChatBubble::staticMetaObject.className())) return nullptr;
        return new MessageAccessible(row);
    }
    auto* widget = qobject_cast<QWidget*>(object);
    if (widget && widget->objectName() == QStringLiteral("chatMessageList")) {
        return new QAccessibleWidget(widget, QAccessible::List);
    }
    return nullptr;
}

bool takesTab(const QWidget* widget) {
    return (widget->focusPolicy() & Qt::TabFocus) == Qt::TabFocus && widget->isVisible() && widget->isEnabled();
}

}  // namespace

ChatHistoryKeys::ChatHistoryKeys(QScrollArea* messages) : QObject(messages), messages_(messages) {
    static const bool factoryInstalled = (QAccessible::installFactory(historyAccessible), true);
    (void)factoryInstalled;
    setHasRows(false);
    messages_->installEventFilter(this);
    QWidget* list = messages_->widget();
    list->setObjectName(QStringLiteral("chatMessageList"));
    list->setAccessibleName(QStringLiteral("消息记录"));
}

void ChatHistoryKeys::watch(ChatBubble* row) {
    row->setFocusPolicy(Qt::ClickFocus);
    row->installEventFilter(this);
}

ChatBubble* ChatHistoryKeys::holdingKeys() const { return current_ && current_->hasFocus() ? current_.data() : nullptr; }

void ChatHistoryKeys::give(ChatBubble* row) {
    row->setFocus(Qt::OtherFocusReason);
    current_ = row;
    QTimer::singleShot(0, row, [this, row] {
        messages_->widget()->layout()->activate();
        messages_->ensureWidgetVisible(row, 0, 0);
    });
}

void ChatHistoryKeys::setHasRows(bool any) { messages_->setFocusPolicy(any ? Qt::StrongFocus : Qt::NoFocus); }

QString ChatHistoryKeys::spokenText(const ChatBubble& row) {
    if (ChatBubble::showsPlaceholder(row.msg())) return QStringLiteral("这条消息已阅后即焚");
    return QString::fromStdString(row.msg().text);
}

QString ChatHistoryKeys::spokenDetail(const ChatBubble& row) {
    const ChatMsg& msg = row.msg();
    QString detail = (msg.mine ? QStringLiteral("我") : QString::fromStdString(msg.fromName)) + QStringLiteral(" · ") +
                     QString::fromStdString(msg.timeText());
    if (msg.failed) detail += QStringLiteral(" · 发送失败");
    return detail;
}

std::vector<ChatBubble*> ChatHistoryKeys::rows() const {
    std::vector<ChatBubble*> shown;
    QLayout* layout = messages_->widget()->layout();
    for (int k = 0; k < layout->count(); ++k) {
        if (auto* row = qobject_cast<ChatBubble*>(layout->itemAt(k)->widget())) shown.push_back(row);
    }
    return shown;
}

bool ChatHistoryKeys::eventFilter(QObject* watched, QEvent* event) {
    if (watched == messages_) {
        // The pane passes the keys on to a message as they come in.
        if (event->type() != QEvent::FocusIn) return false;
        const std::vector<ChatBubble*> shown = rows();
        if (shown.empty()) return false;
        const auto reason = static_cast<QFocusEvent*>(event)->reason();
        moveTo(current_ && current_->parentWidget() == messages_->widget() ? current_.data() : shown.back(), reason);
        return false;
    }
    auto* row = qobject_cast<ChatBubble*>(watched);
    if (row == nullptr) return false;
    if (event->type() == QEvent::FocusIn) current_ = row;
    if (event->type() != QEvent::KeyPress) return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    return rowKey(row, key->key(), key->modifiers());
}

bool ChatHistoryKeys::rowKey(ChatBubble* row, int key, Qt::KeyboardModifiers modifiers) {
    if (key == Qt::Key_Tab || key == Qt::Key_Backtab) {
        const bool forward = key == Qt::Key_Tab && !(modifiers & Qt::ShiftModifier);
        if (QWidget* next = stopOutside(forward)) next->setFocus(forward ? Qt::TabFocusReason : Qt::BacktabFocusReason);
        return true;
    }
    const std::vector<ChatBubble*> shown = rows();
    const auto found = std::find(shown.begin(), shown.end(), row);
    if (found == shown.end()) return false;
    const size_t at = size_t(found - shown.begin());
    // Moved by keys, the message shows the focus ring as after Tab.
    switch (key) {
        case Qt::Key_Up:
            if (at > 0) moveTo(shown[at - 1], Qt::BacktabFocusReason);
            return true;
        case Qt::Key_Down:
            if (at + 1 < shown.size()) moveTo(shown[at + 1], Qt::TabFocusReason);
            return true;
        case Qt::Key_Home: moveTo(shown.front(), Qt::BacktabFocusReason); return true;
        case Qt::Key_End: moveTo(shown.back(), Qt::TabFocusReason); return true;
        case Qt::Key_PageUp: moveTo(pageFrom(shown, at, -1), Qt::BacktabFocusReason); return true;
        case Qt::Key_PageDown: moveTo(pageFrom(shown, at, 1), Qt::TabFocusReason); return true;
        default: return false;
    }
}

// The row a page away: the pane scrolls by what it shows, and the keys go to the
// row at its top (up) or bottom (down), at least one row on.
ChatBubble* ChatHistoryKeys::pageFrom(const std::vector<ChatBubble*>& shown, size_t at, int direction) const {
    QScrollBar* bar = messages_->verticalScrollBar();
    bar->setValue(bar->value() + direction * bar->pageStep());
    const int top = bar->value();
    const int bottom = top + messages_->viewport()->height();
    size_t to = at;
    if (direction < 0) {
        while (to > 0 && shown[to - 1]->geometry().top() >= top) --to;
        if (to == at && at > 0) --to;
    } else {
        while (to + 1 < shown.size() && shown[to + 1]->geometry().bottom() <= bottom) ++to;
        if (to == at && at + 1 < shown.size()) ++to;
    }
    return shown[to];
}

void ChatHistoryKeys::moveTo(ChatBubble* row, Qt::FocusReason reason) {
    current_ = row;
    messages_->ensureWidgetVisible(row, 0, 0);
    row->setFocus(reason);
}

QWidget* ChatHistoryKeys::stopOutside(bool forward) const {
    QWidget* at = messages_;
    for (QWidget* next = forward ? at->nextInFocusChain() : at->previousInFocusChain(); next != messages_;
         next = forward ? next->nextInFocusChain() : next->previousInFocusChain()) {
        if (next->window() == messages_->window() && !messages_->isAncestorOf(next) && takesTab(next)) return next;
    }
    return nullptr;
}

}  // namespace corvane
