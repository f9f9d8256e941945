// One discovery instance in the test's own loopback-only namespace, on a port of
// the test's block, fed by a plain UDP socket that plays the other devices.

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <latch>
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

class DiscoverySingle : public ::testing::Test {
protected:
    // A beacon timer of an hour keeps the instance quiet during a test.
    void startDiscovery() {
        const DiscoveryOptions options{udpPort(), std::chrono::hours(1), [this] { return now.load(); }};
        discovery = std::make_unique<Discovery>("self-id", "Me", "my-token", 8899, options);
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
        ASSERT_TRUE(waitFor([&] { return listed(id).has_value(); })) << id;
    }

    std::optional<PeerInfo> listed(const std::string& id) const {
        for (const auto& p : discovery->list()) {
            if (p.id == id) return p;
        }
        return std::nullopt;
    }

    void advance(double seconds) { now = now.load() + seconds; }

    std::atomic<double> now{1.7e9};  // the instance's clock, moved by hand
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
    for (int k = 0; k < kBurst; ++k) sendFrom(peer, beacon("device-" + std::to_string(k), "Device " + std::to_string(k)));
    owner->released.count_down();
    const bool all = waitFor([&] { return discovery->stats().recv == kBurst + 1; });
    EXPECT_TRUE(all) << "beacons counted: " << discovery->stats().recv << " of " << kBurst + 1;
    EXPECT_EQ(discovery->list().size(), size_t(kBurst + 1));
    EXPECT_LT(changes.load(), 100) << "the owner is told of a burst a few times, not once per device";
}

}  // namespace
}  // namespace corvane
