// The peer list, the send target and this device's name.
#include <QPointer>
#include <algorithm>

#include "app/app_config.h"
#include "app/app_state.h"
#include "app/manual_peers.h"
#include "base/unicode_text.h"
#include "engine/discovery/discovery.h"
#include "engine/server/http_server.h"
#include "storage/team_text.h"

namespace corvane {

namespace {

std::string shownName(const std::map<std::string, std::string>& aliases, const std::string& id,
                      const std::string& fallback) {
    const auto it = aliases.find(id);
    const std::string alias = it == aliases.end() ? "" : trimBlanks(it->second);
    return alias.empty() ? fallback : alias;
}

Peer discoveredPeer(const PeerInfo& info, const std::map<std::string, std::string>& aliases) {
    return Peer{info.id,   shownName(aliases, info.id, info.name), info.name, info.ip,
                info.port, info.pin,  info.token, info.plat, info.team, info.lastSeen * 1000.0};
}

// A manual entry "host:port" as a peer last seen now; none when it is not exactly a host and a number.
std::optional<Peer> manualPeer(const std::string& entry, const std::map<std::string, std::string>& aliases,
                               double now) {
    const auto parsed = parseManualEntry(entry);
    if (!parsed) return std::nullopt;
    const std::string id = "manual:" + entry;
    const std::string realName = "手动 " + parsed->host;
    return Peer{id, shownName(aliases, id, realName), realName, parsed->host, parsed->port, false, "", "manual", "",
                now};
}

const Peer* peerWithID(const std::vector<Peer>& peers, const std::string& id) {
    for (const Peer& peer : peers) {
        if (peer.id == id) return &peer;
    }
    return nullptr;
}

// The peers by shown name, equal names in their given order: one collation key a name, so that
// thousands of devices cost a few milliseconds rather than a collation for every compared pair.
std::vector<Peer> inNameOrder(std::vector<Peer> peers) {
    std::vector<std::string_view> names;
    names.reserve(peers.size());
    for (const Peer& peer : peers) names.push_back(peer.name);
    std::vector<Peer> out;
    out.reserve(peers.size());
    for (const size_t k : localizedStandardOrder(names)) out.push_back(std::move(peers[k]));
    return out;
}

}  // namespace

void AppState::reloadPeers() {
    std::vector<Peer> list;
    std::set<std::pair<std::string, int>> addresses;
    if (discovery_) {
        for (const PeerInfo& info : discovery_->list()) {
            list.push_back(discoveredPeer(info, peerAliases_));
            addresses.emplace(info.ip, info.port);
        }
    }
    for (const std::string& entry : manualPeers_) {
        const auto peer = manualPeer(entry, peerAliases_, env_.clock());
        if (!peer || !addresses.emplace(peer->ip, peer->port).second) continue;
        list.push_back(*peer);
    }
    setPeers(inNameOrder(std::move(list)));

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
    const std::string t = trimWhitespace(name);
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

std::string AppState::myIP() const { return localIPs_.empty() ? "127.0.0.1" : localIPs_.front(); }

void AppState::confirmPIN() {
    if (!pinPromptFor_) return;
    const Peer peer = *pinPromptFor_;
    auto pins = peerPINs_;
    pins[peer.id] = pinInput_;  // as typed: a wrong or empty PIN shows only as failing requests
    setPeerPINs(std::move(pins));
    setPinPromptFor(std::nullopt);
    setTarget(Target::of(peer));
    refreshFiles();
}

void AppState::setAlias(const std::string& alias, const std::string& id) {
    const std::string a = trimWhitespace(alias);
    auto aliases = peerAliases_;
    if (a.empty()) {
        aliases.erase(id);
    } else {
        aliases[id] = graphemePrefix(a, 24);
    }
    setPeerAliases(std::move(aliases));
    saveConfig();
    reloadPeers();
    if (target_.peer && target_.peer->id == id) {
        if (const Peer* peer = peerWithID(peers_, id)) setTarget(Target::of(*peer));
    }
    flash(a.empty() ? "已恢复对方的原名" : "已重命名");
}

void AppState::promptAlias(const Peer& peer) {
    TextQuestion question;
    question.title = "重命名";
    question.message = "给这台设备起个名字";
    question.informative = "对方原名：" + peer.realName + "\n只改你这边显示，不影响对方。留空恢复原名。";
    question.confirm = "保存";
    question.cancel = "取消";
    question.text = peer.name != peer.realName ? peer.name : "";
    question.placeholder = peer.realName;
    const QPointer<AppState> self(this);
    env_.askText(question, [self, id = peer.id](std::optional<std::string> answer) {
        if (self && answer) self->setAlias(*answer, id);
    });
}

bool AppState::addManualPeer(const std::string& text) {
    const std::optional<std::string> entry = manualEntryFor(text);
    if (!entry) {
        flash("格式应为 192.168.1.10 或 192.168.1.10:8899");
        return false;
    }
    if (std::find(manualPeers_.begin(), manualPeers_.end(), *entry) != manualPeers_.end()) {
        flash("这台设备已经添加过了");
        return false;
    }
    auto entries = manualPeers_;
    entries.push_back(*entry);
    setManualPeers(std::move(entries));
    saveConfig();
    reloadPeers();
    flash("已添加 " + *entry + "，可以点它试试");
    return true;
}

void AppState::removeManualPeer(const std::string& entry) {
    auto entries = manualPeers_;
    entries.erase(std::remove(entries.begin(), entries.end(), entry), entries.end());
    setManualPeers(std::move(entries));
    auto aliases = peerAliases_;
    aliases.erase("manual:" + entry);
    setPeerAliases(std::move(aliases));
    saveConfig();
    reloadPeers();
    flash("已移除");
}

}  // namespace corvane
