#pragma once
// Finds the devices of the local network: binds a UDP port, broadcasts a "here"
// beacon every 2.5 s and a "who" probe every 10 s, answers probes at once, and
// keeps a table of the peers heard within the last 9 s (bounded: see PeerTable).
// The owner is told of changes at most once per change interval, however fast
// beacons come.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "engine/discovery/discovery_datagram.h"
#include "engine/discovery/peer_table.h"

namespace corvane {

struct DiscoveryOptions {
    int port = 8898;  // bound on all interfaces, and the port every datagram is sent to
    std::chrono::milliseconds beaconInterval{2500};
    std::function<double()> clock;  // seconds since 1970; the system clock when empty
    // Changes heard within this time of the last one told are told together at its end.
    std::chrono::milliseconds changeInterval{250};
};

class Discovery {
public:
    using PeerInfo = corvane::PeerInfo;

    struct Stats {
        int64_t sent = 0;          // "here" messages sent
        int64_t recv = 0;          // "here" messages accepted
        int peers = 0;             // stored entries, stale ones not yet pruned included
        int64_t ignored = 0;       // "here" messages ignored: a live id from another address, or no room
        double lastRecvAgo = -1;   // seconds since the last accepted "here"; -1 before the first
    };

    static constexpr double staleAfter = 9.0;  // seconds without a beacon before a peer is dropped

    Discovery(std::string id, std::string name, std::string token, int port, DiscoveryOptions options = {});
    ~Discovery();
    Discovery(const Discovery&) = delete;
    Discovery& operator=(const Discovery&) = delete;

    // Binds the port and starts the receive loop and the beacons; false when the
    // socket cannot be opened or bound.
    bool start();
    // Stops the beacons and the receive loop and closes the socket; the peer table is kept.
    void stop();
    bool running() const { return running_; }

    // Peers heard within the last 9 s, by name in the file browser's order.
    std::vector<PeerInfo> list() const;
    Stats stats() const;
    // Announces a new team name at once when it changed (empty removes it).
    void setTeam(std::string_view team);
    // Announces a new device name at once.
    void setName(std::string name);
    // Where broadcasts go: the limited broadcast, loopback and each interface's subnet broadcast.
    std::vector<std::string> broadcastTargets() const;

    // Called on discovery's own threads when the peer table changed in a way the owner must see.
    std::function<void()> onChange;
    // Called on the receive thread with a line for the boot log: an id claimed from a second
    // address (once per id), the table full or an address announcing too many ids (once each).
    std::function<void(const std::string&)> onLog;

private:
    double now() const;
    nlohmann::json here() const;
    void send(const nlohmann::json& message, const std::optional<std::string>& unicast = std::nullopt);
    void recvLoop();
    void receiveBatchOf(int limit);
    // Reads one datagram: whether it was news, none when nothing was waiting.
    std::optional<bool> receiveOne();
    // Stores the beacon's sender; whether that is news for the owner.
    bool heardBeacon(const PeerInfo& peer);
    // The boot log's line for what a beacon did, when it is one to note.
    std::optional<std::string> noteFor(PeerTable::Heard heard, const PeerInfo& peer);
    void timerLoop();
    void fire();
    void prune();
    // Marks a change for the owner and tells it when the change interval allows.
    void changed();
    // Tells the owner of a change held back once its interval has passed.
    void tellHeldChange();
    // How long until a held change is due; the receive loop's poll waits no longer.
    int heldChangeDueMs();
    void tell(const std::string& line) const;

    const std::string selfID_;
    const std::string selfToken_;
    const DiscoveryOptions options_;

    mutable std::mutex lock_;  // guards the fields down to peers_
    std::string selfName_;
    int selfPort_;
    std::string selfTeam_;
    int64_t hereSent_ = 0;
    int64_t hereRecv_ = 0;
    int64_t hereIgnored_ = 0;
    double lastRecvAt_ = 0;
    PeerTable peers_{staleAfter};
    bool fullNoted_ = false;
    bool crowdedNoted_ = false;

    std::mutex changeLock_;  // guards the two fields below
    bool changeHeld_ = false;
    std::optional<std::chrono::steady_clock::time_point> lastToldAt_;  // none before the first

    std::atomic<int> sock_{-1};
    std::atomic<bool> running_{false};
    int tick_ = 0;  // timer thread only

    std::mutex timerLock_;
    std::condition_variable timerWake_;
    std::thread recvThread_;
    std::thread timerThread_;
};

}  // namespace corvane
