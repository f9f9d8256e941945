#include "engine/discovery/peer_table.h"

#include "base/unicode_text.h"

namespace corvane {

PeerTable::Heard PeerTable::store(const PeerInfo& peer) {
    const auto found = entries_.find(peer.id);
    if (found == entries_.end()) return insert(peer);
    Entry& entry = found->second;
    const bool moved = entry.peer.ip != peer.ip;
    if (moved && !stale(entry.peer, peer.lastSeen)) return conflictAt(entry);
    // The known address fell silent: the device is followed to its new one, room there allowing.
    if (moved && crowded(peer.ip)) return Heard::addressCrowded;
    const bool news = peerChanged(entry.peer, peer, staleAfter_);
    if (moved) {
        countAddress(entry.peer.ip, -1);
        countAddress(peer.ip, +1);
        entry.conflictNoted = false;
    }
    if (entry.peer.name != peer.name) entry.nameKey = localizedStandardSortKey(peer.name);
    entry.peer = peer;
    return news ? Heard::news : Heard::same;
}

PeerTable::Heard PeerTable::insert(const PeerInfo& peer) {
    if (entries_.size() >= maxPeers) return Heard::tableFull;
    if (crowded(peer.ip)) return Heard::addressCrowded;
    entries_.emplace(peer.id, Entry{peer, localizedStandardSortKey(peer.name)});
    countAddress(peer.ip, +1);
    return Heard::news;
}

PeerTable::Heard PeerTable::conflictAt(Entry& entry) {
    if (entry.conflictNoted) return Heard::conflict;
    entry.conflictNoted = true;
    return Heard::conflictFirst;
}

size_t PeerTable::prune(double now) {
    size_t removed = 0;
    for (auto it = entries_.begin(); it != entries_.end();) {
        if (!stale(it->second.peer, now)) {
            ++it;
            continue;
        }
        countAddress(it->second.peer.ip, -1);
        it = entries_.erase(it);
        ++removed;
    }
    return removed;
}

std::vector<PeerTable::Live> PeerTable::live(double now) const {
    std::vector<Live> out;
    out.reserve(entries_.size());
    for (const auto& [id, entry] : entries_) {
        if (!stale(entry.peer, now)) out.push_back({entry.nameKey, entry.peer});
    }
    return out;
}

std::string PeerTable::addressOf(const std::string& id) const {
    const auto found = entries_.find(id);
    return found == entries_.end() ? std::string() : found->second.peer.ip;
}

bool PeerTable::crowded(const std::string& ip) const {
    const auto found = idsAt_.find(ip);
    return found != idsAt_.end() && found->second >= maxIDsPerAddress;
}

void PeerTable::countAddress(const std::string& ip, int delta) {
    const int count = (idsAt_[ip] += delta);
    if (count <= 0) idsAt_.erase(ip);
}

}  // namespace corvane
