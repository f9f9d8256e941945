// The peer list, the send target and this device's name.
#include <algorithm>
#include <chrono>

#include <QString>

#include "app/app_config.h"
#include "app/app_state.h"
#include "engine/discovery.h"
#include "engine/http_server.h"
#include "engine/json_fields.h"
#include "engine/unicode_text.h"

namespace corvane {

namespace {

double nowMillis() {
    using namespace std::chrono;
    return double(duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count());
}

std::string shownName(const std::map<std::string, std::string>& aliases, const std::string& id,
                      const std::string& fallback) {
    const auto it = aliases.find(id);
    const std::string alias = it == aliases.end() ? "" : trimBlanks(it->second);
    return alias.empty() ? fallback : alias;
}

std::vector<std::string> piecesBetween(const std::string& text, char separator) {
    std::vector<std::string> pieces;
    size_t start = 0;
    while (start <= text.size()) {
        const size_t at = text.find(separator, start);
        const std::string piece = text.substr(start, at == std::string::npos ? std::string::npos : at - start);
        if (!piece.empty()) pieces.push_back(piece);
        if (at == std::string::npos) break;
        start = at + 1;
    }
    return pieces;
}

Peer discoveredPeer(const PeerInfo& info, const std::map<std::string, std::string>& aliases) {
    return Peer{info.id,   shownName(aliases, info.id, info.name), info.name, info.ip,
                info.port, info.pin,  info.token, info.plat, info.team, info.lastSeen * 1000.0};
}

// A manual entry "host:port" as a peer; none when it is not exactly a host and a number.
std::optional<Peer> manualPeer(const std::string& entry, const std::map<std::string, std::string>& aliases) {
    const std::vector<std::string> pieces = piecesBetween(entry, ':');
    if (pieces.size() != 2) return std::nullopt;
    const auto port = parseIntText(pieces[1]);
    if (!port || *port < INT32_MIN || *port > INT32_MAX) return std::nullopt;
    const std::string id = "manual:" + entry;
    const std::string realName = "手动 " + pieces[0];
    return Peer{id, shownName(aliases, id, realName), realName, pieces[0], int(*port), false, "", "manual", "",
                nowMillis()};
}

const Peer* peerWithID(const std::vector<Peer>& peers, const std::string& id) {
    for (const Peer& peer : peers) {
        if (peer.id == id) return &peer;
    }
    return nullptr;
}

}  // namespace

void AppState::reloadPeers() {
    std::vector<Peer> list;
    if (discovery_) {
        for (const PeerInfo& info : discovery_->list()) list.push_back(discoveredPeer(info, peerAliases_));
    }
    for (const std::string& entry : manualPeers_) {
        const auto peer = manualPeer(entry, peerAliases_);
        if (!peer) continue;
        const bool listed = std::any_of(list.begin(), list.end(), [&peer](const Peer& p) {
            return p.ip == peer->ip && p.port == peer->port;
        });
        if (!listed) list.push_back(*peer);
    }
    std::stable_sort(list.begin(), list.end(),
                     [](const Peer& a, const Peer& b) { return localizedStandardLess(a.name, b.name); });
    setPeers(std::move(list));

    std::optional<Peer> team;
    if (usageMode_ != "team") {
        for (const Peer& peer : peers_) {
            if (!peer.team.empty()) {
                team = peer;
                break;
            }
        }
    }
    setNearbyTeam(team);

    if (target_.peer) {
        if (const Peer* current = peerWithID(peers_, target_.peer->id)) {
            setTarget(Target::of(*current));  // the new name, address and token; no reload
        } else {
            switchTarget(Target::local());  // the device went away
        }
    }

    if (nasEnabled_) {
        if (centerID_ == deviceID_) {
            if (target_.peer) {
                setTarget(Target::local());
                refreshFiles();
            }
        } else if (const Peer* center = peerWithID(peers_, centerID_)) {
            if (!target_.peer || target_.peer->id != center->id) {
                setTarget(Target::of(*center));
                refreshFiles();
            }
        }
    }
    syncChatPeers();
}

void AppState::updateTargetLabel() {
    if (!nasEnabled_) return;
    if (centerID_ == deviceID_) {
        setTarget(Target::local());
    } else if (const auto center = centerPeer()) {
        setTarget(Target::of(*center));
    } else {
        return;
    }
    refreshFiles();
}

void AppState::switchTarget(const Target& t) {
    if (t.peer && t.peer->pin) {
        const auto pin = peerPINs_.find(t.peer->id);
        if (pin == peerPINs_.end() || pin->second.empty()) {
            setPinInput("");
            setPinPromptFor(*t.peer);
            return;
        }
    }
    setTarget(t);
    refreshFiles();
}

std::optional<Target> AppState::resolveSendTarget() {
    if (!nasEnabled_) return target_;
    if (centerID_ == deviceID_) return Target::local();
    if (const auto center = centerPeer()) return Target::of(*center);
    flash("中心设备不在线，请到「设置」重新选择");
    return std::nullopt;
}

void AppState::renameDevice(const std::string& name) {
    const std::string t = QString::fromStdString(name).trimmed().toStdString();
    if (t.empty() || graphemeCount(t) > 24) {
        flash("名字需要 1~24 个字符");
        return;
    }
    setDeviceName(t);
    if (server_) server_->setDeviceName(t);  // under the server's own guard
    if (discovery_) discovery_->setName(t);
    saveConfig();
    reloadPeers();
    flash("本机已命名为「" + t + "」");
}

}  // namespace corvane
