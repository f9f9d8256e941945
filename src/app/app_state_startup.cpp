// Start-up, shutdown and the server's events.
#include <QPointer>
#include <atomic>
#include <chrono>

#include "app/app_state.h"
#include "app/peer_list_facts.h"
#include "base/cfg.h"
#include "base/text_util.h"
#include "engine/discovery/discovery.h"
#include "engine/server/http_server.h"

namespace fs = std::filesystem;

namespace corvane {

namespace {

std::chrono::system_clock::time_point timePointOf(double millis) {
    using namespace std::chrono;
    return system_clock::time_point(duration_cast<system_clock::duration>(duration<double, std::milli>(millis)));
}

}  // namespace


void AppState::start() {
    if (started_) return;
    started_ = true;
    log("start() 进入");

    std::error_code ec;
    fs::create_directories(root_, ec);  // the server's own start decides whether the folder is usable
    refreshTeamState();

    const std::shared_ptr<HTTPServer> server = env_.makeServer({deviceID_, deviceName_, token_, "", root_});
    installServerCallbacks(*server);
    if (!server->start()) {
        log("监听失败：8899-8918 全部不可用");
        return;
    }
    server_ = server;
    setPort(server->port());
    log("HTTP 已监听 " + std::to_string(port_));

    std::vector<std::string> ips;
    for (const InterfaceAddress& entry : env_.ipv4Addresses()) ips.push_back(entry.addr);
    setLocalIPs(ips);
    log("本机 IP：" + joined(ips, ", "));

    startDiscovery();

    ensureConv("all");
    loadChat();
    syncChatPeers();
    refreshFiles();
    reloadPeers();
    refreshTeamState();

    recvPollTimer_.start(env_.delays.receivePoll);
    QTimer::singleShot(env_.delays.updateCheck, Qt::PreciseTimer, this, [this] { env_.checkForUpdates(); });
}

void AppState::installServerCallbacks(HTTPServer& server) {
    // Both run on connection threads: events are copied onto the main queue in
    // order; the peer list is answered from a locked copy, never waiting for the main thread.
    const QPointer<AppState> self(this);
    const std::shared_ptr<MainQueue> queue = env_.mainQueue;
    server.onEvent = [self, queue](const ServerEvent& event) {
        queue->post([self, event] {
            if (self) self->handleServerEvent(event);
        });
    };
    const std::weak_ptr<PeerListFacts> facts = peerListFacts_;
    server.peersProvider = [facts] {
        const std::shared_ptr<PeerListFacts> current = facts.lock();
        return current ? current->snapshot() : PeersSnapshot{};
    };
}

void AppState::startDiscovery() {
    const std::shared_ptr<Discovery> discovery = env_.makeDiscovery({deviceID_, deviceName_, token_, port_});
    const QPointer<AppState> self(this);
    const std::shared_ptr<MainQueue> queue = env_.mainQueue;
    // A burst of changes (a crowd of devices arriving) is one reload: a change heard
    // while a reload waits for the main thread is part of that reload.
    const auto reloadWaits = std::make_shared<std::atomic<bool>>(false);
    discovery->onChange = [self, queue, reloadWaits] {
        if (reloadWaits->exchange(true)) return;
        queue->post([self, reloadWaits] {
            reloadWaits->store(false);
            if (self) self->reloadPeers();
        });
    };
    // Written from discovery's receive thread: each line is one append of its own.
    discovery->onLog = [folder = env_.appSupport](const std::string& line) { bootLogIn(folder, line); };
    const bool enabled = discovery->start();
    discovery_ = discovery;  // kept also when it did not start
    setDiscoveryEnabled(enabled);
    log(std::string("UDP 发现：") + (enabled ? "已开启" : "失败（8898 被占用）"));
}

void AppState::shutdown() {
    if (discovery_) discovery_->stop();
    // Stops accepting and closes the listening socket; connections being served finish on their own.
    if (server_) server_->stop();
}

void AppState::pollRecvTasks() {
    if (!server_) return;
    std::vector<RecvItem> items;
    for (const ReceiveTask& task : server_->receiveTasksSnapshot()) {
        items.push_back({task.id, task.name, task.size, task.received, task.speed, task.from, task.state});
    }
    setRecvTasks(std::move(items));
}

void AppState::handleServerEvent(const ServerEvent& event) {
    switch (event.kind) {
        case ServerEvent::Kind::fileReceived:
        case ServerEvent::Kind::textReceived:
            if (target_.isLocal()) refreshFiles();
            break;
        case ServerEvent::Kind::burnText: {
            std::string sender = event.from.empty() ? "局域网设备" : event.from;
            for (const Peer& peer : peers_) {
                if (peer.ip == event.from) {
                    sender = peer.name;
                    break;
                }
            }
            showBurnNote(BurnNote{event.id, event.text, sender, timePointOf(env_.clock())});
            break;
        }
        case ServerEvent::Kind::chat:
            handleChatEvent(event);
            break;
        case ServerEvent::Kind::chatBurn:
            markOwnChatBurned(event.id);  // a receipt names a message this device sent
            break;
        case ServerEvent::Kind::log:
            break;
        case ServerEvent::Kind::teamPending:
            setTeamPending(env_.teamPendingCount(root_));
            break;
        case ServerEvent::Kind::teamAccounts:
        case ServerEvent::Kind::teamIdentity:
            refreshTeamState();  // an open team panel shows the change at once
            break;
        case ServerEvent::Kind::teamMail:
            Q_EMIT teamMailChanged();
            break;
    }
}

void AppState::handleChatEvent(const ServerEvent& event) {
    if (event.id.empty() || event.from.empty()) return;
    const std::string key = event.to == "all" ? "all" : event.from;
    ChatMsg msg;
    msg.id = event.id;
    msg.from = event.from;
    msg.fromName = event.fromName;
    msg.to = event.to;
    msg.ts = event.ts > 0 ? event.ts : env_.clock();
    msg.text = event.text;
    msg.burn = event.burn;
    appendChat(key, msg, false);

    if (key != "all") {
        std::vector<ChatConv> convs = chatConvs_;
        for (ChatConv& conv : convs) {
            if (conv.id != key) continue;
            if (conv.title.empty() || conv.title == "设备") {
                conv.title = event.fromName.empty() ? "未知设备" : event.fromName;
                setChatConvs(std::move(convs));
            }
            break;
        }
    }
    if (!event.burn) persistChat();  // read-once messages never reach the disk
}

}  // namespace corvane
