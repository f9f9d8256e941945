// GET /api/info and GET /api/peers.

#include "engine/cfg.h"
#include "engine/host_info.h"
#include "engine/routes_fixture.h"

namespace corvane::test {
namespace {

using RoutesInfo = RouteTest;

TEST_F(RoutesInfo, InfoDescribesThisDevice) {
    const nlohmann::json info = callJSON("GET", "/api/info");
    ASSERT_TRUE(info.is_object()) << info;
    EXPECT_EQ(info.size(), 10u) << info;
    EXPECT_EQ(info["device"], "Desk");
    EXPECT_EQ(info["id"], "dev-1");
    EXPECT_EQ(info["port"], server->port());
    EXPECT_EQ(info["pin"], false);
    EXPECT_EQ(info["chunkSize"], 4194304);
    EXPECT_EQ(info["discovery"], true);
    EXPECT_EQ(info["version"], Cfg::version());
    EXPECT_EQ(info["platform"], "linux");
    nlohmann::json ips = nlohmann::json::array();
    for (const auto& entry : HostInfo::ipv4Addresses()) ips.push_back(entry.addr);
    EXPECT_EQ(info["ips"], ips);
}

TEST_F(RoutesInfo, InfoStorageIsTheReceiveFolderVolume) {
    const nlohmann::json storage = callJSON("GET", "/api/info")["storage"];
    ASSERT_TRUE(storage["free"].is_number_integer()) << storage;
    ASSERT_TRUE(storage["total"].is_number_integer()) << storage;
    const std::filesystem::space_info space = std::filesystem::space(root);
    EXPECT_EQ(storage["total"].get<int64_t>(), int64_t(space.capacity));
    EXPECT_GT(storage["free"].get<int64_t>(), 0);
    EXPECT_LE(storage["free"].get<int64_t>(), storage["total"].get<int64_t>());
}

TEST_F(RoutesInfo, InfoStorageIsZeroWhenTheFolderCannotBeRead) {
    server->setRoot(sandbox / "gone" / "recv");
    const nlohmann::json storage = callJSON("GET", "/api/info")["storage"];
    EXPECT_EQ(storage, nlohmann::json({{"free", 0}, {"total", 0}}));
}

TEST_F(RoutesInfo, InfoFollowsNameAndPinChanges) {
    server->setDeviceName("Studio");
    server->setPin("1234");
    const RawReply reply = call("GET", "/api/info", "", {{"X-Pin", "1234"}});
    const nlohmann::json info = parse(reply);
    EXPECT_EQ(info["device"], "Studio");
    EXPECT_EQ(info["pin"], true);
}

TEST_F(RoutesInfo, PeersWithoutAProviderAreEmpty) {
    EXPECT_EQ(callJSON("GET", "/api/peers"),
              nlohmann::json({{"self", nlohmann::json::object()}, {"peers", nlohmann::json::array()}, {"enabled", false}}));
}

TEST_F(RoutesInfo, PeersComeFromTheProvider) {
    const nlohmann::json me{{"id", "dev-1"}, {"name", "Desk"}, {"port", 8899}, {"pin", false}};
    const nlohmann::json peer{{"id", "p2"}, {"name", "Laptop"}, {"ip", "10.0.0.2"}, {"port", 8900},
                              {"pin", false}, {"token", "t"}, {"plat", "linux"}, {"lastSeen", 1.5e12}};
    server->peersProvider = [&] { return PeersSnapshot{me, {peer}, true}; };
    EXPECT_EQ(callJSON("GET", "/api/peers"),
              nlohmann::json({{"self", me}, {"peers", nlohmann::json::array({peer})}, {"enabled", true}}));
}

}  // namespace
}  // namespace corvane::test
