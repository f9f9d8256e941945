// GET /api/info (this device's facts) and GET /api/peers (the devices it knows).

#include <chrono>
#include <mutex>
#include <sys/statvfs.h>

#include "base/cfg.h"
#include "base/transfer_sizes.h"
#include "engine/discovery/host_info.h"
#include "engine/server/http_response.h"
#include "engine/server/http_server.h"

namespace corvane {

namespace {

// Free and total bytes of the volume holding the folder; both 0 when unreadable.
nlohmann::json volumeSpace(const std::filesystem::path& folder) {
    struct statvfs st {};
    if (::statvfs(folder.c_str(), &st) != 0) return {{"free", 0}, {"total", 0}};
    const auto unit = int64_t(st.f_frsize ? st.f_frsize : st.f_bsize);
    return {{"free", int64_t(st.f_bavail) * unit}, {"total", int64_t(st.f_blocks) * unit}};
}

nlohmann::json interfaceAddresses() {
    nlohmann::json ips = nlohmann::json::array();
    for (const auto& entry : HostInfo::ipv4Addresses()) ips.push_back(entry.addr);
    return ips;
}

// The addresses and the volume space cost more than the rest of the reply together
// (getifaddrs, statvfs): they are kept for one second, the space per folder.
struct InfoFacts {
    nlohmann::json ips;
    nlohmann::json storage;
};

InfoFacts cachedInfoFacts(const std::filesystem::path& folder) {
    constexpr auto kKeepFor = std::chrono::seconds(1);
    static std::mutex lock;
    static std::optional<std::chrono::steady_clock::time_point> takenAt;
    static std::filesystem::path takenFor;
    static InfoFacts facts;
    std::lock_guard guard(lock);
    const auto now = std::chrono::steady_clock::now();
    if (!takenAt || now - *takenAt >= kKeepFor || takenFor != folder) {
        facts = InfoFacts{interfaceAddresses(), volumeSpace(folder)};
        takenAt = now;
        takenFor = folder;
    }
    return facts;
}

}  // namespace

void HTTPServer::routeInfo(Connection& c) {
    const int fd = c.fd;
    InfoFacts facts = cachedInfoFacts(root());
    sendJSON(fd, 200, {
                          {"device", deviceName()},
                          {"id", deviceID()},
                          {"ips", std::move(facts.ips)},
                          {"port", port()},
                          {"pin", !pin().empty()},
                          {"storage", std::move(facts.storage)},
                          {"chunkSize", kChunkSize},
                          {"discovery", true},
                          {"version", Cfg::version()},
                          {"platform", "linux"},
                      });
}

void HTTPServer::routePeers(Connection& c) {
    const int fd = c.fd;
    if (!peersProvider) {
        sendJSON(fd, 200, {{"self", nlohmann::json::object()}, {"peers", nlohmann::json::array()}, {"enabled", false}});
        return;
    }
    // Moved, never copied: with thousands of devices each copy of the list costs milliseconds.
    PeersSnapshot snapshot = peersProvider();
    nlohmann::json peers = nlohmann::json::array();
    for (auto& peer : snapshot.peers) peers.push_back(std::move(peer));
    nlohmann::json reply = nlohmann::json::object();
    reply["self"] = std::move(snapshot.me);
    reply["peers"] = std::move(peers);
    reply["enabled"] = snapshot.enabled;
    sendJSON(fd, 200, reply);
}

}  // namespace corvane
