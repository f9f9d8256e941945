#include "engine/discovery/discovery.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include "base/unicode_text.h"
#include "base/unique_fd.h"
#include "engine/discovery/host_info.h"

namespace corvane {

namespace {

constexpr auto firstBeaconDelay = std::chrono::milliseconds(260);
constexpr int probeEveryTicks = 4;
constexpr size_t receiveBufferSize = 4096;
// Closing a UDP socket does not wake a blocked receive on Linux: wait in short steps instead.
constexpr int receivePollMs = 100;

// Linux keeps at most 15 characters of a thread name.
void nameThread(const std::string& name) { pthread_setname_np(pthread_self(), name.substr(0, 15).c_str()); }

double systemNow() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

void joinUnlessSelf(std::thread& thread) {
    if (!thread.joinable()) return;
    if (thread.get_id() == std::this_thread::get_id()) {
        thread.detach();  // stop() called from onChange on this very thread
    } else {
        thread.join();
    }
}

}  // namespace

Discovery::Discovery(std::string id, std::string name, std::string token, int port, DiscoveryOptions options)
    : selfID_(std::move(id)), selfToken_(std::move(token)), options_(std::move(options)), selfName_(std::move(name)),
      selfPort_(port) {}

Discovery::~Discovery() { stop(); }

double Discovery::now() const { return options_.clock ? options_.clock() : systemNow(); }

bool Discovery::start() {
    if (running_) return true;
    UniqueFd sock(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!sock) return false;
    const int fd = sock.get();
    const int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    setsockopt(fd, SOL_SOCKET, SO_REUSEPORT, &one, sizeof one);
    setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(uint16_t(options_.port));
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) return false;
    sock_ = sock.release();  // closed by stop() once both threads have ended
    running_ = true;
    recvThread_ = std::thread([this] {
        nameThread("corvane-discovery");
        recvLoop();
    });
    send(probeMessage(selfID_));
    timerThread_ = std::thread([this] {
        nameThread("corvane-beacon");
        timerLoop();
    });
    return true;
}

void Discovery::stop() {
    running_ = false;
    {
        std::lock_guard<std::mutex> guard(timerLock_);
    }
    timerWake_.notify_all();
    joinUnlessSelf(timerThread_);
    joinUnlessSelf(recvThread_);
    const int fd = sock_.exchange(-1);
    if (fd >= 0) ::close(fd);
}

nlohmann::json Discovery::here() const {
    BeaconFields fields;
    {
        std::lock_guard<std::mutex> guard(lock_);
        fields = BeaconFields{selfID_, selfName_, selfToken_, selfPort_, selfTeam_};
    }
    return hereMessage(fields);
}

std::vector<std::string> Discovery::broadcastTargets() const {
    return broadcastTargetsFor(HostInfo::ipv4Addresses());
}

void Discovery::send(const nlohmann::json& message, const std::optional<std::string>& unicast) {
    const int fd = sock_;
    if (fd < 0 || !running_) return;
    std::string bytes;
    try {
        bytes = message.dump();
    } catch (const nlohmann::json::exception&) {
        return;  // a name that is not UTF-8 cannot be announced
    }
    if (message.value("t", "") == "here") {
        std::lock_guard<std::mutex> guard(lock_);
        ++hereSent_;
    }
    const std::vector<std::string> targets = unicast ? std::vector<std::string>{*unicast} : broadcastTargets();
    for (const auto& target : targets) {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(uint16_t(options_.port));
        if (inet_pton(AF_INET, target.c_str(), &to.sin_addr) != 1) continue;
        ::sendto(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&to), sizeof to);
    }
}

void Discovery::recvLoop() {
    while (running_) {
        pollfd p{sock_, POLLIN, 0};
        const int ready = ::poll(&p, 1, receivePollMs);
        if (!running_) break;
        if (ready <= 0) continue;
        receiveOne();
    }
}

void Discovery::receiveOne() {
    char buffer[receiveBufferSize];
    sockaddr_in from{};
    socklen_t fromLen = sizeof from;
    const ssize_t n = ::recvfrom(sock_, buffer, sizeof buffer, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from), &fromLen);
    if (n <= 0) {
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return;
    }
    char ipText[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &from.sin_addr, ipText, sizeof ipText);
    const std::string ip = ipText;
    const auto heard = readDatagram(std::string_view(buffer, size_t(n)), selfID_, ip, now());
    if (!heard) return;
    if (heard->kind == HeardDatagram::Kind::who) {
        send(here(), ip);
        return;
    }
    heardBeacon(heard->peer);
}

void Discovery::heardBeacon(const PeerInfo& peer) {
    bool news = true;
    {
        std::lock_guard<std::mutex> guard(lock_);
        const auto previous = peers_.find(peer.id);
        if (previous != peers_.end()) news = peerChanged(previous->second, peer, staleAfter);
        peers_[peer.id] = peer;
        ++hereRecv_;
        lastRecvAt_ = peer.lastSeen;
    }
    if (news) changed();
}

void Discovery::timerLoop() {
    const auto started = std::chrono::steady_clock::now();
    auto firstBeacon = started + firstBeaconDelay;
    bool firstBeaconSent = false;
    auto nextTick = started + options_.beaconInterval;
    std::unique_lock<std::mutex> guard(timerLock_);
    while (running_) {
        const auto wakeAt = firstBeaconSent ? nextTick : std::min(firstBeacon, nextTick);
        timerWake_.wait_until(guard, wakeAt, [this] { return !running_; });
        if (!running_) break;
        const auto current = std::chrono::steady_clock::now();
        guard.unlock();
        if (!firstBeaconSent && current >= firstBeacon) {
            firstBeaconSent = true;
            send(here());
        }
        if (current >= nextTick) {
            // Firings missed while the machine slept are not made up for.
            while (nextTick <= current) nextTick += options_.beaconInterval;
            fire();
        }
        guard.lock();
    }
}

void Discovery::fire() {
    ++tick_;
    send(here());
    if (tick_ % probeEveryTicks == 0) send(probeMessage(selfID_));
    prune();
}

void Discovery::prune() {
    const double current = now();
    size_t removed = 0;
    {
        std::lock_guard<std::mutex> guard(lock_);
        removed = std::erase_if(peers_, [&](const auto& entry) { return current - entry.second.lastSeen > staleAfter; });
    }
    if (removed > 0) changed();
}

void Discovery::changed() const {
    if (onChange) onChange();
}

std::vector<PeerInfo> Discovery::list() const {
    const double current = now();
    std::vector<PeerInfo> out;
    std::lock_guard<std::mutex> guard(lock_);
    for (const auto& [id, peer] : peers_) {
        if (current - peer.lastSeen <= staleAfter) out.push_back(peer);
    }
    std::stable_sort(out.begin(), out.end(),
                     [](const PeerInfo& a, const PeerInfo& b) { return localizedStandardLess(a.name, b.name); });
    return out;
}

Discovery::Stats Discovery::stats() const {
    const double current = now();
    std::lock_guard<std::mutex> guard(lock_);
    Stats s;
    s.sent = hereSent_;
    s.recv = hereRecv_;
    s.peers = int(peers_.size());
    s.lastRecvAgo = lastRecvAt_ > 0 ? current - lastRecvAt_ : -1.0;
    return s;
}

void Discovery::setTeam(std::string_view team) {
    const std::string cleaned = cleanTeamName(team);
    bool differs = false;
    {
        std::lock_guard<std::mutex> guard(lock_);
        differs = cleaned != selfTeam_;
        selfTeam_ = cleaned;
    }
    if (differs && running_) send(here());
}

void Discovery::setName(std::string name) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        selfName_ = std::move(name);
    }
    send(here());
}

}  // namespace corvane
