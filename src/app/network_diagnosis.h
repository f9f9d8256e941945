#pragma once
// Why devices do not find each other: the diagnostics' lines, levels and hints
// from the facts one run gathers (addresses, gateway, discovery counters, peers).

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/discovery/host_info.h"
#include "engine/model.h"

namespace corvane {

struct DiagnosisFacts {
    std::vector<InterfaceAddress> addresses;  // this device's LAN addresses (no loopback)
    std::optional<std::string> gateway;       // none: no default route
    bool gatewayAnswers = false;
    int64_t sent = 0;                         // "here" beacons sent
    int64_t recv = 0;                         // beacons accepted from other devices
    std::vector<std::string> peerIPs;         // the known devices, in list order
};

// The interface list without the entries whose address begins with "127.".
std::vector<InterfaceAddress> lanAddresses(const std::vector<InterfaceAddress>& all);

// The lines in their fixed order; every line gets a fresh id.
std::vector<DiagLine> diagnosisLines(const DiagnosisFacts& facts);

}  // namespace corvane
