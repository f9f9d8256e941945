#pragma once
// The chat history for the keys and for a screen reader. The message pane is one Tab
// stop: entering it puts the keys on a message (the one they left, else the newest),
// Up and Down move from message to message, Page Up and Page Down by what the pane
// shows, Home and End (Ctrl too) to the first and the last; Tab and Shift+Tab leave the
// pane. Over accessibility the messages are the items of a list, each named by its
// text and described by its sender and time, so a reader speaks each as the keys reach it.

#include <QPointer>
#include <QObject>

class QScrollArea;
class QWidget;

namespace corvane {

class ChatBubble;

class ChatHistoryKeys : public QObject {
    Q_OBJECT

public:
    // messages: the pane, whose widget's layout holds the rows in order.
    explicit ChatHistoryKeys(QScrollArea* messages);

    // A row the pane shows now: it takes the keys from these and by a click only.
    void watch(ChatBubble* row);
    // Whether the pane shows any row: an empty pane is no Tab stop, having nothing to read.
    void setHasRows(bool any);
    // The row the keys are on, or were on last (null before any).
    ChatBubble* current() const { return current_; }
    // The row holding the keys now, or null.
    ChatBubble* holdingKeys() const;
    // The keys to that row, brought into view once the layout placed it.
    void give(ChatBubble* row);

    // What a reader hears of a row: its text, and its sender and time.
    static QString spokenText(const ChatBubble& row);
    static QString spokenDetail(const ChatBubble& row);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::vector<ChatBubble*> rows() const;
    bool rowKey(ChatBubble* row, int key, Qt::KeyboardModifiers modifiers);
    ChatBubble* pageFrom(const std::vector<ChatBubble*>& rows, size_t at, int direction) const;
    void moveTo(ChatBubble* row, Qt::FocusReason reason);
    // The next Tab stop outside the pane, forward or back.
    QWidget* stopOutside(bool forward) const;

    QScrollArea* messages_;
    QPointer<ChatBubble> current_;
};

}  // namespace corvane
