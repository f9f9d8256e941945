// Two devices, each in a network namespace of its own, joined by a veth pair:
// discovery runs on the shipped UDP port 8898 as it does on a real network.

#include <gtest/gtest.h>

#include <atomic>

#include "engine/discovery/discovery.h"
#include "support/netns.h"
#include "support/test_support.h"
#include "support/udp_socket.h"

namespace corvane {
namespace {

using nlohmann::json;
using test::UDPSocket;
using test::VethPair;
using test::waitFor;
using Side = VethPair::Side;

class DiscoveryTwoDevices : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(net.ready()) << "could not make the namespaces and the veth pair"; }

    std::unique_ptr<Discovery> startIn(Side side, const std::string& id, const std::string& name, int port) {
        auto d = std::make_unique<Discovery>(id, name, "token-" + id, port);
        bool started = false;
        net.runIn(side, [&] { started = d->start(); });
        EXPECT_TRUE(started) << id;
        return d;
    }

    static bool lists(const Discovery& d, const std::string& id) {
        const auto peers = d.list();
        return peers.size() == 1 && peers[0].id == id;
    }

    VethPair net;
};

TEST_F(DiscoveryTwoDevices, ListEachOtherWithinThreeSecondsAndNeverThemselves) {
    auto a = startIn(Side::a, "device-a", "Alpha desk", 8899);
    auto b = startIn(Side::b, "device-b", "Beta laptop", 8901);
    ASSERT_TRUE(waitFor([&] { return lists(*a, "device-b") && lists(*b, "device-a"); }, std::chrono::seconds(3)));

    const PeerInfo seenByA = a->list()[0];
    EXPECT_EQ(seenByA.name, "Beta laptop");
    EXPECT_EQ(seenByA.ip, net.address(Side::b));
    EXPECT_EQ(seenByA.port, 8901);
    EXPECT_EQ(seenByA.token, "token-device-b");
    EXPECT_EQ(seenByA.plat, "linux");
    EXPECT_FALSE(seenByA.pin);
    const PeerInfo seenByB = b->list()[0];
    EXPECT_EQ(seenByB.ip, net.address(Side::a));
    EXPECT_EQ(seenByB.port, 8899);
    EXPECT_EQ(a->stats().peers, 1) << "a device never stores itself";
    EXPECT_EQ(b->stats().peers, 1);
}

TEST_F(DiscoveryTwoDevices, StoppedPeerIsDroppedWithOneNotification) {
    auto a = startIn(Side::a, "device-a", "Alpha", 8899);
    std::atomic<int> changes{0};
    a->onChange = [&] { ++changes; };
    auto b = startIn(Side::b, "device-b", "Beta", 8899);
    ASSERT_TRUE(waitFor([&] { return lists(*a, "device-b"); }, std::chrono::seconds(3)));
    b->stop();
    const int before = changes;
    // 9 s of silence, then the next 2.5 s firing prunes.
    ASSERT_TRUE(waitFor([&] { return a->stats().peers == 0; }, std::chrono::seconds(15)));
    ASSERT_TRUE(waitFor([&] { return changes == before + 1; }, std::chrono::seconds(1)));
    EXPECT_TRUE(a->list().empty());
    EXPECT_EQ(changes, before + 1);
}

TEST_F(DiscoveryTwoDevices, ProbeGetsOneUnicastHereOnPort8898) {
    // Side b plays a bare prober: a listener on 8898 and two senders on ephemeral
    // ports, the second on a second address so its answer marks the end.
    const std::string second = net.subnet() + ".3";
    ASSERT_TRUE(net.addAddress(Side::b, second));
    std::unique_ptr<UDPSocket> listener, prober, marker;
    net.runIn(Side::b, [&] {
        listener = std::make_unique<UDPSocket>("0.0.0.0", 8898);
        prober = std::make_unique<UDPSocket>(net.address(Side::b), 0);
        marker = std::make_unique<UDPSocket>(second, 0);
    });
    ASSERT_TRUE(listener->ok() && prober->ok() && marker->ok());
    auto a = startIn(Side::a, "device-a", "Alpha", 8899);
    const auto sentBefore = a->stats().sent;

    const std::string aAddr = net.address(Side::a);
    ASSERT_TRUE(prober->sendTo(aAddr, 8898, json{{"v", 1}, {"t", "who"}, {"id", "prober"}}.dump()));
    ASSERT_TRUE(marker->sendTo(aAddr, 8898, json{{"v", 1}, {"t", "who"}, {"id", "marker"}}.dump()));

    int unicastHeres = 0;
    bool markerAnswered = false;
    while (!markerAnswered) {
        const auto d = listener->receive(std::chrono::seconds(3));
        ASSERT_TRUE(d.has_value()) << "no answer to the marker probe";
        if (d->from != aAddr) continue;
        const json msg = json::parse(d->bytes);
        if (d->to == second) {
            markerAnswered = true;
        } else if (d->to == net.address(Side::b)) {
            EXPECT_EQ(msg["t"], "here");
            EXPECT_EQ(msg["id"], "device-a");
            EXPECT_EQ(d->fromPort, 8898);
            ++unicastHeres;
        }
    }
    EXPECT_EQ(unicastHeres, 1);
    EXPECT_FALSE(prober->receive(std::chrono::milliseconds(0)).has_value()) << "the answer goes to 8898, not the probe's port";
    EXPECT_GE(a->stats().sent, sentBefore + 2);
    EXPECT_TRUE(a->list().empty()) << "probers are not recorded";
}

}  // namespace
}  // namespace corvane
