#pragma once
// The right-hand column of the chat window: the header of the open
// conversation (title, subtitle, "清空记录" behind a confirmation, "完成"),
// the messages as bubbles kept by message id, and the composer (read-once
// switch, message field, "发送"). It holds only the draft, the read-once
// switch and the open confirmation; everything else is read from AppState.
//
// The messages are one Tab stop walked by keys (ChatHistoryKeys).
//
// The list follows its newest message: after a new message it scrolls to the
// bottom with a 0.15 s ease-out, after a change of conversation at once; both
// wait for the layout, and neither timer nor animation outlives the window.

#include <map>
#include <string>

#include <QMessageBox>
#include <QPointer>
#include <QPropertyAnimation>
#include <QWidget>

class QLabel;
class QPushButton;
class QScrollArea;
class QVBoxLayout;

namespace corvane {

class AppState;
class ChatBubble;
class ChatHistoryKeys;
class ComposerEdit;
class ElidedLabel;
class PlainLabel;

class ChatPane : public QWidget {
    Q_OBJECT

public:
    explicit ChatPane(AppState& state, QWidget* parent = nullptr);

    // The composer's message: trimmed, handed to sendChat with the switch, then the field is emptied.
    void send();
    // Gives the message box the keyboard focus (the window opened, a conversation was chosen).
    void focusInput();
    // The subtitle of the open conversation.
    QString headerSub() const;

    ChatBubble* bubble(const std::string& id) const;
    QScrollArea* messages() const { return messages_; }
    ChatHistoryKeys* historyKeys() const { return historyKeys_; }
    ComposerEdit* input() const { return input_; }
    QMessageBox* clearAlert() const { return clearAlert_; }

protected:
    void hideEvent(QHideEvent* event) override;

private:
    QWidget* makeHeader();
    QWidget* makeComposer();
    void refreshHeader();
    void refreshMessages();
    void refreshSendable();
    void confirmClear();
    void scrollToBottom(bool animated);

    AppState& state_;
    ElidedLabel* title_ = nullptr;
    QLabel* sub_ = nullptr;
    QPushButton* clear_ = nullptr;
    QScrollArea* messages_ = nullptr;
    QVBoxLayout* bubbles_ = nullptr;
    ChatHistoryKeys* historyKeys_ = nullptr;
    std::map<std::string, ChatBubble*> shown_;
    std::string shownConv_;
    size_t shownCount_ = 0;
    QWidget* burnBanner_ = nullptr;
    QPushButton* burn_ = nullptr;
    ComposerEdit* input_ = nullptr;
    QPushButton* send_ = nullptr;
    QPointer<QMessageBox> clearAlert_;
    QPointer<QPropertyAnimation> scrolling_;
};

}  // namespace corvane
