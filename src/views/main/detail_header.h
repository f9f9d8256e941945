#pragma once
// The detail pane's header: the target's title with its platform tag, the
// way back to this device and the usage-mode badge, the subtitle counting all
// listed files, the search field, and the chat, send-text, refresh and
// settings buttons (the chat button with its unread badge).

#include <QWidget>

class QLabel;
class QLineEdit;
class QPushButton;

namespace corvane {

class AppState;
class CapsuleLabel;
class ElidedLabel;
class SymbolButton;
class SymbolTextButton;

class DetailHeader : public QWidget {
    Q_OBJECT

public:
    explicit DetailHeader(AppState& state, QWidget* parent = nullptr);

    // "3 个文件 · 1.5 MB · 端口 8899 · v1.0.0", or "… · 192.168.1.20:8899" for a peer.
    QString subtitle() const;
    // The badge's label: the team's name (or "团队模式") and the pending count, or "局域网模式".
    QString modeLabel() const;
    // min(count, 99) as text; empty below 1.
    static QString counter(int count);

Q_SIGNALS:
    // The gear was pressed.
    void settingsRequested();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* searchField();
    void showTarget();
    void showMode();
    void showSearch();
    void showUnread();
    void placeBadge();

    AppState& state_;
    ElidedLabel* title_ = nullptr;
    CapsuleLabel* platformTag_ = nullptr;
    QPushButton* back_ = nullptr;
    SymbolTextButton* modeBadge_ = nullptr;
    ElidedLabel* subtitle_ = nullptr;
    QLineEdit* search_ = nullptr;
    SymbolButton* clear_ = nullptr;
    SymbolButton* chat_ = nullptr;
    CapsuleLabel* chatBadge_ = nullptr;
};

}  // namespace corvane
