#include <gtest/gtest.h>

#include <unistd.h>

#include "engine/discovery/host_info.h"

using corvane::HostInfo;

namespace {

TEST(HostName, LocalSuffixesRemoved) {
    const struct { const char* raw; const char* want; } cases[] = {
        {"studio.local", "studio"}, {"studio.lan", "studio"}, {"studio.LOCAL", "studio.LOCAL"}, {".local", "Mac"},
        {"box.lan.local", "box"},   {"", "Mac"},              {"a.local.lan", "a.local"}};
    for (const auto& c : cases) EXPECT_EQ(HostInfo::cleanHostname(c.raw), c.want) << c.raw;
    EXPECT_FALSE(HostInfo::hostname().empty());
}

TEST(Interfaces, LoopbackAndLinkLocalLeftOut) {
    EXPECT_FALSE(HostInfo::usableInterface({"lo0", "127.0.0.1", "255.0.0.0"}));
    EXPECT_FALSE(HostInfo::usableInterface({"lo", "10.0.0.1", "255.0.0.0"}));
    EXPECT_FALSE(HostInfo::usableInterface({"en0", "169.254.3.4", "255.255.0.0"}));
    EXPECT_FALSE(HostInfo::usableInterface({"en0", "127.0.0.1", "255.0.0.0"}));
    EXPECT_TRUE(HostInfo::usableInterface({"en0", "192.168.1.5", "255.255.255.0"}));
    // The test namespace has only loopback up.
    for (const auto& entry : HostInfo::ipv4Addresses()) EXPECT_TRUE(HostInfo::usableInterface(entry)) << entry.name;
}

TEST(SameSubnet, FourNumbersEachMasked) {
    const struct { const char *a, *b, *mask; bool want; } cases[] = {
        {"192.168.1.10", "192.168.1.200", "255.255.255.0", true},
        {"192.168.1.10", "192.168.2.10", "255.255.255.0", false},
        {"192.168.1.10", "192.168.1.200", "255.255.255", false},
        {"10.0.0.1", "10.0.0.1", "0.0.0.0", true},
        {"10.0.0.1", "99.0.0.1", "0.0.0.0", true},
        {"10.0.0.x", "10.0.0.1", "255.255.255.0", false},
        {"10..0.0.1", "10.0.0.1", "255.255.255.0", true},  // empty pieces dropped
    };
    for (const auto& c : cases) EXPECT_EQ(HostInfo::sameSubnet(c.a, c.b, c.mask), c.want) << c.a << " " << c.b << " " << c.mask;
}

TEST(RouteTable, DefaultGatewayFromKernelText) {
    const char* header = "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n";
    const std::string withDefault = std::string(header) +
                                    "eth0\t0001A8C0\t00000000\t0001\t0\t0\t0\t00FFFFFF\t0\t0\t0\n"
                                    "eth0\t00000000\t0101A8C0\t0003\t0\t0\t100\t00000000\t0\t0\t0\n";
    EXPECT_EQ(HostInfo::parseRouteTable(withDefault), "192.168.1.1");
    const std::string noDefault = std::string(header) + "eth0\t0001A8C0\t00000000\t0001\t0\t0\t0\t00FFFFFF\t0\t0\t0\n";
    EXPECT_EQ(HostInfo::parseRouteTable(noDefault), std::nullopt);
    const std::string downDefault = std::string(header) + "eth0\t00000000\t0101A8C0\t0002\t0\t0\t0\t00000000\t0\t0\t0\n";
    EXPECT_EQ(HostInfo::parseRouteTable(downDefault), std::nullopt);
    EXPECT_EQ(HostInfo::parseRouteTable(""), std::nullopt);
    // In the test namespace there is no default route at all.
    EXPECT_EQ(HostInfo::gateway(), std::nullopt);
}

// The diagnostics rely on both outcomes: an answer from loopback or our own
// address, and silence (no route, or a neighbour that does not exist).
TEST(Ping, AnswersAndSilence) {
    EXPECT_TRUE(HostInfo::ping("127.0.0.1", 900));
    EXPECT_FALSE(HostInfo::ping("10.213.7.9", 300));  // no route in the test namespace
    EXPECT_FALSE(HostInfo::ping("not an address", 300));
    if (geteuid() != 0) GTEST_SKIP() << "needs root to add a veth pair to the namespace";
    const std::string dev = "cvp" + std::to_string(getpid() % 100000);
    const std::string add = "ip link add " + dev + "a type veth peer name " + dev + "b && ip addr add 10.231.0.1/24 dev " +
                            dev + "a && ip link set " + dev + "a up && ip link set " + dev + "b up";
    if (system((add + " 2>/dev/null").c_str()) != 0) GTEST_SKIP() << "cannot add a veth pair here";
    EXPECT_FALSE(HostInfo::ping("10.231.0.2", 400));
    EXPECT_TRUE(HostInfo::ping("10.231.0.1", 900));
    EXPECT_EQ(system(("ip link del " + dev + "a").c_str()), 0);
}

}  // namespace
