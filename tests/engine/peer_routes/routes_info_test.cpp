// GET /api/info.

#include "base/cfg.h"
#include "engine/discovery/host_info.h"
#include "engine/routes_fixture.h"

namespace corvane::test {
namespace {

using RoutesInfo = RouteTest;

TEST_F(RoutesInfo, InfoDescribesThisDeviceAndFollowsNameAndPinChanges) {
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

    server->setDeviceName("Studio");
    server->setPin("1234");
    const nlohmann::json changed = parse(call("GET", "/api/info", "", {{"X-Pin", "1234"}}));
    EXPECT_EQ(changed["device"], "Studio");
    EXPECT_EQ(changed["pin"], true);
}

TEST_F(RoutesInfo, InfoStorageIsTheReceiveFolderVolumeOrZeroWhenUnreadable) {
    const nlohmann::json storage = callJSON("GET", "/api/info")["storage"];
    ASSERT_TRUE(storage["free"].is_number_integer()) << storage;
    ASSERT_TRUE(storage["total"].is_number_integer()) << storage;
    const std::filesystem::space_info space = std::filesystem::space(root);
    EXPECT_EQ(storage["total"].get<int64_t>(), int64_t(space.capacity));
    EXPECT_GT(storage["free"].get<int64_t>(), 0);
    EXPECT_LE(storage["free"].get<int64_t>(), storage["total"].get<int64_t>());

    server->setRoot(sandbox / "gone" / "recv");
    EXPECT_EQ(callJSON("GET", "/api/info")["storage"], nlohmann::json({{"free", 0}, {"total", 0}}));
}

}  // namespace
}  // namespace corvane::test
