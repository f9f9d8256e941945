#pragma once
// The devices discovery has heard, keyed by id, with what keeps a stranger out:
// an id stays with the address it is heard from while that address beacons, the
// table holds at most maxPeers devices, and one address at most maxIDsPerAddress.
// Not locked: Discovery guards it.

#include <cstddef>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/discovery/discovery_datagram.h"

namespace corvane {

class PeerTable {
public:
    static constexpr size_t maxPeers = 8192;       // above any real office
    static constexpr int maxIDsPerAddress = 4;      // a real device announces one

    // What a beacon did to the table.
    enum class Heard {
        news,            // a new device, or one whose address, port, name, PIN or team changed
        same,            // a device heard again as it was
        conflictFirst,   // the id's known address is still heard: ignored, the first time for this id
        conflict,        // the same, again
        tableFull,       // a new id while the table is full: ignored
        addressCrowded,  // a new id for an address that announces maxIDsPerAddress already: ignored
    };

    // A live entry with its name's collation key (see localizedStandardSortKey).
    struct Live {
        std::string nameKey;
        PeerInfo peer;
    };

    explicit PeerTable(double staleAfter) : staleAfter_(staleAfter) {}

    Heard store(const PeerInfo& peer);
    // Removes the entries silent for longer than the staleness window; how many went.
    size_t prune(double now);
    // The entries heard within the staleness window, by id.
    std::vector<Live> live(double now) const;
    size_t size() const { return entries_.size(); }
    // The address an id is stored with; empty when the id is unknown.
    std::string addressOf(const std::string& id) const;

private:
    struct Entry {
        PeerInfo peer;
        std::string nameKey;  // made when the name is stored, so that listing thousands sorts fast
        bool conflictNoted = false;
    };

    bool stale(const PeerInfo& peer, double now) const { return now - peer.lastSeen > staleAfter_; }
    bool crowded(const std::string& ip) const;
    void countAddress(const std::string& ip, int delta);
    Heard conflictAt(Entry& entry);
    Heard insert(const PeerInfo& peer);

    const double staleAfter_;
    std::map<std::string, Entry> entries_;
    std::unordered_map<std::string, int> idsAt_;  // stored ids by address
};

}  // namespace corvane
