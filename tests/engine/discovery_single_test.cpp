// One discovery instance in the test's own loopback-only namespace, on a port of
// the test's block, fed by a plain UDP socket that plays the other devices.

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <set>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "engine/discovery.h"
#include "support/test_support.h"
#include "support/udp_socket.h"

namespace corvane {
namespace {

using nlohmann::json;
using test::UDPSocket;
using test::waitFor;

// A clock the test moves by hand, in seconds since 1970.
class ManualClock {
public:
    double now() const { return now_.load(); }
    void advance(double seconds) { now_ = now_.load() + seconds; }
    std::function<double()> function() {
        return [this] { return now(); };
    }

private:
    std::atomic<double> now_{1.7e9};
};

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

class DiscoverySingle : public ::testing::Test {
protected:
    // interval: beacon timer; a long one keeps the timer quiet during a test.
    void startDiscovery(std::chrono::milliseconds interval = std::chrono::hours(1)) {
        discovery = std::make_unique<Discovery>("self-id", "Me", "my-token", 8899,
                                                DiscoveryOptions{udpPort(), interval, clock.function()});
        discovery->onChange = [this] { ++changes; };
        ASSERT_TRUE(discovery->start());
    }

    void sendFrom(const UDPSocket& from, const json& message) {
        ASSERT_TRUE(from.sendTo("127.0.0.1", udpPort(), message.dump()));
    }

    // Sends a beacon of a fresh marker device and waits until it is stored, so
    // every datagram sent before it has been handled.
    void settle() {
        const std::string id = "marker-" + std::to_string(markers++);
        sendFrom(peer, beacon(id, id));
        ASSERT_TRUE(waitFor([&] { return storedIDs().count(id) == 1; })) << id;
    }

    std::set<std::string> storedIDs() const {
        std::set<std::string> ids;
        for (const auto& p : discovery->list()) ids.insert(p.id);
        return ids;
    }

    std::optional<PeerInfo> listed(const std::string& id) const {
        for (const auto& p : discovery->list()) {
            if (p.id == id) return p;
        }
        return std::nullopt;
    }

    ManualClock clock;
    std::unique_ptr<Discovery> discovery;
    std::atomic<int> changes{0};
    UDPSocket peer{"127.0.0.1", 0};
    int markers = 0;
};

TEST_F(DiscoverySingle, StartFailsAndSendsNothingWhenThePortIsTaken) {
    const int blocker = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(uint16_t(udpPort()));
    ASSERT_EQ(::bind(blocker, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    DiscoveryOptions options;
    options.port = udpPort();
    Discovery blocked("self-id", "Me", "tok", 8899, options);
    EXPECT_FALSE(blocked.start());
    EXPECT_FALSE(blocked.running());
    blocked.setName("Other");
    EXPECT_EQ(blocked.stats().sent, 0);
    ::close(blocker);
}

TEST_F(DiscoverySingle, NeverListsItselfFromItsOwnLoopbackCopies) {
    startDiscovery(std::chrono::milliseconds(100));
    ASSERT_TRUE(waitFor([&] { return discovery->stats().sent >= 3; }));
    settle();
    const auto peers = discovery->list();
    ASSERT_EQ(peers.size(), 1u);
    EXPECT_EQ(peers[0].id, "marker-0");
    EXPECT_EQ(discovery->stats().recv, 1);
}

TEST_F(DiscoverySingle, ProbeIsAnsweredWithExactlyOneHere) {
    startDiscovery();
    ASSERT_TRUE(waitFor([&] { return discovery->stats().sent == 1; }));  // the first beacon at 0.26 s
    sendFrom(peer, json{{"v", 1}, {"t", "who"}, {"id", "prober"}});
    settle();
    EXPECT_EQ(discovery->stats().sent, 2);
    EXPECT_FALSE(listed("prober").has_value()) << "a prober is not recorded";
}

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

TEST_F(DiscoverySingle, ListIsSortedByNameInFileBrowserOrder) {
    startDiscovery();
    sendFrom(peer, beacon("a", "Device 10"));
    sendFrom(peer, beacon("b", "device 9"));
    sendFrom(peer, beacon("c", "Device 2"));
    settle();
    std::vector<std::string> names;
    for (const auto& p : discovery->list()) names.push_back(p.name);
    EXPECT_EQ(names, (std::vector<std::string>{"Device 2", "device 9", "Device 10", "marker-0"}));
}

TEST_F(DiscoverySingle, OnlyVisibleChangesNotifyTheOwner) {
    startDiscovery();
    UDPSocket otherAddress("127.0.0.2", 0);
    ASSERT_TRUE(otherAddress.ok());
    json token = beacon("p", "Studio");
    token["token"] = "new-token";
    json pin = beacon("p", "Studio");
    pin["pin"] = true;
    json team = beacon("p", "Studio");
    team["team"] = "Alpha";
    const struct {
        const char* why;
        const UDPSocket* from;
        json message;
        int notifications;
    } steps[] = {
        {"first beacon", &peer, beacon("p", "Studio"), 1},
        {"same beacon again", &peer, beacon("p", "Studio"), 0},
        {"token alone", &peer, token, 0},
        {"new name", &peer, beacon("p", "Desk"), 1},
        {"new port", &peer, beacon("p", "Desk", 8900), 1},
        {"asks for a PIN", &peer, pin, 1},
        {"team", &peer, team, 1},
        {"new address", &otherAddress, team, 1},
    };
    for (const auto& step : steps) {
        settle();
        const int before = changes;
        sendFrom(*step.from, step.message);
        settle();
        EXPECT_EQ(changes - before, step.notifications + 1) << step.why << " (the marker counts once)";
    }
}

TEST_F(DiscoverySingle, RepeatedBeaconUpdatesCountersAndLastSeen) {
    startDiscovery();
    sendFrom(peer, beacon("p", "Studio"));
    settle();
    clock.advance(3);
    const auto before = discovery->stats();
    sendFrom(peer, beacon("p", "Studio"));
    settle();
    const auto after = discovery->stats();
    EXPECT_EQ(after.recv, before.recv + 2);
    EXPECT_EQ(after.lastRecvAgo, 0.0);
    EXPECT_EQ(listed("p")->lastSeen, clock.now());
}

TEST_F(DiscoverySingle, StatsBeforeAnyBeaconReportNoReceiveTime) {
    startDiscovery();
    const auto stats = discovery->stats();
    EXPECT_EQ(stats.recv, 0);
    EXPECT_EQ(stats.peers, 0);
    EXPECT_EQ(stats.lastRecvAgo, -1.0);
}

TEST_F(DiscoverySingle, SilentPeerLeavesListAtOnceAndTableAtNextFiring) {
    startDiscovery();
    sendFrom(peer, beacon("p", "Studio"));
    settle();
    clock.advance(9.0);
    EXPECT_TRUE(listed("p").has_value()) << "9 s of silence is not yet too long";
    clock.advance(0.5);
    EXPECT_TRUE(discovery->list().empty());
    EXPECT_EQ(discovery->stats().peers, 2) << "stale entries stay stored until the timer prunes them";
}

TEST_F(DiscoverySingle, PruneRemovesAllStalePeersWithOneNotification) {
    startDiscovery(std::chrono::milliseconds(50));
    sendFrom(peer, beacon("p", "Studio"));
    sendFrom(peer, beacon("q", "Desk"));
    settle();
    const int before = changes;
    clock.advance(9.5);
    ASSERT_TRUE(waitFor([&] { return discovery->stats().peers == 0; }));
    ASSERT_TRUE(waitFor([&] { return changes == before + 1; }));
    sendFrom(peer, beacon("r", "Later"));
    ASSERT_TRUE(waitFor([&] { return listed("r").has_value(); }));
    EXPECT_EQ(changes, before + 2) << "three peers pruned together notify once; the new one once";
}

TEST_F(DiscoverySingle, BeaconAfterLongSilenceNotifies) {
    startDiscovery();
    sendFrom(peer, beacon("p", "Studio"));
    settle();
    clock.advance(9.5);
    const int before = changes;
    sendFrom(peer, beacon("p", "Studio"));
    settle();
    EXPECT_EQ(changes, before + 2) << "the stale peer and the marker";
}

TEST_F(DiscoverySingle, TeamChangeIsAnnouncedOnceAtOnce) {
    startDiscovery();
    ASSERT_TRUE(waitFor([&] { return discovery->stats().sent == 1; }));
    discovery->setTeam("  Alpha  ");
    EXPECT_EQ(discovery->stats().sent, 2);
    discovery->setTeam("Alpha");
    EXPECT_EQ(discovery->stats().sent, 2);
    discovery->setTeam("   ");
    EXPECT_EQ(discovery->stats().sent, 3);
}

TEST_F(DiscoverySingle, NewNameIsAnnouncedAtOnce) {
    startDiscovery();
    ASSERT_TRUE(waitFor([&] { return discovery->stats().sent == 1; }));
    discovery->setName("Renamed");
    EXPECT_EQ(discovery->stats().sent, 2);
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

}  // namespace
}  // namespace corvane
