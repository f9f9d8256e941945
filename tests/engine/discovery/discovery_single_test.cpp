// One discovery instance in the test's own loopback-only namespace, on a port of
// the test's block, fed by a plain UDP socket that plays the other devices.

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <algorithm>
#include <atomic>
#include <latch>
#include <mutex>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "engine/discovery/discovery.h"
#include "support/test_support.h"
#include "support/udp_socket.h"

namespace corvane {
namespace {

using nlohmann::json;
using test::UDPSocket;
using test::waitFor;

int udpPort() { return test::testPortBase() + 7; }

// Whether a plain socket (no reuse options) can bind the UDP port.
bool portFree(int port) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(uint16_t(port));
    const bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    ::close(fd);
    return bound;
}

json beacon(const std::string& id, const std::string& name, json port = 8899) {
    return {{"v", 1}, {"t", "here"}, {"id", id}, {"name", name}, {"port", port}, {"token", "tok-" + id}, {"plat", "darwin"}};
}

// The k-th address of a crowd of devices on loopback (127.1.0.1 and up).
std::string crowdAddress(int k) { return "127.1." + std::to_string(k / 250) + "." + std::to_string(1 + k % 250); }

class DiscoverySingle : public ::testing::Test {
protected:
    // A beacon timer of an hour keeps the instance quiet during a test; a short one
    // prunes at once what the hand-moved clock made stale.
    void startDiscovery(std::chrono::milliseconds beaconInterval = std::chrono::hours(1),
                        std::chrono::milliseconds changeInterval = DiscoveryOptions{}.changeInterval) {
        const DiscoveryOptions options{udpPort(), beaconInterval, [this] { return now.load(); }, changeInterval};
        discovery = std::make_unique<Discovery>("self-id", "Me", "my-token", 8899, options);
        discovery->onLog = [log = log](const std::string& line) {
            std::lock_guard guard(log->lock);
            log->lines.push_back(line);
        };
        ASSERT_TRUE(discovery->start());
    }

    void sendFrom(const UDPSocket& from, const json& message) {
        ASSERT_TRUE(from.sendTo("127.0.0.1", udpPort(), message.dump()));
    }

    // Sends a beacon of a fresh marker device from an address of its own and waits
    // until it is stored, so every datagram sent before it has been handled.
    void settle() {
        const std::string id = "marker-" + std::to_string(markers);
        const UDPSocket marker("127.0.2." + std::to_string(1 + markers++ % 250), 0);
        sendFrom(marker, beacon(id, id));
        ASSERT_TRUE(waitFor([&] { return listed(id).has_value(); })) << id;
    }

    // Lines of the boot log that contain `part`.
    int loggedLines(const std::string& part) const {
        std::lock_guard guard(log->lock);
        return int(std::count_if(log->lines.begin(), log->lines.end(),
                                 [&](const std::string& line) { return line.find(part) != std::string::npos; }));
    }

    std::optional<PeerInfo> listed(const std::string& id) const {
        for (const auto& p : discovery->list()) {
            if (p.id == id) return p;
        }
        return std::nullopt;
    }

    void advance(double seconds) { now = now.load() + seconds; }

    struct Log {
        std::mutex lock;
        std::vector<std::string> lines;
    };
    std::atomic<double> now{1.7e9};  // the instance's clock, moved by hand
    std::shared_ptr<Log> log = std::make_shared<Log>();  // outlives the receive thread's last line
    std::unique_ptr<Discovery> discovery;
    UDPSocket peer{"127.0.0.1", 0};
    int markers = 0;
};

TEST_F(DiscoverySingle, ReceivedBeaconsKeepFieldLimitsAndLenientTypes) {
    startDiscovery();
    sendFrom(peer, beacon("long-name", std::string(100, 'n')));
    sendFrom(peer, beacon("text-port", "Text port", "8899"));
    sendFrom(peer, beacon("zero-port", "Zero port", 0));
    sendFrom(peer, beacon("no-name", ""));
    settle();
    ASSERT_TRUE(listed("long-name").has_value());
    EXPECT_EQ(listed("long-name")->name, std::string(60, 'n'));
    ASSERT_TRUE(listed("text-port").has_value());
    EXPECT_EQ(listed("text-port")->port, 8899);
    EXPECT_FALSE(listed("zero-port").has_value());
    ASSERT_TRUE(listed("no-name").has_value());
    EXPECT_EQ(listed("no-name")->name, "127.0.0.1");
    EXPECT_EQ(listed("no-name")->ip, "127.0.0.1");
    EXPECT_EQ(listed("no-name")->token, "tok-no-name");
}

TEST_F(DiscoverySingle, ListIsInNameOrderNumbersByValueAndFollowsARename) {
    startDiscovery();
    const UDPSocket a("127.0.0.2", 0), b("127.0.0.3", 0), c("127.0.0.4", 0);
    const auto names = [&] {
        std::vector<std::string> out;
        for (const PeerInfo& peer : discovery->list()) {
            if (peer.id.rfind("marker-", 0) != 0) out.push_back(peer.name);
        }
        return out;
    };
    sendFrom(a, beacon("a", "Desk 10"));
    sendFrom(b, beacon("b", "desk 9"));
    sendFrom(c, beacon("c", "Alpha"));
    settle();
    EXPECT_EQ(names(), (std::vector<std::string>{"Alpha", "desk 9", "Desk 10"}));
    sendFrom(c, beacon("c", "Zulu"));
    settle();
    EXPECT_EQ(names(), (std::vector<std::string>{"desk 9", "Desk 10", "Zulu"}));
}

TEST_F(DiscoverySingle, RepeatedBeaconKeepsAPeerThatSilenceDropsFromTheListAtOnce) {
    startDiscovery();
    sendFrom(peer, beacon("p", "Studio"));
    settle();
    advance(3);
    const auto before = discovery->stats();
    sendFrom(peer, beacon("p", "Studio"));
    settle();
    const auto after = discovery->stats();
    EXPECT_EQ(after.recv, before.recv + 2);
    EXPECT_EQ(after.lastRecvAgo, 0.0);
    EXPECT_EQ(listed("p")->lastSeen, now.load());
    advance(9.0);
    EXPECT_TRUE(listed("p").has_value()) << "9 s of silence is not yet too long";
    advance(0.5);
    EXPECT_TRUE(discovery->list().empty());
    EXPECT_EQ(discovery->stats().peers, 3) << "stale entries stay stored until the timer prunes them";
}

TEST_F(DiscoverySingle, StopEndsReceivingFreesThePortAndKeepsTheTable) {
    startDiscovery();
    sendFrom(peer, beacon("p", "Studio"));
    settle();
    discovery->stop();
    EXPECT_FALSE(discovery->running());
    sendFrom(peer, beacon("q", "Desk"));
    EXPECT_TRUE(portFree(udpPort()));
    EXPECT_EQ(discovery->stats().peers, 2);
    EXPECT_EQ(discovery->stats().recv, 2);
    const auto sent = discovery->stats().sent;
    discovery->setName("After stop");
    discovery->setTeam("After stop");
    EXPECT_EQ(discovery->stats().sent, sent) << "nothing is sent once stopped";
}

TEST_F(DiscoverySingle, BurstHeldBackByABusyOwnerIsCountedWholeAndToldInFewChanges) {
    // An office of devices beaconing together: far more datagrams than the default socket
    // buffer holds arrive while the receive loop is still telling the owner of the first.
    constexpr int kBurst = 2000;
    struct Owner {
        std::latch released{1};
        std::atomic<int> changes{0};
    };
    const auto owner = std::make_shared<Owner>();  // outlives the test body on the receive thread
    std::atomic<int>& changes = owner->changes;
    startDiscovery();
    discovery->onChange = [owner] {
        if (owner->changes++ == 0) owner->released.wait();
    };
    sendFrom(peer, beacon("first", "First"));
    ASSERT_TRUE(waitFor([&] { return changes.load() == 1; }));
    for (int k = 0; k < kBurst; ++k) {
        const UDPSocket device(crowdAddress(k), 0);
        sendFrom(device, beacon("device-" + std::to_string(k), "Device " + std::to_string(k)));
    }
    owner->released.count_down();
    const bool all = waitFor([&] { return discovery->stats().recv == kBurst + 1; });
    EXPECT_TRUE(all) << "beacons counted: " << discovery->stats().recv << " of " << kBurst + 1;
    EXPECT_EQ(discovery->list().size(), size_t(kBurst + 1));
    EXPECT_LT(changes.load(), 100) << "the owner is told of a burst a few times, not once per device";
}

TEST_F(DiscoverySingle, StrangerCannotTakeALiveDevicesIDButASilentAddressIsFollowed) {
    // L beacons its id every second; a stranger at another address beacons the same id with
    // its own port, and a second device takes L's name under its own id.
    startDiscovery();
    const UDPSocket laptop("127.0.0.2", 0), stranger("127.0.0.3", 0);
    for (int second = 0; second < 5; ++second) {
        sendFrom(laptop, beacon("laptop-l", "L"));
        sendFrom(stranger, beacon("laptop-l", "L", 9999));
        sendFrom(stranger, beacon("namesake", "L", 9999));
        settle();
        const auto l = listed("laptop-l");
        ASSERT_TRUE(l.has_value());
        EXPECT_EQ(l->ip, "127.0.0.2") << "second " << second;
        EXPECT_EQ(l->port, 8899) << "second " << second;
        EXPECT_EQ(listed("namesake")->ip, "127.0.0.3") << "a device of the same name is listed beside L";
        advance(1);
    }
    EXPECT_EQ(discovery->stats().ignored, 5);
    EXPECT_EQ(loggedLines("laptop-l"), 1) << "the conflict is noted once";
    EXPECT_EQ(loggedLines("127.0.0.3"), 1);

    // L falls silent for longer than the staleness window: the newer address is taken,
    // and from then on L's old address is the one kept out.
    advance(Discovery::staleAfter);
    sendFrom(stranger, beacon("laptop-l", "L", 9999));
    settle();
    EXPECT_EQ(listed("laptop-l")->ip, "127.0.0.3");
    EXPECT_EQ(listed("laptop-l")->port, 9999);
    sendFrom(laptop, beacon("laptop-l", "L"));
    settle();
    EXPECT_EQ(listed("laptop-l")->ip, "127.0.0.3");
    EXPECT_EQ(loggedLines("laptop-l"), 2) << "a conflict at the new address is noted once again";
}

TEST_F(DiscoverySingle, FloodOfFreshIDsFromManyAddressesIsBoundedAndJoinedInTime) {
    // More addresses than the table holds at four ids each, every one announcing a fifth id,
    // while an honest device beacons throughout. Sent in rounds that the receive loop
    // finishes before the next, so that no datagram is lost to the socket's buffer.
    constexpr int kIDsPerAddress = PeerTable::maxIDsPerAddress + 1;
    constexpr int kAddresses = int(PeerTable::maxPeers) / PeerTable::maxIDsPerAddress + 100;
    constexpr int kRound = 200;  // addresses a round
    // A change interval of an hour: the first change is told, all after it held.
    startDiscovery(std::chrono::milliseconds(20), std::chrono::hours(1));
    const auto changes = std::make_shared<std::atomic<int>>(0);
    discovery->onChange = [changes] { ++*changes; };
    const UDPSocket honest("127.0.0.2", 0);
    int sent = 0;
    for (int first = 0; first < kAddresses; first += kRound) {
        sendFrom(honest, beacon("honest", "Honest"));
        ++sent;
        for (int k = first; k < std::min(first + kRound, kAddresses); ++k) {
            const UDPSocket device(crowdAddress(k), 0);
            for (int n = 0; n < kIDsPerAddress; ++n, ++sent) {
                sendFrom(device, beacon("flood-" + std::to_string(k) + "-" + std::to_string(n), "Flood"));
            }
        }
        const auto handled = [&] { return discovery->stats().recv + discovery->stats().ignored == sent; };
        ASSERT_TRUE(waitFor(handled)) << "handled " << discovery->stats().recv + discovery->stats().ignored << " of " << sent;
        ASSERT_TRUE(listed("honest").has_value()) << "after address " << first;
    }
    EXPECT_EQ(discovery->stats().peers, int(PeerTable::maxPeers));
    EXPECT_EQ(discovery->list().size(), PeerTable::maxPeers);
    EXPECT_TRUE(listed("flood-0-3").has_value());
    EXPECT_FALSE(listed("flood-0-4").has_value()) << "an address's fifth id is ignored";
    EXPECT_FALSE(listed("flood-" + std::to_string(kAddresses - 1) + "-0").has_value()) << "no room left";
    EXPECT_EQ(loggedLines("设备表已满"), 1);
    EXPECT_EQ(loggedLines("个设备 ID"), 1);

    EXPECT_EQ(changes->load(), 1) << "every change after the first joins it until the interval has passed";

    // Room frees once the flood falls silent and is pruned: the honest device, still
    // beaconing, stays, and a newcomer is stored again.
    advance(Discovery::staleAfter + 0.5);
    sendFrom(honest, beacon("honest", "Honest"));
    ASSERT_TRUE(waitFor([&] { return discovery->stats().peers == 1; })) << discovery->stats().peers;
    EXPECT_TRUE(listed("honest").has_value());
    const UDPSocket newcomer(crowdAddress(kAddresses - 1), 0);
    sendFrom(newcomer, beacon("newcomer", "Newcomer"));
    EXPECT_TRUE(waitFor([&] { return listed("newcomer").has_value(); }));
}

TEST_F(DiscoverySingle, ChangeHeldBackIsToldOnceItsIntervalHasPassed) {
    startDiscovery(std::chrono::hours(1), std::chrono::milliseconds(200));
    const auto changes = std::make_shared<std::atomic<int>>(0);
    discovery->onChange = [changes] { ++*changes; };
    const UDPSocket first("127.0.0.2", 0), second("127.0.0.3", 0);
    sendFrom(first, beacon("first", "First"));
    ASSERT_TRUE(waitFor([&] { return changes->load() == 1; }));
    sendFrom(second, beacon("second", "Second"));
    EXPECT_TRUE(waitFor([&] { return changes->load() == 2; })) << "told " << changes->load();
    EXPECT_TRUE(listed("second").has_value());
}

}  // namespace
}  // namespace corvane
