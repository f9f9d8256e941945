#pragma once
// The discovery datagrams on UDP: the "here" beacon and the "who" probe, how a
// received one is read, and where broadcasts go.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "engine/discovery/host_info.h"

namespace corvane {

// A device heard by discovery.
struct PeerInfo {
    std::string id;
    std::string name;  // at most 60 characters, never empty
    std::string ip;    // source address of the beacon
    int port = 0;      // its HTTP port, at least 1
    bool pin = false;
    std::string token;
    std::string plat;  // at most 12 characters
    std::string team;  // at most 30 characters
    double lastSeen = 0;  // seconds since 1970
    bool operator==(const PeerInfo&) const = default;
};

// What this device announces in its beacons.
struct BeaconFields {
    std::string id;
    std::string name;
    std::string token;
    int port = 0;
    std::string team;
};

nlohmann::json hereMessage(const BeaconFields& self);
nlohmann::json probeMessage(const std::string& selfID);

// A received datagram that is worth acting on.
struct HeardDatagram {
    enum class Kind { who, here };
    Kind kind = Kind::who;
    PeerInfo peer;  // for "here": the sender as it will be listed; for "who": only id and ip
};

// Reads one datagram from ip; none for anything to drop (not a JSON object,
// "v" not 1, empty or own id, unknown "t", a beacon with a port below 1).
std::optional<HeardDatagram> readDatagram(std::string_view bytes, const std::string& selfID, const std::string& ip,
                                          double now);

// Whether a stored peer replaced by a fresh beacon is news for the owner.
bool peerChanged(const PeerInfo& before, const PeerInfo& after, double staleAfter);

// 255.255.255.255, 127.0.0.1 and the broadcast address of every interface, each once.
std::vector<std::string> broadcastTargetsFor(const std::vector<InterfaceAddress>& interfaces);

// A team name as announced: horizontal white space trimmed, at most 40 characters.
std::string cleanTeamName(std::string_view team);

}  // namespace corvane
