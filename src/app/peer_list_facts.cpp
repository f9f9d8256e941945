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
    for (const PeerInfo& peer : discovery->list()) {
        out.peers.push_back({{"id", peer.id},
                             {"name", peer.name},
                             {"ip", peer.ip},
                             {"port", peer.port},
                             {"pin", peer.pin},
                             {"token", peer.token},
                             {"plat", peer.plat},
                             {"lastSeen", peer.lastSeen * 1000.0}});
    }
    return out;
}

}  // namespace corvane
