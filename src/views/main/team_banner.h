#pragma once
// The orange strip across the top of the main window that tells the user a
// device on the network announces a team. It offers to join that team (its
// team page opens in the browser), to create a team on this device (the team
// panel opens), or to hide the strip until the application quits. The root
// view keeps one strip and shows it for the announcing device of the moment.

#include <QWidget>

#include "engine/model.h"

class QPushButton;

namespace corvane {

class AppState;
class ElidedLabel;
class SymbolButton;

class TeamBanner : public QWidget {
    Q_OBJECT

public:
    explicit TeamBanner(AppState& state, QWidget* parent = nullptr);

    // The announcing device whose texts and actions the strip shows.
    void setPeer(const Peer& peer);
    const Peer& peer() const { return peer_; }

    // "发现团队「team」（name · ip）".
    static QString titleFor(const Peer& peer);
    // "http://ip:port/", the root of the device's server, where a team device serves its page.
    static std::string joinAddress(const Peer& peer);

    void join();
    void create();
    void dismiss();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    AppState& state_;
    Peer peer_;
    ElidedLabel* title_ = nullptr;
    QPushButton* joinButton_ = nullptr;
    QPushButton* createButton_ = nullptr;
    SymbolButton* closeButton_ = nullptr;
};

}  // namespace corvane
