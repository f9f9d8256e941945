#include "engine/discovery/discovery.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

#include "base/unique_fd.h"
#include "engine/discovery/host_info.h"

namespace corvane {

namespace {

constexpr auto firstBeaconDelay = std::chrono::milliseconds(260);
constexpr int probeEveryTicks = 4;
constexpr size_t receiveBufferSize = 4096;
// A thousand devices beaconing at once arrive within milliseconds: the socket holds
// several such bursts (the kernel doubles the figure for its bookkeeping).
constexpr int socketReceiveBytes = 4 << 20;
// Datagrams read in one go before the owner is told once of what changed.
constexpr int receiveBatch = 512;
// Closing a UDP socket does not wake a blocked receive on Linux: wait in short steps instead
// (shorter while a change held back falls due).
constexpr int receivePollMs = 100;

// Linux keeps at most 15 characters of a thread name.
void nameThread(const std::string& name) { pthread_setname_np(pthread_self(), name.substr(0, 15).c_str()); }

// Asks for the large buffer past the system's cap where allowed (CAP_NET_ADMIN), else
// up to the cap (net.core.rmem_max); a smaller buffer only drops more under a burst.
void widenReceiveBuffer(int fd) {
    if (setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &socketReceiveBytes, sizeof socketReceiveBytes) == 0) return;
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &socketReceiveBytes, sizeof socketReceiveBytes);
}

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
    widenReceiveBuffer(fd);
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
        const int ready = ::poll(&p, 1, heldChangeDueMs());
        if (!running_) break;
        if (ready > 0) receiveBatchOf(receiveBatch);
        tellHeldChange();
    }
}

// Reads what is waiting, up to `limit` datagrams, and tells the owner once when any of
// them was news: a crowd of beacons costs one change, not one per device.
void Discovery::receiveBatchOf(int limit) {
    bool news = false;
    for (int k = 0; k < limit && running_; ++k) {
        const std::optional<bool> one = receiveOne();
        if (!one) break;
        news = *one || news;
    }
    if (news) changed();
}

std::optional<bool> Discovery::receiveOne() {
    char buffer[receiveBufferSize];
    sockaddr_in from{};
    socklen_t fromLen = sizeof from;
    const ssize_t n = ::recvfrom(sock_, buffer, sizeof buffer, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from), &fromLen);
    if (n < 0 && errno == EINTR) return false;
    if (n <= 0) {
        if (n < 0 && errno == EAGAIN) return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return std::nullopt;
    }
    char ipText[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &from.sin_addr, ipText, sizeof ipText);
    const std::string ip = ipText;
    const auto heard = readDatagram(std::string_view(buffer, size_t(n)), selfID_, ip, now());
    if (!heard) return false;
    if (heard->kind == HeardDatagram::Kind::who) {
        send(here(), ip);
        return false;
    }
    return heardBeacon(heard->peer);
}

bool Discovery::heardBeacon(const PeerInfo& peer) {
    PeerTable::Heard heard;
    std::optional<std::string> note;
    {
        std::lock_guard<std::mutex> guard(lock_);
        heard = peers_.store(peer);
        note = noteFor(heard, peer);
        const bool accepted = heard == PeerTable::Heard::news || heard == PeerTable::Heard::same;
        if (accepted) {
            ++hereRecv_;
            lastRecvAt_ = peer.lastSeen;
        } else {
            ++hereIgnored_;
        }
    }
    if (note) tell(*note);
    return heard == PeerTable::Heard::news;
}

std::optional<std::string> Discovery::noteFor(PeerTable::Heard heard, const PeerInfo& peer) {
    switch (heard) {
        case PeerTable::Heard::conflictFirst:
            return "UDP 发现：设备 " + peer.id + " 仍在 " + peers_.addressOf(peer.id) + " 发信标，不理会 " + peer.ip +
                   " 以同一 ID 发来的信标";
        case PeerTable::Heard::tableFull:
            if (std::exchange(fullNoted_, true)) return std::nullopt;
            return "UDP 发现：设备表已满（" + std::to_string(PeerTable::maxPeers) + " 台），有空位前不再收新设备";
        case PeerTable::Heard::addressCrowded:
            if (std::exchange(crowdedNoted_, true)) return std::nullopt;
            return "UDP 发现：" + peer.ip + " 发来超过 " + std::to_string(PeerTable::maxIDsPerAddress) +
                   " 个设备 ID，多出的不理会（其他地址同样处理，不再记录）";
        default:
            return std::nullopt;
    }
}

void Discovery::tell(const std::string& line) const {
    if (onLog) onLog(line);
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
        removed = peers_.prune(current);
    }
    if (removed > 0) changed();
}

void Discovery::changed() {
    {
        std::lock_guard<std::mutex> guard(changeLock_);
        changeHeld_ = true;
    }
    tellHeldChange();
}

void Discovery::tellHeldChange() {
    {
        std::lock_guard<std::mutex> guard(changeLock_);
        const auto current = std::chrono::steady_clock::now();
        if (!changeHeld_ || (lastToldAt_ && current - *lastToldAt_ < options_.changeInterval)) return;
        changeHeld_ = false;
        lastToldAt_ = current;
    }
    if (onChange) onChange();
}

int Discovery::heldChangeDueMs() {
    std::lock_guard<std::mutex> guard(changeLock_);
    if (!changeHeld_ || !lastToldAt_) return receivePollMs;
    const auto due = *lastToldAt_ + options_.changeInterval - std::chrono::steady_clock::now();
    const auto dueMs = std::chrono::ceil<std::chrono::milliseconds>(due).count();
    return int(std::clamp<int64_t>(dueMs, 0, receivePollMs));
}

std::vector<PeerInfo> Discovery::list() const {
    const double current = now();
    std::vector<PeerTable::Live> live;
    {
        std::lock_guard<std::mutex> guard(lock_);
        live = peers_.live(current);
    }
    // Sorted without the lock, so that the receive loop goes on meanwhile; equal names by id.
    std::stable_sort(live.begin(), live.end(),
                     [](const PeerTable::Live& a, const PeerTable::Live& b) { return a.nameKey < b.nameKey; });
    std::vector<PeerInfo> out;
    out.reserve(live.size());
    for (PeerTable::Live& entry : live) out.push_back(std::move(entry.peer));
    return out;
}

Discovery::Stats Discovery::stats() const {
    const double current = now();
    std::lock_guard<std::mutex> guard(lock_);
    Stats s;
    s.sent = hereSent_;
    s.recv = hereRecv_;
    s.peers = int(peers_.size());
    s.ignored = hereIgnored_;
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
