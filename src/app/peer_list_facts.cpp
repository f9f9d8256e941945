#include "app/peer_list_facts.h"

#include "engine/discovery/discovery.h"

namespace corvane {

void PeerListFacts::update(std::string deviceID, std::string deviceName, int port, bool discoveryEnabled,
                           std::shared_ptr<Discovery> discovery) {
    std::lock_guard guard(lock_);
    deviceID_ = std::move(deviceID);
    deviceName_ = std::move(deviceName);
    port_ = port;
    discoveryEnabled_ = discoveryEnabled;
    discovery_ = std::move(discovery);
}

PeersSnapshot PeerListFacts::snapshot() const {
    std::shared_ptr<Discovery> discovery;
    PeersSnapshot out;
    {
        std::lock_guard guard(lock_);
        out.me = {{"id", deviceID_}, {"name", deviceName_}, {"port", port_}, {"pin", false}};
        out.enabled = discoveryEnabled_;
        discovery = discovery_;
    }
    if (!discovery) return out;
    std::vector<PeerInfo> peers = discovery->list();
    out.peers.reserve(peers.size());
    // Field by field and moved: with thousands of devices a list built from initializer lists,
    // which copies every value once more, costs the reply tens of milliseconds.
    for (PeerInfo& peer : peers) {
        nlohmann::json entry = nlohmann::json::object();
        entry["id"] = std::move(peer.id);
        entry["name"] = std::move(peer.name);
        entry["ip"] = std::move(peer.ip);
        entry["port"] = peer.port;
        entry["pin"] = peer.pin;
        entry["token"] = std::move(peer.token);
        entry["plat"] = std::move(peer.plat);
        entry["lastSeen"] = peer.lastSeen * 1000.0;
        out.peers.push_back(std::move(entry));
    }
    return out;
}

}  // namespace corvane
