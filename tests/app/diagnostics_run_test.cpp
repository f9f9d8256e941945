// Network diagnostics run by AppState with fake host facts: the lines, levels
// and hints in their order, the gateway ping off the main thread, and one run
// at a time. No test pings a real gateway.
#include <atomic>
#include <mutex>

#include "app_state_fixture.h"

namespace corvane::test {
namespace {

using Level = DiagLine::Level;
using Lines = std::vector<std::string>;

// A line as "level | text | hint", so a failing comparison shows the whole list.
std::string shown(Level level, const std::string& text, const std::optional<std::string>& hint = std::nullopt) {
    const char* name = level == Level::ok ? "ok" : level == Level::warn ? "warn" : "bad";
    return std::string(name) + " | " + text + " | " + hint.value_or("-");
}

const std::string isolationHint =
    "大概率是路由器开了「AP 隔离 / 无线隔离 / 客户端隔离」。登录路由器关掉这个开关；或者让一台电脑开热点，其他设备连它。也可以先用下面「手动添加设备」输 IP 试一次";
const std::string subnetHint =
    "你们中间隔了路由器。把中间那台改成 AP 模式（关 DHCP、网线插 LAN 口而不是 WAN 口），全网回到一个网段就自动互通了";
const std::string groupsHint = "建议给设备起别名、常用设备置顶；超过 12 台时更推荐分成小组、各用一个中枢，而不是一个巨型中枢";

const InterfaceAddress eth{"eth9", "192.168.7.20", "255.255.255.0"};
const InterfaceAddress wlan{"wlan9", "10.1.2.3", "255.0.0.0"};
const std::string ethLine = shown(Level::ok, "本机地址：192.168.7.20（掩码 255.255.255.0）");
const std::string noBeacons = shown(Level::warn, "已发出 0 次广播 · 收到 0 次同伴广播");
const std::string waitMore = shown(Level::warn, "广播次数还不够，稍等几秒再测一次");

// Manual devices at these addresses (port 8899), in the list's order (by name).
std::vector<std::string> devicesAt(const std::string& prefix, int count) {
    std::vector<std::string> out;
    for (int i = 0; i < count; ++i) out.push_back(prefix + std::to_string(101 + i) + ":8899");
    return out;
}

class Diagnostics : public AppStateTest {
protected:
    AppState& makeOn(std::vector<InterfaceAddress> interfaces, std::optional<std::string> gateway, bool answers,
                     const std::vector<std::string>& manualPeers = {}) {
        writeConfig(nlohmann::json{{"manualPeers", manualPeers}}.dump());
        AppEnvironment env = environment();
        env.ipv4Addresses = [interfaces] { return interfaces; };
        env.gateway = [this, gateway] {
            ++gatewayLookups;
            return gateway;
        };
        env.ping = [this, answers](const std::string& target, int timeoutMs) {
            std::lock_guard<std::mutex> hold(pingLock);
            pings.push_back(target + " " + std::to_string(timeoutMs));
            return answers;
        };
        env.delays.diagPause = std::chrono::milliseconds(20);
        // Beacons only when asked for (the first one 260 ms after the start, one per rename), so the count is known.
        const int udp = udpPort;
        env.makeDiscovery = [udp](const DiscoverySetup& setup) {
            DiscoveryOptions options;
            options.port = udp;
            options.beaconInterval = std::chrono::hours(1);
            return std::make_shared<Discovery>(setup.deviceID, setup.deviceName, setup.token, setup.port, options);
        };
        state = std::make_unique<AppState>(env);
        state->reloadPeers();
        return *state;
    }

    Lines run(AppState& s) {
        s.diagnose();
        EXPECT_TRUE(qtWaitFor([&] { return !s.diagRunning(); }));
        Lines out;
        for (const DiagLine& line : s.diagLines()) out.push_back(shown(line.level, line.text, line.hint));
        return out;
    }

    std::atomic<int> gatewayLookups{0};
    std::mutex pingLock;
    Lines pings;
};

TEST_F(Diagnostics, eachSituationGivesItsLinesLevelsAndHintsInOrder) {
    struct Case {
        std::string name;
        std::vector<InterfaceAddress> interfaces;
        std::optional<std::string> gateway;
        bool answers;
        std::vector<std::string> devices;
        Lines expected;
        Lines pings;
    };
    const auto found = [](int all, int same) {
        return shown(Level::ok, "发现 " + std::to_string(all) + " 台设备，其中 " + std::to_string(same) + " 台同网段");
    };
    const auto many = [](int count) { return shown(Level::warn, "设备数量偏多（" + std::to_string(count) + " 台）", groupsHint); };
    const std::string bothLine = shown(Level::ok, "本机地址：192.168.7.20（掩码 255.255.255.0）、10.1.2.3（掩码 255.0.0.0）");
    const std::vector<std::string> mixed{"172.16.0.9:8899", "192.168.7.30:8899"};
    const std::vector<Case> cases{
        // Loopback is no LAN address; a device that never started discovery counts 0 and 0.
        {"no local address", {{"lo", "127.0.0.1", "255.0.0.0"}}, std::nullopt, false, {},
         {shown(Level::bad, "本机没有局域网地址", "先连上 Wi-Fi 或插网线"), noBeacons, waitMore}, {}},
        {"gateway answers", {eth, wlan}, "192.168.7.1", true, {},
         {bothLine, shown(Level::ok, "路由器（网关 192.168.7.1）可达"), noBeacons, waitMore}, {"192.168.7.1 900"}},
        {"gateway unreachable", {eth, wlan}, "192.168.7.1", false, {},
         {bothLine, shown(Level::bad, "路由器（网关 192.168.7.1）ping 不通", "网络本身有问题，先恢复上网再试"), noBeacons, waitMore},
         {"192.168.7.1 900"}},
        {"one of two in another subnet", {eth, wlan}, std::nullopt, false, mixed,
         {bothLine, noBeacons, shown(Level::warn, "有 1 台设备不在同一网段（172.16.0.9）", subnetHint), found(2, 1)}, {}},
        {"the second interface's subnet counts", {eth, wlan}, std::nullopt, false, {"10.200.0.1:8899"},
         {bothLine, noBeacons, found(1, 1)}, {}},
        {"without an address every device is elsewhere", {}, std::nullopt, false, mixed,
         {shown(Level::bad, "本机没有局域网地址", "先连上 Wi-Fi 或插网线"), noBeacons,
          shown(Level::warn, "有 2 台设备不在同一网段（172.16.0.9、192.168.7.30）", subnetHint), found(2, 0)}, {}},
        {"11 devices", {eth}, std::nullopt, false, devicesAt("192.168.7.", 11), {ethLine, noBeacons, found(11, 11)}, {}},
        {"12 devices", {eth}, std::nullopt, false, devicesAt("192.168.7.", 12),
         {ethLine, noBeacons, found(12, 12), many(12)}, {}},
        {"13 devices", {eth}, std::nullopt, false, devicesAt("192.168.7.", 13),
         {ethLine, noBeacons, found(13, 13), many(13)}, {}},
    };
    for (const Case& c : cases) {
        pings.clear();
        gatewayLookups = 0;
        AppState& s = makeOn(c.interfaces, c.gateway, c.answers, c.devices);
        ASSERT_EQ(s.peers().size(), c.devices.size()) << c.name;
        EXPECT_EQ(run(s), c.expected) << c.name;
        EXPECT_EQ(pings, c.pings) << c.name << ": the gateway is pinged once, with the short time-out";
        EXPECT_EQ(gatewayLookups, 1) << c.name;
    }
}

TEST_F(Diagnostics, noPeerAfterTwoBeaconsPointsAtClientIsolation) {
    AppState& s = makeOn({eth}, std::nullopt, false);
    s.start();
    ASSERT_TRUE(qtWaitFor([&] { return s.discovery()->stats().sent == 1; }));  // the first beacon
    s.renameDevice("书房");                                                    // announces at once: the second
    ASSERT_EQ(s.discovery()->stats().sent, 2);
    EXPECT_EQ(run(s), (Lines{ethLine, shown(Level::warn, "已发出 2 次广播 · 收到 0 次同伴广播"),
                             shown(Level::bad, "广播发出去了，但一台同伴设备都没回应", isolationHint),
                             shown(Level::warn, "另一种可能：其他设备根本没打开Corvane",
                                   "确认每台设备都启动了 App，并允许了「本地网络」权限")}));
}

TEST_F(Diagnostics, twoQuickCallsMakeOneRunThatClearsTheOldResultFirst) {
    AppState& s = makeOn({eth}, "192.168.7.1", true);
    run(s);
    ASSERT_FALSE(s.diagLines().empty());
    pings.clear();

    std::vector<std::pair<bool, size_t>> seen;  // (running, lines) at each change of diagRunning
    QObject::connect(&s, &AppState::diagRunningChanged, [&] { seen.emplace_back(s.diagRunning(), s.diagLines().size()); });
    s.diagnose();
    EXPECT_TRUE(s.diagRunning());
    EXPECT_TRUE(s.diagLines().empty()) << "the previous result goes when a run starts";
    s.diagnose();
    ASSERT_TRUE(qtWaitFor([&] { return !s.diagRunning(); }));
    qtSpin(std::chrono::milliseconds(100));  // a second run would have pinged and published by now

    EXPECT_EQ(pings.size(), 1u);
    EXPECT_EQ(gatewayLookups, 2);  // the first run and this one
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_TRUE(seen[0].first);
    EXPECT_EQ(seen[1], (std::pair<bool, size_t>{false, 4}));  // the lines are there before running turns false
}

}  // namespace
}  // namespace corvane::test
