#pragma once
// The left column of the main window: this device's row (a DeviceRow) and the
// list of every reachable one (a DeviceList, one painted row per peer id, no widget
// each), with the empty-state help while no device is reachable, and a footer with
// the discovery status and the receive-folder and web-page buttons. When AppState
// publishes the peers again only the rows that changed change, so hover, the keys
// and an open menu stay where they were.
// The list takes the height left between this device's row and the footer and scrolls
// its own rows. The keys follow the screen order: Tab goes this device's row, the
// peers' list (one stop), then the footer's buttons; Up and Down move along the same
// stops, through the list's rows; the Menu key and Shift+F10 open a focused peer row's
// menu, as a right click does, its first item highlighted. When the chosen device
// leaves, a screen reader hears "<name> 已离开"; a row's choice is told to it only
// while the row holds the keys.

#include <optional>
#include <string>
#include <vector>

#include <QColor>
#include <QWidget>

#include "engine/model.h"
#include "views/main/row_action_list.h"

class QKeyEvent;
class QLabel;
class QPushButton;
class QVBoxLayout;

namespace corvane {

class Announcer;
class AppState;
class DeviceList;
class DeviceListModel;
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

    // This device's row, and the list of the others' rows.
    DeviceRow* localRow() const { return localRow_; }
    DeviceList* peerList() const { return peerList_; }
    DeviceListModel* peerModel() const { return peerModel_; }
    // A peer row's actions: its press (Return, Space, a click) chooses the device; its menu
    // renames it, and removes a device added by address.
    std::vector<RowActionList::Action> peerActions(const Peer& peer);

private:
    QWidget* sectionHeader(const QString& title, QLabel* trailing);
    QWidget* emptyState();
    QWidget* footer();
    void showPeers();
    void showLocal();
    void showDiscovery();
    void tellChoiceSoon();
    void tellChoice();
    bool stopKey(QWidget* stop, const QKeyEvent* key);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:

    AppState& state_;
    DeviceRow* localRow_ = nullptr;
    QLabel* nearbyCount_ = nullptr;
    QWidget* empty_ = nullptr;
    QLabel* emptyHeadline_ = nullptr;
    QLabel* emptyText_ = nullptr;
    DeviceList* peerList_ = nullptr;
    DeviceListModel* peerModel_ = nullptr;
    StatusDot* dot_ = nullptr;
    QLabel* status_ = nullptr;
    QPushButton* webPage_ = nullptr;
    Announcer* announcer_ = nullptr;
    // The chosen peer (and its title) as a screen reader was last told, and whether telling it
    // again waits in the event loop.
    std::optional<std::string> toldChosen_;
    QString toldChosenName_;
    bool choiceTellPending_ = false;
};

}  // namespace corvane
