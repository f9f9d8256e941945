#pragma once
// The left column of the main window: this device and every reachable one,
// each a DeviceRow, with the empty-state help while no device is reachable,
// and a footer with the discovery status and the receive-folder and web-page
// buttons. Rows are kept per peer id and updated in place when AppState
// publishes the list again, so hover and an open context menu survive; a row
// whose peer left is hidden and deleted later, never inside its own signal.
// The keys follow the screen order: Tab goes this device's row, the peers' rows,
// then the footer's buttons; Up and Down move along the same stops; the Menu key and
// Shift+F10 open a focused peer row's menu, as a right click does, its first item
// highlighted.

#include <map>
#include <string>

#include <QColor>
#include <QWidget>

#include "engine/model.h"

class QKeyEvent;
class QLabel;
class QMenu;
class QPushButton;
class QVBoxLayout;

namespace corvane {

class AppState;
class DeviceRow;
struct DeviceRowLook;

// The 6 px discovery dot.
class StatusDot : public QWidget {
    Q_OBJECT

public:
    explicit StatusDot(QWidget* parent = nullptr);
    void setColor(const QColor& color);
    QColor color() const { return color_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor color_;
};

class SidebarView : public QWidget {
    Q_OBJECT

public:
    explicit SidebarView(AppState& state, QWidget* parent = nullptr);

    // The values of a peer's row and of this device's row.
    static DeviceRowLook peerLook(const Peer& peer, const Target& target);
    DeviceRowLook localLook() const;
    // "Windows · 192.168.1.23:8899", or the device's own name first when an alias is set.
    static QString subtitle(const Peer& peer);

    // The rows in shown order: this device's first, then one per peer.
    std::vector<DeviceRow*> rows() const;
    // The context menu of a peer row (rename; remove for a device added by address).
    QMenu* contextMenu(const Peer& peer, QWidget* parent);

private:
    QWidget* sectionHeader(const QString& title, QLabel* trailing);
    QWidget* emptyState();
    QWidget* footer();
    void showPeers();
    DeviceRow* newPeerRow(const std::string& id);
    void showLocal();
    void showDiscovery();
    void openMenu(const std::string& id, const QPoint& at, bool byKeys);
    bool stopKey(QWidget* stop, const QKeyEvent* key);
    bool openMenuByKeys(QWidget* stop);
    std::string peerIdOf(const DeviceRow* row) const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:

    AppState& state_;
    DeviceRow* localRow_ = nullptr;
    QLabel* nearbyCount_ = nullptr;
    QWidget* empty_ = nullptr;
    QLabel* emptyHeadline_ = nullptr;
    QLabel* emptyText_ = nullptr;
    QVBoxLayout* peerColumn_ = nullptr;
    StatusDot* dot_ = nullptr;
    QLabel* status_ = nullptr;
    QPushButton* webPage_ = nullptr;
    std::map<std::string, DeviceRow*> peerRows_;
    std::map<std::string, Peer> shownPeers_;
    std::vector<std::string> order_;
};

}  // namespace corvane
