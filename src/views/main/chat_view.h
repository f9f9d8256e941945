#pragma once
// The chat window, 930 × 630, built anew for every presentation: the
// conversation list (218 px) on the left and the open conversation's pane on
// the right. When it first comes on screen it opens chatCurrent again, once.
// "完成", Escape and the close button all end with showChat false. The message
// box holds the keyboard focus whenever the window opens or a conversation is
// chosen; Return presses a focused button (dialog_keys.h).

#include <QDialog>
#include <QListView>

class QLabel;

namespace corvane {

class AppState;
class ChatConvDelegate;
class ChatConvModel;
class ChatPane;

class ChatView : public QDialog {
    Q_OBJECT

public:
    static constexpr int listWidth = 218;

    explicit ChatView(AppState& state, QWidget* parent = nullptr);

    QListView* convList() const { return list_; }
    ChatConvModel* convModel() const { return model_; }
    ChatConvDelegate* convDelegate() const { return delegate_; }
    ChatPane* pane() const { return pane_; }

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QWidget* makeListColumn();

    AppState& state_;
    QLabel* self_ = nullptr;
    QListView* list_ = nullptr;
    ChatConvModel* model_ = nullptr;
    ChatConvDelegate* delegate_ = nullptr;
    ChatPane* pane_ = nullptr;
    bool opened_ = false;
};

}  // namespace corvane
